#include "morvo/settings.h"

#include "platform/paths.h"

#include <algorithm>

namespace morvo {

std::string settings_file_path(std::string_view program_folder) {
    std::string p(program_folder);
    // A drive root such as "C:\" already ends in the separator.
    if (p.size() == 3) return p + "morvo.ini";
    return p + "\\morvo.ini";
}

std::string settings_file_text(std::string_view storage_path,
                               const std::vector<std::string>& folder_lines, bool long_extensions) {
    std::string out;
    out.reserve(64 + storage_path.size() + folder_lines.size() * 32);
    out += kSectionPath;
    out += "\r\n";
    out += storage_path;
    out += "\r\n\r\n";
    if (long_extensions) {
        out += kSectionRules;
        out += "\r\n";
        out += kKeyLongExtensions;
        out += "=1\r\n\r\n";
    }
    out += kSectionFolders;
    out += "\r\n";
    for (const auto& line : folder_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

namespace {

bool is_line_end(char c) {
    return c == '\r' || c == '\n';
}

// Moves past one line end (CR LF, CR or LF).
size_t skip_line_end(std::string_view t, size_t i) {
    if (i < t.size() && t[i] == '\r') ++i;
    if (i < t.size() && t[i] == '\n') ++i;
    return i;
}

}  // namespace

std::vector<std::string> read_fields(std::string_view t) {
    std::vector<std::string> fields;
    size_t i = 0;
    const size_t n = t.size();
    while (i < n) {
        while (i < n && (t[i] == ' ' || t[i] == '\t')) ++i;
        std::string field;
        if (i < n && t[i] == '"') {
            size_t close = t.find('"', i + 1);
            if (close == std::string_view::npos) close = n;
            field.assign(t.substr(i + 1, close - i - 1));
            i = close < n ? close + 1 : n;
            // Whatever follows the closing quote up to the delimiter is not part of the field.
            while (i < n && t[i] != ',' && !is_line_end(t[i])) ++i;
        } else {
            size_t start = i;
            while (i < n && t[i] != ',' && !is_line_end(t[i])) ++i;
            field.assign(t.substr(start, i - start));
        }
        fields.push_back(std::move(field));
        if (i < n) {
            if (t[i] == ',') {
                ++i;
                // A comma right before the end of the text still leaves one empty field.
                if (i == n) fields.emplace_back();
            } else {
                i = skip_line_end(t, i);
            }
        }
    }
    return fields;
}

std::vector<std::string> read_lines(std::string_view t) {
    std::vector<std::string> lines;
    size_t i = 0;
    const size_t n = t.size();
    while (i < n) {
        size_t start = i;
        while (i < n && !is_line_end(t[i])) ++i;
        lines.emplace_back(t.substr(start, i - start));
        i = skip_line_end(t, i);
    }
    return lines;
}

namespace {

std::string_view trimmed(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return v;
}

// The unit after the storage path's section name, and every unit after the folder section's
// name: both readers look for them the same way, in fields or in lines.
template <class Settings>
Settings settings_from(const std::vector<std::string>& units) {
    Settings s;
    const auto path = std::find(units.begin(), units.end(), kSectionPath);
    if (path != units.end() && path + 1 != units.end()) {
        s.has_storage_path = true;
        // A person may write the host form ("/home/anna/Ablage/"); the programs work on the
        // Windows form, which files written before hold already.
        s.storage_path = platform::typed_path(*(path + 1));
    }
    const auto folders = std::find(units.begin(), units.end(), kSectionFolders);
    if (folders != units.end())
        s.folder_lines.assign(folders + 1, std::find(folders + 1, units.end(), kSectionRules));
    const auto rules = std::find(units.begin(), units.end(), kSectionRules);
    for (auto u = rules; u != units.end() && u + 1 != units.end(); ++u) {
        const std::string_view unit = *(u + 1);
        if (unit.starts_with('[')) break;  // the next section
        const size_t eq = unit.find('=');
        if (eq != std::string_view::npos && trimmed(unit.substr(0, eq)) == kKeyLongExtensions)
            s.long_extensions = trimmed(unit.substr(eq + 1)) == "1";
    }
    return s;
}

}  // namespace

StartupSettings parse_startup_settings(std::string_view text) {
    return settings_from<StartupSettings>(read_fields(text));
}

RunSettings parse_run_settings(std::string_view text) {
    return settings_from<RunSettings>(read_lines(text));
}

}  // namespace morvo
