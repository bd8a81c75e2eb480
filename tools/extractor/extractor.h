// The package extractor: unpacks a cabinet into a folder or one of its files to a target.
// Command lines (Windows paths, possibly split at blanks because they arrive unquoted):
//   extractor CABINET FOLDER\*.* -d -i       every file into FOLDER
//   extractor CABINET FOLDER\NAME -d -i -ox  the file NAME to FOLDER\NAME, replacing it
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace extractor {

struct Request {
    std::string cabinet;  // host path of the cabinet
    std::string folder;   // host path of the target folder
    std::string name;     // the file to extract (one-file form); empty: every file
    std::string target;   // the target as given (Windows form)
};

// Maps a Windows path onto the host: "C:\x\y" is "/x/y", "\x" is "/x", backslashes become
// slashes, and a component that does not exist exactly is looked up without regard to case.
// Other drives and UNC names go through the platform layer's mount table; std::nullopt when
// they are not mounted.
std::optional<std::string> host_path(std::string_view windows_path);

// Rebuilds the request from the argument tokens. The switches are the trailing tokens of the
// form -letters; the rest is split into cabinet and target at the first point where the
// tokens before it, joined with blanks, name an existing file (`is_file` gets host paths).
// On failure returns std::nullopt and sets `error`.
std::optional<Request> parse_command_line(const std::vector<std::string>& tokens,
                                          const std::function<bool(const std::string&)>& is_file,
                                          std::string& error);

// False for names that could leave the target folder: empty names, absolute names, names with
// a drive or a colon, ".." components, empty components and control characters.
bool is_safe_entry_name(std::string_view name);

// How well a cabinet entry answers a one-file request for `target` (a path): 0 not at all;
// 1 when only the last parts agree; 2 + the number of parts when the whole entry name equals
// the end of the target ("sub\b.txt" for "C:\x\sub\b.txt"). The best rank is extracted.
int match_rank(std::string_view entry, std::string_view target);

// Windows-style comparison of file names: ASCII and Latin-1 letters without regard to case.
bool names_equal(std::string_view a, std::string_view b);

// Converts a Windows-1252 name (a cabinet entry without the UTF-8 flag) to UTF-8.
std::string cp1252_name_to_utf8(std::string_view name);

// The whole program: parses, extracts, prints failures to stderr; returns the exit status
// (0 done, 1 failed, 2 wrong command line).
int run(const std::vector<std::string>& tokens);

}  // namespace extractor
