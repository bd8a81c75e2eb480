// The wizard's decisions without its window: first page, navigation, buttons, texts, folder list.
#include "setup/wizard_pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/error.h"
#include "platform/paths.h"
#include "setup/folder_list.h"
#include "testsupport/testsupport.h"

namespace setup {
namespace {

namespace fs = std::filesystem;

struct SwitchCase {
    const char* welcome;
    const char* lizenz;
    int first;
    bool licence_back;      // Back on page 1
    int next_from_welcome;  // page after Next on page 0
    int back_from_folder;   // page after Back on page 2
};

TEST(Wizard, PageSwitchTable) {
    const SwitchCase cases[] = {
        {"1", "1", 0, true, 1, 1},  {"1", "0", 0, true, 2, 0}, {"0", "0", 0, false, 2, 0},
        {"0", "1", 1, false, 1, 1}, {"", "", 0, true, 1, 1},   {"", "1", 1, true, 1, 1},
        {"2", "x", 0, true, 1, 1},
    };
    for (const auto& c : cases) {
        PageSwitches s{c.welcome, c.lizenz};
        SCOPED_TRACE(std::string(c.welcome) + "/" + c.lizenz);
        EXPECT_EQ(first_page(s), c.first);
        EXPECT_EQ(nav_buttons(1, s, {true, true}).back_enabled, c.licence_back);
        NavAction next = navigate(3, 0, s);
        EXPECT_EQ(next.kind, NavKind::ShowStep);
        EXPECT_EQ(next.page, c.next_from_welcome);
        NavAction back = navigate(2, 2, s);
        EXPECT_EQ(back.kind, NavKind::ShowStep);
        EXPECT_EQ(back.page, c.back_from_folder);
    }
}

TEST(Wizard, NavigationTable) {
    PageSwitches s{"1", "1"};
    EXPECT_EQ(navigate(0, 3, s).kind, NavKind::Help);
    EXPECT_EQ(navigate(1, 2, s).kind, NavKind::Cancel);
    EXPECT_EQ(navigate(2, 0, s).kind, NavKind::Nothing);
    for (int page : {1, 3, 4}) {
        EXPECT_EQ(navigate(2, page, s).page, page - 1);
    }
    for (int page : {1, 2, 3}) {
        EXPECT_EQ(navigate(3, page, s).page, page + 1);
    }
    EXPECT_EQ(navigate(3, 4, s).kind, NavKind::StartInstallation);
}

TEST(Wizard, ButtonsNeverDisableNextAndKeepWhatAPageLeavesAlone) {
    PageSwitches s{"1", "1"};
    EXPECT_FALSE(nav_buttons(0, s, {true, false}).back_enabled);
    EXPECT_TRUE(nav_buttons(0, s, {true, false}).next_enabled);
    EXPECT_TRUE(nav_buttons(2, s, {false, false}).back_enabled);
    EXPECT_TRUE(nav_buttons(3, s, {false, false}).next_enabled);
    // Page 4 sets only Back; Next stays as it was (enabled by every earlier page).
    NavButtons b = nav_buttons(4, s, {false, true});
    EXPECT_TRUE(b.back_enabled);
    EXPECT_TRUE(b.next_enabled);
}

TEST(Wizard, HelpContextsAndTexts) {
    EXPECT_EQ(help_context(0), 1010);
    EXPECT_EQ(help_context(3), 1040);
    EXPECT_EQ(help_context(4), 1050);
    EXPECT_EQ(welcome_sentence("Morvolan"),
              "Willkommen zum Setup von Morvolan. Der Veltrin Wizard wird Morvolan installieren.");
    EXPECT_EQ(folder_instruction("X"),
              "Wählen Sie ein anderes Verzeichnis, wenn Sie X in ein anderes Verzeichnis "
              "installieren möchten.");
    // The summary names folders as the host shows them, placeholders unexpanded.
    auto d = default_settings("P", "#ProgramFilesDir#\\P", "G");
    EXPECT_EQ(d[3], "#ProgramFilesDir#/P");
    EXPECT_EQ(chosen_settings("P", "C:\\opt\\P", "G")[3], "/opt/P");
    EXPECT_EQ(d[4], "Programmgruppe:");
}

TEST(Wizard, IncompleteDataTextAndOverflow) {
    EXPECT_EQ(incomplete_data_text(1),
              "Unvollständige Daten.\r\nSie müssen ... bevor Sie fortfahren können.");
    try {
        incomplete_data_text(2768);
        FAIL();
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number, 6);
    }
    EXPECT_THROW(incomplete_data_text(5), platform::Error);  // no string 30005
}

TEST(FolderChooser, AppendsBackslashAndNameWithoutLooking) {
    EXPECT_EQ(chosen_install_folder("C:\\Programme", "Beispiel 1.0"),
              "C:\\Programme\\Beispiel 1.0");
    EXPECT_EQ(chosen_install_folder("D:\\", "Beispiel 1.0"), "D:\\\\Beispiel 1.0");
}

TEST(FolderChooser, ListsAncestorsThenSortedSubfolders) {
    testsupport::TempDir dir("folders");
    const fs::path base = dir.host;
    fs::create_directories(base / "Programme" / "beta");
    fs::create_directories(base / "Programme" / "Alpha");
    fs::create_directories(base / "Programme" / ".versteckt");
    std::ofstream(base / "Programme" / "datei.txt") << "x";

    std::string open = platform::windows_path((base / "Programme").string());
    auto entries = folder_entries(open);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries.front().text, "/");
    EXPECT_EQ(entries.front().path, "C:\\");
    EXPECT_EQ(entries[entries.size() - 3].path, open);
    EXPECT_TRUE(entries[entries.size() - 3].open);
    EXPECT_EQ(entries[entries.size() - 2].text, "Alpha");
    EXPECT_EQ(entries.back().text, "beta");
    EXPECT_EQ(entries.back().path, open + "\\beta");
    EXPECT_FALSE(entries.back().open);
    EXPECT_EQ(entries.back().level, entries[entries.size() - 3].level + 1);
}

TEST(FolderChooser, DriveNotReady) {
    EXPECT_FALSE(drive_ready("Q:"));
    EXPECT_THROW(folder_entries("Q:\\"), platform::Error);
    EXPECT_TRUE(drive_ready("C:"));
}

}  // namespace
}  // namespace setup
