#pragma once
// A throw-away folder tree for the uninstaller's tests, with helpers to lay out and inspect it.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace uninstall::test {

struct TempTree : testsupport::TempDir {
    TempTree() : testsupport::TempDir("unins") {}

    std::string path(const std::string& rel) const { return rel.empty() ? host : host + "/" + rel; }
    std::string win(const std::string& rel) const { return platform::windows_path(path(rel)); }
    void mkdirs(const std::string& rel) const {
        std::system(("mkdir -p '" + path(rel) + "'").c_str());
    }
    void write(const std::string& rel, const std::string& bytes) const {
        testsupport::spit(path(rel), bytes);
    }
    bool exists(const std::string& rel) const {
        struct stat st;
        return ::lstat(path(rel).c_str(), &st) == 0;
    }
    std::string read(const std::string& rel) const { return testsupport::slurp(path(rel)); }
    // Every entry below rel (relative names, folders with a trailing "/") with file contents.
    std::map<std::string, std::string> listing(const std::string& rel = "") const {
        return testsupport::tree_listing(path(rel), {.folders = true, .links = false});
    }
};

// An uninstall log as the install run writes it: sections Dateien, Uninstall, Links, key by
// key, Windows-1252 with CR LF. Counts are left out when given as nullptr.
struct LogLayout {
    std::vector<std::string> files;   // Datei0...
    const char* file_count = "auto";  // AnzDatei; "auto" = files.size() - 1
    std::string title = "Beispiel 1.0";
    std::string group;               // GroupName
    std::vector<std::string> links;  // Link1...
    const char* link_count = "auto";
    // OrdnerAngelegt: "1" as setup writes it for a folder it created; nullptr leaves the key out.
    const char* folder_created = "1";
    std::vector<std::string> folders;  // Ordner1... with AnzOrdner
};

inline std::string log_text(const LogLayout& layout) {
    std::string t = "[Dateien]\r\n";
    for (std::size_t i = 0; i < layout.files.size(); ++i)
        t += "Datei" + std::to_string(i) + "=" + layout.files[i] + "\r\n";
    if (layout.file_count) {
        t += "AnzDatei=" +
             (std::string(layout.file_count) == "auto"
                  ? std::to_string(static_cast<int>(layout.files.size()) - 1)
                  : std::string(layout.file_count)) +
             "\r\n";
    }
    t += "[Uninstall]\r\nTitel=" + layout.title + "\r\n";
    if (layout.folder_created) t += "OrdnerAngelegt=" + std::string(layout.folder_created) + "\r\n";
    if (!layout.folders.empty()) {
        t += "[Ordner]\r\n";
        for (std::size_t j = 0; j < layout.folders.size(); ++j)
            t += "Ordner" + std::to_string(j + 1) + "=" + layout.folders[j] + "\r\n";
        t += "AnzOrdner=" + std::to_string(layout.folders.size()) + "\r\n";
    }
    t += "[Links]\r\n";
    if (!layout.group.empty()) t += "GroupName=" + layout.group + "\r\n";
    for (std::size_t j = 0; j < layout.links.size(); ++j)
        t += "Link" + std::to_string(j + 1) + "=" + layout.links[j] + "\r\n";
    if (layout.link_count) {
        t += "AnzLinks=" +
             (std::string(layout.link_count) == "auto" ? std::to_string(layout.links.size())
                                                       : std::string(layout.link_count)) +
             "\r\n";
    }
    return platform::utf8_to_cp1252(t);
}

}  // namespace uninstall::test
