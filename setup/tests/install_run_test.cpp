// StartInstallation on real packages: extraction, the uninstall log, billboards, fonts,
// components, installation-time programs, shortcuts.
#include <gmock/gmock.h>

#include <unistd.h>

#include <cstdlib>

#include "install_util.h"
#include "platform/error.h"
#include "platform/process.h"

namespace setup::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class InstallRun : public InstallFixture {};

TEST_F(InstallRun, ExtractsEveryEntryAndWritesTheLogInOrder) {
    add_file("a.txt", "alpha");
    add_file("b.txt", "beta");
    add_file("c.txt", "gamma");
    add_file("unused.txt", "not named by the script");
    script({"[Main]", "ProduktName=Beispiel", "ProgrammGruppe=Beispiel Gruppe", "Uninstall=1",
            "[Dateien]", "AnzahlDateien=3", "Datei0=#InstallPath#", "DateiN0=a.txt",
            "Datei1=#InstallPath#\\sub", "DateiN1=b.txt", "DateiLog1=nein",
            "Datei2=#InstallPath#\\sub", "DateiN2=c.txt", "[Links]", "AnzLinks=1",
            "LinkPath1=#ProgramGroup#", "LinkT1=Beispiel.desktop", "LinkN1=#InstallPath#\\a.txt"});
    InstallResult r = install();

    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.errors, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(read(inst / "a.txt"), "alpha");
    EXPECT_EQ(read(inst / "sub" / "b.txt"), "beta");
    EXPECT_EQ(read(inst / "sub" / "c.txt"), "gamma");
    EXPECT_FALSE(fs::exists(inst / "unused.txt"));
    EXPECT_EQ(read(inst / "Uninstall.exe"), "MZ uninstaller");
    EXPECT_TRUE(fs::exists(programs / "Beispiel Gruppe" / "Beispiel.desktop"));

    const std::string F = win(inst), P = win(programs);
    EXPECT_EQ(log_text(),
              "[Dateien]\r\n"
              "Datei0=" +
                  F +
                  "\\a.txt\r\n"
                  "Datei1=" +
                  F +
                  "\\sub\\c.txt\r\n"
                  "AnzDatei=1\r\n"
                  "[Uninstall]\r\n"
                  "Titel=Beispiel\r\n"
                  "OrdnerAngelegt=1\r\n"
                  "[Ordner]\r\n"
                  "Ordner1=" +
                  F +
                  "\\sub\r\n"
                  "AnzOrdner=1\r\n"
                  "[Links]\r\n"
                  "GroupName=" +
                  P +
                  "\\Beispiel Gruppe\r\n"
                  "Link1=" +
                  P +
                  "\\Beispiel Gruppe\\Beispiel.desktop\r\n"
                  "AnzLinks=1\r\n");

    EXPECT_TRUE(view.installing);
    EXPECT_THAT(view.statuses, ElementsAre("Kopiere neue Dateien...", "Registriere Schriften...",
                                           "Einrichtung des Programms...",
                                           "Erstelle Verknüfungen...", "Fertigstellung..."));
    EXPECT_TRUE(view.bar_visible);
    EXPECT_EQ(view.advances, 3);
    EXPECT_NEAR(view.width, 2815.0, 1e-6);
    EXPECT_TRUE(view.billboard_hidden);
    EXPECT_EQ(view.finish_pages, 1);
    // The extractor copy is blocked again at the end.
    EXPECT_EQ(read(pkg / "_setup.exe").substr(0, 2), "XZ");
}

TEST_F(InstallRun, ProgressBarEndsAtTheScaledDesignLength) {
    view.screen_width = 19200;  // scale 1.6
    for (int i = 0; i < 7; ++i) add_file("f" + std::to_string(i), "x");
    std::vector<std::string> lines = {"[Dateien]", "AnzahlDateien=7"};
    for (int i = 0; i < 7; ++i) {
        lines.push_back("Datei" + std::to_string(i) + "=#InstallPath#");
        lines.push_back("DateiN" + std::to_string(i) + "=f" + std::to_string(i));
    }
    script(lines);
    install();
    EXPECT_EQ(view.advances, 7);
    EXPECT_NEAR(view.width, 2815.0 * 1.6, 0.01);
}

TEST_F(InstallRun, UninstallNotOneWritesOnlyFileAndLinkKeys) {
    add_file("a.txt", "alpha");
    script({"[Main]", "ProduktName=Beispiel", "ProgrammGruppe=G", "Uninstall=0", "[Dateien]",
            "AnzahlDateien=1", "Datei0=#InstallPath#", "DateiN0=a.txt", "[Links]", "AnzLinks=1",
            "LinkPath1=#Desktop#", "LinkT1=a.desktop", "LinkN1=#InstallPath#\\a.txt"});
    EXPECT_TRUE(install().finished);
    const std::string F = win(inst), D = win(desktop);
    EXPECT_EQ(log_text(),
              "[Dateien]\r\n"
              "Datei0=" +
                  F +
                  "\\a.txt\r\n"
                  "[Links]\r\n"
                  "Link1=" +
                  D + "\\G\\a.desktop\r\n");
    // The group folder is made all the same.
    EXPECT_TRUE(fs::is_directory(programs / "G"));
    EXPECT_TRUE(fs::exists(desktop / "G" / "a.desktop"));
}

TEST_F(InstallRun, ReinstallWithFewerEntriesLeavesSurplusKeysBeyondTheCounts) {
    for (auto n : {"a", "b", "c"}) add_file(n, n);
    script({"[Main]", "ProgrammGruppe=G", "Uninstall=1", "[Dateien]", "AnzahlDateien=3",
            "Datei0=#InstallPath#", "DateiN0=a", "Datei1=#InstallPath#", "DateiN1=b",
            "Datei2=#InstallPath#", "DateiN2=c", "[Links]", "AnzLinks=2",
            "LinkPath1=#ProgramGroup#", "LinkT1=one.desktop", "LinkN1=#InstallPath#\\a",
            "LinkPath2=#ProgramGroup#", "LinkT2=two.desktop", "LinkN2=#InstallPath#\\b"});
    ASSERT_TRUE(install().finished);
    script({"[Main]", "ProgrammGruppe=G", "Uninstall=1", "[Dateien]", "AnzahlDateien=1",
            "Datei0=#InstallPath#", "DateiN0=c", "[Links]", "AnzLinks=1",
            "LinkPath1=#ProgramGroup#", "LinkT1=uno.desktop", "LinkN1=#InstallPath#\\c"});
    InstallResult second = install();
    // The existing group folder fails silently the second time.
    EXPECT_TRUE(second.finished);
    EXPECT_TRUE(boxes.empty());

    const std::string F = win(inst), G = win(programs) + "\\G";
    EXPECT_EQ(log_text(),
              "[Dateien]\r\n"
              "Datei0=" +
                  F +
                  "\\c\r\n"
                  "Datei1=" +
                  F +
                  "\\b\r\n"
                  "Datei2=" +
                  F +
                  "\\c\r\n"
                  "AnzDatei=0\r\n"
                  "[Uninstall]\r\n"
                  "Titel=\r\n"
                  "OrdnerAngelegt=1\r\n"
                  "[Links]\r\n"
                  "GroupName=" +
                  G +
                  "\r\n"
                  "Link1=" +
                  G +
                  "\\uno.desktop\r\n"
                  "Link2=" +
                  G +
                  "\\two.desktop\r\n"
                  "AnzLinks=1\r\n");
}

// Into a folder that holds the user's files the log says the folder was there, and names the
// folders the run created in it, so that an uninstall takes those and leaves the rest.
TEST_F(InstallRun, ExistingFolderIsRecordedAsNotTheProducts) {
    fs::create_directories(inst / "doc");
    testsupport::spit(inst / "doc" / "mine.txt", "the user's own");
    add_file("a.txt", "alpha");
    add_file("b.txt", "beta");
    script({"[Main]", "ProgrammGruppe=G", "Uninstall=1", "[Dateien]", "AnzahlDateien=2",
            "Datei0=#InstallPath#\\doc", "DateiN0=a.txt", "Datei1=#InstallPath#\\neu",
            "DateiN1=b.txt"});
    ASSERT_TRUE(install().finished);
    const std::string log = log_text();
    EXPECT_THAT(log, HasSubstr("OrdnerAngelegt=0\r\n[Ordner]\r\nOrdner1=" + win(inst) +
                               "\\neu\r\nAnzOrdner=1\r\n"));
    EXPECT_EQ(read(inst / "doc" / "mine.txt"), "the user's own");
}

void immutable(const fs::path& folder, bool on) {
    const std::string cmd =
        std::string("chattr ") + (on ? "+i" : "-i") + " '" + folder.string() + "' 2>/dev/null";
    [[maybe_unused]] const int status = std::system(cmd.c_str());
}

// A target folder that cannot be used is one recoverable report naming it, however many entries
// aim at it; the other entries are placed and the run ends on the finish page.
TEST_F(InstallRun, UnusableTargetFolderIsReportedOnceByName) {
    struct Case {
        const char* sub;     // below the install folder
        bool make_readonly;  // else: its parent is missing, MkDir cannot make it
        const char* number;
    } cases[] = {{"missing\\deeper", false, "76"}, {"nur lesen", true, "75"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sub);
        fs::remove_all(inst);
        boxes.clear();
        const fs::path folder = inst / fs::path(std::string(c.sub)).make_preferred();
        if (c.make_readonly) {
            fs::create_directories(inst / c.sub);
            fs::permissions(inst / c.sub, fs::perms::owner_read | fs::perms::owner_exec);
            // Root writes into read-only folders; an immutable one refuses even root.
            if (::access((inst / c.sub).c_str(), W_OK) == 0) immutable(inst / c.sub, true);
            if (::access((inst / c.sub).c_str(), W_OK) == 0) {
                fs::permissions(inst / c.sub, fs::perms::owner_all);
                GTEST_SKIP() << "cannot make a folder this user cannot write to";
            }
        }
        add_file("lost.txt", "nowhere");
        add_file("lost2.txt", "nowhere");
        add_file("kept.txt", "here");
        script({"[Main]", "Uninstall=1", "[Dateien]", "AnzahlDateien=3",
                std::string("Datei0=#InstallPath#\\") + c.sub, "DateiN0=lost.txt",
                std::string("Datei1=#InstallPath#\\") + c.sub, "DateiN1=lost2.txt",
                "Datei2=#InstallPath#", "DateiN2=kept.txt"});
        InstallResult r = install();
        if (c.make_readonly) {
            immutable(inst / c.sub, false);
            fs::permissions(inst / c.sub, fs::perms::owner_all);
        }
        EXPECT_TRUE(r.finished);
        ASSERT_EQ(box_texts().size(), 1u);
        EXPECT_THAT(box_texts()[0], HasSubstr(std::string("Fehlernummer: ") + c.number));
        EXPECT_THAT(box_texts()[0], HasSubstr(win(inst) + "\\" + c.sub));
        EXPECT_EQ(read(inst / "kept.txt"), "here");
        EXPECT_FALSE(fs::exists(inst / c.sub / "lost.txt"));
        EXPECT_FALSE(fs::exists(fs::path("/lost.txt")));
        EXPECT_EQ(r.logged, 1);
        EXPECT_EQ(view.advances, 3);
        view.advances = 0;
    }
}

// An install folder longer than the old 256-character buffer places every file.
TEST_F(InstallRun, InstallPathOf300CharactersPlacesEveryFile) {
    fs::path deep = root / "Programme";
    while (deep.string().size() < 300)
        deep /= "Ein recht langer Ordnername " + std::to_string(deep.string().size());
    inst = deep;
    view.install_path_value = win(inst);
    ASSERT_GE(win(inst).size(), 300u);
    add_file("a.txt", "A");
    add_file("b.txt", "B");
    script({"[Main]", "Uninstall=1", "[Dateien]", "AnzahlDateien=2", "Datei0=#InstallPath#",
            "DateiN0=a.txt", "Datei1=#InstallPath#\\sub", "DateiN1=b.txt"});
    InstallResult r = install();
    EXPECT_TRUE(r.finished);
    EXPECT_TRUE(boxes.empty()) << box_texts()[0];
    EXPECT_EQ(read(inst / "a.txt"), "A");
    EXPECT_EQ(read(inst / "sub" / "b.txt"), "B");
    EXPECT_EQ(r.logged, 2);
}

TEST_F(InstallRun, ComponentsRegisterOnlyForLowerCaseX) {
    struct Case {
        const char* reg;
        int registrations;
    };
    for (Case c : {Case{"x", 1}, Case{"X", 0}, Case{"", 0}, Case{"ja", 0}}) {
        SCOPED_TRACE(c.reg);
        fs::path trace = root / (std::string("reg-") + c.reg + ".log");
        ::setenv("VELTRIN_TEST_COMPONENT_LOG", trace.c_str(), 1);
        add_host_file("comp.so", test_component_library());
        script({"[Dateien]", "AnzahlDateien=1", "Datei0=#InstallPath#", "DateiN0=comp.so",
                std::string("DateiReg0=") + c.reg});
        EXPECT_TRUE(install().finished);
        ASSERT_TRUE(fs::exists(inst / "comp.so"));
        std::string lines = fs::exists(trace) ? read(trace) : "";
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), c.registrations);
        if (c.registrations) {
            EXPECT_EQ(lines, "register\n");
        }
        ::unsetenv("VELTRIN_TEST_COMPONENT_LOG");
    }
}

TEST_F(InstallRun, FontsRegisterCountPlusOneEntries) {
    const std::string ttf("\0\1\0\0font-body", 13);
    for (int j = 0; j < 4; ++j) add_file("f" + std::to_string(j) + ".ttf", ttf);
    add_file("notafont.ttf", "plain text");
    std::vector<std::string> base = {"[Dateien]", "AnzahlDateien=5"};
    const char* names[] = {"f0.ttf", "f1.ttf", "f2.ttf", "f3.ttf", "notafont.ttf"};
    for (int i = 0; i < 5; ++i) {
        base.push_back("Datei" + std::to_string(i) + "=#InstallPath#\\fonts");
        base.push_back("DateiN" + std::to_string(i) + "=" + names[i]);
    }
    fs::path folder = data_home / "fonts" / "veltrin";
    auto registered = [&] {
        std::vector<std::string> found;
        if (fs::exists(folder))
            for (auto& e : fs::directory_iterator(folder)) found.push_back(e.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    };

    auto lines = base;
    lines.insert(lines.end(),
                 {"[Fonts]", "AnzFonts=2", "Font0=fonts\\f0.ttf", "Font1=fonts\\f1.ttf",
                  "Font2=fonts\\f2.ttf", "Font3=fonts\\f3.ttf"});
    script(lines);
    EXPECT_TRUE(install().finished);
    EXPECT_THAT(registered(), ElementsAre("f0.ttf", "f1.ttf", "f2.ttf"));
    EXPECT_EQ(fs::read_symlink(folder / "f1.ttf"), inst / "fonts" / "f1.ttf");

    // No count: nothing; a file that is no font: not registered, no message.
    fs::remove_all(folder);
    script(base);
    EXPECT_TRUE(install().finished);
    EXPECT_TRUE(registered().empty());
    for (const char* count : {"zwei", "-1"}) {
        lines = base;
        lines.insert(lines.end(),
                     {"[Fonts]", std::string("AnzFonts=") + count, "Font0=fonts\\f0.ttf"});
        script(lines);
        EXPECT_TRUE(install().finished);
        EXPECT_TRUE(registered().empty()) << count;
    }
    lines = base;
    lines.insert(lines.end(), {"[Fonts]", "AnzFonts=0", "Font0=fonts\\notafont.ttf"});
    script(lines);
    EXPECT_TRUE(install().finished);
    EXPECT_TRUE(registered().empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InstallRun, BillboardsFollowTheDoublingThresholds) {
    struct Case {
        int k;
        std::vector<int> shown_at;  // file index at which billboards 1, 2, ... appear
    };
    for (Case c : {Case{3, {0, 10, 20}}, Case{4, {0, 8, 16}}}) {
        SCOPED_TRACE(c.k);
        view = FakeView();
        view.install_path_value = win(inst);
        std::vector<std::string> lines = {"[Dateien]", "AnzahlDateien=30"};
        for (int i = 0; i < 30; ++i) {
            lines.push_back("Datei" + std::to_string(i) + "=#InstallPath#");
            lines.push_back("DateiN" + std::to_string(i) + "=f.txt");
        }
        lines.insert(lines.end(), {"[Billboards]", "AnzBillboards=" + std::to_string(c.k)});
        for (int j = 1; j <= 4; ++j) {
            lines.push_back("Title" + std::to_string(j) + "=Titel " + std::to_string(j));
            lines.push_back("Text" + std::to_string(j) + "=Zeile a|Zeile b");
        }
        add_file("f.txt", "x");
        script(lines);
        EXPECT_TRUE(install().finished);
        ASSERT_EQ(view.billboards.size(), c.shown_at.size());
        for (size_t b = 0; b < c.shown_at.size(); ++b) {
            EXPECT_EQ(view.billboards[b].title, "Titel " + std::to_string(b + 1));
            EXPECT_EQ(view.billboards[b].text, "Zeile a\r\nZeile b");
            EXPECT_EQ(view.billboards[b].advances_before, c.shown_at[b]);
        }
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(InstallRun, InstallationTimeProgramRunsAndIsWaitedFor) {
    add_file("run.sh", "#!/bin/sh\nsleep 0.4\necho \"$1\" > \"$(dirname \"$0\")/ran.txt\"\n", true);
    add_file("later.sh", "#!/bin/sh\necho x > \"$(dirname \"$0\")/later.txt\"\n", true);
    script({"[Dateien]", "AnzahlDateien=2", "Datei0=#InstallPath#", "DateiN0=run.sh",
            "Datei1=#InstallPath#", "DateiN1=later.sh", "[RunApps]", "AnzApps=3",
            "when1=nach Installation (Abfrage)", "Filename1=#InstallPath#\\later.sh",
            "Message1=Später", "when2=bei Installation", "Filename2=#InstallPath#\\run.sh",
            "Arguments2=hallo", "Message2=Bitte warten...", "when3=bei installation",
            "Filename3=#InstallPath#\\later.sh"});
    int pumps_while_shown = 0;
    platform::set_do_events_hook([&] {
        if (view.meldung_open) ++pumps_while_shown;
    });
    InstallResult r = install();
    platform::set_do_events_hook({});
    EXPECT_TRUE(r.finished);
    // The program had finished writing when the run went on.
    EXPECT_EQ(read(inst / "ran.txt"), "hallo\n");
    EXPECT_GE(pumps_while_shown, 1);
    EXPECT_THAT(view.meldungen, ElementsAre("Bitte warten..."));
    EXPECT_FALSE(view.meldung_open);
    EXPECT_FALSE(fs::exists(inst / "later.txt"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(InstallRun, FailureToUnblockTheExtractorLeavesTheRun) {
    script({"[Dateien]", "AnzahlDateien=0"});
    add_file("a", "a");
    install();  // writes the package once
    view = FakeView();
    view.install_path_value = win(inst);
    fs::remove_all(pkg);
    InstallRunOptions options;
    options.program_folder = win(medium);
    EXPECT_THROW(StartInstallation(view, win(inst), "", options), platform::Error);
    EXPECT_FALSE(view.installing);
    EXPECT_TRUE(view.statuses.empty());
    EXPECT_EQ(view.finish_pages, 0);
}

}  // namespace
}  // namespace setup::testing
