#pragma once
// The folder list of the folder chooser without its window: the open folder's ancestors from the
// drive root down, then its subfolders, each with its Windows path.
#include <string>
#include <vector>

namespace setup {

struct FolderEntry {
    std::string text;  // what the list shows: a root's host path ("/"), else the folder's name
    std::string path;  // Windows path; a root keeps its backslash ("D:\")
    int level;         // indent: 0 for the root
    bool open;         // an ancestor of (or) the open folder
};

// Throws platform::Error (68) when the drive of `path` is not ready.
std::vector<FolderEntry> folder_entries(const std::string& path);

// The root of the drive a Windows path lies on ("D:" or "D:\x" -> "D:\").
std::string drive_root(const std::string& drive);

// True when the drive's root can be listed.
bool drive_ready(const std::string& drive);

}  // namespace setup
