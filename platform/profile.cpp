#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_toolkit.h"
#include "platform/paths.h"

namespace platform {
namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// A new file, and one in plain ASCII, is Windows-1252 with CR LF: the INI files the programs
// write (the uninstall log) are read by them alone.
const TextForm kNewFileForm{false, false, "\r\n"};

// Names compare without regard to case: in Windows-1252 byte by byte, in UTF-8 by character.
std::string fold(std::string_view name, const TextForm& form) {
    std::string out(name);
    bool ascii = true;
    for (char& c : out) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        c = static_cast<char>(cp1252_lower(static_cast<unsigned char>(c)));
    }
    if (!form.utf8 || ascii) return out;
    out.clear();
    for (const char32_t c : folded_code_points(name)) append_utf8(out, c);
    return out;
}

struct Line {
    std::size_t begin;        // first byte of the line
    std::size_t content_end;  // end of the text, before CR LF / LF
    std::size_t end;          // after the line end (== content_end on an unterminated last line)
};

struct Section {
    std::size_t header_line = npos;  // npos: the lines before the first section
    std::size_t last_entry = npos;   // last non-blank line of the section, header included
    std::unordered_map<std::string, std::size_t> keys;  // folded key -> its (first) line
};

struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    timespec ctime{};

    static FileIdentity of(const struct stat& st) {
        return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool operator==(const FileIdentity& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

struct Parsed {
    std::string raw;  // the file's bytes
    std::vector<Line> lines;
    std::vector<Section> sections;                            // sections[0]: before any header
    std::unordered_map<std::string, std::size_t> section_of;  // folded name -> first section
    FileIdentity id;
    TextForm form = kNewFileForm;
    // False while the file's change time is so recent that another change within the same
    // clock tick would leave the identity unchanged; such a cache entry is checked by content.
    bool trusted = false;

    bool ends_with_newline() const {
        return raw.empty() || raw.back() == '\n' || raw.back() == '\r';
    }
};

std::mutex g_mutex;
std::unordered_map<std::string, Parsed> g_cache;
std::size_t g_parse_count = 0;

// Parses the lines that start at or after `from` (a line start), continuing the last section.
void parse_from(Parsed& p, std::size_t from) {
    if (p.sections.empty()) p.sections.emplace_back();
    std::size_t pos = from;
    if (pos == 0 && p.form.bom) pos = kUtf8Bom.size();
    while (pos < p.raw.size()) {
        // CR LF, LF and a lone CR each end a line.
        const std::size_t nl = p.raw.find_first_of("\r\n", pos);
        Line line{pos, nl == std::string::npos ? p.raw.size() : nl, p.raw.size()};
        if (nl != std::string::npos) {
            line.end = nl + (p.raw.compare(nl, 2, "\r\n") == 0 ? 2 : 1);
        }
        pos = line.end;
        const std::size_t index = p.lines.size();
        p.lines.push_back(line);
        const std::string_view text =
            trim(std::string_view(p.raw).substr(line.begin, line.content_end - line.begin));
        if (text.empty()) continue;
        if (text[0] == '[') {
            const auto close = text.rfind(']');
            if (close != std::string_view::npos) {
                Section s;
                s.header_line = index;
                s.last_entry = index;
                p.sections.push_back(std::move(s));
                p.section_of.emplace(fold(trim(text.substr(1, close - 1)), p.form),
                                     p.sections.size() - 1);
                continue;
            }
        }
        Section& s = p.sections.back();
        s.last_entry = index;
        if (text[0] == ';') continue;  // a comment
        const std::string_view key = trim(text.substr(0, text.find('=')));
        if (!key.empty()) s.keys.emplace(fold(key, p.form), index);
    }
}

void parse_all(Parsed& p) {
    p.form = text_form_of(p.raw, kNewFileForm);
    p.lines.clear();
    p.sections.clear();
    p.section_of.clear();
    parse_from(p, 0);
    ++g_parse_count;
}

// The value of a key line: after the first "=", trimmed, without one pair of enclosing quotes.
std::string_view value_of(const Parsed& p, std::size_t line) {
    const Line& l = p.lines[line];
    std::string_view text = std::string_view(p.raw).substr(l.begin, l.content_end - l.begin);
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return {};
    std::string_view v = trim(text.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

timespec now_realtime() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return t;
}

// A change time at least this far in the past cannot be repeated by a later change.
bool settled(const timespec& ctime) {
    const timespec now = now_realtime();
    const long long diff_ms =
        (now.tv_sec - ctime.tv_sec) * 1000LL + (now.tv_nsec - ctime.tv_nsec) / 1000000LL;
    return diff_ms > 100;
}

// The parsed file behind an open descriptor, from the cache when the file is unchanged.
// Null when it is not a regular file or cannot be read. Caller holds g_mutex.
Parsed* load(const std::string& host, int fd, struct stat& st) {
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        g_cache.erase(host);
        return nullptr;
    }
    const FileIdentity id = FileIdentity::of(st);
    auto it = g_cache.find(host);
    if (it != g_cache.end() && it->second.id == id && it->second.trusted) return &it->second;

    std::string bytes;
    if (lseek(fd, 0, SEEK_SET) != 0 || !read_all(fd, bytes)) {
        g_cache.erase(host);
        return nullptr;
    }
    if (it != g_cache.end() && it->second.id == id && it->second.raw == bytes) {
        it->second.trusted = settled(id.ctime);
        return &it->second;
    }
    if (g_cache.size() >= 32) g_cache.clear();
    Parsed& p = g_cache[host];
    p.raw = std::move(bytes);
    p.id = id;
    p.trusted = settled(id.ctime);
    parse_all(p);
    return &p;
}

// C-string semantics (text after a NUL does not exist), then the file's code page.
std::string to_file_text(std::string_view utf8, const TextForm& form) {
    utf8 = utf8.substr(0, utf8.find('\0'));
    return form.utf8 ? valid_utf8(utf8) : utf8_to_cp1252(utf8);
}

// At most size - 1 bytes of a value in the file's code page, as UTF-8; a UTF-8 character is
// never cut in two.
std::string cut_to_size(std::string_view v, std::size_t size, const TextForm& form) {
    v = v.substr(0, v.find('\0'));
    if (!form.utf8) return cp1252_to_utf8(v.substr(0, size - 1));
    if (v.size() >= size) {
        std::size_t n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80) --n;
        v = v.substr(0, n);
    }
    return valid_utf8(v);  // a file with a mark may still hold stray bytes
}

// A line break inside a name or value would split the entry over two lines; "|" keeps it on
// one (no Windows path holds "|", and the programs' texts use it for a line break anyway).
std::string one_line(std::string s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '|';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else if (s[i] == '\n') {
            out += '|';
        } else {
            out += s[i];
        }
    }
    return out;
}

// Replaces the whole file the safe way (temporary name, then rename), keeping its owner and
// mode. When the folder does not allow a new name, the file is rewritten in place.
bool rewrite_file(const std::string& host, std::string_view data) {
    ReplaceOptions options;
    options.durability = Durability::none;
    options.keep_owner_and_mode = true;
    options.through_links = true;
    if (replace_file(host, data, options) == 0) return true;
    UniqueFd out(open(host.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK));
    return out && write_all(out.get(), data) && out.close();
}

// Records the identity of the file just written (through fd when it is still open).
void remember(const std::string& host, Parsed& p, int fd = -1) {
    struct stat st;
    if ((fd >= 0 ? fstat(fd, &st) : stat(host.c_str(), &st)) == 0) {
        p.id = FileIdentity::of(st);
        p.trusted = true;  // we know the content: it is what we just wrote
    } else {
        g_cache.erase(host);
    }
}

}  // namespace

std::string GetPrivateProfileStringA(std::string_view section, std::string_view key,
                                     std::string_view default_value, std::size_t size,
                                     std::string_view file) {
    if (size == 0) return "";
    std::string def = to_file_text(default_value, kNewFileForm);
    while (!def.empty() && def.back() == ' ') def.pop_back();
    const std::string no_value = cut_to_size(def, size, kNewFileForm);
    const std::string host = host_path(file);
    if (host.empty()) return no_value;

    const UniqueFd fd(open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return no_value;
    std::lock_guard<std::mutex> lock(g_mutex);
    struct stat st;
    Parsed* p = load(host, fd.get(), st);
    if (!p) return no_value;
    const auto s = p->section_of.find(fold(trim(to_file_text(section, p->form)), p->form));
    if (s == p->section_of.end()) return no_value;
    const auto& keys = p->sections[s->second].keys;
    const auto e = keys.find(fold(trim(to_file_text(key, p->form)), p->form));
    if (e == keys.end()) return no_value;
    return cut_to_size(value_of(*p, e->second), size, p->form);
}

namespace {

// What a write does to a file that has the section or not.
struct Edit {
    std::string append;               // bytes to add at the end, or
    std::size_t insert_at = npos;     // where to insert the entry in a rewrite, or
    std::size_t replace_line = npos;  // the key's line to replace
};

Edit plan_edit(const Parsed& p, const std::string& sec, const std::string& k,
               const std::string& entry) {
    Edit edit;
    const std::string line_end(p.form.line_end);
    const std::string before = p.ends_with_newline() ? "" : line_end;
    const auto s = p.section_of.find(fold(trim(sec), p.form));
    if (s == p.section_of.end()) {
        edit.append = before + "[" + sec + "]" + line_end + entry;
        return edit;
    }
    const Section& section = p.sections[s->second];
    const auto e = section.keys.find(fold(trim(k), p.form));
    if (e != section.keys.end()) {
        edit.replace_line = e->second;
        return edit;
    }
    const Line& last = p.lines[section.last_entry];
    if (last.end == p.raw.size()) {
        edit.append = before + entry;
    } else {
        edit.insert_at = last.end;
    }
    return edit;
}

bool create_file(const std::string& host, const std::string& sec, const std::string& entry) {
    UniqueFd out(open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out) return false;
    const std::string header = "[" + sec + "]" + std::string(kNewFileForm.line_end);
    const bool ok = write_all(out.get(), header + entry) && out.close();
    g_cache.erase(host);
    return ok;
}

// The common case of a growing log: only the new bytes are written.
bool append_to(const std::string& host, int fd, Parsed& p, const std::string& append) {
    const bool had_newline = p.ends_with_newline();
    const std::size_t old_size = p.raw.size();
    if (!write_all(fd, append)) {
        g_cache.erase(host);
        return false;
    }
    p.raw += append;
    // What is written keeps the file's code page, but umlauts written into a plain ASCII file
    // may form valid UTF-8 (as "Ã¤" does); a fresh read then takes the file as UTF-8, so the
    // cache must too.
    const bool high = std::any_of(append.begin(), append.end(),
                                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (had_newline && !(high && !p.form.utf8 && text_form_of(p.raw, kNewFileForm).utf8)) {
        parse_from(p, old_size);
    } else {
        parse_all(p);
    }
    remember(host, p, fd);
    return true;
}

// The file with the key's line replaced or the entry inserted; nothing when nothing changes.
std::optional<std::string> edited(const Parsed& p, const Edit& edit, const std::string& v,
                                  const std::string& entry) {
    std::string updated;
    if (edit.replace_line != npos) {
        const Line& l = p.lines[edit.replace_line];
        const std::string_view text =
            std::string_view(p.raw).substr(l.begin, l.content_end - l.begin);
        const std::string_view old_key = trim(text.substr(0, text.find('=')));
        const std::string line = std::string(old_key) + "=" + v;
        if (text == line) return std::nullopt;
        updated.reserve(p.raw.size() + v.size());
        updated.append(p.raw, 0, l.begin);
        updated += line;
        updated.append(p.raw, l.content_end, std::string::npos);
    } else {
        updated.reserve(p.raw.size() + entry.size());
        updated.append(p.raw, 0, edit.insert_at);
        updated += entry;
        updated.append(p.raw, edit.insert_at, std::string::npos);
    }
    return updated;
}

}  // namespace

bool WritePrivateProfileStringA(std::string_view section, std::string_view key,
                                std::string_view value, std::string_view file) {
    if (trim(one_line(to_file_text(key, kNewFileForm))).empty()) return false;
    const std::string host = host_path(file);
    if (host.empty()) return false;
    // Names and value in the form of the file they go to.
    auto text_for = [&](const TextForm& form, std::string& sec, std::string& k, std::string& v) {
        sec = one_line(to_file_text(section, form));
        k = one_line(to_file_text(key, form));
        v = one_line(to_file_text(value, form));
        return k + "=" + v + std::string(form.line_end);
    };
    std::string sec, k, v;

    std::lock_guard<std::mutex> lock(g_mutex);
    UniqueFd fd(open(host.c_str(), O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC));
    if (!fd && errno == ENOENT) {
        const std::string entry = text_for(kNewFileForm, sec, k, v);
        return create_file(host, sec, entry);
    }
    if (!fd) return false;
    struct stat st;
    Parsed* p = load(host, fd.get(), st);
    // The read-only attribute (the owner's write permission) refuses the write even for root.
    if (!p || !(st.st_mode & S_IWUSR)) return false;
    const std::string entry = text_for(p->form, sec, k, v);

    const Edit edit = plan_edit(*p, sec, k, entry);
    if (!edit.append.empty()) return append_to(host, fd.get(), *p, edit.append);
    fd.reset();

    std::optional<std::string> updated = edited(*p, edit, v, entry);
    if (!updated) return true;  // nothing changes
    if (!rewrite_file(host, *updated)) {
        g_cache.erase(host);
        return false;
    }
    p->raw = std::move(*updated);
    parse_all(*p);
    remember(host, *p);
    return true;
}

std::size_t profile_parse_count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_parse_count;
}

void profile_cache_clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_cache.clear();
}

}  // namespace platform
