#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <fstream>

#include "morvo/forms/frmKennwort.h"
#include "morvo/forms/frmSplash.h"
#include "morvo/settings.h"
#include "morvo/tests/gui/morvo_gui_util.h"
#include "morvo/version.h"
#include "platform/codepage.h"
#include "platform/transcript.h"

namespace morvo::test {
namespace {

const std::string kStore = outlook::test::store_name;

void write_ini(const std::string& host, const std::string& text) {
    std::ofstream(host, std::ios::binary) << platform::utf8_to_cp1252(text);
}

TEST(frmMorvo, StartWithoutSettingsFile) {
    MorvoFixture fx;
    auto f = fx.start_form();
    ASSERT_EQ(fx.boxes.shown.size(), 1u);
    EXPECT_NE(fx.boxes.shown[0].text.find("konnte nicht gefunden werden."), std::string::npos);
    EXPECT_NE(fx.boxes.shown[0].text.find("morvo.ini"), std::string::npos);
    EXPECT_EQ(fx.boxes.shown[0].icon, platform::Icon::None);
    EXPECT_EQ(f->TabStrip1->currentIndex(), 0);
    EXPECT_EQ(text_of(f->Text1), "Morvolan");
    EXPECT_EQ(status_of(*f), "Start drücken!");
    EXPECT_EQ(f->Textbox2->toPlainText().toStdString(), "Willkommen zum Morvo");
    EXPECT_TRUE(f->Textbox2->isVisible());
    EXPECT_TRUE(f->comB_start->isVisible());
    EXPECT_FALSE(f->comB_ok->isVisible());
    EXPECT_FALSE(f->comB_log->isVisible());
    EXPECT_FALSE(f->start);

    f->TabStrip1->setCurrentIndex(2);
    EXPECT_EQ(text_of(f->TextBox1), "/");
    EXPECT_EQ(f->Drive1->itemText(0).toStdString(), "/");  // places, not drive letters
    EXPECT_TRUE(f->TextBox1->isVisible());
    EXPECT_TRUE(f->Dir1->isVisible());
    EXPECT_FALSE(f->Text3->isVisible());
    EXPECT_EQ(status_of(*f), "Änderungen bitte speichern!");

    // Page 4: the Info text over the tree, which it covers completely.
    f->TabStrip1->setCurrentIndex(3);
    EXPECT_TRUE(f->Textbox3->isVisible());
    EXPECT_TRUE(f->TreeView1->isVisible());
    EXPECT_TRUE(f->Textbox3->geometry().contains(f->TreeView1->geometry()));
    EXPECT_NE(f->Textbox3->toPlainText().toStdString().find("Morvolan Version 1.0.6"),
              std::string::npos);
    EXPECT_EQ(status_of(*f), "Info!");
    EXPECT_FALSE(f->comB_log->isVisible());
}

TEST(frmMorvo, ControlsAtTheirTwipPlaces) {
    MorvoFixture fx;
    auto f = fx.start_form();
    struct Place {
        QWidget* w;
        int l, t, wd, h;
    };
    const Place places[] = {
        {f->Text1, 360, 120, 5775, 315},      {f->TabStrip1, 240, 480, 6015, 4215},
        {f->Textbox2, 360, 960, 5775, 3495},  {f->TreeView1, 360, 960, 5775, 3495},
        {f->Textbox3, 360, 960, 5775, 3615},  {f->chk_uncpfad, 600, 960, 5535, 375},
        {f->TextBox1, 360, 1320, 5775, 375},  {f->Text3, 360, 1320, 5775, 375},
        {f->Drive1, 360, 1800, 5775, 315},    {f->Dir1, 360, 2160, 5775, 2340},
        {f->comB_log, 2280, 4800, 1215, 375}, {f->comB_start, 3600, 4800, 1215, 375},
        {f->comB_ok, 3600, 4800, 1215, 375},  {f->comB_schliessen, 4920, 4800, 1215, 375},
    };
    for (const auto& p : places) {
        SCOPED_TRACE(p.w->objectName().toStdString());
        EXPECT_EQ(p.w->geometry(), QRect(p.l / 15, p.t / 15, p.wd / 15, p.h / 15));
    }
    EXPECT_EQ(f->size(), QSize(6495 / 15, 5655 / 15));
    EXPECT_EQ(f->windowTitle().toStdString(), "Morvo");
}

TEST(frmMorvo, SaveAndRestartBringsBackTicksAndPath) {
    MorvoFixture fx;
    TempDir ablage;
    const std::string ablage_win = platform::windows_path(ablage.path());
    {
        auto f = fx.start_form();
        f->TabStrip1->setCurrentIndex(2);
        // Typed as a host path; the pickers hold the Windows form.
        f->TextBox1->setText(QString::fromStdString(ablage.path()));
        EXPECT_EQ(platform::equals_ignore_case(f->Dir1_Path(), ablage_win), true);
        f->TabStrip1->setCurrentIndex(1);
        int kunden = node_index(*f, kStore + "|Posteingang|Kunden");
        int comma = node_index(*f, kStore + "|Müller, Schmidt & Co");
        int hash = node_index(*f, kStore + "|Projekt #1");
        ASSERT_GT(kunden, 0);
        ASSERT_GT(comma, 0);
        ASSERT_GT(hash, 0);
        user_tick(*f, kunden);
        user_tick(*f, comma);
        user_tick(*f, hash);
        f->comB_ok_Click();
        EXPECT_EQ(status_of(*f), "Daten wurden gespeichert!");
        EXPECT_EQ(text_of(f->TextBox1), ablage.path() + "/");
        EXPECT_TRUE(f->comB_ok->isEnabled());
    }
    const std::string raw = outlook::test::read_bytes(fx.ini_host());
    // A new settings file is UTF-8 with LF, as a person's editor keeps it.
    const std::string& ini = raw;
    EXPECT_EQ(ini.find('\r'), std::string::npos);
    EXPECT_EQ(ini.substr(0, ini.find("[Pfad MS Outlook]")),
              "[Pfad Ablage]\n" + ablage.path() + "/\n\n");
    // Kunden ticks Kunden|Müller and Kunden alt (prefix rule).
    EXPECT_NE(ini.find(kStore + "|Posteingang|Kunden|Müller\n"), std::string::npos);
    EXPECT_NE(ini.find(kStore + "|Posteingang|Kunden alt\n"), std::string::npos);
    EXPECT_NE(ini.find(kStore + "|Müller# Schmidt & Co\n"), std::string::npos);

    fx.boxes.shown.clear();
    auto g = fx.start_form();
    EXPECT_TRUE(fx.boxes.shown.empty());
    EXPECT_EQ(text_of(g->TextBox1), ablage.path() + "/");
    EXPECT_TRUE(item_ticked(*g, node_index(*g, kStore + "|Posteingang|Kunden")));
    EXPECT_TRUE(item_ticked(*g, node_index(*g, kStore + "|Posteingang|Kunden alt")));
    EXPECT_TRUE(item_ticked(*g, node_index(*g, kStore + "|Müller, Schmidt & Co")));
    EXPECT_FALSE(item_ticked(*g, node_index(*g, kStore + "|Projekt #1")));
    EXPECT_FALSE(item_ticked(*g, node_index(*g, kStore + "|Posteingang")));
}

TEST(frmMorvo, SameNameSiblingsAtStartAndByHand) {
    MorvoFixture fx;
    // The sample store has two sibling folders shown as "Posteingang".
    write_ini(fx.ini_host(), "[Pfad Ablage]\r\nC:\\tmp\\\r\n\r\n[Pfad MS Outlook]\r\n" + kStore +
                                 "|Posteingang\r\n");
    auto f = fx.start_form();
    EXPECT_EQ(text_of(f->TextBox1), "/tmp/");  // a file written before, in the Windows form
    std::vector<int> dups;
    for (int i = 1; i <= f->tree().count(); ++i)
        if (f->tree().full_path(i) == kStore + "|Posteingang") dups.push_back(i);
    ASSERT_EQ(dups.size(), 2u);
    EXPECT_TRUE(item_ticked(*f, dups[0]));
    EXPECT_FALSE(item_ticked(*f, dups[1]));
    // Ticks set at start-up do not cascade.
    EXPECT_FALSE(item_ticked(*f, node_index(*f, kStore + "|Posteingang|Kunden")));

    user_tick(*f, dups[0], false);
    user_tick(*f, dups[0], true);
    EXPECT_TRUE(item_ticked(*f, dups[1]));
    EXPECT_TRUE(item_ticked(*f, node_index(*f, kStore + "|Posteingang|Kunden")));
    user_tick(*f, dups[1], false);
    EXPECT_TRUE(item_ticked(*f, dups[0]));
    EXPECT_FALSE(item_ticked(*f, dups[1]));
}

TEST(frmMorvo, GeneratedTreeIsPreOrderAndStopsAtTwentyLevels) {
    MorvoFixture fx;
    std::string deep = kStore + "|Tief";
    for (int level = 2; level <= 19; ++level) deep += "|Ebene " + std::to_string(level);
    write_ini(fx.ini_host(), "[Pfad Ablage]\r\nC:\\tmp\\\r\n\r\n[Pfad MS Outlook]\r\n" + deep +
                                 "\r\n" + deep + "|Ebene 20\r\n");
    auto f = fx.start_form();
    EXPECT_EQ(f->iCount, f->tree().count());
    // Pre-order: every node's parent comes right before its first child.
    for (int i = 1; i <= f->tree().count(); ++i) {
        int parent = f->tree().node(i).parent;
        EXPECT_LT(parent, i);
        if (parent > 0) {
            EXPECT_EQ(f->tree().full_path(i),
                      f->tree().full_path(parent) + "|" + f->tree().node(i).text);
        }
    }
    int last = node_index(*f, deep);
    ASSERT_GT(last, 0);                                // level 20
    EXPECT_EQ(node_index(*f, deep + "|Ebene 20"), 0);  // level 21 is not there
    EXPECT_TRUE(item_ticked(*f, last));
    int ticked = 0;
    for (int i = 1; i <= f->tree().count(); ++i) ticked += f->tree().checked(i) ? 1 : 0;
    EXPECT_EQ(ticked, 1);
}

TEST(frmMorvo, UncPathComesBackInUncMode) {
    MorvoFixture fx;
    write_ini(fx.ini_host(),
              "[Pfad Ablage]\r\n\\\\srv\\freigabe\\Ablage\\\r\n\r\n[Pfad MS Outlook]\r\n");
    auto f = fx.start_form();
    EXPECT_TRUE(fx.boxes.shown.empty());  // no UNC box while the window loads
    EXPECT_TRUE(f->chk_uncpfad->isChecked());
    EXPECT_EQ(text_of(f->Text3), "//srv/freigabe/Ablage/");
    f->TabStrip1->setCurrentIndex(2);
    EXPECT_TRUE(f->Text3->isVisible());
    EXPECT_FALSE(f->TextBox1->isVisible());
    EXPECT_FALSE(f->Drive1->isVisible());
    EXPECT_FALSE(f->Dir1->isVisible());
    EXPECT_EQ(text_of(f->TextBox1), "/");
}

TEST(frmMorvo, UncTickWithLocalPathAndSaveRefusals) {
    MorvoFixture fx;
    auto f = fx.start_form();
    f->TabStrip1->setCurrentIndex(2);
    f->TextBox1->setText("/tmp");
    fx.boxes.shown.clear();
    f->chk_uncpfad->click();
    EXPECT_EQ(text_of(f->Text3), "/tmp");
    ASSERT_EQ(fx.boxes.shown.size(), 1u);
    EXPECT_EQ(fx.boxes.shown[0].title, "UNC-Pfad FEHLER");
    EXPECT_EQ(status_of(*f), "Ungültiger UNC-Pfad! Bitte ändern und Speichern");

    fx.boxes.shown.clear();
    f->comB_ok_Click();
    EXPECT_TRUE(fx.boxes.any_titled("UNC-Pfad FEHLER"));
    EXPECT_EQ(status_of(*f), "Ungültiger UNC-Pfad! Pfad wurde nicht gespeichert!");
    EXPECT_FALSE(std::filesystem::exists(fx.ini_host()));

    // Back to the drive form: a RAM disk, a path with a blank, and a missing folder.
    f->chk_uncpfad->click();
    struct Case {
        std::string path;
        const char* box;  // nullptr: none
        std::string status;
    };
    TempDir shm_parent;  // a folder on a RAM disk needs /dev/shm
    std::string shm = "/dev/shm/morvo_gui_" + std::to_string(::getpid());
    std::filesystem::create_directories(shm);
    const std::string shm_win = platform::windows_path(shm);
    const Case cases[] = {
        {shm, "Überprüfung RAM-Disk", shm + "/ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
        {shm_win, "Überprüfung RAM-Disk",
         shm + "/ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
        {"/Mein Ordner", "Überprüfung Pfad",
         "/Mein Ordner enthält Leerstellen! Pfad wurde nicht gespeichert!"},
        {"C:\\Mein Ordner", "Überprüfung Pfad",
         "/Mein Ordner enthält Leerstellen! Pfad wurde nicht gespeichert!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        fx.boxes.shown.clear();
        f->TextBox1->setText(QString::fromStdString(c.path));
        fx.boxes.shown.clear();
        f->comB_ok_Click();
        EXPECT_TRUE(fx.boxes.any_titled(c.box));
        EXPECT_EQ(status_of(*f), c.status);
        EXPECT_TRUE(f->comB_schliessen->isEnabled());
    }
    EXPECT_FALSE(std::filesystem::exists(fx.ini_host()));
    std::filesystem::remove_all(shm);
}

TEST(frmMorvo, SplashCountsFoldersInTheTranscript) {
    MorvoFixture fx;
    TempDir t;
    const std::string transcript = t.path() + "/t.txt";
    platform::set_transcript_file(transcript);
    { auto f = fx.start_form(); }
    platform::set_transcript_file("");
    std::string text = outlook::test::read_bytes(transcript);
    const std::string tail = " Ordner werden gelesen. Bitte haben Sie etwas Geduld\"";
    auto first = text.find("status frmSplash.StatusBar1 \"Ordner werden gelesen");
    auto zero = text.find("status frmSplash.StatusBar1 \"0" + tail);
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(zero, std::string::npos);
    EXPECT_LT(first, zero);
}

TEST(frmSplash, VersionAndClosing) {
    auto* s = new frmSplash;
    s->Form_Load();
    s->show();
    EXPECT_EQ(s->lblVersion->text().toStdString(), "Version 1.0.6");
    EXPECT_EQ(s->lblProductName->text().toStdString(), "Morvolan");
    QPointer<frmSplash> p(s);
    s->Form_KeyPress('x');
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(p.isNull());
}

// A found account without its password: the window asks once and keeps the answer (or the
// refusal) for the session.
TEST(Kennwort, AskedOncePerAccountAndSession) {
    outlook::StoreConfig store;
    store.name = "Firma";
    store.location = "imap://anna@mail.example:143";
    auto ask = window_password_source();
    int asked = 0;
    auto answer_with = [&](const char* text) {
        QTimer::singleShot(0, [&asked, text] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<frmKennwort*>(w); box && box->isVisible()) {
                    ++asked;
                    box->txtKennwort->setText(text);
                    (*text ? box->cmdOK : box->cmdAbbrechen)->click();
                }
        });
    };
    answer_with("geheim");
    EXPECT_EQ(ask(store), std::optional<std::string>("geheim"));
    EXPECT_EQ(ask(store), std::optional<std::string>("geheim"));
    store.location = "imap://bernd@mail.example:143";
    answer_with("");
    EXPECT_EQ(ask(store), std::nullopt);
    EXPECT_EQ(ask(store), std::nullopt);
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace morvo::test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
