// Pictures of the splash and the four pages. Written to VELTRIN_SCREENSHOT_DIR when it is set
// (docs/screenshots is made that way), else to a temporary folder; each must show something.
#include <gtest/gtest.h>

#include <fstream>

#include <QImage>
#include <QPixmap>
#include <QTabWidget>

#include "morvo/forms/frmSplash.h"
#include "morvo/tests/gui/morvo_gui_util.h"
#include "platform/codepage.h"

namespace morvo::test {
namespace {

void save(QWidget* w, const std::string& dir, const std::string& name) {
    QApplication::processEvents();
    QImage img = w->grab().toImage();
    const std::string file = dir + "/" + name;
    ASSERT_TRUE(img.save(QString::fromStdString(file))) << file;
    // Not one flat colour: the controls were drawn.
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); y += 7)
        for (int x = 0; x < img.width(); x += 7) colours.insert(img.pixel(x, y));
    EXPECT_GT(colours.size(), 3u) << name;
}

TEST(Screenshots, SplashAndPages) {
    TempDir tmp;
    const char* env = std::getenv("VELTRIN_SCREENSHOT_DIR");
    const std::string dir = env ? env : tmp.path();
    std::filesystem::create_directories(dir);

    auto* splash = new frmSplash;
    splash->Form_Load();
    splash->show();
    splash->set_status_text("12 Ordner werden gelesen. Bitte haben Sie etwas Geduld");
    save(splash, dir, "morvo-splash.png");
    delete splash;

    MorvoFixture fx;
    auto f = fx.start_form();
    f->TreeView1->expandToDepth(1);
    user_tick(*f, node_index(*f, std::string(outlook::test::store_name) + "|Posteingang|Kunden"));
    const char* names[] = {"morvo-1-morvo.png", "morvo-2-einstellungen.png",
                           "morvo-3-speicherort.png", "morvo-4-info.png"};
    for (int page = 0; page < 4; ++page) {
        f->TabStrip1->setCurrentIndex(page);
        save(f.get(), dir, names[page]);
    }

    // After a run over a settings file that names the storage folder by its host path: the run
    // text and the status line name it the same way.
    TempDir ablage;
    std::ofstream(fx.ini_host(), std::ios::binary) << platform::utf8_to_cp1252(
        "[Pfad Ablage]\r\n" + ablage.path() + "/\r\n\r\n[Pfad MS Outlook]\r\n" +
        outlook::test::store_name + "|Posteingang|Kunden\r\n");
    auto g = fx.start_form();
    fx.boxes.answers = {platform::Result::Yes};
    g->comB_start_Click();
    EXPECT_EQ(status_of(*g), ablage.path() + "/ ist eine lokale Festplatte! Pfad gespeichert!");
    save(g.get(), dir, "morvo-5-lauf.png");
}

}  // namespace
}  // namespace morvo::test
