#include "setup/placeholders.h"

#include "platform/environment.h"
#include "platform/paths.h"
#include "setup/script.h"
#include "setup/shell_link.h"

namespace setup {

namespace {

std::function<std::string()>& install_path_source() {
    static std::function<std::string()> source;
    return source;
}

long& owner_window() {
    static long hwnd = 0;
    return hwnd;
}

// Replaces every occurrence, left to right, without looking at the inserted text again.
std::string replace_all(const std::string& text, const std::string& what, const std::string& with) {
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t hit = text.find(what, pos);
        if (hit == std::string::npos) break;
        out.append(text, pos, hit - pos);
        out += with;
        pos = hit + what.size();
    }
    out.append(text, pos, std::string::npos);
    return out;
}

}  // namespace

void set_install_path_source(std::function<std::string()> source) {
    install_path_source() = std::move(source);
}

void set_owner_window(long hwnd) {
    owner_window() = hwnd;
}

std::string system_folder() {
    const auto env = platform::current_host_environment();
    if (env.is_root) return platform::windows_path("/usr/local/lib");
    auto it = env.variables.find("HOME");
    const std::string home =
        it != env.variables.end() && !it->second.empty() ? it->second : env.home;
    return platform::windows_path(home + "/.local/lib");
}

std::string ExpandPlaceholders(const std::string& Text) {
    cShellLink link;
    std::string folder;
    link.GetSystemFolderPath(owner_window(), mShellLink::CSIDL_PROGRAMS, folder);

    const std::string install = install_path_source() ? install_path_source()() : std::string();
    std::string s = replace_all(Text, "#InstallPath#", install);
    s = replace_all(s, "#WinSysDir#", system_folder());
    s = replace_all(s, "#AppDataDir#", platform::Environ("AppData"));
    s = replace_all(s, "#Computername#", platform::Environ("Computername"));
    s = replace_all(s, "#HomeDrive#", platform::Environ("Homedrive"));
    s = replace_all(s, "#ProgramFiles#", platform::Environ("ProgramFiles"));
    s = replace_all(s, "#WinDir#", platform::Environ("WinDir"));
    s = replace_all(s, "#Username#", platform::Environ("Username"));

    const std::string group = GetIniValue("ProgrammGruppe", "Main", "");
    s = replace_all(s, "#ProgramGroup#", folder + "\\" + group);
    // A failed desktop lookup leaves the programs folder in the variable.
    link.GetSystemFolderPath(owner_window(), mShellLink::CSIDL_DESKTOP, folder);
    s = replace_all(s, "#Desktop#", folder + "\\" + group);
    return s;
}

}  // namespace setup
