// The sample medium installed twice: once through the wizard by the scripted user, once with
// "setup /S" without any display. Both must place the same files, log and shortcuts; then
// "Uninstall.exe /S", started from a shell, must remove what the silent install placed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

using testsupport::shell_quoted;

std::string replace_all(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// Every file below `dir` with its contents, the run's own folder (host and Windows form)
// written as ROOT so that two runs compare.
std::map<std::string, std::string> tree(const fs::path& dir, const fs::path& root) {
    auto files = testsupport::tree_listing(dir.string(), {.folders = true, .links = false});
    for (auto& [rel, bytes] : files) {
        bytes = replace_all(bytes, platform::windows_path(root.string()), "ROOT");
        bytes = replace_all(bytes, root.string(), "ROOT");
    }
    return files;
}

// A fresh HOME, TEMP, programs folder and system-wide data folder for one run.
std::string environment(const fs::path& run) {
    for (const char* d : {"home", "temp", "pf", "system"}) fs::create_directories(run / d);
    return "env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u TMPDIR -u DISPLAY -u WAYLAND_DISPLAY "
           "-u QT_QPA_PLATFORM HOME=" +
           shell_quoted(run / "home") + " TEMP=" + shell_quoted(run / "temp") +
           " ProgramFiles=" + shell_quoted(run / "pf") + testsupport::system_data_env(run);
}

TEST(SilentInstall, PlacesWhatTheWizardPlacesAndUninstallsSilently) {
    const fs::path medium = fs::path(VELTRIN_BINARY_DIR) / "sample-medium";
    if (!fs::exists(medium / "setup")) GTEST_SKIP() << "no sample medium in " << medium;
    testsupport::TempDir dir("silent-e2e");
    const fs::path root = dir.host;
    const fs::path wizard = root / "wizard", silent = root / "silent";

    std::ofstream(root / "script.txt") << "wait frmWizard\n"
                                          "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
                                          "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
                                          "click frmWizard.cmdNav(3)\n"
                                          "wait frmend 120\nclick frmend.cmdN(3)\n";
    int status = std::system(
        ("cd " + shell_quoted(root) + " && " + environment(wizard) +
         "QT_QPA_PLATFORM=offscreen VELTRIN_USER_SCRIPT=" + shell_quoted(root / "script.txt") +
         " VELTRIN_TRANSCRIPT=" + shell_quoted(wizard / "transcript.txt") + " timeout 300 " +
         shell_quoted(medium / "setup") + " >" + shell_quoted(wizard / "out.txt") + " 2>&1")
            .c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << slurp(wizard / "transcript.txt") << slurp(wizard / "out.txt");

    // No display and no Qt platform: a window would abort the program.
    status = std::system(("cd " + shell_quoted(root) + " && " + environment(silent) +
                          "timeout 300 " + shell_quoted(medium / "setup") +
                          " /S /LOG=" + shell_quoted(silent / "log.txt") + " >" +
                          shell_quoted(silent / "out.txt") + " 2>&1")
                             .c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << slurp(silent / "out.txt") << slurp(silent / "log.txt");

    const auto placed = tree(silent / "pf", silent);
    ASSERT_TRUE(placed.count("Morvolan/Uninstall.ini")) << slurp(silent / "log.txt");
    EXPECT_EQ(placed, tree(wizard / "pf", wizard));
    const std::string menus = fs::relative(testsupport::menu_folder(silent), silent).string();
    for (const std::string& shortcuts : {menus, std::string("home/Desktop")})
        EXPECT_EQ(tree(silent / shortcuts, silent), tree(wizard / shortcuts, wizard)) << shortcuts;
    EXPECT_TRUE(fs::exists(silent / menus / "Morvolan/Morvolan.desktop"));
    // The log names what it placed by host path.
    const std::string log = slurp(silent / "log.txt");
    EXPECT_NE(log.find("Morvolan.desktop"), std::string::npos);
    EXPECT_NE(log.find("Installationsordner: " + (silent / "pf" / "Morvolan").string()),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Datei: " + (silent / "pf" / "Morvolan" / "morvo").string()),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(":\\"), std::string::npos) << log;
    // A step passed over names what it worked on (here the folders that exist already).
    const std::string skipped = "bergangen: Fehler 75 bei " + (silent / "pf" / "Morvolan").string();
    std::size_t lines = 0;
    for (std::size_t at = log.find("bergangen: "); at != std::string::npos;
         at = log.find("bergangen: ", at + 1), ++lines)
        EXPECT_EQ(log.compare(at, skipped.size(), skipped), 0) << log.substr(at, 120);
    EXPECT_GT(lines, 0u) << log;

    // A shell starts the uninstaller, as a user would.
    const fs::path folder = silent / "pf" / "Morvolan";
    status = std::system(("cd " + shell_quoted(root) + " && " + environment(silent) + "F=" +
                          shell_quoted(folder) + " timeout 120 sh -c '\"$F/Uninstall.exe\" /S' >" +
                          shell_quoted(silent / "uninstall.txt") + " 2>&1")
                             .c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    EXPECT_EQ(code, 0) << slurp(silent / "uninstall.txt");
    // The batch removes the folder after the uninstaller has ended.
    for (int i = 0; i < 300 && fs::exists(folder); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(silent / menus / "Morvolan"));
    EXPECT_TRUE(fs::is_directory(silent / menus));
    // The log names no desktop group folder, so only its shortcut goes.
    EXPECT_FALSE(fs::exists(silent / "home/Desktop/Morvolan/Morvolan.desktop"));
    dir.keep = ::testing::Test::HasFailure();
}

// The sample's script as a person's editor may save it: with a byte-order mark, in plain UTF-8,
// in Windows-1252 and with CR alone ending each line. Each installs the same files, with the
// umlaut of its program group right, and its log is UTF-8 with LF.
TEST(SilentInstall, ScriptInEveryCodePageAndLineEnd) {
    const fs::path stage = fs::path(VELTRIN_BINARY_DIR) / "sample-source";
    if (!fs::exists(stage / "Setup.INX")) GTEST_SKIP() << "no staged sample in " << stage;
    testsupport::TempDir dir("silent-forms");
    const fs::path root = dir.host;
    // The group "Morvolan Übung" in Windows-1252; each form is made from it.
    const std::string cp1252 =
        replace_all(slurp(stage / "Setup.INX"), "ProgrammGruppe=Morvolan\r\n",
                    "ProgrammGruppe=Morvolan \xDC"
                    "bung\r\n");
    const std::string utf8 = platform::cp1252_to_utf8(cp1252);
    const struct {
        const char* name;
        std::string script;
    } forms[] = {
        {"bom", "\xEF\xBB\xBF" + utf8},
        {"utf8", utf8},
        {"cp1252", cp1252},
        {"cr", replace_all(cp1252, "\r\n", "\r")},
    };
    std::map<std::string, std::string> first;
    for (const auto& f : forms) {
        const fs::path run = root / f.name;
        fs::create_directories(run / "src");
        fs::copy(stage, run / "src", fs::copy_options::recursive);
        std::ofstream(run / "src" / "Setup.INX", std::ios::binary) << f.script;
        const fs::path bin = fs::path(VELTRIN_BINARY_DIR) / "bin";
        int status =
            std::system((shell_quoted(bin / "mkpackage") + " --bin " + shell_quoted(bin) + " " +
                         shell_quoted(run / "src") + " " + shell_quoted(run / "medium") + " >" +
                         shell_quoted(run / "out.txt") + " 2>&1")
                            .c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slurp(run / "out.txt");
        // Only in the run's own folders: HOME, TEMP and the programs folder.
        status = std::system(("cd " + shell_quoted(root) + " && " + environment(run) +
                              "timeout 300 " + shell_quoted(run / "medium" / "setup") +
                              " /S /LOG=" + shell_quoted(run / "log.txt") + " >>" +
                              shell_quoted(run / "out.txt") + " 2>&1")
                                 .c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << f.name << "\n"
            << slurp(run / "out.txt") << slurp(run / "log.txt");
        EXPECT_TRUE(fs::exists(testsupport::menu_folder(run) /
                               "Morvolan \xC3\x9C"
                               "bung" /
                               "Morvolan.desktop"))
            << f.name;
        const std::string text = slurp(run / "log.txt");
        EXPECT_EQ(text.find('\r'), std::string::npos) << f.name;
        EXPECT_NE(text.find("Programmgruppe: Morvolan \xC3\x9C"
                            "bung\n"),
                  std::string::npos)
            << f.name << "\n"
            << text;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {  // a skipped step names its path
            if (line.rfind("\xC3\xBC"
                           "bergangen:",
                           0) == 0) {
                EXPECT_NE(line.find_first_of("/\\"), std::string::npos) << line;
            }
        }
        const auto placed = tree(run / "pf", run);
        if (first.empty())
            first = placed;
        else
            EXPECT_EQ(placed, first) << f.name;
    }
    dir.keep = ::testing::Test::HasFailure();
}

}  // namespace
