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

#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

std::string sh(const fs::path& p) {
    return "'" + p.string() + "'";
}

std::string replace_all(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// Every file below `dir` with its contents, the run's own folder (host and Windows form)
// written as ROOT so that two runs compare.
std::map<std::string, std::string> tree(const fs::path& dir, const fs::path& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(dir)) return files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string rel = fs::relative(e.path(), dir).string();
        if (!e.is_regular_file()) {
            files[rel + "/"] = "";
            continue;
        }
        std::string bytes = slurp(e.path());
        bytes = replace_all(bytes, platform::windows_path(root.string()), "ROOT");
        files[rel] = replace_all(bytes, root.string(), "ROOT");
    }
    return files;
}

// A fresh HOME, TEMP and programs folder for one run.
std::string environment(const fs::path& run) {
    for (const char* d : {"home", "temp", "pf"}) fs::create_directories(run / d);
    return "env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u TMPDIR -u DISPLAY -u WAYLAND_DISPLAY "
           "-u QT_QPA_PLATFORM HOME=" +
           sh(run / "home") + " TEMP=" + sh(run / "temp") + " ProgramFiles=" + sh(run / "pf") + " ";
}

TEST(SilentInstall, PlacesWhatTheWizardPlacesAndUninstallsSilently) {
    const fs::path medium = fs::path(VELTRIN_BINARY_DIR) / "sample-medium";
    if (!fs::exists(medium / "setup")) GTEST_SKIP() << "no sample medium in " << medium;
    const fs::path root =
        fs::temp_directory_path() / ("veltrin-silent-e2e-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path wizard = root / "wizard", silent = root / "silent";

    fs::create_directories(root);
    std::ofstream(root / "script.txt") << "wait frmWizard\n"
                                          "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
                                          "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
                                          "click frmWizard.cmdNav(3)\n"
                                          "wait frmend 120\nclick frmend.cmdN(3)\n";
    int status =
        std::system(("cd " + sh(root) + " && " + environment(wizard) +
                     "QT_QPA_PLATFORM=offscreen VELTRIN_USER_SCRIPT=" + sh(root / "script.txt") +
                     " VELTRIN_TRANSCRIPT=" + sh(wizard / "transcript.txt") + " timeout 300 " +
                     sh(medium / "setup") + " >" + sh(wizard / "out.txt") + " 2>&1")
                        .c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << slurp(wizard / "transcript.txt") << slurp(wizard / "out.txt");

    // No display and no Qt platform: a window would abort the program.
    status = std::system(("cd " + sh(root) + " && " + environment(silent) + "timeout 300 " +
                          sh(medium / "setup") + " /S /LOG=" + sh(silent / "log.txt") + " >" +
                          sh(silent / "out.txt") + " 2>&1")
                             .c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << slurp(silent / "out.txt") << slurp(silent / "log.txt");

    const auto placed = tree(silent / "pf", silent);
    ASSERT_TRUE(placed.count("Morvolan/Uninstall.ini")) << slurp(silent / "log.txt");
    EXPECT_EQ(placed, tree(wizard / "pf", wizard));
    for (const char* shortcuts : {"home/.local/share/applications", "home/Desktop"})
        EXPECT_EQ(tree(silent / shortcuts, silent), tree(wizard / shortcuts, wizard)) << shortcuts;
    EXPECT_NE(slurp(silent / "log.txt").find("Morvolan.desktop"), std::string::npos);

    // The uninstaller is a program container: a shell starts it natively, as a user would.
    const fs::path folder = silent / "pf" / "Morvolan";
    status = std::system(("cd " + sh(root) + " && " + environment(silent) + "F=" + sh(folder) +
                          " timeout 120 sh -c '\"$F/Uninstall.exe\" /S' >" +
                          sh(silent / "uninstall.txt") + " 2>&1")
                             .c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    EXPECT_EQ(code, 0) << slurp(silent / "uninstall.txt");
    // The batch removes the folder after the uninstaller has ended.
    for (int i = 0; i < 300 && fs::exists(folder); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(silent / "home/.local/share/applications/Morvolan"));
    // The log names no desktop group folder, so only its shortcut goes.
    EXPECT_FALSE(fs::exists(silent / "home/Desktop/Morvolan/Morvolan.desktop"));
    if (!::testing::Test::HasFailure()) fs::remove_all(root);
}

}  // namespace
