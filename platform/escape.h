#pragma once
// Text with some characters written as escapes: what keeps a value on one line of a log or out
// of the markup it is put into. Header only: the escapes are a handful, looked up in place.

#include <initializer_list>
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

}  // namespace platform
