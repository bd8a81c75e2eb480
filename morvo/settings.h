// The settings file "morvo.ini": where it lives, how it is written and the two ways it is read
// (field-wise at start-up, whole lines by the run). Texts here are UTF-8; the code page
// conversion happens where the bytes meet the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvo {

inline constexpr std::string_view kSectionPath = "[Pfad Ablage]";
inline constexpr std::string_view kSectionFolders = "[Pfad MS Outlook]";
// Optional, written before the folder section; it also ends the folder lines should a person
// put it after them. "LangeEndungen=1" files names with longer extensions too.
inline constexpr std::string_view kSectionRules = "[Ablageregeln]";
inline constexpr std::string_view kKeyLongExtensions = "LangeEndungen";

// sFile: the program folder plus "morvo.ini", without doubling the backslash of a drive root.
std::string settings_file_path(std::string_view program_folder);

// The folder that holds the settings file and the one that receives run logs: the program folder
// where this user may write there, else the user's XDG config and state folders ("morvolan").
std::string settings_folder();
std::string run_log_folder();

// The whole file, CR LF after every line: section, path, empty line, section, folder lines.
// With long_extensions the rules section and its key (and an empty line) come before the folder
// section; without it the file is exactly the five parts above.
std::string settings_file_text(std::string_view storage_path,
                               const std::vector<std::string>& folder_lines,
                               bool long_extensions = false);

// Field-wise reading: a field ends at a comma or a line end, leading blanks are skipped, a
// field that begins with a double quote runs to the next double quote.
std::vector<std::string> read_fields(std::string_view text);

// Whole-line reading: a line ends at CR LF (a lone CR or LF also ends one); commas stay.
std::vector<std::string> read_lines(std::string_view text);

// What the start-up reader takes from the fields of the file.
struct StartupSettings {
    bool has_storage_path = false;
    std::string storage_path;               // the field after the first "[Pfad Ablage]"
    std::vector<std::string> folder_lines;  // every field after "[Pfad MS Outlook]", undecoded
    bool long_extensions = false;           // "LangeEndungen=1" under "[Ablageregeln]"
};
StartupSettings parse_startup_settings(std::string_view text);

// What the run takes from the lines of the file.
struct RunSettings {
    bool has_storage_path = false;
    std::string storage_path;               // the whole line after "[Pfad Ablage]"
    std::vector<std::string> folder_lines;  // every line after "[Pfad MS Outlook]", undecoded
    bool long_extensions = false;           // "LangeEndungen=1" under "[Ablageregeln]"
};
RunSettings parse_run_settings(std::string_view text);

// File access at the boundary (Windows path). A file is read in its own form (UTF-8 or
// Windows-1252, platform::text_form_of) and write_text_file keeps an existing file's code page,
// byte-order mark and line end; a new file is UTF-8 with LF. read_settings_file returns
// false when the file cannot be read. write_settings_file writes a temporary file beside the
// target, flushes it and renames it over the target; it throws platform::Error on failure.
bool settings_file_exists(const std::string& windows_path);
bool read_settings_file(const std::string& windows_path, std::string& utf8_text);
void write_text_file(const std::string& windows_path, std::string_view utf8_text);

}  // namespace morvo
