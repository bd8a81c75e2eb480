// SHFileOperationA: the shell's file operation on a list of paths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Operations (wFunc).
inline constexpr unsigned FO_MOVE = 0x1;
inline constexpr unsigned FO_COPY = 0x2;
inline constexpr unsigned FO_DELETE = 0x3;
inline constexpr unsigned FO_RENAME = 0x4;

// Flags (fFlags).
inline constexpr unsigned FOF_SILENT = 0x4;
inline constexpr unsigned FOF_NOCONFIRMATION = 0x10;
inline constexpr unsigned FOF_ALLOWUNDO = 0x40;
inline constexpr unsigned FOF_SIMPLEPROGRESS = 0x100;
inline constexpr unsigned FOF_NOERRORUI = 0x400;

// Results other than 0 (the codes the shell reports).
inline constexpr int ERROR_FILE_NOT_FOUND = 0x2;  // a listed path does not exist
inline constexpr int DE_ACCESSDENIEDSRC = 0x78;   // something could not be deleted
inline constexpr int DE_INVALIDFILES = 0x7C;      // empty list, unmappable or refused path
inline constexpr int DE_OPCANCELLED = 0x75;       // an operation this layer does not offer

// The published record. pFrom is a list of Windows paths, each ended by one NUL, the list ended
// by one more NUL (a std::string holding the NULs). Texts are UTF-8 here; the layer converts.
struct SHFILEOPSTRUCT {
    std::int32_t hwnd = 0;
    unsigned wFunc = 0;
    std::string pFrom;
    std::string pTo;
    unsigned fFlags = 0;
    bool fAnyOperationsAborted = false;
    std::string lpszProgressTitle;
};

// Only FO_DELETE is offered, the one operation the programs use; others give DE_OPCANCELLED.
// FO_DELETE removes each listed file, or folder with everything in it. A wildcard (* ?) in the
// last component selects the matching entries. Without FOF_ALLOWUNDO the removal is permanent;
// with it, entries go to the desktop's trash. Like the original, a file that a running process
// executes cannot be deleted: it and its folders stay, the rest goes, and the result is not 0.
// System folders (is_system_folder) are refused as a whole. Nothing is ever shown to the user
// here, whatever the flags say. Symbolic links are removed, never followed. Every listed path is
// tried even after one failed; the result is that of the first failure, 0 when all went.
int SHFileOperationA(SHFILEOPSTRUCT& op);

// True for folders whose wholesale removal would wreck the system or the user's data: a drive
// root (also as a bare "C:"), the root of a network share, the user's home folder, the
// top-level folders of the file system, the folders the environment names (temporary folder,
// application data, program files, Windows folder, desktop, start menu) and every folder that
// contains one of these. Host-specific knowledge lives here so that callers stay portable.
bool is_system_folder(std::string_view windows_path);

// DeleteFileA: deletes exactly the one file the Windows path names (no wildcards, never a
// folder). Fails, as on Windows, for a missing file, a read-only file and the program image of
// a running process. True on success.
bool DeleteFileA(std::string_view path);

// True when the file at this Windows path is the program image of a running process (which
// the original platform keeps from being deleted).
bool file_in_use_as_program(std::string_view windows_path);

}  // namespace platform
