#include "platform/codepage.h"

#include <cstdint>

namespace platform {
namespace {

// Windows-1252 0x80..0x9F; the five bytes Windows leaves undefined map to the C1 controls.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i, or returns
// char32_t(-1) and advances by one byte when the sequence is malformed.
char32_t decode_utf8(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return static_cast<char32_t>(-1);
    }
    if (i + len > text.size()) {
        ++i;
        return static_cast<char32_t>(-1);
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return static_cast<char32_t>(-1);
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return static_cast<char32_t>(-1);
    }
    i += len;
    return c;
}

char to_cp1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int k = 0; k < 32; ++k) {
        if (kHigh[k] == c) return static_cast<char>(0x80 + k);
    }
    return '?';
}

}  // namespace

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string cp1252_to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else if (b < 0xA0) {
            append_utf8(out, kHigh[b - 0x80]);
        } else {
            append_utf8(out, b);
        }
    }
    return out;
}

std::string utf8_to_cp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {  // fast path for ASCII
            out += text[i++];
            continue;
        }
        const char32_t c = decode_utf8(text, i);
        out += c == static_cast<char32_t>(-1) ? '?' : to_cp1252(c);
    }
    return out;
}

std::string valid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        if (decode_utf8(text, i) == static_cast<char32_t>(-1)) {
            out += '?';
        } else {
            out.append(text, start, i - start);
        }
    }
    return out;
}

TextForm text_form_of(std::string_view bytes, const TextForm& otherwise) {
    TextForm form = otherwise;
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        form.utf8 = true;
        form.bom = true;
        bytes.remove_prefix(kUtf8Bom.size());
    } else {
        form.bom = false;
        bool ascii = true;
        bool valid = true;
        for (std::size_t i = 0; i < bytes.size() && valid;) {
            if (static_cast<unsigned char>(bytes[i]) < 0x80) {
                ++i;
                continue;
            }
            ascii = false;
            valid = decode_utf8(bytes, i) != static_cast<char32_t>(-1);
        }
        if (!ascii) form.utf8 = valid;
    }
    const std::size_t end = bytes.find_first_of("\r\n");
    if (end != std::string_view::npos) {
        form.line_end = bytes[end] == '\n'                                 ? "\n"
                        : end + 1 < bytes.size() && bytes[end + 1] == '\n' ? "\r\n"
                                                                           : "\r";
    }
    return form;
}

std::string text_from_file(std::string_view bytes, const TextForm& form) {
    if (form.bom && bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        bytes.remove_prefix(kUtf8Bom.size());
    }
    return form.utf8 ? valid_utf8(bytes) : cp1252_to_utf8(bytes);
}

std::string text_to_file(std::string_view utf8, const TextForm& form) {
    std::string text;
    text.reserve(utf8.size() + 8);
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' || utf8[i] == '\n') {
            if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
            text += form.line_end;
        } else {
            text += utf8[i];
        }
    }
    if (!form.utf8) return utf8_to_cp1252(text);
    return (form.bom ? std::string(kUtf8Bom) : std::string()) + valid_utf8(text);
}

std::string text_of_file(std::string_view bytes, const TextForm& otherwise) {
    return text_to_file(text_from_file(bytes, text_form_of(bytes, otherwise)), TextForm{});
}

unsigned char cp1252_lower(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    switch (c) {
        case 0x8A:
            return 0x9A;  // Š
        case 0x8C:
            return 0x9C;  // Œ
        case 0x8E:
            return 0x9E;  // Ž
        case 0x9F:
            return 0xFF;  // Ÿ
        default:
            return c;
    }
}

namespace {
char32_t fold_code_point(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    switch (c) {
        case 0x160:
            return 0x161;
        case 0x152:
            return 0x153;
        case 0x17D:
            return 0x17E;
        case 0x178:
            return 0xFF;
        default:
            return c;
    }
}
}  // namespace

bool equals_ignore_case(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const std::size_t i0 = i, j0 = j;
        const char32_t ca = decode_utf8(a, i);
        const char32_t cb = decode_utf8(b, j);
        if (ca == static_cast<char32_t>(-1) || cb == static_cast<char32_t>(-1)) {
            // Malformed bytes compare as they are.
            if (ca != cb || a[i0] != b[j0]) return false;
            continue;
        }
        if (fold_code_point(ca) != fold_code_point(cb)) return false;
    }
    return i == a.size() && j == b.size();
}

std::u32string folded_code_points(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t i0 = i;
        const char32_t c = decode_utf8(text, i);
        out += c == static_cast<char32_t>(-1) ? 0x110000 + static_cast<unsigned char>(text[i0])
                                              : fold_code_point(c);
    }
    return out;
}

}  // namespace platform
