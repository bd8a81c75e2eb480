#include "platform/name_index.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core_fixture.h"
#include "platform/paths.h"

namespace {

using core_test::TempDir;

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

TEST(NameIndex, FindsNamesWithoutRegardToCase) {
    TempDir dir;
    for (const char* n : {"Rechnung.PDF", "Größe.txt", "ab", "AB", "sub"}) touch(dir.file(n));
    const std::tuple<const char*, const char*> cases[] = {
        {"rechnung.pdf", "Rechnung.PDF"},
        {"GRÖSSE.TXT", ""},  // ß is no "SS"
        {"GRÖßE.TXT", "Größe.txt"},
        {"Ab", "AB"},  // of several, the smallest
        {"missing", ""},
        {".", ""},
    };
    for (const auto& [asked, found] : cases)
        EXPECT_EQ(platform::find_name_ignoring_case(dir.host, asked), found) << asked;
    EXPECT_EQ(platform::find_name_ignoring_case(dir.file("no-folder"), "x"), "");
}

// Changes made behind the index's back (here by plain file calls, as another program would)
// are seen at the next question; a folder growing by one file per question is read once.
TEST(NameIndex, FollowsChangesWithoutReadingTheFolderAgain) {
    TempDir dir;
    EXPECT_EQ(platform::find_name_ignoring_case(dir.host, "a.txt"), "");
    const long listings = platform::name_index_listings();
    for (int i = 0; i < 200; ++i) {
        const std::string name = "Datei_" + std::to_string(i) + ".PDF";
        ASSERT_EQ(platform::find_name_ignoring_case(dir.host, name), "") << i;
        touch(dir.file(name));
        ASSERT_EQ(
            platform::find_name_ignoring_case(dir.host, "datei_" + std::to_string(i) + ".pdf"),
            name);
    }
    EXPECT_EQ(platform::name_index_listings(), listings);

    std::rename(dir.file("Datei_1.PDF").c_str(), dir.file("Umbenannt.pdf").c_str());
    std::remove(dir.file("Datei_2.PDF").c_str());
    EXPECT_EQ(platform::find_name_ignoring_case(dir.host, "DATEI_1.pdf"), "");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.host, "umbenannt.PDF"), "Umbenannt.pdf");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.host, "datei_2.pdf"), "");

    // Most names gone again (the index closes their gaps): the rest are still found as stored.
    for (int i = 3; i < 200; ++i)
        if (i % 4) std::remove(dir.file("Datei_" + std::to_string(i) + ".PDF").c_str());
    for (int i = 3; i < 200; ++i)
        ASSERT_EQ(
            platform::find_name_ignoring_case(dir.host, "DATEI_" + std::to_string(i) + ".pdf"),
            i % 4 ? "" : "Datei_" + std::to_string(i) + ".PDF")
            << i;

    // Another folder put in its place under the same name is indexed afresh.
    std::filesystem::rename(dir.host, dir.host + ".old");
    std::filesystem::create_directory(dir.host);
    touch(dir.file("Neu.txt"));
    EXPECT_EQ(platform::find_name_ignoring_case(dir.host, "datei_3.pdf"), "");
    EXPECT_EQ(platform::find_name_ignoring_case(dir.host, "NEU.TXT"), "Neu.txt");
    std::filesystem::remove_all(dir.host + ".old");
}

// Path mapping relies on it for every component that is not spelled as stored.
TEST(NameIndex, WindowsPathsFindFilesCreatedMeanwhile) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("Ablage"));
    const std::string win = dir.win("ABLAGE\\bericht.TXT");
    EXPECT_EQ(platform::host_path(win), dir.file("Ablage/bericht.TXT"));
    touch(dir.file("Ablage/Bericht.txt"));
    EXPECT_EQ(platform::host_path(win), dir.file("Ablage/Bericht.txt"));
}

}  // namespace
