#include "platform/environment.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/paths.h"

extern char** environ;

namespace platform {
namespace {

std::mutex g_mutex;
std::optional<HostEnvironment> g_host;
std::vector<std::pair<std::string, std::string>> g_overrides;

// Variables whose values are folders: a host path in them is handed over in Windows form.
bool is_path_variable(std::string_view name) {
    for (const char* n : {"TEMP", "TMP", "AppData", "LocalAppData", "ProgramFiles", "WinDir",
                          "SystemRoot", "UserProfile"}) {
        if (equals_ignore_case(name, n)) return true;
    }
    return false;
}

std::string as_windows(std::string_view name, const std::string& value) {
    if (is_path_variable(name) && !value.empty() && value[0] == '/') return windows_path(value);
    return value;
}

const std::string* find_var(const HostEnvironment& env, std::string_view name) {
    if (auto it = env.variables.find(std::string(name)); it != env.variables.end()) {
        return &it->second;
    }
    for (const auto& [k, v] : env.variables) {
        if (equals_ignore_case(k, name)) return &v;
    }
    return nullptr;
}

std::string var_or(const HostEnvironment& env, const char* name, const std::string& fallback) {
    auto it = env.variables.find(name);
    return it != env.variables.end() && !it->second.empty() ? it->second : fallback;
}

std::string home_of(const HostEnvironment& env) {
    return var_or(env, "HOME", env.home);
}

std::string strip_slash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

namespace {

// The process environment and the privilege; the rest is filled in when a name needs it.
HostEnvironment variables_only() {
    HostEnvironment env;
    for (char** e = environ; e && *e; ++e) {
        const std::string kv = *e;
        const auto eq = kv.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        env.variables.emplace(kv.substr(0, eq), kv.substr(eq + 1));
    }
    env.is_root = geteuid() == 0;
    return env;
}

void fill_host_name(HostEnvironment& env) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) env.host_name = host;
}

// The user database is read once per user: placeholders ask for it for every file installed.
void fill_passwd(HostEnvironment& env) {
    static std::mutex mutex;
    static std::optional<uid_t> cached_uid;
    static std::string login_name, home;
    const uid_t uid = geteuid();
    std::lock_guard<std::mutex> lock(mutex);
    if (cached_uid != uid) {
        struct passwd pw;
        struct passwd* result = nullptr;
        std::vector<char> buf(16384);
        login_name.clear();
        home.clear();
        if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) == 0 && result) {
            login_name = pw.pw_name ? pw.pw_name : "";
            home = pw.pw_dir ? pw.pw_dir : "";
        }
        cached_uid = uid;
    }
    env.login_name = login_name;
    env.home = home;
}

}  // namespace

HostEnvironment current_host_environment() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_host) return *g_host;
    }
    HostEnvironment env = variables_only();
    fill_host_name(env);
    fill_passwd(env);
    return env;
}

void set_host_environment(std::optional<HostEnvironment> env) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_host = std::move(env);
}

void set_environ_override(std::string_view name, std::optional<std::string> value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::erase_if(g_overrides, [&](const auto& kv) { return equals_ignore_case(kv.first, name); });
    if (value) g_overrides.emplace_back(std::string(name), std::move(*value));
}

void clear_environ_overrides() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_overrides.clear();
}

std::string Environ(std::string_view name) {
    std::optional<HostEnvironment> injected;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (const auto& [k, v] : g_overrides) {
            if (equals_ignore_case(k, name)) return as_windows(name, v);
        }
        injected = g_host;
    }
    HostEnvironment env = injected ? std::move(*injected) : variables_only();
    if (const std::string* v = find_var(env, name)) return as_windows(name, *v);

    auto is = [&](const char* n) { return equals_ignore_case(name, n); };
    if (!injected) {
        if (is("Computername")) fill_host_name(env);
        if (is("Username") || is("AppData") || is("Homepath") || is("UserProfile") ||
            is("ProgramFiles")) {
            fill_passwd(env);
        }
    }
    if (is("TEMP") || is("TMP")) return windows_path(strip_slash(var_or(env, "TMPDIR", "/tmp")));
    if (is("AppData")) {
        const std::string home = home_of(env);
        return windows_path(strip_slash(var_or(env, "XDG_CONFIG_HOME", home + "/.config")));
    }
    if (is("Username")) {
        return var_or(env, "USER", var_or(env, "LOGNAME", env.login_name));
    }
    if (is("Computername")) return env.host_name.substr(0, env.host_name.find('.'));
    if (is("Homedrive")) return "C:";
    if (is("Homepath")) return windows_path(strip_slash(home_of(env))).substr(2);
    if (is("UserProfile")) return windows_path(strip_slash(home_of(env)));
    if (is("ProgramFiles")) {
        return windows_path(env.is_root ? "/opt" : strip_slash(home_of(env)) + "/.local/opt");
    }
    return "";
}

UserFolders user_folders(const HostEnvironment& env) {
    auto value = [&](const char* name) {
        auto it = env.variables.find(name);
        return it == env.variables.end() ? std::string() : it->second;
    };
    UserFolders f;
    f.home = value("HOME");
    if (f.home.empty()) f.home = env.home;
    const auto in_home = [&](const char* rest) {
        return f.home.empty() ? std::string() : f.home + rest;
    };
    f.config = value("XDG_CONFIG_HOME");
    if (f.config.empty()) f.config = in_home("/.config");
    f.data = value("XDG_DATA_HOME");
    if (f.data.empty()) f.data = in_home("/.local/share");
    f.state = value("XDG_STATE_HOME");
    if (f.state.empty()) f.state = in_home("/.local/state");
    if (!f.config.empty()) {
        std::ifstream in(f.config + "/user-dirs.dirs");
        std::string line;
        while (f.desktop.empty() && std::getline(in, line)) {
            if (line.rfind("XDG_DESKTOP_DIR=", 0) != 0) continue;
            std::string v = line.substr(16);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            if (v.rfind("$HOME", 0) == 0) v = f.home + v.substr(5);
            if (!v.empty() && v[0] == '/') f.desktop = v;
        }
    }
    if (f.desktop.empty()) f.desktop = in_home("/Desktop");
    return f;
}

namespace {

std::function<bool(const std::string&)>& writable_probe() {
    static std::function<bool(const std::string&)> probe;
    return probe;
}

}  // namespace

void set_folder_writable_probe(std::function<bool(const std::string& host_folder)> probe) {
    writable_probe() = std::move(probe);
}

std::string program_data_folder(ProgramData kind, std::string_view product) {
    const std::string program = app_path();
    const std::string host = host_path(program);
    const bool writable = writable_probe() ? writable_probe()(host)
                                           : !host.empty() && ::access(host.c_str(), W_OK) == 0;
    if (writable) return program;
    const UserFolders f = user_folders(current_host_environment());
    const std::string base = kind == ProgramData::Settings ? f.config : f.state;
    if (base.empty()) return program;  // no home: the program folder, whose failure is reported
    const std::string folder = base + "/" + std::string(product);
    // A desktop session makes these folders as they are needed; so does the program.
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return windows_path(folder);
}

std::string system_data_folder(const HostEnvironment& env) {
    const auto it = env.variables.find("XDG_DATA_DIRS");
    if (it != env.variables.end()) {
        std::string_view dirs = it->second;
        while (!dirs.empty()) {
            const auto colon = dirs.find(':');
            const std::string entry = strip_slash(std::string(dirs.substr(0, colon)));
            // Relative entries are invalid and ignored, as the base directory rules say.
            if (!entry.empty() && entry[0] == '/') return entry;
            if (colon == std::string_view::npos) break;
            dirs.remove_prefix(colon + 1);
        }
    }
    return "/usr/local/share";
}

}  // namespace platform
