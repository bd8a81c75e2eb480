// The package checker on a sound source, on one broken variant per problem kind, on the sample
// package, and as mkpackage's gate before building.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "tools/mkpackage/check.h"
#include "tools_util.h"

namespace {

using namespace tools_test;
using mkpackage::Severity;

// Line numbers matter: the cases below name them.
const std::string sound_script =
    "[Main]\r\n"                                // 1
    "ProduktName=Beispiel\r\n"                  // 2
    "InstallPath=#ProgramFiles#\\Beispiel\r\n"  // 3
    "ProgrammGruppe=Beispiel\r\n"               // 4
    "Uninstall=1\r\n"                           // 5
    "[Forms]\r\n"                               // 6
    "frmLizenz=1\r\n"                           // 7
    "[Dateien]\r\n"                             // 8
    "AnzahlDateien=2\r\n"                       // 9
    "Datei0=#InstallPath#\r\n"                  // 10
    "DateiN0=a.txt\r\n"                         // 11
    "Datei1=#InstallPath#\\fonts\r\n"           // 12
    "DateiN1=f.ttf\r\n"                         // 13
    "[Fonts]\r\n"                               // 14
    "AnzFonts=0\r\n"                            // 15
    "Font0=fonts\\f.ttf\r\n"                    // 16
    "[RunApps]\r\n"                             // 17
    "AnzApps=1\r\n"                             // 18
    "when1=bei Installation\r\n"                // 19
    "Filename1=#InstallPath#\\a.txt\r\n"        // 20
    "[Links]\r\n"                               // 21
    "AnzLinks=1\r\n"                            // 22
    "LinkPath1=#ProgramGroup#\r\n"              // 23
    "LinkT1=A.desktop\r\n"                      // 24
    "LinkN1=#InstallPath#\\a.txt\r\n";          // 25

void make_source(const std::string& dir, const std::string& script) {
    write_file(dir + "/Setup.INX", script);
    for (const char* f : {"a.txt", "f.ttf", "background.jpg", "Wizard.jpg", "button.bmp"})
        write_file(dir + "/" + f, "x");
    write_file(dir + "/Lizenz.rtf", "{\\rtf1\\ansi {\\fonttbl{\\f0 Arial;}}Lizenz\\par}");
}

std::string edited(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string listing(const mkpackage::CheckReport& r) {
    std::string s;
    for (const auto& p : r.problems) s += mkpackage::format_problem(r, p) + "\n";
    return s;
}

TEST(PackageCheck, SoundSourceHasNoProblems) {
    // Shortcut targets that exist after the install: system paths and the uninstaller.
    for (const std::string target :
         {"#InstallPath#\\a.txt", "#WinSysDir#\\prog", "C:\\bin\\prog", "/usr/bin/prog",
          "#InstallPath#\\Uninstall.exe", "#InstallPath#\\FONTS\\f.ttf"}) {
        TempDir dir("check");
        make_source(dir.path(),
                    edited(sound_script, "LinkN1=#InstallPath#\\a.txt", "LinkN1=" + target) +
                        "LinkI1=" + target + "\r\nLinkK1=Office;Email;\r\n");
        const auto report = mkpackage::check_source(dir.path());
        EXPECT_TRUE(report.problems.empty()) << target << "\n" << listing(report);
    }
}

TEST(PackageCheck, ReportsEachProblemKindWithItsLine) {
    struct Case {
        const char* what;
        std::string from, to;                       // an edit of the script ("" from: none)
        std::function<void(const TempDir&)> files;  // an edit of the folder
        Severity severity;
        int line;
        const char* fragment;
    };
    const Case cases[] = {
        {"file count too high",
         "AnzahlDateien=2",
         "AnzahlDateien=3",
         {},
         Severity::Error,
         9,
         "DateiN2"},
        {"link beyond its count",
         "AnzLinks=1",
         "AnzLinks=0",
         {},
         Severity::Error,
         23,
         "LinkPath1 lies beyond AnzLinks=0"},
        {"app count too high", "AnzApps=1", "AnzApps=2", {}, Severity::Error, 18, "when2"},
        {"font count reaches Font1", "AnzFonts=0", "AnzFonts=1", {}, Severity::Error, 15, "Font1"},
        {"missing product file",
         "DateiN0=a.txt",
         "DateiN0=b.txt",
         {},
         Severity::Error,
         11,
         "b.txt is not in the source"},
        {"font that is no product file",
         "Font0=fonts\\f.ttf",
         "Font0=g.ttf",
         {},
         Severity::Error,
         16,
         "g.ttf"},
        // Every resource the windowed setup loads.
        {"missing background", "", "",
         [](const TempDir& d) { std::remove((d / "background.jpg").c_str()); }, Severity::Error, 0,
         "background.jpg is missing"},
        {"missing title picture", "", "",
         [](const TempDir& d) { std::remove((d / "Wizard.jpg").c_str()); }, Severity::Error, 0,
         "Wizard.jpg is missing"},
        {"missing button picture", "", "",
         [](const TempDir& d) { std::remove((d / "button.bmp").c_str()); }, Severity::Error, 0,
         "button.bmp is missing"},
        {"missing logo", "Uninstall=1", "Logo=1", {}, Severity::Error, 5, "logo.dat is missing"},
        {"missing licence", "", "",
         [](const TempDir& d) { std::remove((d / "Lizenz.rtf").c_str()); }, Severity::Error, 7,
         "Lizenz.rtf is missing"},
        // Shortcuts that cannot work.
        {"shortcut name without .desktop",
         "LinkT1=A.desktop",
         "LinkT1=A",
         {},
         Severity::Warning,
         24,
         "does not end in .desktop"},
        {"shortcut target nothing installs",
         "LinkN1=#InstallPath#\\a.txt",
         "LinkN1=#InstallPath#\\fonts\\a.txt",
         {},
         Severity::Warning,
         25,
         "no file entry installs it"},
        {"shortcut picture nothing installs",
         "LinkN1=#InstallPath#\\a.txt",
         "LinkN1=#WinSysDir#\\prog\r\nLinkI1=#InstallPath#\\a.png",
         {},
         Severity::Warning,
         26,
         "no file entry installs this picture"},
        {"unregistered menu category",
         "LinkN1=#InstallPath#\\a.txt",
         "LinkN1=C:\\bin\\prog\r\nLinkK1=Office;Bueros;",
         {},
         Severity::Warning,
         26,
         "\"Bueros\" is no registered menu category"},
        {"key typo",
         "ProgrammGruppe=",
         "Programmgrupe=",
         {},
         Severity::Warning,
         4,
         "did you mean ProgrammGruppe?"},
        {"indexed key typo",
         "Filename1=",
         "Mesage1=x\r\nFilename1=",
         {},
         Severity::Warning,
         20,
         "did you mean Message<n>?"},
        {"section typo",
         "[RunApps]",
         "[RunApp]",
         {},
         Severity::Warning,
         17,
         "did you mean [RunApps]?"},
        {"count that is no number",
         "AnzLinks=1",
         "AnzLinks=eins",
         {},
         Severity::Error,
         22,
         "AnzLinks=eins is no count"},
        {"unknown when",
         "when1=bei Installation",
         "when1=immer",
         {},
         Severity::Error,
         19,
         "immer is no \"when\" value"},
        {"placeholder in the wrong case",
         "#ProgramFiles#",
         "#Programfiles#",
         {},
         Severity::Error,
         3,
         "wrong case"},
        {"unknown placeholder",
         "LinkPath1=#ProgramGroup#",
         "LinkPath1=#Desktopp#",
         {},
         Severity::Error,
         23,
         "did you mean #Desktop#?"},
        {"forbidden character in a link name",
         "LinkT1=A.desktop",
         "LinkT1=A?.desktop",
         {},
         Severity::Error,
         24,
         "character ? is forbidden"},
        {"forbidden character in the group",
         "ProgrammGruppe=Beispiel",
         "ProgrammGruppe=Bei:spiel",
         {},
         Severity::Error,
         4,
         "character : is forbidden"},
        {"name that climbs out",
         "DateiN0=a.txt",
         "DateiN0=..\\a.txt",
         {},
         Severity::Error,
         11,
         "leaves its folder"},
        {"device name",
         "LinkT1=A.desktop",
         "LinkT1=nul.desktop",
         {},
         Severity::Error,
         24,
         "device name"},
        {"licence that is no RTF", "", "",
         [](const TempDir& d) { write_file(d / "Lizenz.rtf", "Lizenz"); }, Severity::Error, 0,
         "no RTF file"},
        {"licence without text", "", "",
         [](const TempDir& d) { write_file(d / "Lizenz.rtf", "{\\rtf1{\\fonttbl{\\f0 A;}}}"); },
         Severity::Error, 0, "finds no text"},
    };
    for (const Case& c : cases) {
        TempDir dir("check");
        make_source(dir.path(), c.from.empty() ? sound_script : edited(sound_script, c.from, c.to));
        if (c.files) c.files(dir);
        const auto report = mkpackage::check_source(dir.path());
        const bool found = std::any_of(report.problems.begin(), report.problems.end(),
                                       [&](const mkpackage::Problem& p) {
                                           return p.severity == c.severity && p.line == c.line &&
                                                  p.message.find(c.fragment) != std::string::npos;
                                       });
        EXPECT_TRUE(found) << c.what << ":\n" << listing(report);
        EXPECT_EQ(report.has_errors(), c.severity == Severity::Error) << c.what;
    }
}

// Setup reads a script in UTF-8 (with or without a byte-order mark) or Windows-1252, with any
// line end; so does the checker, which finds the product file with the umlaut in each.
TEST(PackageCheck, ScriptInAnyCodePageAndLineEndPasses) {
    auto renamed = [](std::string script, const std::string& name) {
        for (auto at = script.find("a.txt"); at != std::string::npos; at = script.find("a.txt"))
            script.replace(at, 1, name);
        return script;
    };
    const std::string cp1252 = renamed(sound_script, "\xe4");
    const std::string utf8 = renamed(sound_script, "\xc3\xa4");
    std::string cr_only = utf8;
    std::erase(cr_only, '\n');
    for (const std::string& script : {cp1252, utf8, "\xef\xbb\xbf" + utf8, cr_only}) {
        TempDir dir("check-form");
        make_source(dir.path(), script);
        write_file(dir / "\xc3\xa4.txt", "x");
        const auto report = mkpackage::check_source(dir.path());
        EXPECT_TRUE(report.problems.empty()) << script.substr(0, 40) << listing(report);
    }
}

TEST(PackageCheck, SamplePackagePasses) {
    TempDir dir("check-sample");
    const std::string sample = std::string(VELTRIN_SOURCE_DIR) + "/tools/sample";
    for (const char* f : {"Setup.INX", "Lizenz.rtf", "Liesmich.txt", "background.jpg", "Wizard.jpg",
                          "button.bmp", "logo.dat", "Morvolan.svg"})
        std::filesystem::copy_file(sample + "/" + f, dir / f);
    write_file(dir / "morvo", "#!/bin/sh\n");
    const auto report = mkpackage::check_source(dir.path());
    EXPECT_TRUE(report.problems.empty()) << listing(report);
}

TEST(PackageCheck, MkpackageExitsByTheWorstProblemAndRefusesToBuildOnErrors) {
    TempDir dir("check-cli");
    const std::string mk = bin_dir() + "/mkpackage";
    make_dirs(dir / "src");
    make_source(dir / "src", sound_script);
    write_file(dir / "src/Setup.INX", edited(sound_script, "A.desktop", "A"));  // a warning only
    RunResult r = run({mk, "--check", dir / "src"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Setup.INX:24: warning: LinkT1=A"), std::string::npos) << r.err;

    write_file(dir / "src/Setup.INX", edited(sound_script, "AnzApps=1", "AnzApps=x"));
    r = run({mk, "--check", dir / "src"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Setup.INX:18: error: AnzApps=x is no count"), std::string::npos) << r.err;
    r = run({mk, "--bin", bin_dir(), dir / "src", dir / "medium"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(exists(dir / "medium/data01.cab"));
}

}  // namespace
