#include "morvo/settings.h"

namespace morvo {

std::string settings_file_path(std::string_view program_folder) {
    std::string p(program_folder);
    // A drive root such as "C:\" already ends in the separator.
    if (p.size() == 3) return p + "morvo.ini";
    return p + "\\morvo.ini";
}

std::string settings_file_text(std::string_view storage_path,
                               const std::vector<std::string>& folder_lines) {
    std::string out;
    out.reserve(64 + storage_path.size() + folder_lines.size() * 32);
    out += kSectionPath;
    out += "\r\n";
    out += storage_path;
    out += "\r\n\r\n";
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

StartupSettings parse_startup_settings(std::string_view text) {
    StartupSettings s;
    auto fields = read_fields(text);
    for (size_t k = 0; k < fields.size(); ++k) {
        if (fields[k] == kSectionPath) {
            if (k + 1 < fields.size()) {
                s.has_storage_path = true;
                s.storage_path = fields[k + 1];
            }
            break;
        }
    }
    for (size_t k = 0; k < fields.size(); ++k) {
        if (fields[k] == kSectionFolders) {
            s.folder_lines.assign(fields.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                                  fields.end());
            break;
        }
    }
    return s;
}

RunSettings parse_run_settings(std::string_view text) {
    RunSettings s;
    auto lines = read_lines(text);
    for (size_t k = 0; k < lines.size(); ++k) {
        if (lines[k] == kSectionPath) {
            if (k + 1 < lines.size()) {
                s.has_storage_path = true;
                s.storage_path = lines[k + 1];
            }
            break;
        }
    }
    for (size_t k = 0; k < lines.size(); ++k) {
        if (lines[k] == kSectionFolders) {
            s.folder_lines.assign(lines.begin() + static_cast<std::ptrdiff_t>(k) + 1, lines.end());
            break;
        }
    }
    return s;
}

}  // namespace morvo
