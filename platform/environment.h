#pragma once
// The Windows environment variables the programs read. A variable set in the process
// environment wins (name matched without regard to case; a host path such as TEMP=/tmp/x comes
// back in Windows form, C:\tmp\x); otherwise the Linux counterpart:
//   "TEMP"/"TMP"     TMPDIR, else /tmp
//   "AppData"        XDG_CONFIG_HOME, else ~/.config
//   "Username"       USER, LOGNAME, else the password database
//   "Computername"   the host name (up to its first dot)
//   "Homedrive"      C:
//   "Homepath"       the home folder without its drive; "UserProfile" with it
//   "ProgramFiles"   /opt for root, ~/.local/opt for a user
//   "WinDir"         unset unless set
// Unknown names: the process environment as it is, else "".

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string Environ(std::string_view name);

// What the layer knows of the host. Tests inject their own.
struct HostEnvironment {
    std::map<std::string, std::string> variables;  // the process environment, host names
    bool is_root = false;
    std::string host_name;
    std::string login_name;  // from the password database
    std::string home;        // from the password database (HOME wins when set)
};

HostEnvironment current_host_environment();

// The user's folders on the host, as the desktop names them: HOME (else the password
// database), XDG_CONFIG_HOME and XDG_DATA_HOME (else their places in the home), and the desktop
// from XDG_DESKTOP_DIR in user-dirs.dirs (else ~/Desktop). Without a home, what would lie in it
// is "".
struct UserFolders {
    std::string home, config, data, desktop;
};
UserFolders user_folders(const HostEnvironment& env);
// std::nullopt restores the real process.
void set_host_environment(std::optional<HostEnvironment> env);

// One Windows variable forced to a value (Windows or host form) or, with std::nullopt, removed
// again. For tests and callers that need a private TEMP.
void set_environ_override(std::string_view name, std::optional<std::string> value);
void clear_environ_overrides();

}  // namespace platform
