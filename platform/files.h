#pragma once
// File statements on Windows paths, with Visual-Basic-like failures: each throws
// platform::Error with 53 (file not found), 75 (path/file access error), 76 (path not found)
// or 68 (device unavailable) where the statement fails.
//
// Attributes on Linux: read-only = the owner has no write permission; hidden = the name starts
// with a dot; directory = a folder; every other file carries the archive bit.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum FileAttribute : int {
    vbNormal = 0,
    vbReadOnly = 1,
    vbHidden = 2,
    vbSystem = 4,
    vbVolume = 8,
    vbDirectory = 16,
    vbArchive = 32,
};

// The first name (no folder) matching the pattern's last component (* and ?, case-insensitive;
// "*.*" matches every name), or "" when none. Plain files always qualify; folders only with
// vbDirectory (which also yields "." and ".." outside a drive root); hidden ones only with
// vbHidden. A pattern ending in a backslash searches everything in that folder. A missing
// folder gives ""; a drive that is not mounted throws 68.
std::string Dir(std::string_view pattern, int attributes = vbNormal);
// The next match of the last Dir(pattern, ...) on this thread, or "" at the end.
std::string Dir();

// Copies a file, replacing the target and keeping the run bit. 53 source missing, 76 target
// folder missing, 75 target read-only or a folder.
void FileCopy(std::string_view source, std::string_view destination);

// Deletes every file matching the pattern (wildcards in the last component). 53 when nothing
// matches, 75 for a read-only file, 76 when the folder is missing.
void Kill(std::string_view pattern);

// Creates one folder level. 75 when it exists, 76 when its parent is missing.
void MkDir(std::string_view path);

// Removes an empty folder. 75 when not empty, 76 when missing.
void RmDir(std::string_view path);

// Creates every folder of the path up to its last backslash (the part after it is a file name;
// pass a trailing backslash for a folder). True on success, also when everything exists.
bool MakeSureDirectoryPathExists(std::string_view path);

// Attribute bits (FileAttribute). 53 when missing.
int GetAttr(std::string_view path);
// Only the read-only bit has an effect. 53 when missing.
void SetAttr(std::string_view path, int attributes);

// Length in bytes. 53 when missing.
std::int64_t FileLen(std::string_view path);

// A file name against a pattern with "*" and "?", without regard to case, as the shell and the
// command interpreter match; "*.*" matches every name, with or without a dot.
bool wildcard_name_matches(std::string_view pattern, std::string_view name);

bool file_exists(std::string_view path);    // an existing non-folder
bool folder_exists(std::string_view path);  // an existing folder
bool path_exists(std::string_view path);    // either
// Any directory entry of that name (Windows path, or a host path starting with "/"): file, hidden
// file, folder, or a link (also a dangling one).
bool entry_exists(std::string_view path);
// An existing folder in which this process may create files.
bool folder_writable(std::string_view path);

// Whole-file helpers for the components that write their own files (settings, logs, batch).
// Bytes are written as given (convert with utf8_to_cp1252 first where a file is Windows-1252).
std::optional<std::string> read_file(std::string_view path);
// Writes the safe way: a temporary name in the same folder, flushed, then renamed over the
// target. Throws 76 when the folder is missing, 75 when it cannot be written.
void write_file(std::string_view path, std::string_view bytes);
// Creates a new file (Windows path, or host path starting with "/") holding the bytes, never
// replacing anything: throws 58 when any entry of
// that name exists (file, folder, link), 76 when the folder is missing, 61 when the disk is
// full, 75 otherwise. The bytes go to a temporary name in the same folder first, so the name
// never shows half a file; on failure only that temporary file is removed. Not flushed.
void create_new_file(std::string_view path, std::string_view bytes);
// Appends (creating the file). Throws like write_file.
void append_file(std::string_view path, std::string_view bytes);

}  // namespace platform
