#pragma once
// Windows paths on a Linux host. C: is the root file system "/"; mounted removable, optical and
// network file systems get D:, E:, ... in mount order; a UNC name \\srv\share\rest reaches a
// mounted share of that server (cifs, nfs, sshfs, gvfs). "/" is accepted as a separator. When a
// path does not exist exactly, each component is looked up without regard to case.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One line of the mount table (/proc/self/mounts format, octal escapes already decoded).
struct MountEntry {
    std::string device;       // "/dev/sr0", "//srv/share", "srv:/export"
    std::string mount_point;  // host path
    std::string fs_type;      // "iso9660", "cifs", ...
    std::string options;
};

// Parses mount table text (one mount a line: device, mount point, type, options, ...).
std::vector<MountEntry> parse_mount_table(std::string_view text);

// The mount table is read through this one function: by default /proc/self/mounts. Tests feed
// fixture text; an empty function restores the default.
void set_mount_table_source(std::function<std::string()> source);
std::vector<MountEntry> mount_table();

// Whether a block device ("/dev/sdb1") is marked removable. Default: the kernel's sysfs flag.
// Tests install their own; an empty function restores the default.
void set_removable_probe(std::function<bool(const std::string& device)> probe);

// A drive letter and what it stands for.
struct Drive {
    char letter;       // 'C', 'D', ...
    std::string root;  // host mount point ("/" for C:)
    std::string fs_type;
    std::string device;
    unsigned int type;  // a GetDriveTypeA code
};

// C: first, then the lettered mounts in mount order.
std::vector<Drive> drive_letters();

// What a folder chooser offers where a Windows one offers drive letters, as a desktop file
// dialog does: the file system, the home folder, then each lettered volume (removable, optical,
// network) in mount order.
struct Place {
    std::string text;   // the host path shown ("/", "/home/anna", "/media/anna/STICK")
    std::string path;   // its Windows path ("C:\\", "C:\\home\\anna", "D:\\")
    unsigned int type;  // its drive kind (DriveType)
};
std::vector<Place> places();
// The place that holds a Windows path most closely (0, the file system, when none does).
std::size_t place_of(const std::vector<Place>& places, std::string_view windows_path);

// Windows path -> host path. Relative paths are taken from the current folder. When the exact
// path does not exist, components are matched case-insensitively (the first missing one and
// those after it are kept as given). Returns "" when the path cannot be mapped (a drive letter
// or UNC share that is not mounted).
std::string host_path(std::string_view windows_path);

// Host path -> Windows path ("/home/anna" -> "C:\home\anna"; a path on a lettered mount gets
// its letter; a path inside a gvfs share gets its UNC form). Relative host paths are taken from
// the current folder.
std::string windows_path(std::string_view host_path);

// The two directions where a person meets a path. The programs work on Windows paths inside;
// a person reads and types host paths. `shown_path` gives the host form of a Windows path for
// any text a person reads ("C:\home\anna\Ablage\" -> "/home/anna/Ablage/"; a trailing
// separator stays, so a folder still reads as one). Any other name keeps its text with "/"
// separators: a network name ("//srv/daten/x/"), relative names, a script's placeholders.
std::string shown_path(std::string_view windows_path);
// What a person typed, in either form, as the Windows path the programs work on: "/x/y",
// "~/x" and "C:\x\y" alike; a trailing separator stays. Other text (relative, empty) is
// returned unchanged, for the caller's own rules to judge.
std::string typed_path(std::string_view text);

// The link to a file that a mail carries: a file URL of the host path, as the desktop opens it
// (RFC 8089, "file://" + the absolute path; every byte but letters, digits, "-._~" and "/"
// percent-encoded, so blanks, umlauts, "#" and "%" survive mail clients' link detection).
std::string file_url(std::string_view windows_path);
// Every byte but letters, digits and "-._~" percent-encoded; "/" too unless `keep_slashes`
// (a host path in a URL keeps its separators).
std::string percent_encoded(std::string_view text, bool keep_slashes = true);

// The Windows path a link names: a file URL (file:///..., file://localhost/..., file:/...;
// percent-decoded) or the older form "file:" + a Windows path ("file:C:\Ablage\x.pdf").
// Nothing when the text is no file link.
std::optional<std::string> file_link_target(std::string_view link);

// The folder of the running program, as a Windows path without a trailing backslash (a drive
// root keeps its backslash, "C:\"). Tests may set it; "" restores the real folder.
std::string app_path();
void set_app_path(std::string windows_path);

// GetDriveTypeA codes.
enum DriveType : unsigned int {
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1,
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6,
};

// Kind of the file system that holds the path (a root such as "D:\" or any path below it);
// DRIVE_NO_ROOT_DIR for a path that does not exist or cannot be mapped.
unsigned int GetDriveTypeA(std::string_view root_path);

// Result codes of WNetGetConnectionA.
enum : long {
    NO_ERROR = 0,
    ERROR_MORE_DATA = 234,
    ERROR_BAD_DEVICE = 1200,
    ERROR_NOT_CONNECTED = 2250,
};

// The remote name ("\\srv\share") behind a network drive ("N:"), with the Windows buffer
// protocol: when remote_name is null or *length is too small, *length receives the size needed
// (including the NUL) and the result is ERROR_MORE_DATA; otherwise the name and a NUL are
// copied and the result is NO_ERROR. A local or unknown drive gives ERROR_NOT_CONNECTED.
long WNetGetConnectionA(std::string_view local_name, char* remote_name, unsigned long* length);

// The same, without the buffer protocol: the remote name or nothing.
std::optional<std::string> network_connection(std::string_view local_name);

// True exactly when the path is an existing directory.
bool PathIsDirectoryA(std::string_view path);

// Linux has no 8.3 names: an existing path comes back unchanged, a missing one gives "".
std::string GetShortPathNameA(std::string_view long_path);

}  // namespace platform
