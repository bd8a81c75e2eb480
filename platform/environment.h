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

#include <functional>
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

// The injected environment when a test set one (set_host_environment), else the real process.
HostEnvironment current_host_environment();

// The user's folders on the host, as the desktop names them: HOME (else the password
// database), XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_STATE_HOME (else their places in the home),
// and the desktop from XDG_DESKTOP_DIR in user-dirs.dirs (else ~/Desktop). Without a home, what
// would lie in it is "".
struct UserFolders {
    std::string home, config, data, state, desktop;
};
UserFolders user_folders(const HostEnvironment& env);

// Where what is installed for all users is found (the "all users" folders): the first absolute
// entry of XDG_DATA_DIRS, else /usr/local/share. Its "applications" folder holds the menu that
// every user sees.
std::string system_data_folder(const HostEnvironment& env);
// Where the running program keeps a file of its own (Windows form). Its program folder
// (app_path()) when this user may write there. Otherwise, as for a program installed for all
// users, the user's own folder of that kind, named after the product and made when asked for:
// settings in XDG_CONFIG_HOME\<product>, logs in XDG_STATE_HOME\<product> (without a home,
// the program folder again).
enum class ProgramData { Settings, Logs };
std::string program_data_folder(ProgramData kind, std::string_view product);
// Whether this user may write into a host folder: access(2) by default. Tests replace it, since
// root may write anywhere; an empty function restores the default.
void set_folder_writable_probe(std::function<bool(const std::string& host_folder)> probe);

// std::nullopt restores the real process.
void set_host_environment(std::optional<HostEnvironment> env);

// One Windows variable forced to a value (Windows or host form) or, with std::nullopt, removed
// again. For tests and callers that need a private TEMP.
void set_environ_override(std::string_view name, std::optional<std::string> value);
void clear_environ_overrides();

}  // namespace platform
