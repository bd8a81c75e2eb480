#include "setup/shell_link.h"

#include <unistd.h>

#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "platform/environment.h"
#include "platform/escape.h"
#include "platform/file_toolkit.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace setup {

namespace fs = std::filesystem;

namespace {

SpecialFolderResolver& resolver() {
    static SpecialFolderResolver r;
    return r;
}

// The user's folders; without a known home, the root stands in for it.
platform::UserFolders folders(platform::HostEnvironment env) {
    if (env.home.empty()) env.home = "/";
    return platform::user_folders(env);
}

// The window show command has no counterpart in desktop entries; it travels in an X- key, as do
// the icon index and the exact target and arguments (which Exec carries only in its own quoting).
constexpr const char* key_target = "X-Veltrin-Target";
constexpr const char* key_arguments = "X-Veltrin-Arguments";
constexpr const char* key_icon_index = "X-Veltrin-IconIndex";
constexpr const char* key_show_cmd = "X-Veltrin-ShowCmd";
constexpr const char* key_icon_file = "X-Veltrin-IconFile";

// Escapes of a desktop entry string value. A leading blank is written "\\s" so that it stays;
// reading takes "\\s" anywhere and keeps escapes it does not know as they are.
std::string escape_value(const std::string& s) {
    const bool blank = !s.empty() && s[0] == ' ';
    return (blank ? "\\s" : "") +
           platform::escaped(std::string_view(s).substr(blank ? 1 : 0),
                             {{'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}});
}

std::string unescape_value(const std::string& s) {
    return *platform::unescaped(
        s, {{'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}, {' ', "\\s"}},
        platform::OtherEscape::as_written);
}

// One argument of an Exec line, quoted when it holds a reserved character; "%" is doubled since
// field codes start with it.
std::string exec_argument(const std::string& arg) {
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    bool quote = arg.empty() || arg.find_first_of(reserved) != std::string::npos;
    std::string out;
    if (quote) out += '"';
    for (char c : arg) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
        if (c == '%') out += '%';
    }
    if (quote) out += '"';
    return out;
}

// The Exec value that starts the target with its arguments. A program in the layer's container
// starts as it is: its head is a shell stub, which is what launchers fall back to.
std::string exec_line(const std::string& target, const std::string& arguments) {
    std::string exec;
    if (platform::program_kind(target) == platform::ProgramKind::NotProgram)
        exec = "xdg-open ";  // a document opens with the desktop's handler
    exec += exec_argument(target);
    for (const auto& a : platform::split_arguments(arguments)) exec += " " + exec_argument(a);
    return exec;
}

std::string lower_extension(const std::string& host_file) {
    std::string ext = fs::path(host_file).extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

// The Icon value: the icon file when it is a picture a desktop can show, else a themed icon
// that fits the target (a program file or its container holds no icon a desktop can read).
std::string icon_value(const std::string& host_icon, const std::string& target) {
    if (!host_icon.empty() && fs::is_regular_file(host_icon)) {
        const std::string ext = lower_extension(host_icon);
        if (ext == ".png" || ext == ".svg" || ext == ".svgz" || ext == ".xpm") return host_icon;
    }
    if (fs::is_directory(target)) return "folder";
    switch (platform::program_kind(target)) {
        case platform::ProgramKind::Host:
        case platform::ProgramKind::Container:
            return "application-x-executable";
        default:
            break;
    }
    const std::string ext = lower_extension(target);
    if (ext == ".pdf") return "application-pdf";
    if (ext == ".htm" || ext == ".html") return "text-html";
    if (ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp" || ext == ".gif")
        return "image-x-generic";
    return "text-x-generic";
}

// The menu categories that fit a target, so that menus file the entry instead of putting it
// under "Other": the uninstaller with the system's package tools, a document as documentation,
// any other program as a utility.
std::string categories_for(const std::string& target) {
    std::string name = fs::path(target).filename().string();
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (name == "uninstall.exe") return "Settings;PackageManager;";
    if (platform::program_kind(target) == platform::ProgramKind::NotProgram &&
        !fs::is_directory(target))
        return "Utility;Documentation;";
    return "Utility;";
}

std::string link_name(const std::string& host_file) {
    fs::path p(host_file);
    std::string stem = p.stem().string();
    return stem.empty() ? p.filename().string() : stem;
}

// The whole entry replaces the target in one step, so a failing save leaves no half-written
// shortcut. Desktops start launchers on the desktop only when they carry the run bit.
bool write_whole_file(const std::string& host_file, const std::string& content) {
    platform::ReplaceOptions options;
    options.exact_mode = 0755;
    return platform::replace_file(host_file, content, options) == 0;
}

std::map<std::string, std::string> read_desktop_entry(const std::string& host_file, bool& ok) {
    std::map<std::string, std::string> keys;
    ok = false;
    std::ifstream in(host_file, std::ios::binary);
    if (!in) return keys;
    std::string line;
    bool in_group = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            in_group = line == "[Desktop Entry]";
            ok = ok || in_group;
            continue;
        }
        if (!in_group) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        while (!k.empty() && k.back() == ' ') k.pop_back();
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        keys[k] = unescape_value(v);
    }
    return keys;
}

// The first argument of an Exec value (after the string escapes are undone).
std::string first_exec_argument(const std::string& exec) {
    std::string arg;
    size_t i = 0;
    if (!exec.empty() && exec[0] == '"') {
        for (i = 1; i < exec.size() && exec[i] != '"'; ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
            arg += exec[i];
        }
    } else {
        arg = exec.substr(0, exec.find(' '));
    }
    std::string out;
    for (size_t j = 0; j < arg.size(); ++j) {
        out += arg[j];
        if (arg[j] == '%' && j + 1 < arg.size() && arg[j + 1] == '%') ++j;
    }
    return out;
}

std::string buffer_of(const std::string& value) {
    std::string b = value + '\0';
    if (b.size() < 255) b.append(255 - b.size(), ' ');
    return b;
}

long to_long(const std::string& s) {
    try {
        return std::stol(s);
    } catch (...) {
        return 0;
    }
}

}  // namespace

void set_special_folder_resolver(SpecialFolderResolver r) {
    resolver() = std::move(r);
}

std::optional<std::string> special_folder_host_path(long Id) {
    if (resolver()) return resolver()(Id);
    const auto env = platform::current_host_environment();
    switch (Id) {
        case mShellLink::CSIDL_DESKTOP:
            // The desktop has no place shared by all users on this platform: root's desktop
            // is its own, as on the platform this was written for.
            return folders(env).desktop;
        case mShellLink::CSIDL_PROGRAMS:
            // Root installs for everyone: the menu that every user's desktop reads.
            if (env.is_root) return platform::system_data_folder(env) + "/applications";
            return folders(env).data + "/applications";
        default:
            return std::nullopt;
    }
}

std::string cut_at_nul(const std::string& buffer) {
    return buffer.substr(0, buffer.find('\0'));
}

bool cShellLink::GetSystemFolderPath(long /*hwnd*/, long Id, std::string& sfPath) {
    std::optional<std::string> host = special_folder_host_path(Id);
    if (!host) return false;
    // A desktop session creates its special folders; a fresh account may not have them yet.
    if (!host->empty()) {
        std::error_code ec;
        fs::create_directories(*host, ec);
    }
    std::string path = host->empty() ? std::string() : platform::windows_path(*host);
    // The platform's buffer is trimmed of the padding spaces on both ends.
    while (!path.empty() && path.front() == ' ') path.erase(0, 1);
    while (!path.empty() && path.back() == ' ') path.pop_back();
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    if (!path.empty()) sfPath = path;
    return true;
}

bool cShellLink::CreateShellLink(const std::string& LnkFile, const std::string& ExeFile,
                                 const std::string& WorkDir, const std::string& ExeArgs,
                                 const std::string& IconFile, long IconIdx, long ShowCmd,
                                 const std::string& lnkCap, const std::string& Categories) {
    if (ExeFile.empty() || LnkFile.empty()) return false;
    try {
        const std::string target = platform::host_path(ExeFile);
        std::ostringstream e;
        e << "[Desktop Entry]\n";
        e << "Type=Application\n";
        const std::string file = platform::host_path(LnkFile);
        e << "Name=" << escape_value(link_name(file)) << "\n";
        e << "Exec=" << escape_value(exec_line(target, ExeArgs)) << "\n";
        e << key_target << "=" << escape_value(target) << "\n";
        if (!WorkDir.empty()) e << "Path=" << escape_value(platform::host_path(WorkDir)) << "\n";
        if (!ExeArgs.empty()) e << key_arguments << "=" << escape_value(ExeArgs) << "\n";
        const std::string icon = IconFile.empty() ? std::string() : platform::host_path(IconFile);
        e << "Icon=" << escape_value(icon_value(icon, target)) << "\n";
        if (!IconFile.empty()) {
            e << key_icon_file << "=" << escape_value(icon) << "\n";
            e << key_icon_index << "=" << IconIdx << "\n";
        }
        if (!lnkCap.empty()) e << "Comment=" << escape_value(lnkCap) << "\n";
        std::string categories = Categories.empty() ? categories_for(target) : Categories;
        if (categories.back() != ';') categories += ';';
        e << "Categories=" << escape_value(categories) << "\n";
        e << key_show_cmd << "=" << ShowCmd << "\n";
        e << "Terminal=false\n";
        return write_whole_file(file, e.str());
    } catch (...) {
        return false;
    }
}

bool cShellLink::GetShellLinkInfo(const std::string& LnkFile, std::string& ExeFile,
                                  std::string& WorkDir, std::string& ExeArgs, std::string& IconFile,
                                  long& IconIdx, long& ShowCmd) {
    if (LnkFile.empty()) return false;
    try {
        bool ok = false;
        auto keys = read_desktop_entry(platform::host_path(LnkFile), ok);
        if (!ok) return false;
        auto value = [&](const char* k) {
            auto it = keys.find(k);
            return it == keys.end() ? std::string() : it->second;
        };
        auto win = [](const std::string& host) {
            return host.empty() ? host : platform::windows_path(host);
        };
        std::string target = value(key_target);
        if (target.empty()) target = first_exec_argument(value("Exec"));
        ExeFile = buffer_of(win(target));
        WorkDir = buffer_of(win(value("Path")));
        ExeArgs = buffer_of(value(key_arguments));
        // Entries written before the icon file had a key of its own carry it in Icon.
        std::string icon = keys.count(key_icon_file)    ? value(key_icon_file)
                           : keys.count(key_icon_index) ? value("Icon")
                                                        : std::string();
        IconFile = buffer_of(!icon.empty() && icon[0] == '/' ? win(icon) : icon);
        IconIdx = to_long(value(key_icon_index));
        ShowCmd = to_long(value(key_show_cmd));
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace setup
