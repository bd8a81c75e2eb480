#pragma once
// Small text helpers on ASCII: the same whatever the locale says.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A short stable name for a text (FNV-1a, 64 bits, as 16 hex digits): file names derived from
// keys and marks; not a digest against anyone who chooses the text.
inline std::string fnv1a64_hex(std::string_view text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4) out[static_cast<size_t>(i)] = digits[h & 15];
    return out;
}

inline constexpr std::string_view kBlanks = " \t\r\n";

// The text without the given characters at its start and end.
inline std::string_view trimmed(std::string_view s, std::string_view blanks = kBlanks) {
    const size_t a = s.find_first_not_of(blanks);
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(blanks) - a + 1);
}

inline char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal but for the case of ASCII letters.
inline bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// The pieces of the text between the separators, in order. A separator at the end ends the last
// piece, as a line end ends the last line: "a,b," and "a,b" both give "a" and "b"; "" gives none.
inline std::vector<std::string_view> pieces(std::string_view text, char separator) {
    std::vector<std::string_view> out;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace platform
