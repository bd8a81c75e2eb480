#include "morvo/outlook/mutf7.h"

#include <cstdint>
#include <vector>

#include "platform/codepage.h"

namespace morvo::outlook {

namespace {

constexpr char b64_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int b64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == ',') return 63;
    return -1;
}

// Next code point of UTF-8 text; invalid bytes come back as U+FFFD.
char32_t next_utf8(std::string_view s, size_t& i) {
    auto b = static_cast<unsigned char>(s[i++]);
    if (b < 0x80) return b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (extra < 0) return 0xFFFD;
    char32_t cp = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return cp;
}

}  // namespace

std::optional<std::string> mutf7_decode(std::string_view in) {
    std::string out;
    size_t i = 0;
    while (i < in.size()) {
        char c = in[i];
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return std::nullopt;
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        size_t end = in.find('-', i + 1);
        if (end == std::string_view::npos) return std::nullopt;
        if (end == i + 1) {
            out += '&';
            i = end + 1;
            continue;
        }
        std::vector<char16_t> units;
        std::uint32_t bits = 0;
        int nbits = 0;
        for (size_t k = i + 1; k < end; ++k) {
            int v = b64_value(in[k]);
            if (v < 0) return std::nullopt;
            bits = (bits << 6) | static_cast<std::uint32_t>(v);
            nbits += 6;
            if (nbits >= 16) {
                nbits -= 16;
                units.push_back(static_cast<char16_t>((bits >> nbits) & 0xFFFF));
            }
        }
        // Leftover bits must be zero padding shorter than one base64 digit pair.
        if (nbits >= 6 || (bits & ((1u << nbits) - 1)) != 0) return std::nullopt;
        for (size_t k = 0; k < units.size(); ++k) {
            char32_t u = units[k];
            if (u >= 0xD800 && u <= 0xDBFF) {
                if (k + 1 >= units.size() || units[k + 1] < 0xDC00 || units[k + 1] > 0xDFFF)
                    return std::nullopt;
                u = 0x10000 + ((u - 0xD800) << 10) + (units[++k] - 0xDC00);
            } else if (u >= 0xDC00 && u <= 0xDFFF) {
                return std::nullopt;
            }
            platform::append_utf8(out, u);
        }
        i = end + 1;
    }
    return out;
}

std::string mutf7_encode(std::string_view utf8) {
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        auto b = static_cast<unsigned char>(utf8[i]);
        if (b >= 0x20 && b <= 0x7E) {
            out += b == '&' ? std::string("&-") : std::string(1, static_cast<char>(b));
            ++i;
            continue;
        }
        std::vector<char16_t> units;
        while (i < utf8.size()) {
            auto c = static_cast<unsigned char>(utf8[i]);
            if (c >= 0x20 && c <= 0x7E) break;
            char32_t cp = next_utf8(utf8, i);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
                units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                units.push_back(static_cast<char16_t>(cp));
            }
        }
        out += '&';
        std::uint32_t bits = 0;
        int nbits = 0;
        for (char16_t u : units) {
            bits = (bits << 16) | u;
            nbits += 16;
            while (nbits >= 6) {
                nbits -= 6;
                out += b64_chars[(bits >> nbits) & 0x3F];
            }
        }
        if (nbits > 0) out += b64_chars[(bits << (6 - nbits)) & 0x3F];
        out += '-';
    }
    return out;
}

}  // namespace morvo::outlook
