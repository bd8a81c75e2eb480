// Windows-1252 <-> UTF-8 as Windows converts it, and the case folding used for names.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

using platform::cp1252_to_utf8;
using platform::utf8_to_cp1252;

TEST(Codepage, EveryByteSurvivesTheRoundTrip) {
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string utf8 = cp1252_to_utf8(byte);
        EXPECT_EQ(utf8_to_cp1252(utf8), byte) << "byte " << b;
        if (b != '?') {
            EXPECT_NE(utf8, "?") << "byte " << b << " must have a character";
        }
    }
}

TEST(Codepage, BytesToCharacters) {
    struct Case {
        unsigned char byte;
        const char* utf8;
    } cases[] = {
        {0x41, "A"},        {0x80, "\u20AC"},   {0x81, "\xC2\x81"}, {0x8D, "\xC2\x8D"},
        {0x8F, "\xC2\x8F"}, {0x90, "\xC2\x90"}, {0x9D, "\xC2\x9D"}, {0x8A, "\u0160"},
        {0x92, "\u2019"},   {0x96, "\u2013"},   {0x99, "\u2122"},   {0x9F, "\u0178"},
        {0xA0, "\xC2\xA0"}, {0xC4, "\u00C4"},   {0xDF, "\u00DF"},   {0xE4, "\u00E4"},
        {0xFC, "\u00FC"},   {0xFF, "\u00FF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp1252_to_utf8(std::string(1, static_cast<char>(c.byte))), c.utf8)
            << "byte " << int(c.byte);
    }
}

TEST(Codepage, CharactersWithoutAByteBecomeQuestionMarks) {
    struct Case {
        const char* utf8;
        const char* bytes;
    } cases[] = {
        {"Gr\u00FC\u00DFe \u20AC",
         "Gr\xFC\xDF"
         "e \x80"},
        {"\u0101", "?"},          // a with macron: no byte
        {"\u65E5\u672C", "??"},   // two CJK characters
        {"x\U0001F600y", "x?y"},  // outside the BMP
        {"\xC3", "?"},            // truncated sequence
        {"\xC0\xAF", "??"},       // overlong
        {"\xED\xA0\x80", "???"},  // a surrogate
        {"\xFF\xFE", "??"},       // not UTF-8 at all
        {"\xC2\x80", "?"},        // a C1 control that Windows-1252 does not carry
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_to_cp1252(c.utf8), c.bytes) << c.utf8;
    EXPECT_EQ(utf8_to_cp1252(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Codepage, CaseInsensitiveNames) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"Programmgruppe", "ProgrammGruppe", true},
        {"programmgruppe", "PROGRAMMGRUPPE", true},
        {"\u00C4rger \u00D6l \u00DCbel", "\u00E4RGER \u00F6L \u00FCBEL", true},
        {"\u0160\u0152\u017D\u0178", "\u0161\u0153\u017E\u00FF", true},
        {"\u00DF", "SS", false},
        {"\u00D7", "\u00F7", false},  // multiplication and division sign are no case pair
        {"abc", "abcd", false},
        {"", "", true},
        {"a\xFF", "A\xFF", true},  // malformed bytes compare as they are
        {"a\xFF", "a\xFE", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::equals_ignore_case(c.a, c.b), c.equal) << c.a << " / " << c.b;
    }
    for (int b = 0; b < 256; ++b) {
        const auto lower = platform::cp1252_lower(static_cast<unsigned char>(b));
        const std::string x = cp1252_to_utf8(std::string(1, static_cast<char>(b)));
        const std::string y = cp1252_to_utf8(std::string(1, static_cast<char>(lower)));
        EXPECT_TRUE(platform::equals_ignore_case(x, y)) << "byte " << b;
    }
}

// How a file a person may edit is read, and how it is written back.
TEST(Codepage, TextFilesKeepTheirForm) {
    const platform::TextForm ascii_1252{false, false, "\r\n"};
    struct Case {
        std::string bytes;
        bool utf8, bom;
        std::string_view line_end;
        std::string text;  // as read
    } cases[] = {
        {"a=\xE4\r\nb\r\n", false, false, "\r\n", "a=\u00E4\nb\n"},
        {"a=\u00E4\nb\n", true, false, "\n", "a=\u00E4\nb\n"},
        {"\xEF\xBB\xBF"
         "a=b\rc\r",
         true, true, "\r", "a=b\nc\n"},
        {"\xEF\xBB\xBF"
         "a=\xE4",
         true, true, "\r\n", "a=?"},  // broken UTF-8 after a mark
        {"a=\u00E4\xFC", false, false, "\r\n", "a=\u00C3\u00A4\u00FC"},
        {"plain ascii", false, false, "\r\n", "plain ascii"},  // the caller's default
    };
    for (const auto& c : cases) {
        const platform::TextForm form = platform::text_form_of(c.bytes, ascii_1252);
        EXPECT_EQ(form.utf8, c.utf8) << c.bytes;
        EXPECT_EQ(form.bom, c.bom) << c.bytes;
        EXPECT_EQ(form.line_end, c.line_end) << c.bytes;
        // Read and written back, the file is unchanged.
        const std::string text = platform::text_from_file(c.bytes, form);
        EXPECT_EQ(platform::text_to_file(text, {}), c.text) << c.bytes;
        if (c.text.find('?') == std::string::npos) {
            EXPECT_EQ(platform::text_to_file(text, form), c.bytes) << c.bytes;
        }
    }
}

}  // namespace

TEST(Text, CaseAndBlanksOnAsciiOnly) {
    struct Case {
        std::string_view a, b;
        bool equal;
    } cases[] = {
        {"UIDPLUS", "uidplus", true},
        {"X-Morvo", "x-MORVO", true},
        {"a", "ab", false},
        {"\xC4", "\xE4", false},  // Ä and ä in Windows-1252: not ASCII, so not folded
        {"", "", true},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::iequals(c.a, c.b), c.equal) << c.a;
    EXPECT_EQ(platform::trimmed(" \t a b\r\n"), "a b");
    EXPECT_EQ(platform::trimmed(" \r\n"), "");
    EXPECT_EQ(platform::trimmed("--x--", "-"), "x");
    using V = std::vector<std::string_view>;
    EXPECT_EQ(platform::pieces("3:5,9", ','), (V{"3:5", "9"}));
    EXPECT_EQ(platform::pieces("a,,b,", ','), (V{"a", "", "b"}));
    EXPECT_EQ(platform::pieces(",a", ','), (V{"", "a"}));
    EXPECT_EQ(platform::pieces("", ','), V{});
}
