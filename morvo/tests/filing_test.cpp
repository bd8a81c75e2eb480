#include "morvo/filing.h"

#include <gtest/gtest.h>

#include <set>

#include "morvo/run.h"
#include "morvo/run_log.h"
#include "morvo/run_text.h"

namespace morvo {
namespace {

const Stamp kStamp{2024, 3, 7, 9, 5, 12};

TEST(Filing, NamesFromDisplayNames) {
    struct Case {
        const char* display_name;
        bool filed;
        const char* file_name;  // under the stamp 2024-03-07 09:05:12
    };
    const Case cases[] = {
        {"Rechnung März.pdf", true, "Rechnung_Maerz_2024_3_7_9_5_12.pdf"},
        {"Grüße an Jürgen~.txt", true, "Gruesse_an_Juergen__2024_3_7_9_5_12.txt"},
        {"ÄÖÜß µ@€.pdf", true, "AeOeUess_uateur_2024_3_7_9_5_12.pdf"},
        {"Angebot.docx", false, nullptr},
        {"Foto.jpeg", false, nullptr},
        {"Liste", false, nullptr},
        {"Bild (Geräteunabhängige Bitmap)", false, nullptr},
        // Characters, not bytes, count for the filter; the cleaned name is longer.
        {"a.ä€x", true, "a.aeeurx_2024_3_7_9_5_12"},
        {".ab", true, "_2024_3_7_9_5_12.ab"},  // shorter than four: its first character
        {"..\\..\\evil.pdf", true, ".._.._evil_2024_3_7_9_5_12.pdf"},
        {"../x/y.pdf", true, ".._x_y_2024_3_7_9_5_12.pdf"},
        {"a:b*c?d\"e<f>g|h.txt", true, "a_b_c_d_e_f_g_h_2024_3_7_9_5_12.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.display_name);
        EXPECT_EQ(passes_filter(c.display_name, c.display_name), c.filed);
        if (!c.filed) continue;
        EXPECT_EQ(build_file_name(clean_display_name(c.display_name), kStamp), c.file_name);
    }
}

TEST(Filing, TextValuesExcluded) {
    EXPECT_FALSE(passes_filter("Dokument.doc", "Microsoft Word Document"));
    EXPECT_FALSE(passes_filter("Bild.bmp", "Bild (Geräteunabhängige Bitmap)"));
    EXPECT_TRUE(passes_filter("Dokument.doc", "Microsoft Word Document "));  // exact only
    EXPECT_TRUE(passes_filter("Dokument.doc", ""));
}

// One decision for the run and the preview: what stays, and why, under either naming rule; the
// stamp goes before the extension the rule accepted.
TEST(Filing, DecisionWithItsReasonUnderBothNamingRules) {
    const Keep F = Keep::filed, N = Keep::naming_rule;
    const struct {
        const char* dn;
        const char* text_value;  // nullptr: the name
        Keep three, longer;
        const char* long_name;  // filed under the longer rule, stamp 2024-03-07 09:05:12
    } cases[] = {
        {"Rechnung.pdf", nullptr, F, F, "Rechnung_2024_3_7_9_5_12.pdf"},
        {"Angebot.docx", nullptr, N, F, "Angebot_2024_3_7_9_5_12.docx"},
        {"Foto.JPEG", nullptr, N, F, "Foto_2024_3_7_9_5_12.JPEG"},
        {"Bericht.tar.gz", nullptr, N, F, "Bericht.tar_2024_3_7_9_5_12.gz"},
        {"x.abcdefghij", nullptr, N, F, "x_2024_3_7_9_5_12.abcdefghij"},
        {"x.abcdefghijk", nullptr, N, N, nullptr},  // eleven: too long
        {"Liste", nullptr, N, N, nullptr},
        {"Notiz.", nullptr, N, N, nullptr},
        {".profile", nullptr, N, N, nullptr},  // the only dot is the first character
        {"a.b-cd", nullptr, N, N, nullptr},
        {"Bild.jpég", nullptr, N, N, nullptr},              // letters of ASCII only
        {"a.x y", nullptr, F, F, "a_2024_3_7_9_5_12.x_y"},  // the three-letter rule still holds
        {"Dokument.doc", "Microsoft Word Document", Keep::word_object, Keep::word_object, nullptr},
        {"Bild.bmp", "Bild (Geräteunabhängige Bitmap)", Keep::bitmap_object, Keep::bitmap_object,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dn);
        const std::string_view tv = c.text_value ? c.text_value : c.dn;
        EXPECT_EQ(attachment_decision(c.dn, tv, NamingRule::three_letters), c.three);
        EXPECT_EQ(passes_filter(c.dn, tv), c.three == F);  // the default is the three letters
        EXPECT_EQ(attachment_decision(c.dn, tv, NamingRule::long_extensions), c.longer);
        if (c.three != F) {
            EXPECT_FALSE(keep_reason(c.three).empty());
        }
        if (c.long_name) {
            EXPECT_EQ(
                build_file_name(clean_display_name(c.dn), kStamp, NamingRule::long_extensions),
                c.long_name);
        }
    }
    EXPECT_NE(keep_reason(N, NamingRule::long_extensions), keep_reason(N));
}

TEST(Filing, CleanedNamesNeverLeaveTheFolder) {
    for (const char* dn : {"..", ".", "...", "a/../../b", "\\\\srv\\x", "C:\\Windows\\x.dll"}) {
        SCOPED_TRACE(dn);
        std::string cleaned = clean_display_name(dn);
        EXPECT_EQ(cleaned.find_first_of("\\/:"), std::string::npos);
        EXPECT_NE(cleaned, ".");
        EXPECT_NE(cleaned, "..");
    }
}

TEST(Filing, TargetPathHasOneBackslash) {
    EXPECT_EQ(target_path("C:\\Ablage", "a.pdf"), "C:\\Ablage\\a.pdf");
    EXPECT_EQ(target_path("C:\\Ablage\\", "a.pdf"), "C:\\Ablage\\a.pdf");
    EXPECT_EQ(time_stamp_suffix({2024, 12, 31, 23, 59, 0}), "_2024_12_31_23_59_0");
}

TEST(Filing, CollisionCountsTheSecondOn) {
    struct Case {
        const char* name;
        std::set<std::string> existing;
        Stamp stamp;
        const char* expected;
    };
    const Case cases[] = {
        {"free at once", {}, kStamp, "C:\\A\\R_2024_3_7_9_5_12.pdf"},
        {"12 taken gives 13",
         {"C:\\A\\R_2024_3_7_9_5_12.pdf"},
         kStamp,
         "C:\\A\\R_2024_3_7_9_5_13.pdf"},
        {"59 taken gives 60",
         {"C:\\A\\R_2024_3_7_9_5_59.pdf"},
         {2024, 3, 7, 9, 5, 59},
         "C:\\A\\R_2024_3_7_9_5_60.pdf"},
        {"two taken",
         {"C:\\A\\R_2024_3_7_9_5_12.pdf", "C:\\A\\R_2024_3_7_9_5_13.pdf"},
         kStamp,
         "C:\\A\\R_2024_3_7_9_5_14.pdf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto exists = [&](const std::string& p) { return c.existing.count(p) > 0; };
        EXPECT_EQ(free_target_path("C:\\A", "R.pdf", c.stamp, exists), c.expected);
    }
}

// The run's text takes the log's line ends whatever way its pieces split them, and what is
// read back (whole, its end, written out) is the text, also once it is past the memory buffer.
TEST(RunText, KeepsTheTextInTheLogsForm) {
    const struct {
        std::vector<std::string> pieces;
        std::string whole;
    } table[] = {
        {{"Willkommen", "\r\n\r\nA\r\n"}, "Willkommen\n\nA\n"},
        {{"A\r", "\nB\r", "C"}, "A\nB\nC"},
        {{"\xC3\xA4\xFF"}, "\xC3\xA4?"},
    };
    for (const auto& row : table) {
        RunText t;
        t.reset("alt");
        t.reset("");
        for (const auto& p : row.pieces) t.append(p);
        EXPECT_EQ(t.whole(), row.whole);
    }
    RunText big;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string line = "Bearbeitet wird Email: " + std::to_string(i);
        big.append(line + "\r\n");
        expected += line + "\n";
    }
    EXPECT_EQ(big.size(), expected.size());
    EXPECT_EQ(big.whole(), expected);
    EXPECT_EQ(big.tail(100),
              "Bearbeitet wird Email: 19997\nBearbeitet wird Email: 19998\n"
              "Bearbeitet wird Email: 19999\n");
    FILE* f = std::tmpfile();
    ASSERT_EQ(big.write_to(fileno(f)), 0);
    std::rewind(f);
    std::string written(expected.size() + 1, '\0');
    EXPECT_EQ(std::fread(written.data(), 1, written.size(), f), expected.size());
    written.resize(expected.size());
    EXPECT_EQ(written, expected);
    std::fclose(f);
}

TEST(RunLog, FileName) {
    EXPECT_EQ(log_file_path("C:\\Programme\\Archiv", kStamp),
              "C:\\Programme\\Archiv\\morvo_2024_3_7_9_5_12.log");
    EXPECT_EQ(log_file_path("C:\\", kStamp), "C:\\morvo_2024_3_7_9_5_12.log");
}

}  // namespace
}  // namespace morvo
