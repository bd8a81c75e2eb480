// The sample medium installed with "setup /S", then its "Uninstall.exe /S" started by a program
// that calls execve itself, without a shell (Python's subprocess): the kernel must start it as
// it is. Once as usual and once with TMPDIR and XDG_RUNTIME_DIR where no program may start (a
// noexec mount, or unwritable where no mount namespace is allowed): both remove everything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::shell_quoted;
using testsupport::slurp;

TEST(NativeUninstaller, StartsWithoutAShellAlsoWithoutAnExecutableTempFolder) {
    const fs::path medium = fs::path(VELTRIN_BINARY_DIR) / "sample-medium";
    if (!fs::exists(medium / "setup")) GTEST_SKIP() << "no sample medium in " << medium;
    if (testsupport::shell("command -v python3 >/dev/null") != 0) GTEST_SKIP() << "no python3";
    for (const bool restricted_temp : {false, true}) {
        SCOPED_TRACE(restricted_temp ? "no program may start from the temp folders" : "plain");
        testsupport::TempDir dir("native-uninstall");
        const fs::path root = dir.path(), temp = root / "temp";
        for (const char* d : {"home", "pf", "setup-temp"}) fs::create_directories(root / d);
        fs::create_directories(temp);
        std::string prefix;
        if (restricted_temp) {
            prefix = testsupport::noexec_mount_prefix(temp);
            if (prefix.empty()) {
                if (::geteuid() == 0) continue;  // root writes anywhere: nothing to restrict
                fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_exec);
            }
        }
        const std::string env = "cd " + shell_quoted(root) +
                                " && env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u TEMP -u DISPLAY "
                                "-u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME=" +
                                shell_quoted(root / "home") +
                                " ProgramFiles=" + shell_quoted(root / "pf") +
                                testsupport::system_data_env(root);
        ASSERT_EQ(testsupport::shell(env + "TMPDIR=" + shell_quoted(root / "setup-temp") +
                                     " timeout 300 " + shell_quoted(medium / "setup") + " /S > " +
                                     shell_quoted(root / "setup.txt") + " 2>&1"),
                  0)
            << slurp(root / "setup.txt");
        const fs::path folder = root / "pf/Morvolan";
        ASSERT_TRUE(fs::exists(folder / "Uninstall.exe"));
        ASSERT_TRUE(fs::exists(testsupport::menu_folder(root) / "Morvolan"));

        const std::string python =
            "python3 -c 'import subprocess, sys; "
            "sys.exit(subprocess.run([sys.argv[1], \"/S\"]).returncode)' " +
            shell_quoted(folder / "Uninstall.exe");
        const int status =
            testsupport::shell(env + "TMPDIR=" + shell_quoted(temp) +
                               " XDG_RUNTIME_DIR=" + shell_quoted(temp) + " timeout 120 " + prefix +
                               python + " > " + shell_quoted(root / "uninstall.txt") + " 2>&1");
        fs::permissions(temp, fs::perms::owner_all);
        EXPECT_EQ(status, 0) << slurp(root / "uninstall.txt");
        // The batch removes the folder after the uninstaller has ended.
        for (int i = 0; i < 300 && fs::exists(folder); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(fs::exists(folder)) << slurp(root / "uninstall.txt");
        EXPECT_FALSE(fs::exists(testsupport::menu_folder(root) / "Morvolan"));
        EXPECT_TRUE(fs::is_empty(temp));
        dir.keep = ::testing::Test::HasFailure();
    }
}

}  // namespace
