#include "morvo/settings.h"

#include <gtest/gtest.h>

namespace morvo {
namespace {

TEST(SettingsFile, Location) {
    EXPECT_EQ(settings_file_path("C:\\"), "C:\\morvo.ini");
    EXPECT_EQ(settings_file_path("C:\\Programme\\Morvolan"), "C:\\Programme\\Morvolan\\morvo.ini");
}

TEST(SettingsFile, FourLinesWithoutFolders) {
    EXPECT_EQ(settings_file_text("C:\\Ablage\\", {}),
              "[Pfad Ablage]\r\nC:\\Ablage\\\r\n\r\n[Pfad MS Outlook]\r\n");
    EXPECT_EQ(settings_file_text("D:\\A\\", {"P|Posteingang", "P|K#1"}),
              "[Pfad Ablage]\r\nD:\\A\\\r\n\r\n[Pfad MS Outlook]\r\nP|Posteingang\r\nP|K#1\r\n");
}

TEST(SettingsFile, FieldReading) {
    struct Case {
        const char* text;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {"a,b\r\nc\r\n", {"a", "b", "c"}},
        {"   lead\r\n", {"lead"}},
        {"\"q, with comma\",x\r\n", {"q, with comma", "x"}},
        {"\"q\"rest,y\r\n", {"q", "y"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"last line without end", {"last line without end"}},
        {"trailing,", {"trailing", ""}},
        {"lf\nonly\n", {"lf", "only"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(read_fields(c.text), c.fields);
    }
}

TEST(SettingsFile, StartupAndRunReadingsDiffer) {
    const std::string text =
        "[Pfad Ablage]\r\nC:\\Ab,lage\\\r\n\r\n[Pfad MS Outlook]\r\nP|Posteingang\r\nP|Kunden# "
        "alt\r\n";
    auto s = parse_startup_settings(text);
    ASSERT_TRUE(s.has_storage_path);
    EXPECT_EQ(s.storage_path, "C:\\Ab");  // a comma ends the field at start-up
    EXPECT_EQ(s.folder_lines, (std::vector<std::string>{"P|Posteingang", "P|Kunden# alt"}));
    auto r = parse_run_settings(text);
    ASSERT_TRUE(r.has_storage_path);
    EXPECT_EQ(r.storage_path, "C:\\Ab,lage\\");  // the run reads the whole line
    EXPECT_EQ(r.folder_lines, (std::vector<std::string>{"P|Posteingang", "P|Kunden# alt"}));
}

// A person may write the storage path in the host form; files written before hold the Windows
// form. Both readers get the same Windows path from either.
TEST(SettingsFile, StoragePathInEitherForm) {
    for (const char* path : {"/home/anna/Ablage/", "C:\\home\\anna\\Ablage\\"}) {
        SCOPED_TRACE(path);
        const std::string text = "[Pfad Ablage]\r\n" + std::string(path) + "\r\n";
        EXPECT_EQ(parse_startup_settings(text).storage_path, "C:\\home\\anna\\Ablage\\");
        EXPECT_EQ(parse_run_settings(text).storage_path, "C:\\home\\anna\\Ablage\\");
    }
}

TEST(SettingsFile, OnlyFirstPathSectionCountsAndMissingSections) {
    auto s = parse_startup_settings("x\r\n[Pfad Ablage]\r\nA\r\n[Pfad Ablage]\r\nB\r\n");
    EXPECT_EQ(s.storage_path, "A");
    EXPECT_TRUE(s.folder_lines.empty());
    auto none = parse_startup_settings("[pfad ablage]\r\nA\r\n");
    EXPECT_FALSE(none.has_storage_path);
    auto r = parse_run_settings("");
    EXPECT_FALSE(r.has_storage_path);
    EXPECT_TRUE(r.folder_lines.empty());
}

// The rules section: read by both readers wherever it stands, written only when set, and it
// never becomes a folder line.
TEST(SettingsFile, LongerExtensionsKey) {
    const std::string head = "[Pfad Ablage]\r\nC:\\A\\\r\n\r\n";
    const std::string folders = "[Pfad MS Outlook]\r\nP|Posteingang\r\n";
    const struct {
        std::string text;
        bool on;
    } table[] = {
        {settings_file_text("C:\\A\\", {"P|Posteingang"}, true), true},
        {settings_file_text("C:\\A\\", {"P|Posteingang"}), false},
        {head + folders + "[Ablageregeln]\r\n LangeEndungen = 1 \r\n", true},
        {head + "[Ablageregeln]\r\nLangeEndungen=0\r\n" + folders, false},
        {head + "[Ablageregeln]\r\nLangeEndungen=ja\r\n" + folders, false},
        {head + "[Ablageregeln]\r\n[Andere]\r\nLangeEndungen=1\r\n" + folders, false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        for (const auto& s : {parse_run_settings(row.text).folder_lines,
                              parse_startup_settings(row.text).folder_lines})
            EXPECT_EQ(s, std::vector<std::string>{"P|Posteingang"});
        EXPECT_EQ(parse_run_settings(row.text).long_extensions, row.on);
        EXPECT_EQ(parse_startup_settings(row.text).long_extensions, row.on);
        EXPECT_EQ(parse_run_settings(row.text).storage_path, "C:\\A\\");
    }
}

}  // namespace
}  // namespace morvo
