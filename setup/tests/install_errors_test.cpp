// The two failure regimes of the install run and the error report's counter.
#include <gmock/gmock.h>

#include <cstdlib>
#include <optional>

#include "install_util.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "setup/error_report.h"
#include "setup/shell_link.h"
#include "testsupport/testsupport.h"

namespace setup::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string recoverable(long number, const std::string& description) {
    return "Setup hat einen Fehler erkannt. Das Setup kann trotzdem fortgesetzt werden.\n\n"
           "Fehlernummer: " +
           std::to_string(number) + "\nBeschreibung: " + description;
}

TEST(ErrorReport, ThreeRecoverableMessagesThenTheStop) {
    std::vector<platform::MsgBoxRequest> shown;
    platform::ScopedMsgBoxHandler handler([&](const platform::MsgBoxRequest& r) {
        shown.push_back(r);
        return platform::Result::OK;
    });
    ErrorReport report;
    EXPECT_TRUE(report.report(11, "Division durch Null"));
    EXPECT_TRUE(report.report(platform::Error(53)));
    EXPECT_TRUE(report.report(13, "Typen unverträglich"));
    EXPECT_EQ(report.count(), 3);
    EXPECT_FALSE(report.report(6, "Überlauf"));
    EXPECT_TRUE(report.stopped());
    // Once stopped, nothing more is shown.
    EXPECT_FALSE(report.report(6, "Überlauf"));

    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].text, recoverable(11, "Division durch Null"));
    EXPECT_EQ(shown[1].text, recoverable(53, "Datei nicht gefunden"));
    EXPECT_EQ(shown[3].text, "Setup muss wegen eines schweren Fehlers beendet werden.");
    for (auto& b : shown) {
        EXPECT_EQ(b.title, "Veltrin");
        EXPECT_EQ(b.icon, platform::Icon::Critical);
        EXPECT_EQ(b.buttons, platform::Buttons::OK);
    }
}

class InstallErrors : public InstallFixture {};

TEST_F(InstallErrors, FileCountReports) {
    struct Case {
        const char* count;
        std::vector<std::string> texts;
    };
    for (const Case& c :
         {Case{"0", {recoverable(11, "Division durch Null")}},
          Case{"",
               {recoverable(13, "Typen unverträglich"), recoverable(13, "Typen unverträglich")}},
          Case{"zwei",
               {recoverable(13, "Typen unverträglich"), recoverable(13, "Typen unverträglich")}}}) {
        SCOPED_TRACE(c.count);
        boxes.clear();
        view = FakeView();
        view.install_path_value = win(inst);
        fs::remove_all(inst);
        fs::remove_all(programs / "G");
        add_file("a.txt", "a");
        script({"[Main]", "Uninstall=1", "ProgrammGruppe=G", "[Dateien]",
                std::string("AnzahlDateien=") + c.count, "Datei0=#InstallPath#", "DateiN0=a.txt"});
        InstallResult r = install();
        EXPECT_EQ(box_texts(), c.texts);
        EXPECT_EQ(r.errors, static_cast<int>(c.texts.size()));
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(view.finish_pages, 1);
        EXPECT_FALSE(fs::exists(inst / "a.txt"));
        EXPECT_EQ(log_text(),
                  "[Dateien]\r\nAnzDatei=-1\r\n[Uninstall]\r\nTitel=\r\nOrdnerAngelegt=1\r\n"
                  "[Links]\r\n"
                  "GroupName=" +
                      win(programs) + "\\G\r\nAnzLinks=0\r\n");
    }
}

TEST_F(InstallErrors, FourthReportedFailureStopsTheRun) {
    script({"[Main]", "Uninstall=1", "ProgrammGruppe=G", "[Dateien]", "AnzahlDateien=viele",
            "[Billboards]", "AnzBillboards=drei", "[RunApps]", "AnzApps=1",
            "when1=bei Installation", "Filename1=#InstallPath#\\fehlt", "Message1=Moment",
            "[Links]", "AnzLinks=1", "LinkPath1=#ProgramGroup#", "LinkT1=x.desktop",
            "LinkN1=#InstallPath#\\fehlt"});
    InstallResult r = install();
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(view.finish_pages, 0);
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].text, recoverable(13, "Typen unverträglich"));
    EXPECT_EQ(boxes[1].text, recoverable(13, "Typen unverträglich"));
    EXPECT_EQ(boxes[2].text, recoverable(13, "Typen unverträglich"));
    EXPECT_EQ(boxes[3].text, "Setup muss wegen eines schweren Fehlers beendet werden.");
    // The window stays at the stage that was reached; nothing after the failed start is done.
    EXPECT_EQ(view.statuses.back(), "Einrichtung des Programms...");
    EXPECT_FALSE(fs::exists(programs / "G"));
    EXPECT_EQ(read(pkg / "_setup.exe").substr(0, 1), "M");
    EXPECT_THAT(log_text(), ::testing::Not(HasSubstr("[Links]")));
}

TEST_F(InstallErrors, WithoutFileEntriesLaterStepsAreReported) {
    // An existing group folder fails its MkDir: reported when no file entry ran, silent
    // otherwise.
    fs::create_directories(programs / "G");
    add_file("a.txt", "a");
    script({"[Main]", "ProgrammGruppe=G", "[Dateien]", "AnzahlDateien=0"});
    InstallResult none = install();
    EXPECT_TRUE(none.finished);
    EXPECT_THAT(box_texts(), ElementsAre(recoverable(11, "Division durch Null"),
                                         recoverable(75, "Fehler beim Zugriff auf Pfad/Datei")));

    boxes.clear();
    script({"[Main]", "ProgrammGruppe=G", "[Dateien]", "AnzahlDateien=1", "Datei0=#InstallPath#",
            "DateiN0=a.txt"});
    InstallResult one = install();
    EXPECT_TRUE(one.finished);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InstallErrors, SilentStepsNeverReport) {
    // Missing uninstaller on the medium, a component that does not load, a program that cannot
    // start, a bad count of programs, a shortcut without target.
    add_file("a.txt", "a");
    script({"[Dateien]", "AnzahlDateien=2", "Datei0=#InstallPath#", "DateiN0=a.txt",
            "Datei1=#InstallPath#", "DateiN1=fehlt.txt", "DateiReg1=x", "[RunApps]", "AnzApps=1",
            "when1=bei Installation", "Filename1=#InstallPath#\\fehlt.exe", "Message1=Moment",
            "[Fonts]", "AnzFonts=eins", "[Links]", "AnzLinks=1", "LinkPath1=#ProgramGroup#",
            "LinkT1=x.desktop"});
    InstallResult r = install();
    EXPECT_TRUE(r.finished);
    // Only the product file that did not arrive is reported, naming it.
    EXPECT_THAT(box_texts(), ElementsAre(recoverable(
                                 53, "Datei nicht installiert: " + (inst / "fehlt.txt").string())));
    EXPECT_EQ(r.errors, 1);
    EXPECT_EQ(read(inst / "a.txt"), "a");
    // The message window went up for the program that could not start and came down again.
    EXPECT_THAT(view.meldungen, ElementsAre("Moment"));
    EXPECT_FALSE(view.meldung_open);
}

TEST(InstallNumbers, ScriptValuesAsNumbers) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    for (const Case& c :
         {Case{"30", 30}, Case{" 7 ", 7}, Case{"-2", -2}, Case{"2.5", 2.5}, Case{"1e2", 100},
          Case{"&H10", 16}, Case{"&HFFFF", -1}, Case{"", {}}, Case{"  ", {}}, Case{"abc", {}},
          Case{"3x", {}}, Case{".", {}}, Case{"1e", {}}, Case{"+", {}}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(numeric_value(c.text), c.value);
    }
    // Halves go to the even neighbour; out of the 16-bit range overflows.
    EXPECT_EQ(to_integer(7.5), 8);
    EXPECT_EQ(to_integer(2.5), 2);
    EXPECT_EQ(to_integer(-3.5), -4);
    EXPECT_EQ(to_integer(32767.4), 32767);
    try {
        to_integer(32767.5);
        ADD_FAILURE() << "no overflow";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number, 6);
    }
}

// A fresh user account without any XDG folder: the special folders are made when used, so the
// run shows exactly the reports a prepared account gets, and the group folder named in the log
// exists.
TEST_F(InstallErrors, FreshHomeGetsTheReportsOfAPreparedOne) {
    setup::set_special_folder_resolver({});  // the real XDG lookup
    const testsupport::ScopedSeam host{[] { platform::set_host_environment(std::nullopt); }};
    std::vector<std::vector<std::string>> seen;
    for (const bool prepared : {true, false}) {
        SCOPED_TRACE(prepared ? "prepared" : "fresh");
        const fs::path home = root / (prepared ? "benutzt" : "neu");
        fs::create_directories(home);
        if (prepared) {
            fs::create_directories(home / ".local/share/applications");
            fs::create_directories(home / "Desktop");
        }
        platform::HostEnvironment user;
        user.variables = {{"HOME", home.string()}};
        platform::set_host_environment(user);
        boxes.clear();
        script({"[Main]", "ProgrammGruppe=Gruppe", "Uninstall=1", "[Dateien]", "AnzahlDateien=0",
                "[Links]", "AnzLinks=1", "LinkPath1=#Desktop#", "LinkT1=x.desktop",
                "LinkN1=#InstallPath#\\x"});
        EXPECT_TRUE(install().finished);
        seen.push_back(box_texts());
        EXPECT_TRUE(fs::is_directory(home / ".local/share/applications/Gruppe"));
        EXPECT_TRUE(fs::is_directory(home / "Desktop/Gruppe"));
    }
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_THAT(seen[1], ElementsAre(recoverable(11, "Division durch Null")));
}

}  // namespace
}  // namespace setup::testing
