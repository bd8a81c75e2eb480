#include "setup/folder_list.h"

#include <algorithm>
#include <filesystem>

#include "platform/error.h"
#include "platform/paths.h"

namespace setup {
namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

std::string drive_root(const std::string& drive) {
    std::string d = drive.substr(0, 2);
    if (d.size() == 2 && d[1] == ':') {
        d[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(d[0])));
    }
    return d + "\\";
}

bool drive_ready(const std::string& drive) {
    std::error_code ec;
    std::filesystem::directory_iterator it(platform::host_path(drive_root(drive)), ec);
    return !ec;
}

std::vector<FolderEntry> folder_entries(const std::string& path) {
    if (path.size() < 2 || path[1] != ':') throw platform::Error(76, "Pfad nicht gefunden");
    std::string root = drive_root(path);
    if (!drive_ready(root)) throw platform::Error(68, "Gerät nicht verfügbar");

    std::vector<FolderEntry> out;
    out.push_back({platform::shown_path(root), root, 0, true});
    std::string rest = path.size() > 3 ? path.substr(3) : "";
    std::string current = root;
    int level = 0;
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) end = rest.size();
        std::string name = rest.substr(start, end - start);
        if (!name.empty()) {
            current = (current.back() == '\\' ? current : current + "\\") + name;
            out.push_back({name, current, ++level, true});
        }
        start = end + 1;
    }

    std::vector<std::string> children;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(platform::host_path(current), ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code dir_ec;
        if (!it->is_directory(dir_ec)) continue;
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        children.push_back(name);
    }
    std::sort(children.begin(), children.end(),
              [](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
    for (const auto& c : children) {
        out.push_back(
            {c, (current.back() == '\\' ? current : current + "\\") + c, level + 1, false});
    }
    return out;
}

}  // namespace setup
