#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "tools/extractor/extractor.h"

namespace extractor {
namespace {

// Lower-case folding for comparisons: ASCII letters and the Latin-1 letters of UTF-8
// (U+00C0..U+00DE except U+00D7), which covers German umlauts.
std::string fold(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == 0xc3 && i + 1 < out.size()) {
            unsigned char d = static_cast<unsigned char>(out[i + 1]);
            if (d >= 0x80 && d <= 0x9e && d != 0x97) out[i + 1] = static_cast<char>(d + 0x20);
            ++i;
        }
    }
    return out;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Finds `name` in `dir` without regard to case; empty when there is no such entry.
std::string find_in_dir(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
    if (!d) return {};
    std::string want = fold(name), found;
    while (dirent* e = ::readdir(d)) {
        if (fold(e->d_name) == want) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

bool is_switch(const std::string& token) {
    if (token.size() < 2 || token[0] != '-') return false;
    for (std::size_t i = 1; i < token.size(); ++i)
        if (!std::isalpha(static_cast<unsigned char>(token[i]))) return false;
    return true;
}

std::string join(const std::vector<std::string>& tokens, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) out += ' ';
        out += tokens[i];
    }
    return out;
}

}  // namespace

bool names_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    // fold() byte by byte, without copies: the extractor compares every entry of a cabinet.
    auto folded = [](unsigned char c, bool& after_c3) -> unsigned char {
        if (after_c3) {
            after_c3 = false;
            return c >= 0x80 && c <= 0x9e && c != 0x97 ? static_cast<unsigned char>(c + 0x20) : c;
        }
        if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
        after_c3 = c == 0xc3;
        return c;
    };
    bool in_a = false, in_b = false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (folded(static_cast<unsigned char>(a[i]), in_a) !=
            folded(static_cast<unsigned char>(b[i]), in_b))
            return false;
    return true;
}

std::optional<std::string> host_path(std::string_view win) {
    bool unc =
        win.size() >= 2 && (win[0] == '\\' || win[0] == '/') && (win[1] == '\\' || win[1] == '/');
    bool other_drive = win.size() >= 2 && win[1] == ':' &&
                       std::isalpha(static_cast<unsigned char>(win[0])) && win[0] != 'C' &&
                       win[0] != 'c';
    if (unc || other_drive) {
        // Removable media and shares need the mount table; C: is mapped here without it,
        // which keeps the common start cheap.
        std::string host = platform::host_path(win);
        if (host.empty()) return std::nullopt;
        return host;
    }
    std::string rest;
    if (win.size() >= 2 && win[1] == ':' && std::isalpha(static_cast<unsigned char>(win[0]))) {
        rest = std::string(win.substr(2));
        if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) rest.insert(0, "/");
    } else {
        rest = std::string(win);
    }
    for (char& c : rest)
        if (c == '\\') c = '/';
    if (rest.empty() || exists(rest)) return rest;

    // Look each missing component up without regard to case; stop at the first one that is
    // missing in every spelling (it is being created).
    std::string out = rest[0] == '/' ? "" : ".";
    std::size_t pos = rest[0] == '/' ? 1 : 0;
    bool lost = false;
    while (pos <= rest.size()) {
        std::size_t end = rest.find('/', pos);
        if (end == std::string::npos) end = rest.size();
        std::string comp = rest.substr(pos, end - pos);
        if (!comp.empty()) {
            std::string next = out + "/" + comp;
            if (!lost && !exists(next)) {
                std::string real = find_in_dir(out, comp);
                if (real.empty())
                    lost = true;
                else
                    next = out + "/" + real;
            }
            out = next;
        }
        pos = end + 1;
    }
    if (rest[0] != '/') out.erase(0, 2);  // drop the "./" added for relative paths
    if (!rest.empty() && rest.back() == '/' && (out.empty() || out.back() != '/')) out += '/';
    if (out.empty()) out = "/";
    return out;
}

std::optional<Request> parse_command_line(const std::vector<std::string>& tokens,
                                          const std::function<bool(const std::string&)>& is_file,
                                          std::string& error) {
    std::size_t end = tokens.size();
    while (end > 0 && is_switch(tokens[end - 1])) --end;
    if (end < 2) {
        error =
            "usage: extractor CABINET FOLDER\\*.* -d -i | extractor CABINET FOLDER\\NAME -d -i -ox";
        return std::nullopt;
    }
    std::size_t split = 0;
    std::string cabinet;
    for (std::size_t k = 1; k < end; ++k) {
        auto host = host_path(join(tokens, 0, k));
        if (host && is_file(*host)) {
            split = k;
            cabinet = *host;
            break;
        }
    }
    if (split == 0) {
        error = "cabinet not found: " + join(tokens, 0, end - 1);
        return std::nullopt;
    }
    std::string target = join(tokens, split, end);
    std::size_t sep = target.find_last_of("\\/");
    std::string leaf = sep == std::string::npos ? target : target.substr(sep + 1);
    std::string dir = sep == std::string::npos ? "." : target.substr(0, sep + 1);
    Request r;
    r.cabinet = cabinet;
    r.target = target;
    auto folder = host_path(dir);
    if (!folder) {
        error = "target folder cannot be reached: " + dir;
        return std::nullopt;
    }
    r.folder = *folder;
    if (leaf == "*.*" || leaf == "*" || leaf.empty()) {
        r.name.clear();
    } else {
        if (leaf.find('*') != std::string::npos || leaf.find('?') != std::string::npos) {
            error = "only *.* or a single file name can be extracted: " + leaf;
            return std::nullopt;
        }
        if (leaf == "." || leaf == "..") {
            error = "not a file name: " + leaf;
            return std::nullopt;
        }
        r.name = leaf;
    }
    return r;
}

namespace {

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// The components of a name split at "\" and "/" (empty ones kept).
std::vector<std::string_view> components(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || is_separator(s[i])) {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

std::string_view last_component(std::string_view s) {
    std::size_t i = s.size();
    while (i > 0 && !is_separator(s[i - 1])) --i;
    return s.substr(i);
}

}  // namespace

int match_rank(std::string_view entry, std::string_view target) {
    // Most entries differ in their last component: decided without splitting.
    if (!names_equal(last_component(entry), last_component(target))) return 0;
    auto e = components(entry), t = components(target);
    if (e.size() > t.size()) return 1;
    for (std::size_t i = 1; i < e.size(); ++i)
        if (!names_equal(e[e.size() - 1 - i], t[t.size() - 1 - i])) return 1;
    return 2 + static_cast<int>(e.size());
}

bool is_safe_entry_name(std::string_view name) {
    if (name.empty() || is_separator(name[0])) return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size()) {
            const unsigned char c = static_cast<unsigned char>(name[i]);
            if (c < 0x20 || c == 0x7f || c == ':') return false;
            if (!is_separator(name[i])) continue;
        }
        std::string_view comp = name.substr(start, i - start);
        if (comp.empty() || comp == "." || comp == "..") return false;
        start = i + 1;
    }
    return true;
}

std::string cp1252_name_to_utf8(std::string_view name) {
    std::string out;
    for (std::size_t at = 0; at < name.size();) {
        // The code page's five holes become U+FFFD in a name, not control characters.
        const std::size_t hole = name.find_first_of("\x81\x8d\x8f\x90\x9d", at);
        out += platform::cp1252_to_utf8(name.substr(at, hole - at));
        if (hole == std::string_view::npos) break;
        platform::append_utf8(out, 0xfffd);
        at = hole + 1;
    }
    return out;
}

}  // namespace extractor
