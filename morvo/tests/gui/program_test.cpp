// The program end to end, driven by the scripted user.
#include <gtest/gtest.h>

#include "morvo/filing.h"
#include "morvo/tests/gui/program_util.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/transcript.h"

namespace morvo::test {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

TEST(Program, SettingsSurviveARestart) {
    GeneratedStore store;
    ProgramFolder prog(store.root);
    TempDir ablage;
    const std::string t1 = prog.dir.path() + "/t1.txt";
    const std::string script1 =
        "answer OK if \"konnte nicht gefunden\"\n"
        "wait frmMorvo\n"
        "dump frmMorvo.Textbox2\n"
        "dump frmMorvo.sta_Anzeige\n"
        "select frmMorvo.TabStrip1 \"Speicherort\"\n"
        "dump frmMorvo.TextBox1\n"
        "type frmMorvo.TextBox1 " +
        platform::transcript_quote(ablage.path()) +
        "\n"
        "select frmMorvo.TabStrip1 \"Einstellungen\"\n"
        "tick frmMorvo.TreeView1 \"" +
        kStore +
        "|Posteingang|Kunden\"\n"
        "click frmMorvo.comB_ok\n"
        "wait frmMorvo sta_Anzeige \"Daten wurden gespeichert!\" 10\n"
        "click frmMorvo.comB_schliessen\n";
    ASSERT_EQ(prog.run(script1, t1), 0) << joined(lines_of(t1));
    auto l1 = lines_of(t1);
    EXPECT_TRUE(has_line(l1, "value frmMorvo.Textbox2 \"Willkommen zum Morvo\""));
    EXPECT_TRUE(has_line(l1, "value frmMorvo.sta_Anzeige \"Start drücken!\""));
    EXPECT_TRUE(has_line(l1, "value frmMorvo.TextBox1 \"/\""));
    EXPECT_TRUE(has_line(l1, "status frmMorvo.sta_Anzeige \"Daten wurden gespeichert!\""));

    const std::string t2 = prog.dir.path() + "/t2.txt";
    const std::string script2 =
        "wait frmMorvo\n"
        "dump frmMorvo.TreeView1\n"
        "select frmMorvo.TabStrip1 \"Speicherort\"\n"
        "dump frmMorvo.TextBox1\n"
        "click frmMorvo.comB_schliessen\n";
    ASSERT_EQ(prog.run(script2, t2), 0) << joined(lines_of(t2));
    auto l2 = lines_of(t2);
    const std::string text2 = joined(l2);
    EXPECT_EQ(text2.find("msgbox"), std::string::npos);
    EXPECT_TRUE(
        has_line(l2, "value frmMorvo.TextBox1 " + platform::transcript_quote(ablage.path() + "/")));
    EXPECT_NE(text2.find("\"" + kStore + "|Posteingang|Kunden\" ticked"), std::string::npos);
    EXPECT_NE(text2.find("\"" + kStore + "|Posteingang|Kunden|Müller\" ticked"), std::string::npos);
    EXPECT_NE(text2.find("\"" + kStore + "|Posteingang|Kunden alt\" ticked"), std::string::npos);
    EXPECT_NE(text2.find("\"" + kStore + "|Posteingang\" unticked"), std::string::npos);
}

TEST(Program, UncPathComesBackInUncMode) {
    GeneratedStore store;
    ProgramFolder prog(store.root);
    std::ofstream(prog.ini(), std::ios::binary)
        << "[Pfad Ablage]\r\n\\\\srv\\freigabe\\Ablage\\\r\n\r\n[Pfad MS Outlook]\r\n";
    const std::string t = prog.dir.path() + "/t.txt";
    ASSERT_EQ(prog.run("wait frmMorvo\nselect frmMorvo.TabStrip1 \"Speicherort\"\n"
                       "dump frmMorvo.chk_uncpfad\ndump frmMorvo.Text3\ndump frmMorvo.TextBox1\n"
                       "click frmMorvo.comB_schliessen\n",
                       t),
              0);
    const std::string text = joined(lines_of(t));
    EXPECT_NE(text.find("value frmMorvo.Text3 \"//srv/freigabe/Ablage/\"\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("value frmMorvo.TextBox1 \"/\" hidden"), std::string::npos) << text;
    EXPECT_EQ(text.find("msgbox"), std::string::npos);
}

TEST(Program, RunAndLog) {
    GeneratedStore store("maildir++", with_bulk(4, 8192));
    ProgramFolder prog(store.root);
    TempDir ablage;
    const std::string ablage_win = platform::windows_path(ablage.path());
    std::ofstream(prog.ini(), std::ios::binary)
        << platform::utf8_to_cp1252("[Pfad Ablage]\r\n" + ablage_win +
                                    "\r\n\r\n[Pfad MS Outlook]\r\n" + kStore + "|Massenpost\r\n");
    const std::string t = prog.dir.path() + "/t.txt";
    const std::string done = ablage.path() + "/ ist eine lokale Festplatte! Pfad gespeichert!";
    ASSERT_EQ(prog.run("wait frmMorvo\nclick frmMorvo.comB_start\n"
                       "answer Yes if \"D A T E N V E R L U S T\"\n"
                       "wait frmMorvo sta_Anzeige " +
                           platform::transcript_quote(done) +
                           " 60\n"
                           "click frmMorvo.comB_log\n"
                           "dump frmMorvo.comB_log\n"
                           "click frmMorvo.comB_schliessen\n",
                       t),
              0)
        << joined(lines_of(t));
    const std::string text = joined(lines_of(t));
    EXPECT_NE(text.find("value frmMorvo.comB_log \"log Speichern\" hidden"), std::string::npos)
        << text;
    // Every attachment of the bulk folder is now a file with the same bytes.
    std::multiset<std::string> saved;
    for (const auto& e : std::filesystem::directory_iterator(ablage.path()))
        saved.insert(outlook::test::read_bytes(e.path().string()));
    size_t expected = 0;
    for (const auto* m : store.mails_in("Massenpost"))
        for (const auto& a : m->attachments) {
            ++expected;
            EXPECT_EQ(saved.count(a.bytes), 1u) << a.display_name;
        }
    EXPECT_EQ(saved.size(), expected);
    // The log file in the program folder.
    bool found = false;
    for (const auto& e : std::filesystem::directory_iterator(prog.program)) {
        const std::string n = e.path().filename().string();
        if (n.rfind("morvo_", 0) != 0 || n.size() < 4 || n.substr(n.size() - 4) != ".log") continue;
        found = true;
        const std::string log = platform::cp1252_to_utf8(outlook::test::read_bytes(e.path()));
        EXPECT_EQ(log.rfind("Willkommen zum Morvo\n\n\nBearbeitet wird Ordner: Massenpost", 0), 0u);
        EXPECT_EQ(log.substr(log.size() - 42), "FERTIG --- KEINE WEITERE DATEN VORHANDEN!\n");
        EXPECT_NE(text.find("status frmMorvo.sta_Anzeige \"log gespeichert unter: " +
                            platform::transcript_quote(e.path().string()).substr(1)),
                  std::string::npos);
    }
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace morvo::test
