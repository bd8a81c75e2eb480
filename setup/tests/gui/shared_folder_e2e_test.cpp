// The sample medium where others share its places: an install folder that already holds the
// user's files, a second setup while one runs, and a damaged medium. Each run is the real
// program, windowed under the scripted user or "/S" without a display.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::menu_folder;
using testsupport::shell_quoted;
using testsupport::slurp;
using testsupport::spit;
using testsupport::system_data_env;

const fs::path kMedium = fs::path(VELTRIN_BINARY_DIR) / "sample-medium";

const char* kWizardToFinish =
    "wait frmWizard\n"
    "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n";
const char* kWizardRest =
    "click frmWizard.cmdNav(3)\nclick frmWizard.cmdNav(3)\n"
    "wait frmend 120\n";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One user's world: HOME, TEMP and the programs folder below `root`.
struct World {
    fs::path root;
    explicit World(fs::path r) : root(std::move(r)) {
        for (const char* d : {"home", "temp", "pf"}) fs::create_directories(root / d);
    }
    fs::path folder() const { return root / "pf" / "Morvolan"; }
    std::string env() const {
        return "env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u TMPDIR -u DISPLAY -u WAYLAND_DISPLAY "
               "-u QT_QPA_PLATFORM HOME=" +
               shell_quoted(root / "home") + " TEMP=" + shell_quoted(root / "temp") +
               " ProgramFiles=" + shell_quoted(root / "pf") + system_data_env(root);
    }
    // The same, windowed under the scripted user with `script`.
    std::string scripted(const std::string& name, const std::string& script) const {
        spit(root / (name + ".script"), script);
        return env() + "QT_QPA_PLATFORM=offscreen VELTRIN_USER_SCRIPT=" +
               shell_quoted(root / (name + ".script")) +
               " VELTRIN_TRANSCRIPT=" + shell_quoted(root / (name + ".transcript")) + " ";
    }
    // Runs a command line from `root`; its exit status, -1 when it did not exit.
    int run(const std::string& name, const std::string& command) const {
        return testsupport::shell("cd " + shell_quoted(root) + " && " + command + " >" +
                                  shell_quoted(root / (name + ".out")) + " 2>&1");
    }
    std::string report(const std::string& name) const {
        return slurp(root / (name + ".transcript")) + slurp(root / (name + ".out"));
    }
};

bool wait_until(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

// The user's files in the folder the product goes into: every one must outlive an install and
// an uninstall, byte for byte.
const std::map<std::string, std::string> kUserFiles = {
    {"Steuer/", ""},
    {"Steuer/2024.xlsx", std::string("PK\3\4\0\r\n\xff binary", 15)},
    {"notiz.txt", "the user's own\n"},
};

TEST(SharedInstallFolder, UninstallLeavesTheUsersFilesByWindowAndSilently) {
    if (!fs::exists(kMedium / "setup")) GTEST_SKIP() << "no sample medium in " << kMedium;
    testsupport::TempDir dir("shared-folder");
    for (const bool window : {true, false}) {
        SCOPED_TRACE(window ? "window" : "/S");
        const World w(fs::path(dir.host) / (window ? "window" : "silent"));
        for (const auto& [name, bytes] : kUserFiles)
            if (name.back() != '/') spit(w.folder() / name, bytes);

        const std::string setup = shell_quoted(kMedium / "setup");
        if (window) {
            // The question about the folder comes with the click that leaves its page.
            const std::string script =
                std::string(kWizardToFinish) + "answer Yes if \"Der Ordner " + w.folder().string() +
                " enthält bereits Dateien\"\n" + kWizardRest + "click frmend.cmdN(3)\n";
            ASSERT_EQ(w.run("setup", w.scripted("setup", script) + "timeout 300 " + setup), 0)
                << w.report("setup");
            EXPECT_TRUE(contains(w.report("setup"), "icon=question buttons=YesNo"))
                << w.report("setup");
        } else {
            ASSERT_EQ(w.run("setup", w.env() + "timeout 300 " + setup +
                                         " /S /LOG=" + shell_quoted(w.root / "setup.log")),
                      0)
                << w.report("setup");
            // The log is Windows-1252: its ASCII part is compared.
            EXPECT_TRUE(contains(slurp(w.root / "setup.log"), "bereits Dateien"));
            EXPECT_TRUE(contains(slurp(w.root / "setup.log"), "sie dort: " + w.folder().string()));
        }
        ASSERT_TRUE(fs::exists(w.folder() / "morvo"));
        ASSERT_TRUE(fs::exists(menu_folder(w.root) / "Morvolan"));

        const std::string uninstall = "F=" + shell_quoted(w.folder()) +
                                      " timeout 120 sh -c '\"$F/Uninstall.exe\"" +
                                      (window ? "'" : " /S'");
        const int status = window
                               ? w.run("uninstall", w.scripted("uninstall",
                                                               "answer Yes if \"deinstallieren?\"\n"
                                                               "answer OK if \"bestand schon\"\n"
                                                               "wait Form1\ndump Form1.List1\n"
                                                               "click Form1.cmdNext\n") +
                                                        uninstall)
                               : w.run("uninstall", w.env() + uninstall);
        const std::string said = w.report("uninstall");
        // The window says what stayed in its list; the silent run names it and exits 1.
        EXPECT_EQ(status, window ? 0 : 1) << said;
        // Named by host path, in the window's list and on standard error alike.
        EXPECT_TRUE(contains(said, (w.folder() / "Steuer").string())) << said;
        EXPECT_TRUE(contains(said, "notiz.txt")) << said;
        EXPECT_TRUE(wait_until([&] { return !fs::exists(w.folder() / "Uninstall.exe"); }, 30));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(testsupport::tree_listing(w.folder().string(), {.folders = true}), kUserFiles);
        EXPECT_FALSE(fs::exists(menu_folder(w.root) / "Morvolan"));
    }
    dir.keep = ::testing::Test::HasFailure();
}

// A setup that runs holds the package folder: a second one, windowed or silent, is refused and
// writes nothing. Once the first is killed, the next setup runs.
TEST(SharedPackageFolder, SecondSetupIsRefusedUntilTheFirstEnds) {
    if (!fs::exists(kMedium / "setup")) GTEST_SKIP() << "no sample medium in " << kMedium;
    testsupport::TempDir dir("package-lock");
    const World w(dir.host);
    // The first setup waits on its wizard for a window that never comes.
    ASSERT_EQ(testsupport::shell("cd " + shell_quoted(w.root) + " && (" +
                                 w.scripted("first", "wait frmWizard 120\nwait frmNie 120\n") +
                                 "setsid " + shell_quoted(kMedium / "setup") +
                                 " >first.out 2>&1 & echo $! >first.pid)"),
              0);
    const long first = std::stol(slurp(w.root / "first.pid"));
    ASSERT_TRUE(wait_until(
        [&] { return contains(slurp(w.root / "first.transcript"), "window frmWizard shown"); },
        120))
        << w.report("first");
    const auto package = testsupport::tree_listing((w.root / "temp").string(), {.folders = true});

    EXPECT_EQ(w.run("silent", w.env() + "timeout 120 " + shell_quoted(kMedium / "setup") + " /S"),
              1);
    EXPECT_TRUE(contains(w.report("silent"), "andere Installation")) << w.report("silent");
    EXPECT_EQ(w.run("window", w.scripted("window", "answer OK if \"andere Installation\"\n") +
                                  "timeout 120 " + shell_quoted(kMedium / "setup")),
              1);
    const std::string said = w.report("window");
    EXPECT_TRUE(contains(said, "icon=critical")) << said;
    EXPECT_FALSE(contains(said, "frmWizard")) << said;
    EXPECT_EQ(testsupport::tree_listing((w.root / "temp").string(), {.folders = true}), package);
    EXPECT_FALSE(fs::exists(w.folder()));

    ASSERT_EQ(::kill(-static_cast<pid_t>(first), SIGKILL), 0);
    EXPECT_EQ(w.run("after", w.env() + "timeout 300 " + shell_quoted(kMedium / "setup") + " /S"), 0)
        << w.report("after");
    EXPECT_TRUE(fs::exists(w.folder() / "morvo"));
    dir.keep = ::testing::Test::HasFailure();
}

// Three bytes of data02.cab changed: the program does not arrive. The window reports it by name
// and its finish page offers no start of it.
TEST(DamagedMedium, WindowReportsTheMissingFileAndOffersNoStart) {
    if (!fs::exists(kMedium / "setup")) GTEST_SKIP() << "no sample medium in " << kMedium;
    testsupport::TempDir dir("damaged-medium");
    const World w(fs::path(dir.host) / "world");
    const fs::path medium = fs::path(dir.host) / "medium";
    fs::copy(kMedium, medium, fs::copy_options::recursive);
    {
        // The program is by far the largest file: the middle of the cabinet is its data.
        const fs::path cab = medium / "data02.cab";
        std::string bytes = slurp(cab);
        ASSERT_GT(bytes.size(), 1000u);
        for (std::size_t i = 0; i < 3; ++i) bytes[bytes.size() / 2 + i] ^= 0x5a;
        spit(cab, bytes);
    }
    const std::string script = std::string(kWizardToFinish) + kWizardRest +
                               "dump frmend.lblOption1\ndump frmend.chkOption1\n"
                               "click frmend.cmdN(3)\n";
    // The report box takes its default (OK), which the transcript shows.
    EXPECT_EQ(w.run("setup",
                    w.scripted("setup", script) + "timeout 300 " + shell_quoted(medium / "setup")),
              0);
    const std::string said = w.report("setup");
    EXPECT_TRUE(contains(said, "icon=critical")) << said;
    EXPECT_TRUE(contains(said, "Datei nicht installiert: " + (w.folder() / "morvo").string()))
        << said;
    EXPECT_FALSE(fs::exists(w.folder() / "morvo"));
    EXPECT_TRUE(fs::exists(w.folder() / "Liesmich.txt"));
    EXPECT_TRUE(contains(said, "value frmend.lblOption1 \"\" hidden")) << said;
    EXPECT_FALSE(contains(said, "Morvolan jetzt starten")) << said;
    dir.keep = ::testing::Test::HasFailure();
}

}  // namespace
