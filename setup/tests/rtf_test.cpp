#include "setup/rtf.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

struct RtfCase {
    const char* name;
    std::string rtf;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

class RtfTest : public ::testing::TestWithParam<RtfCase> {};

TEST_P(RtfTest, Converts) {
    const auto& c = GetParam();
    std::string html = setup::rtf_to_html(c.rtf);
    for (const auto& p : c.present) EXPECT_NE(html.find(p), std::string::npos) << p << "\n" << html;
    for (const auto& a : c.absent) EXPECT_EQ(html.find(a), std::string::npos) << a << "\n" << html;
}

const RtfCase kCases[] = {
    {"paragraphs",
     "{\\rtf1\\ansi Erste Zeile\\par Zweite Zeile\\par}",
     {"<p><span", "Erste Zeile</span></p><p>", "Zweite Zeile</span></p>"},
     {}},
    {"bold_italic_underline",
     "{\\rtf1 a{\\b fett}{\\i kursiv}{\\ul unter\\ulnone nicht}\\b0 z}",
     {"font-weight:bold;font-style:normal;text-decoration:none;font-size:12pt\">fett",
      "font-style:italic;text-decoration:none;font-size:12pt\">kursiv",
      "text-decoration:underline;font-size:12pt\">unter",
      "font-weight:normal;font-style:normal;text-decoration:none;font-size:12pt\">nicht"},
     {}},
    {"group_restores_format",
     "{\\rtf1 {\\b x}y}",
     {"bold;", "normal;font-style:normal;text-decoration:none;font-size:12pt\">y"},
     {}},
    {"font_sizes",
     "{\\rtf1 \\fs20 klein\\fs33 gross}",
     {"font-size:10pt\">klein", "font-size:16.5pt\">gross"},
     {}},
    {"cp1252_hex", "{\\rtf1 Gr\\'fc\\'dfe \\'80 \\'84}", {"Grüße € „"}, {}},
    {"unicode_with_fallback",
     "{\\rtf1 \\u8364?A \\uc2\\u-200??B}",
     {"€A \xEF\xBC\xB8"
      "B"},
     {"?"}},
    {"skipped_destinations",
     "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}{\\*\\generator Tool}"
     "{\\info{\\title Geheim}}Text}",
     {"Text"},
     {"Arial", "Tool", "Geheim", "red0"}},
    {"escaped_symbols", "{\\rtf1 a\\{b\\}c\\\\d <&>}", {"a{b}c\\d &lt;&amp;&gt;"}, {}},
    {"line_break", "{\\rtf1 eins\\line zwei}", {"eins<br>zwei"}, {}},
    {"plain_resets",
     "{\\rtf1 \\b\\i x\\plain y}",
     {"font-weight:normal;font-style:normal;text-decoration:none;font-size:12pt\">y"},
     {}},
    {"unbalanced_open", "{\\rtf1 Anfang {\\b mitten", {"Anfang", "mitten"}, {}},
    {"unbalanced_close", "{\\rtf1 a}}}} b", {"a", "b"}, {}},
    {"truncated_hex", "{\\rtf1 ende\\'", {"ende"}, {}},
    {"truncated_unicode", "{\\rtf1 x\\u", {"x"}, {}},
    {"not_rtf_at_all", "Nur Text ohne Steuerwörter", {"Nur Text ohne Steuerw"}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, RtfTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Rtf, DeepNestingAndGarbageNeverCrash) {
    std::string deep(200000, '{');
    deep += "tief";
    EXPECT_NE(setup::rtf_to_html(deep).find("tief"), std::string::npos);

    std::mt19937 rng(42);
    const std::string alphabet = "{}\\'abu0123456789-*? \r\n\xe4\xff";
    for (int round = 0; round < 2000; ++round) {
        std::string s;
        int len = static_cast<int>(rng() % 200);
        for (int i = 0; i < len; ++i) s += alphabet[rng() % alphabet.size()];
        (void)setup::rtf_to_html(s);
    }
}

}  // namespace
