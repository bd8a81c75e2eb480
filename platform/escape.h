#pragma once
// Text with some characters written as escapes: what keeps a value on one line of a log or out
// of the markup it is put into. Header only: the escapes are a handful, looked up in place.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct Escape {
    char c;
    std::string_view as;
};

inline void append_escaped(std::string& out, std::string_view text,
                           std::initializer_list<Escape> escapes) {
    for (const char c : text) {
        const Escape* hit = nullptr;
        for (const auto& e : escapes)
            if (e.c == c) hit = &e;
        if (hit)
            out += hit->as;
        else
            out += c;
    }
}

inline std::string escaped(std::string_view text, std::initializer_list<Escape> escapes) {
    std::string out;
    append_escaped(out, text, escapes);
    return out;
}

// What `unescaped` makes of a backslash before a character no escape names, or at the end.
enum class OtherEscape {
    refuse,      // the text is refused
    character,   // the character after it stands for itself (a final backslash for itself)
    as_written,  // both stay as they are
};

// The reverse of `escaped` for escapes written as a backslash and one character.
inline std::optional<std::string> unescaped(std::string_view text,
                                            std::initializer_list<Escape> escapes,
                                            OtherEscape other) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 == text.size()) {
            if (other == OtherEscape::refuse) return std::nullopt;
            out += '\\';
            break;
        }
        const char n = text[++i];
        const Escape* hit = nullptr;
        for (const auto& e : escapes)
            if (e.as.size() == 2 && e.as[0] == '\\' && e.as[1] == n) hit = &e;
        if (hit) {
            out += hit->c;
            continue;
        }
        if (other == OtherEscape::refuse) return std::nullopt;
        if (other == OtherEscape::as_written) out += '\\';
        out += n;
    }
    return out;
}

}  // namespace platform
