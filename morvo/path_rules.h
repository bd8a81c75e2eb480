// The storage path rules shared by "Speichern" and the run: UNC form, the blank rule, the
// trailing backslash, existence and the drive kind, and the boxes and texts each outcome shows.
// The platform calls come in through PathProbe so the rules can be tested with any drive kind.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/msgbox.h"

namespace morvo {

struct PathProbe {
    // The directory search (directories included): the first name found or "". Throws
    // platform::Error when the search itself fails (for instance a drive without medium).
    std::function<std::string(const std::string&)> dir_search;
    // ist_verzeichnis: true when the platform reports the path as an existing directory.
    std::function<bool(const std::string&)> is_directory;
    // GetDriveTypeA for the path with its trailing backslash (a platform::DriveType).
    std::function<int(const std::string&)> drive_type;
};

// The probe over the platform layer.
PathProbe platform_probe();

bool is_unc(std::string_view path);
bool has_blank(std::string_view path);
std::string with_trailing_backslash(std::string_view path);

// The reason text after the path for the accepted drive kinds 2, 4, 3 (empty otherwise).
std::string accepted_drive_text(int kind);

struct Box {
    std::string title;  // empty: the program title
    std::string text;
    platform::Icon icon = platform::Icon::None;
};

Box unc_error_box(std::string_view path);
Box blank_box_save(std::string_view path);
Box blank_box_run(std::string_view path);
Box cdrom_box(std::string_view path);
Box ramdisk_box(std::string_view path);
Box missing_dir_box(std::string_view path);  // failure path F1

inline constexpr std::string_view kNotSaved =
    "Daten wurden - NICHT - gespeichert! Bitte korrigieren";
inline constexpr std::string_view kSaved = "Daten wurden gespeichert!";
inline constexpr std::string_view kUncInvalidStatus =
    "Ungültiger UNC-Pfad! Bitte ändern und Speichern";

// The decision of "Speichern" before anything is written (saving steps 2 to 8, F1).
struct SaveDecision {
    enum class Outcome {
        accept,   // write the file with `path`
        refuse,   // show `box` (if any), then `status`
        fail_f1,  // set `status`, then show `box`
    };
    Outcome outcome = Outcome::refuse;
    std::optional<Box> box;
    std::string status;  // status bar text for refuse/fail_f1
    std::string path;    // on accept: the path with its trailing backslash
    bool focus_text3 = false;
};
SaveDecision decide_save(bool unc_mode, std::string_view path, const PathProbe& probe);

// The run's test of the storage path, before any folder line is read.
struct RunPathDecision {
    bool go_on = false;
    std::optional<Box> box;
    std::string closing_status;
};
RunPathDecision decide_run_path(std::string_view path, const PathProbe& probe);

// netzpfad_ermitteln: the remote name behind the path's drive letter, or "".
std::string netzpfad_ermitteln(std::string_view path);

}  // namespace morvo
