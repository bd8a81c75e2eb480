#include "tools/mkpackage/check.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "platform/codepage.h"
#include "platform/text.h"
#include "setup/install_run.h"
#include "setup/rtf.h"
#include "setup/script_keys.h"
#include "tools/extractor/extractor.h"
#include "tools/mkpackage/package.h"

namespace mkpackage {

namespace {

using setup::KeyFile;
using setup::KeyKind;

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string trim(std::string_view s) {
    return std::string(platform::trimmed(s));
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

template <class Range>
std::string nearest(std::string_view word, const Range& candidates) {
    std::string best;
    std::size_t best_distance = SIZE_MAX;
    for (std::string_view c : candidates) {
        const std::size_t d = distance(word, c);
        if (d < best_distance) best_distance = d, best = std::string(c);
    }
    return best;
}

// An indexed key as the table writes it: "LinkT12" -> "LinkT<n>".
std::string as_pattern(const std::string& key) {
    std::size_t end = key.size();
    while (end > 0 && key[end - 1] >= '0' && key[end - 1] <= '9') --end;
    return end < key.size() && end > 0 ? key.substr(0, end) + "<n>" : key;
}

// The number of an indexed key ("LinkT12" -> 12) when it matches stem; -1 otherwise.
long index_of(const std::string& key, std::string_view stem) {
    if (key.size() <= stem.size() || lower(key.substr(0, stem.size())) != lower(std::string(stem)))
        return -1;
    long n = 0;
    for (char c : key.substr(stem.size())) {
        if (c < '0' || c > '9' || n > 1000000) return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

struct Entry {
    std::string key;  // as written
    std::string value;
    int line;
};

struct Section {
    std::string name;
    int line = 0;
    std::vector<Entry> entries;           // every entry, in order
    std::map<std::string, size_t> first;  // lower key -> the entry setup reads
};

class Checker {
  public:
    Checker(std::string source, CheckReport& report) : source_(std::move(source)), out_(report) {}

    void run() {
        out_.script = find_script(source_);
        if (out_.script.empty()) {
            error(0, "the source holds no Setup.INX");
            return;
        }
        const std::string bytes = slurp(out_.script);
        // As setup reads it: in its own code page, a lone CR ending a line as LF does.
        parse(platform::text_of_file(bytes, {false, false, "\r\n"}));
        known_names();
        kinds();
        files();
        counted("Links", "AnzLinks", 1, {"LinkPath", "LinkT", "LinkN"},
                {"LinkPath", "LinkT", "LinkN"});
        counted("RunApps", "AnzApps", 1, {"when", "Filename"},
                {"when", "Filename", "Arguments", "Message"});
        counted("Billboards", "AnzBillboards", 1, {"Title"}, {"Title", "Text"});
        fonts();
        main_keys();
        resources();
        links();
    }

  private:
    void error(int line, std::string message) {
        out_.problems.push_back({line, Severity::Error, std::move(message)});
    }
    void warning(int line, std::string message) {
        out_.problems.push_back({line, Severity::Warning, std::move(message)});
    }

    const Entry* find(std::string_view section, std::string_view key) const {
        auto s = sections_.find(lower(std::string(section)));
        if (s == sections_.end()) return nullptr;
        auto k = s->second.first.find(lower(std::string(key)));
        return k == s->second.first.end() ? nullptr : &s->second.entries[k->second];
    }
    std::string value(std::string_view section, std::string_view key) const {
        const Entry* e = find(section, key);
        return e ? e->value : std::string();
    }
    int line_of(std::string_view section, std::string_view key) const {
        const Entry* e = find(section, key);
        if (e) return e->line;
        auto s = sections_.find(lower(std::string(section)));
        return s == sections_.end() ? 0 : s->second.line;
    }

    void parse(const std::string& bytes) {
        std::istringstream in(bytes);
        std::string raw;
        Section* current = nullptr;
        for (int line = 1; std::getline(in, raw); ++line) {
            const std::string text = trim(raw);
            if (text.empty() || text[0] == ';') continue;
            if (text[0] == '[') {
                const auto close = text.find(']');
                if (close == std::string::npos) {
                    warning(line, "a section name without \"]\": the line is read as no section");
                    current = nullptr;
                    continue;
                }
                const std::string name = trim(text.substr(1, close - 1));
                auto [it, fresh] = sections_.try_emplace(lower(name));
                if (fresh) {
                    it->second.name = name;
                    it->second.line = line;
                } else {
                    warning(line, "[" + name + "] appears again (first on line " +
                                      std::to_string(it->second.line) + ")");
                }
                current = &it->second;
                continue;
            }
            const auto eq = text.find('=');
            if (eq == std::string::npos) {
                warning(line, "neither a section nor a key: setup ignores this line");
                continue;
            }
            if (!current) {
                warning(line, "a key before the first section: setup never reads it");
                continue;
            }
            Entry e{trim(text.substr(0, eq)), trim(text.substr(eq + 1)), line};
            auto [it, fresh] = current->first.try_emplace(lower(e.key), current->entries.size());
            if (!fresh) {
                warning(line, e.key + " appears again in [" + current->name +
                                  "]; setup reads the first one (line " +
                                  std::to_string(current->entries[it->second].line) + ")");
            }
            current->entries.push_back(std::move(e));
        }
    }

    void known_names() {
        std::set<std::string> known_sections;
        for (const auto& k : setup::script_keys())
            if (k.file == KeyFile::Script) known_sections.insert(std::string(k.section));
        for (const auto& [id, section] : sections_) {
            const bool known = std::any_of(known_sections.begin(), known_sections.end(),
                                           [&](const std::string& s) { return lower(s) == id; });
            if (!known) {
                warning(section.line, "no program reads the section [" + section.name +
                                          "]; did you mean [" +
                                          nearest(section.name, known_sections) + "]?");
                continue;
            }
            std::vector<std::string_view> keys;
            for (const auto& k : setup::script_keys())
                if (k.file == KeyFile::Script && lower(std::string(k.section)) == id)
                    keys.push_back(k.key);
            for (const Entry& e : section.entries) {
                if (setup::find_script_key(KeyFile::Script, section.name, e.key)) continue;
                warning(e.line, "no program reads " + e.key + " in [" + section.name +
                                    "]; did you mean " + nearest(as_pattern(e.key), keys) + "?");
            }
        }
    }

    void kinds() {
        for (const auto& [id, section] : sections_) {
            for (const Entry& e : section.entries) {
                const auto* k = setup::find_script_key(KeyFile::Script, section.name, e.key);
                if (!k) continue;
                switch (k->kind) {
                    case KeyKind::Path:
                        placeholders(e);
                        break;
                    case KeyKind::FileName:
                        if (std::string why = windows_name_problem(e.value); !why.empty())
                            error(e.line, e.key + " \"" + e.value + "\": " + why);
                        break;
                    case KeyKind::Switch:
                        if (!e.value.empty() && e.value != "0" && e.value != "1")
                            warning(e.line, e.key + "=" + e.value +
                                                " counts as off: only 1 switches it on");
                        break;
                    case KeyKind::When:
                        when(e);
                        break;
                    case KeyKind::Count:
                    case KeyKind::Text:
                        break;
                }
            }
        }
    }

    void when(const Entry& e) {
        const auto values = setup::run_apps_when_values();
        if (std::find(values.begin(), values.end(), e.value) != values.end()) return;
        std::string list;
        for (auto v : values) list += (list.empty() ? "\"" : ", \"") + std::string(v) + "\"";
        if (e.value.empty())
            warning(e.line, e.key + " is empty: the program never runs");
        else
            error(e.line, e.key + "=" + e.value + " is no \"when\" value; setup knows " + list);
    }

    void placeholders(const Entry& e) {
        const std::string& v = e.value;
        std::size_t i = v.find('#');
        while (i != std::string::npos) {
            const std::size_t j = v.find('#', i + 1);
            if (j == std::string::npos) break;
            const std::string token = v.substr(i, j - i + 1);
            const bool word =
                j > i + 1 && std::all_of(v.begin() + i + 1, v.begin() + j, [](char c) {
                    return std::isalnum(static_cast<unsigned char>(c));
                });
            if (!word) {
                i = j;
                continue;
            }
            const auto known = setup::placeholders();
            if (std::find(known.begin(), known.end(), token) == known.end()) {
                const std::string near = nearest(token, known);
                if (lower(near) == lower(token))
                    error(e.line,
                          token + " is written in the wrong case: setup replaces only " + near);
                else
                    error(e.line, "unknown placeholder " + token + " in " + e.key +
                                      "; did you mean " + near + "?");
            }
            i = v.find('#', j + 1);
        }
    }

    // Names that setup creates as files or folders must be valid Windows names; "\" separates
    // folders, and no part may climb out of its folder.
    static std::string windows_name_problem(const std::string& name) {
        if (name.empty()) return {};
        std::size_t pos = 0;
        while (true) {
            const std::size_t end = name.find('\\', pos);
            const std::string part = name.substr(pos, end == std::string::npos ? end : end - pos);
            if (part.empty()) return "an empty folder name (a leading or doubled \"\\\")";
            if (part == "." || part == "..") return "\"" + part + "\" leaves its folder";
            for (char c : part) {
                if (static_cast<unsigned char>(c) < 0x20)
                    return "a control character, which Windows forbids in names";
                if (std::string_view("<>:\"/|?*").find(c) != std::string_view::npos)
                    return std::string("the character ") + c + " is forbidden in Windows names";
            }
            if (part.back() == '.' || part.back() == ' ')
                return "a name that ends in a dot or blank, which Windows drops";
            std::string stem = lower(part.substr(0, part.find('.')));
            static const std::set<std::string> devices = {
                "con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4",
                "com5", "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3",
                "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
            if (devices.count(stem)) return "\"" + part + "\" is a device name on Windows";
            if (end == std::string::npos) return {};
            pos = end + 1;
        }
    }

    // A count as setup reads it; reports and gives nothing when it is no count.
    std::optional<long> count(std::string_view section, std::string_view key, bool required) {
        const Entry* e = find(section, key);
        if (!e || e->value.empty()) {
            if (required)
                error(line_of(section, key), std::string(key) +
                                                 " is missing: the install run "
                                                 "stops with a type mismatch");
            return std::nullopt;
        }
        const auto v = setup::numeric_value(e->value);
        if (!v || *v < 0 || *v > 32767 || *v != std::floor(*v)) {
            error(e->line, std::string(key) + "=" + e->value + " is no count");
            return std::nullopt;
        }
        return static_cast<long>(*v);
    }

    // Entries lo..hi (inclusive) must hold each required key; no indexed key may lie outside.
    void entries(std::string_view section, std::string_view count_key, long n, long lo, long hi,
                 const std::vector<std::string>& required, const std::vector<std::string>& stems) {
        const int count_line = line_of(section, count_key);
        const std::string said =
            std::string(count_key) + (n < 0 ? " (not set)" : "=" + std::to_string(n));
        int reported = 0;
        for (long i = lo; i <= hi && reported < 20; ++i) {
            std::string missing;
            for (const auto& stem : required)
                if (value(section, stem + std::to_string(i)).empty())
                    missing += (missing.empty() ? "" : ", ") + stem + std::to_string(i);
            if (missing.empty()) continue;
            error(count_line, said + ", but " + missing + " is missing or empty");
            ++reported;
        }
        auto s = sections_.find(lower(std::string(section)));
        if (s == sections_.end()) return;
        for (const Entry& e : s->second.entries) {
            for (const auto& stem : stems) {
                const long i = index_of(e.key, stem);
                // index_of("DateiN3", "Datei") is -1: only digits may follow the stem.
                if (i < 0 || (i >= lo && i <= hi)) continue;
                error(e.line, e.key + " lies beyond " + said + ": setup never reads it");
            }
        }
    }

    void counted(std::string_view section, std::string_view count_key, long first,
                 const std::vector<std::string>& required, const std::vector<std::string>& stems) {
        const Entry* e = find(section, count_key);
        long n = 0;
        if (e && !e->value.empty() && e->value != "0") {
            auto c = count(section, count_key, false);
            if (!c) return;
            n = *c;
        }
        entries(section, count_key, n, first, first + n - 1, required, stems);
    }

    // Product files: AnzahlDateien entries, from 0; each file must be in the source.
    void files() {
        const auto n = count("Dateien", "AnzahlDateien", true);
        if (!n) return;
        if (*n == 0)
            error(line_of("Dateien", "AnzahlDateien"),
                  "AnzahlDateien=0: the install run divides by it and stops");
        entries("Dateien", "AnzahlDateien", *n, 0, *n - 1, {"Datei", "DateiN"},
                {"Datei", "DateiN", "DateiReg", "DateiLog"});
        for (long i = 0; i < *n; ++i) {
            const Entry* name = find("Dateien", "DateiN" + std::to_string(i));
            if (!name || name->value.empty() || !windows_name_problem(name->value).empty())
                continue;
            if (find_source_file(source_, name->value).empty())
                error(name->line, "the product file " + name->value + " is not in the source");
            const std::string folder = value("Dateien", "Datei" + std::to_string(i));
            std::string in_folder = lower(folder);
            while (!in_folder.empty() && in_folder.back() == '\\') in_folder.pop_back();
            installed_paths_.insert(in_folder + "\\" + lower(name->value));
            const std::string base = "#InstallPath#";
            if (folder.rfind(base, 0) == 0) {
                std::string rest = folder.substr(base.size());
                while (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
                installed_.insert(lower(rest.empty() ? name->value : rest + "\\" + name->value));
            }
        }
    }

    // Fonts: Font0 up to and including Font<AnzFonts>, each a file the install folder receives.
    void fonts() {
        const Entry* e = find("Fonts", "AnzFonts");
        if (!e || e->value.empty()) {
            entries("Fonts", "AnzFonts", -1, 0, -1, {}, {"Font"});
            return;
        }
        const auto n = count("Fonts", "AnzFonts", false);
        if (!n) return;
        entries("Fonts", "AnzFonts", *n, 0, *n, {"Font"}, {"Font"});
        for (long j = 0; j <= *n; ++j) {
            const Entry* font = find("Fonts", "Font" + std::to_string(j));
            if (!font || font->value.empty()) continue;
            if (!installed_.count(lower(font->value)))
                error(font->line, "the font " + font->value +
                                      " is no product file installed into #InstallPath#");
        }
    }

    void main_keys() {
        for (const char* key : {"ProduktName", "InstallPath", "ProgrammGruppe"})
            if (value("Main", key).empty())
                warning(line_of("Main", key), std::string("[Main] ") + key + " is empty");
    }

    // What the windowed setup loads: a missing one ends it with a runtime error.
    void resources() {
        auto present = [&](const char* name) { return !find_source_file(source_, name).empty(); };
        if (!present("background.jpg"))
            error(0, "background.jpg is missing: the progress window cannot open");
        for (const char* name : {"Wizard.jpg", "button.bmp"})
            if (!present(name)) error(0, std::string(name) + " is missing: the wizard needs it");
        if (!value("Main", "Logo").empty() && !present("logo.dat"))
            error(line_of("Main", "Logo"),
                  "Logo is set, but logo.dat is missing: the progress window cannot open");
        licence();
    }

    // Shortcuts that a desktop would not show or that would start nothing.
    void links() {
        const Entry* e = find("Links", "AnzLinks");
        if (!e || e->value.empty()) return;
        const auto n = count("Links", "AnzLinks", false);
        if (!n) return;
        for (long i = 1; i <= *n; ++i) {
            const std::string idx = std::to_string(i);
            if (const Entry* name = find("Links", "LinkT" + idx);
                name && !name->value.empty() && !name->value.ends_with(".desktop"))
                warning(name->line, name->key + "=" + name->value +
                                        " does not end in .desktop: desktop menus ignore it");
            for (const char* stem : {"LinkN", "LinkI"}) {
                const Entry* path = find("Links", stem + idx);
                if (!path || path->value.empty() || will_exist(path->value)) continue;
                warning(path->line, path->key + "=" + path->value +
                                        (std::string_view(stem) == "LinkN"
                                             ? ": no file entry installs it, and it is no system "
                                               "path: the shortcut starts nothing"
                                             : ": no file entry installs this picture, and it is "
                                               "no system path: the shortcut gets none"));
            }
            if (const Entry* c = find("Links", "LinkK" + idx); c && !c->value.empty())
                categories(*c);
        }
    }

    // A path that a file entry installs, the uninstaller setup places, or one outside the
    // product (a system path: another placeholder or an absolute path).
    bool will_exist(const std::string& path) const {
        const std::string p = lower(path);
        if (installed_paths_.count(p)) return true;
        if (value("Main", "Uninstall") == "1" && p == "#installpath#\\uninstall.exe") return true;
        if (p.rfind("#installpath#", 0) == 0 || p.rfind("#programgroup#", 0) == 0 ||
            p.rfind("#desktop#", 0) == 0)
            return false;
        const bool absolute =
            (p.size() > 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') ||
            p[0] == '\\' || p[0] == '/';
        return absolute || p[0] == '#';
    }

    // LinkK<n>: the menu categories, registered names or "X-" ones, each ended by ";".
    void categories(const Entry& e) {
        static const std::set<std::string> known = {
            "AudioVideo",     "Audio",        "Video",         "Development",
            "Education",      "Game",         "Graphics",      "Network",
            "Office",         "Science",      "Settings",      "System",
            "Utility",        "Email",        "Archiving",     "Accessibility",
            "Calculator",     "Clock",        "Compression",   "ContactManagement",
            "Database",       "Dictionary",   "Documentation", "FileManager",
            "FileTools",      "FileTransfer", "Finance",       "Monitor",
            "PackageManager", "Presentation", "Printing",      "Project",
            "Publishing",     "Security",     "Spreadsheet",   "TerminalEmulator",
            "TextEditor",     "TextTools",    "Viewer",        "WebBrowser",
            "WordProcessor",  "Calendar",     "Chat",          "Scanning",
            "Photography"};
        std::string_view rest = e.value;
        while (!rest.empty()) {
            const auto semi = rest.find(';');
            const std::string name(rest.substr(0, semi));
            if (!name.empty() && !known.count(name) && name.rfind("X-", 0) != 0)
                warning(e.line, e.key + ": \"" + name +
                                    "\" is no registered menu category; use one such as Office, "
                                    "Utility or Network, or an X- name");
            if (semi == std::string_view::npos) break;
            rest.remove_prefix(semi + 1);
        }
    }

    void licence() {
        const bool shown = value("Forms", "frmLizenz") != "0";
        const std::string path = find_source_file(source_, "Lizenz.rtf");
        if (path.empty()) {
            if (shown)
                error(line_of("Forms", "frmLizenz"),
                      "Lizenz.rtf is missing: the licence page has nothing to show");
            return;
        }
        const std::string rtf = slurp(path);
        if (trim(rtf).rfind("{\\rtf", 0) != 0) {
            error(0, "Lizenz.rtf is no RTF file (it does not begin with {\\rtf)");
            return;
        }
        int depth = 0;
        for (std::size_t i = 0; i < rtf.size(); ++i) {
            if (rtf[i] == '\\')
                ++i;
            else if (rtf[i] == '{')
                ++depth;
            else if (rtf[i] == '}')
                --depth;
        }
        if (depth != 0) warning(0, "Lizenz.rtf has unbalanced braces: it may be cut off");
        // The text the licence page shows: the reader's HTML without its tags.
        const std::string html = setup::rtf_to_html(rtf);
        bool in_tag = false, text = false;
        for (std::size_t i = 0; i < html.size() && !text; ++i) {
            const char c = html[i];
            if (c == '<')
                in_tag = true;
            else if (c == '>')
                in_tag = false;
            else if (!in_tag && c == '&')
                i = std::min(html.find(';', i), html.size());
            else if (!in_tag && !std::isspace(static_cast<unsigned char>(c)))
                text = true;
        }
        if (!text) error(0, "the RTF reader finds no text in Lizenz.rtf");
    }

    std::string source_;
    CheckReport& out_;
    std::map<std::string, Section> sections_;
    std::set<std::string> installed_;        // lower relative paths below #InstallPath#
    std::set<std::string> installed_paths_;  // lower full paths of every file entry, unexpanded
};

}  // namespace

bool CheckReport::has_errors() const {
    return std::any_of(problems.begin(), problems.end(),
                       [](const Problem& p) { return p.severity == Severity::Error; });
}

CheckReport check_source(const std::string& source) {
    CheckReport report;
    Checker(source, report).run();
    std::stable_sort(report.problems.begin(), report.problems.end(),
                     [](const Problem& a, const Problem& b) { return a.line < b.line; });
    return report;
}

std::string format_problem(const CheckReport& report, const Problem& problem) {
    std::string where = report.script.empty() ? std::string("Setup.INX") : report.script;
    if (problem.line > 0) where += ":" + std::to_string(problem.line);
    return where + (problem.severity == Severity::Error ? ": error: " : ": warning: ") +
           problem.message;
}

}  // namespace mkpackage
