#include "setup/placeholders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/environment.h"
#include "setup/shell_link.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

// A private TEMP with a setup script naming the program group, the Windows variables set to
// known values and the two special folders fixed.
class Placeholders : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_ / "~Veltrin");
        std::ofstream(dir_ / "~Veltrin" / "Setup.INX") << "[Main]\r\nProgrammgruppe=G\r\n";
        platform::set_environ_override("TEMP", dir_.string());
        platform::set_environ_override("AppData", "C:\\AD");
        platform::set_environ_override("Computername", "PC1");
        platform::set_environ_override("Homedrive", "C:");
        platform::set_environ_override("ProgramFiles", "C:\\opt");
        platform::set_environ_override("WinDir", "C:\\Windows");
        platform::set_environ_override("Username", "anna");
        folders_ = {{0, "/home/anna/Desktop"}, {2, "/home/anna/.local/share/applications"}};
        setup::set_special_folder_resolver([this](long id) -> std::optional<std::string> {
            auto it = folders_.find(id);
            if (it == folders_.end()) return std::nullopt;
            return it->second;
        });
        setup::set_install_path_source([this] { return install_; });
    }
    testsupport::TempDir scratch_{"veltrin-ph"};
    fs::path dir_ = scratch_.path();
    testsupport::ScopedSeam seams_{[] {
        setup::set_install_path_source({});
        setup::set_special_folder_resolver({});
        platform::clear_environ_overrides();
    }};
    std::string install_;
    std::map<long, std::string> folders_;
};

TEST_F(Placeholders, ExpansionTable) {
    const std::string sys = setup::system_folder();
    struct Case {
        const char* install;
        const char* text;
        std::string expected;
    } cases[] = {
        {"C:\\P", "#InstallPath#\\a;#InstallPath#\\b", "C:\\P\\a;C:\\P\\b"},
        {"C:\\P", "#installpath#\\x #INSTALLPATH#", "#installpath#\\x #INSTALLPATH#"},
        // A later placeholder inside a value is expanded by its own step, an earlier one is not.
        {"#WinDir#\\App", "#InstallPath#", "C:\\Windows\\App"},
        {"C:\\P", "#Username#-#Computername#", "anna-PC1"},
        {"", "#InstallPath#\\x", "\\x"},
        {"C:\\P", "#HomeDrive#|#ProgramFiles#|#AppDataDir#", "C:|C:\\opt|C:\\AD"},
        {"C:\\P", "#WinSysDir#\\x.dll", sys + "\\x.dll"},
        {"C:\\P", "#ProgramGroup#", "C:\\home\\anna\\.local\\share\\applications\\G"},
        {"C:\\P", "#Desktop#", "C:\\home\\anna\\Desktop\\G"},
        {"C:\\P", "#Foo# # #InstallPath", "#Foo# # #InstallPath"},
        {"C:\\P", "", ""},
    };
    for (const auto& c : cases) {
        install_ = c.install;
        EXPECT_EQ(setup::ExpandPlaceholders(c.text), c.expected) << c.text;
    }
}

TEST_F(Placeholders, ValueHoldingAnEarlierPlaceholderStays) {
    platform::set_environ_override("WinDir", "#InstallPath#\\W");
    install_ = "C:\\P";
    EXPECT_EQ(setup::ExpandPlaceholders("#WinDir#"), "#InstallPath#\\W");
    // A group name holding "#Desktop#" is expanded once more by the last step.
    std::ofstream(dir_ / "~Veltrin" / "Setup.INX") << "[Main]\r\nProgrammGruppe=#Desktop#\r\n";
    EXPECT_EQ(setup::ExpandPlaceholders("#ProgramGroup#"),
              "C:\\home\\anna\\.local\\share\\applications\\C:\\home\\anna\\Desktop\\#Desktop#");
}

TEST_F(Placeholders, UnsetVariablesAndFailedLookups) {
    platform::set_environ_override("AppData", "");
    EXPECT_EQ(setup::ExpandPlaceholders("#AppDataDir#\\Name"), "\\Name");
    // A failed desktop lookup leaves the programs folder in place of the desktop.
    folders_.erase(0);
    EXPECT_EQ(setup::ExpandPlaceholders("#Desktop#"),
              "C:\\home\\anna\\.local\\share\\applications\\G");
    // A failed programs lookup leaves the group alone behind a backslash.
    folders_.erase(2);
    EXPECT_EQ(setup::ExpandPlaceholders("#ProgramGroup#|#Desktop#"), "\\G|\\G");
    // Without a script the group is empty.
    fs::remove(dir_ / "~Veltrin" / "Setup.INX");
    folders_[0] = "/d";
    EXPECT_EQ(setup::ExpandPlaceholders("#Desktop#"), "C:\\d\\");
}

}  // namespace
