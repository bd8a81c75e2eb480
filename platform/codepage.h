#pragma once
// Windows-1252 <-> UTF-8, as Windows converts them. Strings in memory are UTF-8; this runs only
// where bytes meet files (INI files, settings, logs, batch files).

#include <string>
#include <string_view>

namespace platform {

// Every byte has a character: the five bytes Windows leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 control characters of the same value, as Windows maps them.
std::string cp1252_to_utf8(std::string_view bytes);

// Appends one code point as UTF-8.
void append_utf8(std::string& out, char32_t c);

// Characters without a byte in Windows-1252 become "?"; so does each byte of malformed UTF-8.
std::string utf8_to_cp1252(std::string_view text);

// Malformed UTF-8 made valid: each byte of a malformed sequence becomes "?", as above.
std::string valid_utf8(std::string_view text);

// How a text file a person may edit is stored. Such a file is UTF-8 when it starts with a UTF-8
// byte-order mark, or when it holds a byte above 0x7F and is valid UTF-8; otherwise it is
// Windows-1252 (a Windows-1252 text that is also valid UTF-8 needs two or more accented capitals
// next to symbols, as "Ã¤", and does not occur in names and paths). Plain ASCII fits either: the
// caller's default decides how later non-ASCII text is stored. Its line end is the first one in
// the file (CR LF, LF or a lone CR), else the default's.
struct TextForm {
    bool utf8 = true;
    bool bom = false;
    std::string_view line_end = "\n";
};
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
TextForm text_form_of(std::string_view bytes, const TextForm& otherwise);

// The file's bytes as valid UTF-8 (the mark dropped), and UTF-8 text as the file's bytes (the mark
// added; each CR LF, CR or LF becomes the form's line end).
std::string text_from_file(std::string_view bytes, const TextForm& form);
std::string text_to_file(std::string_view utf8, const TextForm& form);
// The text of a file in its own form as UTF-8 with LF line ends, for readers that split lines.
std::string text_of_file(std::string_view bytes, const TextForm& otherwise);

// Case folding of one Windows-1252 byte to lower case (A-Z, the accented capitals, and the
// Š/Œ/Ž/Ÿ pairs), as the profile functions and path lookup compare names.
unsigned char cp1252_lower(unsigned char c);

// Case-insensitive equality of two UTF-8 strings in the Windows-1252 repertoire.
bool equals_ignore_case(std::string_view a, std::string_view b);

// The code points of a UTF-8 string folded to lower case as above (malformed bytes stay as
// values above 0x10FFFF, so they only equal themselves). For wildcard matching.
std::u32string folded_code_points(std::string_view text);

}  // namespace platform
