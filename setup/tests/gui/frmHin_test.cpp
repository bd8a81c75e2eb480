#include "setup/forms/frmHin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/transcript.h"
#include "platform/ui/screen.h"
#include "setup/forms/form_scaling.h"
#include "setup/placeholders.h"
#include "testsupport/gui_app.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;
using setup::frmHin;
using setup::StepState;

void ensure_app() {
    testsupport::gui_app();
}

using testsupport::slurp;

const fs::path sample = fs::path(VELTRIN_SOURCE_DIR) / "tools" / "sample";

// A package folder with the sample's pictures and a script of the test's choice.
class ProgressWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ensure_app();
        fs::create_directories(pkg_);
        fs::copy_file(sample / "background.jpg", pkg_ / "background.jpg");
        fs::copy_file(sample / "logo.dat", pkg_ / "logo.dat");
        platform::set_environ_override("TEMP", temp_.string());
        platform::ui::set_screen_override(platform::ui::screen_of_pixels(800, 600));
        script(
            "Titel=Morvolan 1.0 - Anhänge\r\nCopyright=(c) Morvolan\r\nBeschriftung=Zeile\r\n"
            "Logo=1\r\n");
    }
    // The script is Windows-1252, as the authoring tool writes it.
    void script(const std::string& main_keys_utf8) {
        std::string bytes = "[Main]\r\n";
        QByteArray latin = QString::fromStdString(main_keys_utf8).toLatin1();
        bytes += latin.toStdString();
        std::ofstream(pkg_ / "Setup.INX", std::ios::binary) << bytes;
    }
    testsupport::TempDir scratch_{"hin dir"};
    fs::path temp_ = scratch_.path(), pkg_ = temp_ / "~Veltrin";
    testsupport::ScopedSeam seams_{[] {
        frmHin::set_wizard_opener({});
        frmHin::set_install_starter({});
        platform::ui::set_screen_override(std::nullopt);
        platform::clear_environ_overrides();
        platform::set_end_program_hook({});
        platform::set_transcript_file("");
    }};
};

QImage image(const QLabel* l) {
    return l->pixmap().toImage();
}

TEST_F(ProgressWindow, LoadShowsTheBrandingScaledToTheScreen) {
    platform::ui::set_screen_override(platform::ui::screen_of_pixels(1024, 768));
    frmHin h;
    h.Form_Load();
    EXPECT_EQ(h.size(), QSize(1024, 768));
    EXPECT_EQ(h.picHin->geometry(), QRect(0, 0, 1024, 768));
    EXPECT_FALSE(h.picHin->pixmap().isNull());
    // A control at 600 twips moves to 600 * 1.28 twips; a 10-point font becomes 11.8 points.
    EXPECT_EQ(h.lblStatus->x(), 51);
    EXPECT_NEAR(h.lblStatus->font().pointSizeF(), 10 * 1.28 - 1, 0.01);
    // The logo keeps its own size in the top right corner.
    const QImage logo(QString::fromStdString((pkg_ / "logo.dat").string()));
    EXPECT_EQ(h.imgLogo->size(), logo.size());
    EXPECT_EQ(h.imgLogo->pos(), QPoint(1024 - logo.width(), 0));
    EXPECT_EQ(h.lblTitel->text(), QString::fromUtf8("Morvolan 1.0 - Anhänge"));
    EXPECT_FALSE(h.lblTitel->isHidden());
    EXPECT_EQ(h.lblBeschriftung->text(), "Zeile");
    EXPECT_FALSE(h.lblBeschriftung->isHidden());
    EXPECT_EQ(h.lblText->text(), "(c) Morvolan");
    EXPECT_EQ(h.lblStatus->text(), "Installationsvorgang");
    EXPECT_EQ(h.windowTitle(), "Veltrin - Setup");
    for (QWidget* w :
         {static_cast<QWidget*>(h.InstallPath), static_cast<QWidget*>(h.Programmgruppe),
          static_cast<QWidget*>(h.P1), static_cast<QWidget*>(h.Pr1)}) {
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
    }
    EXPECT_EQ(image(h.picA1), image(h.P2));
}

TEST_F(ProgressWindow, StepIndicatorStates) {
    frmHin h;
    h.Form_Load();
    const QColor hl(255, 128, 0), white(255, 255, 255);
    struct Row {
        QLabel* mark;
        QLabel* expected_mark;
        QLabel* label;
        QColor colour;
        bool bold;
    };
    struct Case {
        StepState state;
        std::vector<Row> rows;
    } cases[] = {
        {StepState::Collecting,
         {{h.picA1, h.P2, h.lblA1, hl, true},
          {h.picA2, h.P1, h.lblA2, white, false},
          {h.picA3, h.P1, h.lblA3, white, false}}},
        {StepState::HandOver,
         {{h.picA1, h.P3, h.lblA1, hl, false},
          {h.picA2, h.P3, h.lblA2, hl, true},
          {h.picA3, h.P1, h.lblA3, white, false}}},
        {StepState::Installing,
         {{h.picA1, h.P3, h.lblA1, hl, false},
          {h.picA2, h.P3, h.lblA2, hl, true},
          {h.picA3, h.P2, h.lblA3, white, false}}},
        {StepState::Finished,
         {{h.picA1, h.P3, h.lblA1, hl, false},
          {h.picA2, h.P3, h.lblA2, white, false},
          {h.picA3, h.P3, h.lblA3, white, false}}},
    };
    // The three marks differ, so comparing pictures tells them apart.
    ASSERT_NE(image(h.P1), image(h.P2));
    ASSERT_NE(image(h.P2), image(h.P3));
    for (const auto& c : cases) {
        h.set_step_state(c.state);
        for (const auto& r : c.rows) {
            const std::string where =
                std::to_string(int(c.state)) + " " + r.label->objectName().toStdString();
            EXPECT_EQ(image(r.mark), image(r.expected_mark)) << where;
            EXPECT_EQ(r.label->palette().color(QPalette::WindowText), r.colour) << where;
            EXPECT_EQ(r.label->font().bold(), r.bold) << where;
        }
    }
    // The install run's call sets the installing state.
    h.set_step_state(StepState::Collecting);
    h.set_step_installing();
    EXPECT_EQ(image(h.picA3), image(h.P2));
}

TEST_F(ProgressWindow, EmptyScriptValuesAndMissingPictures) {
    script("Titel=\r\nBeschriftung=\r\n");
    fs::remove(pkg_ / "logo.dat");  // not needed without "Logo"
    {
        frmHin h;
        ASSERT_NO_THROW(h.Form_Load());
        EXPECT_TRUE(h.lblBeschriftung->isHidden());
        EXPECT_FALSE(h.lblTitel->isHidden());
        EXPECT_EQ(h.lblTitel->text(), "");
        EXPECT_TRUE(h.imgLogo->isHidden());
    }
    script("Logo=1\r\n");
    {
        frmHin h;
        try {
            h.Form_Load();
            ADD_FAILURE() << "a missing logo.dat must fail the load";
        } catch (const platform::Error& e) {
            EXPECT_EQ(e.number, 53);
        }
    }
    fs::remove(pkg_ / "background.jpg");
    {
        frmHin h;
        EXPECT_THROW(h.Form_Load(), platform::Error);
    }
    // A file that is there but is no picture fails as well.
    std::ofstream(pkg_ / "background.jpg") << "kein Bild";
    {
        frmHin h;
        EXPECT_THROW(h.Form_Load(), platform::Error);
    }
}

TEST_F(ProgressWindow, LogoWiderThanTheWindowGetsANegativeLeftEdge) {
    QImage wide(1000, 40, QImage::Format_RGB32);
    wide.fill(Qt::red);
    ASSERT_TRUE(wide.save(QString::fromStdString((pkg_ / "logo.dat").string()), "PNG"));
    frmHin h;
    h.Form_Load();
    EXPECT_EQ(h.imgLogo->pos(), QPoint(800 - 1000, 0));
}

TEST_F(ProgressWindow, TimersOpenTheWizardAndStartTheInstallationOnce) {
    int wizard = 0;
    std::vector<std::pair<std::string, std::string>> starts;
    frmHin::set_wizard_opener([&](frmHin&) { ++wizard; });
    frmHin::set_install_starter(
        [&](frmHin&, const std::string& p, const std::string& g) { starts.emplace_back(p, g); });
    frmHin h;
    h.Form_Load();
    // Waits until the condition holds (at most 5 s), so that a busy machine does not fail it.
    const auto wait_for = [](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
    };
    wait_for([&] { return wizard > 0; });
    QTest::qWait(20);
    EXPECT_EQ(wizard, 1);
    EXPECT_FALSE(h.Timer1->isActive());
    EXPECT_FALSE(h.Timer2->isActive());
    EXPECT_TRUE(starts.empty());
    EXPECT_FALSE(h.inTim->isActive());
    EXPECT_EQ(h.inTim->interval(), 100);
    // The wizard hands over what the person saw; the run gets the Windows form.
    h.InstallPath->setText("/Programme/Morvolan");
    h.Programmgruppe->setText("Morvolan");
    EXPECT_EQ(setup::ExpandPlaceholders("#InstallPath#\\x"), "C:\\Programme\\Morvolan\\x");
    h.inTim->start();
    wait_for([&] { return !starts.empty(); });
    QTest::qWait(250);  // two more intervals: it must not start again
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].first, "C:\\Programme\\Morvolan");
    EXPECT_EQ(starts[0].second, "Morvolan");
}

TEST_F(ProgressWindow, EscAsksAndYesEndsWithoutCleaning) {
    frmHin h;
    h.Form_Load();
    std::vector<int> ended;
    platform::set_end_program_hook([&](int status) { ended.push_back(status); });
    platform::Result answer = platform::Result::No;
    std::vector<platform::MsgBoxRequest> boxes;
    platform::ScopedMsgBoxHandler handler([&](const platform::MsgBoxRequest& r) {
        boxes.push_back(r);
        return answer;
    });
    QTest::keyClick(&h, Qt::Key_A);
    EXPECT_TRUE(boxes.empty());
    QTest::keyClick(&h, Qt::Key_Escape);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(ended.empty());
    EXPECT_EQ(boxes[0].title, "Veltrin");
    EXPECT_EQ(boxes[0].icon, platform::Icon::Information);
    EXPECT_EQ(boxes[0].buttons, platform::Buttons::YesNo);
    EXPECT_EQ(boxes[0].text.rfind("Installation ist nicht vollständig.", 0), 0u);
    answer = platform::Result::Yes;
    QTest::keyClick(&h, Qt::Key_Escape);
    EXPECT_EQ(ended, std::vector<int>{0});
    EXPECT_TRUE(fs::exists(pkg_ / "Setup.INX"));
}

TEST_F(ProgressWindow, ViewOfTheInstallRun) {
    const fs::path transcript = temp_ / "t.txt";
    platform::set_transcript_file(transcript.string());
    frmHin h;
    h.Form_Load();
    setup::InstallView& v = h;
    v.set_status("Kopiere Dateien");
    v.set_status("Kopiere Dateien");
    v.set_status("Fertig");
    EXPECT_EQ(h.lblStatus->text(), "Fertig");
    EXPECT_EQ(slurp(transcript),
              "status frmHin.lblStatus \"Kopiere Dateien\"\nstatus frmHin.lblStatus \"Fertig\"\n");
    // Many small steps add up in twips, though each is less than a pixel.
    v.show_progress_bar();
    EXPECT_FALSE(h.Pr1->isHidden());
    v.set_progress_width(0);
    for (int i = 0; i < 2000; ++i) v.set_progress_width(v.progress_width() + 2815.0 / 2000);
    EXPECT_NEAR(v.progress_width(), 2815, 1e-6);
    EXPECT_EQ(h.Pr1->width(), 188);
    v.show_billboard("Titel", "eins\r\nzwei");
    EXPECT_FALSE(h.lblBText->isHidden());
    EXPECT_EQ(h.lblBText->text(), "eins\nzwei");
    v.hide_billboard();
    EXPECT_TRUE(h.lblBTitle->isHidden());
    v.show_meldung("Morvolan wird gestartet");
    ASSERT_NE(h.frmMeldung, nullptr);
    auto* lbl = h.frmMeldung->findChild<QLabel*>("lblMeldung");
    ASSERT_NE(lbl, nullptr);
    EXPECT_EQ(h.frmMeldung->width(), lbl->width() + 100);  // 1500 twips
    v.close_meldung();
    EXPECT_EQ(h.frmMeldung, nullptr);
}

// The module procedure on a form with a line and a timer, on a screen of uneven ratios.
TEST_F(ProgressWindow, ScaleLayoutOnAQtForm) {
    platform::ui::set_screen_override(platform::ui::screen_of_pixels(1600, 480));
    QWidget form;
    form.setGeometry(0, 0, 800, 600);
    auto* line = new setup::Line(&form);
    line->setObjectName("Line1");
    line->set_ends(150, 150, 1500, 300);
    auto* timer = new QTimer(&form);
    timer->setObjectName("Timer1");
    auto* lbl = new QLabel(&form);
    lbl->setObjectName("imgLogo");
    lbl->setGeometry(10, 20, 100, 40);
    QFont f = lbl->font();
    f.setPointSizeF(10);
    lbl->setFont(f);
    setup::ScaleLayout(&form, true, true);
    EXPECT_EQ(form.size(), QSize(1600, 480));
    EXPECT_DOUBLE_EQ(line->X2, 3000);
    EXPECT_DOUBLE_EQ(line->Y2, 240);
    EXPECT_EQ(lbl->geometry(), QRect(20, 16, 200, 32));  // the module copy does not skip it
    EXPECT_NEAR(lbl->font().pointSizeF(), 7, 0.01);
    EXPECT_FALSE(setup::folder_chooser_scales(setup::GetScreenInfo()));
    platform::ui::set_screen_override(platform::ui::screen_of_pixels(800, 480));
    EXPECT_TRUE(setup::folder_chooser_scales(setup::GetScreenInfo()));
}

}  // namespace
