// The Windows variables the programs read, from an injected host environment.
#include "platform/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace {

using platform::HostEnvironment;

class Environment : public ::testing::Test {
  protected:
    // Only the root file system: every host path is on C:.
    testsupport::ScopedSeam mounts_{platform::set_mount_table_source,
                                    [] { return std::string("/dev/sda1 / ext4 rw 0 0\n"); }};
    testsupport::ScopedSeam overrides_{[] {
        platform::set_host_environment(std::nullopt);
        platform::clear_environ_overrides();
    }};
    static HostEnvironment anna() {
        HostEnvironment e;
        e.variables = {{"HOME", "/home/anna"}, {"USER", "anna"}, {"PATH", "/usr/bin:/bin"}};
        e.host_name = "werkbank.example.org";
        e.login_name = "anna-pw";
        e.home = "/home/anna-pw";
        return e;
    }
};

TEST_F(Environment, DefaultsAndProcessValues) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> extra;  // added to anna's variables ("" removes)
        bool root;
        const char* name;
        std::string want;
    } cases[] = {
        {"TEMP default", {}, false, "TEMP", "C:\\tmp"},
        {"TEMP from TMPDIR", {{"TMPDIR", "/var/tmp/x/"}}, false, "TEMP", "C:\\var\\tmp\\x"},
        {"TEMP set as host path", {{"TEMP", "/tmp/x"}}, false, "TEMP", "C:\\tmp\\x"},
        {"TEMP set in Windows form", {{"TEMP", "D:\\Temp"}}, false, "TEMP", "D:\\Temp"},
        {"name without regard to case", {{"TEMP", "/t"}}, false, "temp", "C:\\t"},
        {"TMP like TEMP", {}, false, "TMP", "C:\\tmp"},
        {"AppData default", {}, false, "AppData", "C:\\home\\anna\\.config"},
        {"AppData from XDG", {{"XDG_CONFIG_HOME", "/cfg"}}, false, "APPDATA", "C:\\cfg"},
        {"AppData from passwd home",
         {{"HOME", ""}},
         false,
         "AppData",
         "C:\\home\\anna-pw\\.config"},
        {"Username from USER", {}, false, "Username", "anna"},
        {"Username from LOGNAME", {{"USER", ""}, {"LOGNAME", "lg"}}, false, "Username", "lg"},
        {"Username from passwd", {{"USER", ""}}, false, "Username", "anna-pw"},
        {"Computername", {}, false, "Computername", "werkbank"},
        {"Homedrive", {}, false, "Homedrive", "C:"},
        {"Homepath", {}, false, "Homepath", "\\home\\anna"},
        {"UserProfile", {}, false, "UserProfile", "C:\\home\\anna"},
        {"ProgramFiles user", {}, false, "ProgramFiles", "C:\\home\\anna\\.local\\opt"},
        {"ProgramFiles root", {}, true, "ProgramFiles", "C:\\opt"},
        {"WinDir unset", {}, false, "WinDir", ""},
        {"WinDir set", {{"WINDIR", "/srv/win"}}, false, "WinDir", "C:\\srv\\win"},
        {"other names as they are", {}, false, "PATH", "/usr/bin:/bin"},
        {"unknown", {}, false, "NoSuchVariable", ""},
    };
    for (const auto& c : cases) {
        HostEnvironment e = anna();
        e.is_root = c.root;
        for (const auto& [k, v] : c.extra) {
            if (v.empty()) {
                e.variables.erase(k);
            } else {
                e.variables[k] = v;
            }
        }
        platform::set_host_environment(e);
        EXPECT_EQ(platform::Environ(c.name), c.want) << c.what;
    }
}

TEST_F(Environment, SystemDataFolderIsTheFirstAbsoluteEntry) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, "/usr/local/share"},       {"", "/usr/local/share"},
        {"/srv/share/:/usr/share", "/srv/share"}, {"share:relativ::/opt/x", "/opt/x"},
        {"nur/relativ", "/usr/local/share"},
    };
    for (const auto& [dirs, want] : cases) {
        HostEnvironment e = anna();
        if (dirs) e.variables["XDG_DATA_DIRS"] = *dirs;
        EXPECT_EQ(platform::system_data_folder(e), want) << dirs.value_or("(unset)");
    }
    HostEnvironment e = anna();
    EXPECT_EQ(platform::user_folders(e).state, "/home/anna/.local/state");
    e.variables["XDG_STATE_HOME"] = "/st";
    EXPECT_EQ(platform::user_folders(e).state, "/st");
}

TEST_F(Environment, OverridesWinAndCanBeRemoved) {
    platform::set_host_environment(anna());
    platform::set_environ_override("Temp", "/scratch/t");
    EXPECT_EQ(platform::Environ("TEMP"), "C:\\scratch\\t");
    platform::set_environ_override("TEMP", "E:\\T");
    EXPECT_EQ(platform::Environ("temp"), "E:\\T");
    platform::set_environ_override("temp", std::nullopt);
    EXPECT_EQ(platform::Environ("TEMP"), "C:\\tmp");
}

TEST_F(Environment, RealProcessEnvironment) {
    ::setenv("VELTRIN_CORE_TEST_VAR", "wert", 1);
    EXPECT_EQ(platform::Environ("VELTRIN_CORE_TEST_VAR"), "wert");
    ::unsetenv("VELTRIN_CORE_TEST_VAR");
    EXPECT_EQ(platform::Environ("Homedrive"), "C:");
    EXPECT_EQ(platform::Environ("TEMP").rfind("C:\\", 0), 0u);
}

}  // namespace
