#include "platform/shell_file_op.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/file_toolkit.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace platform {
namespace {

using FileId = std::pair<dev_t, ino_t>;

// The files that running processes execute. Windows keeps such an image from being deleted;
// Linux would unlink it, so the layer checks by identity.
std::set<FileId> running_images() {
    std::set<FileId> out;
    DIR* proc = ::opendir("/proc");
    if (!proc) return out;
    while (const dirent* e = ::readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
        struct stat st;
        const std::string exe = std::string("/proc/") + e->d_name + "/exe";
        if (::stat(exe.c_str(), &st) == 0) out.emplace(st.st_dev, st.st_ino);
    }
    ::closedir(proc);
    return out;
}

bool has_wildcard(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}

bool name_matches(std::string_view pattern, std::string_view name) {
    return wildcard_name_matches(pattern, name);
}

// The real path when it exists, else the path made absolute and tidied.
std::string canonical_host(const std::string& host) {
    char real[PATH_MAX];
    if (::realpath(host.c_str(), real)) return real;
    std::string s = std::filesystem::path(host).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

bool is_same_or_inside(const std::string& folder, const std::string& path) {
    if (folder == "/") return true;
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

// Folders that must never go as a whole; a folder that holds one of them is protected too.
std::vector<std::string> protected_folders() {
    std::vector<std::string> out = {"/"};
    for (const char* top :
         {"bin",    "boot",       "dev",   "etc", "home", "lib",  "lib32", "lib64",
          "libx32", "lost+found", "media", "mnt", "opt",  "proc", "root",  "run",
          "sbin",   "snap",       "srv",   "sys", "tmp",  "usr",  "var"}) {
        out.push_back(std::string("/") + top);
    }
    for (const auto& m : mount_table()) out.push_back(m.mount_point);
    const HostEnvironment env = current_host_environment();
    const std::string system = system_data_folder(env);
    out.push_back(system);
    out.push_back(system + "/applications");
    const UserFolders u = user_folders(env);
    if (!u.home.empty()) {
        for (const std::string& f :
             {u.home, u.config, u.data, u.data + "/applications", u.home + "/.local",
              u.home + "/.local/lib", u.home + "/.local/opt", u.desktop}) {
            out.push_back(f);
        }
    }
    for (const char* name : {"TEMP", "AppData", "ProgramFiles", "WinDir", "UserProfile"}) {
        const std::string w = Environ(name);
        if (w.empty()) continue;
        const std::string h = host_path(w);
        if (!h.empty()) out.push_back(h);
    }
    for (auto& f : out) f = canonical_host(f);
    return out;
}

bool is_system_host(const std::string& host) {
    const std::string target = canonical_host(host);
    if (target.empty() || target == "/") return true;
    // The folders directly below /usr, /usr/local and /var are the system's own.
    const std::string parent = target.substr(0, target.rfind('/'));
    if (parent == "/usr" || parent == "/usr/local" || parent == "/var") return true;
    for (const auto& f : protected_folders()) {
        if (is_same_or_inside(target, f)) return true;
    }
    return false;
}

// Removes a file or a whole folder tree without following links. Running program images stay,
// and so do the folders that hold them. True when everything went.
bool remove_tree(const std::string& host, const std::set<FileId>& busy) {
    return platform::remove_tree(host, [&busy](const struct stat& st) {
        return S_ISREG(st.st_mode) && busy.count({st.st_dev, st.st_ino}) > 0;
    });
}

bool tree_holds_busy(const std::string& host, const std::set<FileId>& busy) {
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return false;
    if (S_ISREG(st.st_mode)) return busy.count({st.st_dev, st.st_ino}) > 0;
    if (!S_ISDIR(st.st_mode)) return false;
    bool found = false;
    if (DIR* d = ::opendir(host.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != ".." && tree_holds_busy(host + "/" + n, busy)) {
                found = true;
                break;
            }
        }
        ::closedir(d);
    }
    return found;
}

// The desktop's trash (freedesktop layout in the user's data folder). False when the entry
// cannot be moved there (another file system, no home).
bool move_to_trash(const std::string& host) {
    const std::string data = user_folders(current_host_environment()).data;
    if (data.empty()) return false;
    const std::string trash = data + "/Trash";
    std::error_code ec;
    std::filesystem::create_directories(trash + "/files", ec);
    std::filesystem::create_directories(trash + "/info", ec);
    const std::string full = canonical_host(host);
    const std::string base = full.substr(full.rfind('/') + 1);
    std::string name = base;
    for (int i = 2;
         std::filesystem::exists(std::filesystem::symlink_status(trash + "/files/" + name)) ||
         std::filesystem::exists(trash + "/info/" + name + ".trashinfo");
         ++i) {
        name = base + "." + std::to_string(i);
    }
    const std::string info = trash + "/info/" + name + ".trashinfo";
    {
        char stamp[32];
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        ::localtime_r(&now, &tm);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
        std::ofstream out(info, std::ios::binary);
        out << "[Trash Info]\nPath=" << percent_encoded(full) << "\nDeletionDate=" << stamp << "\n";
        if (!out) return false;
    }
    // A move into the trash, not a replacement: no file toolkit writer applies.
    if (::rename(full.c_str(), (trash + "/files/" + name).c_str()) != 0) {
        ::unlink(info.c_str());
        return false;
    }
    return true;
}

// The paths of a NUL-separated list ended by an empty entry; a list without NULs is one path.
std::vector<std::string> split_list(std::string_view list) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < list.size()) {
        const std::size_t end = list.find('\0', pos);
        const std::string_view item =
            list.substr(pos, end == std::string_view::npos ? end : end - pos);
        if (item.empty()) break;
        out.emplace_back(item);
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return out;
}

}  // namespace

bool is_system_folder(std::string_view windows_path) {
    std::string p(windows_path);
    for (char& c : p) {
        if (c == '/') c = '\\';
    }
    while (!p.empty() && std::isspace(static_cast<unsigned char>(p.front()))) p.erase(0, 1);
    while (!p.empty() && std::isspace(static_cast<unsigned char>(p.back()))) p.pop_back();
    if (p.empty()) return true;
    const bool unc = p.rfind("\\\\", 0) == 0;
    while (p.size() > 1 && p.back() == '\\') p.pop_back();
    if (p.size() == 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') return true;
    if (unc) {
        int parts = 0;
        std::size_t i = 2;
        while (i < p.size()) {
            const std::size_t next = p.find('\\', i);
            if (next != i) ++parts;
            if (next == std::string::npos) break;
            i = next + 1;
        }
        if (parts <= 2) return true;  // \\server or \\server\share: the share's root
    }
    const std::string host = host_path(p);
    if (host.empty()) return false;
    return is_system_host(host);
}

bool file_in_use_as_program(std::string_view windows_path) {
    const std::string host = host_path(windows_path);
    struct stat st;
    if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return running_images().count({st.st_dev, st.st_ino}) > 0;
}

bool DeleteFileA(std::string_view path) {
    if (path.empty()) return false;  // no name, not the current folder
    const std::string host = host_path(path);
    struct stat st;
    if (host.empty() || ::lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (S_ISREG(st.st_mode)) {
        if ((st.st_mode & S_IWUSR) == 0) return false;  // the read-only attribute
        if (running_images().count({st.st_dev, st.st_ino})) return false;
    }
    return ::unlink(host.c_str()) == 0;
}

int SHFileOperationA(SHFILEOPSTRUCT& op) {
    op.fAnyOperationsAborted = false;
    if (op.wFunc != FO_DELETE) return DE_OPCANCELLED;
    const auto paths = split_list(op.pFrom);
    if (paths.empty()) return DE_INVALIDFILES;
    const auto busy = running_images();
    const bool undo = (op.fFlags & FOF_ALLOWUNDO) != 0;
    int result = 0;
    auto fail = [&result](int code) {
        if (result == 0) result = code;
    };
    for (const auto& path : paths) {
        if (is_system_folder(path)) {
            fail(DE_INVALIDFILES);
            continue;
        }
        std::vector<std::string> hosts;
        const std::size_t cut = path.find_last_of("\\/");
        const std::string last = cut == std::string::npos ? path : path.substr(cut + 1);
        if (has_wildcard(last)) {
            const std::string folder =
                host_path(cut == std::string::npos ? std::string(".") : path.substr(0, cut + 1));
            if (!folder.empty()) {
                if (DIR* d = ::opendir(folder.c_str())) {
                    while (const dirent* e = ::readdir(d)) {
                        const std::string n = e->d_name;
                        if (n != "." && n != ".." && name_matches(last, n)) {
                            hosts.push_back(folder + (folder == "/" ? "" : "/") + n);
                        }
                    }
                    ::closedir(d);
                }
            }
        } else {
            const std::string h = host_path(path);
            if (h.empty()) {
                fail(DE_INVALIDFILES);
                continue;
            }
            struct stat st;
            if (::lstat(h.c_str(), &st) == 0) hosts.push_back(h);
        }
        if (hosts.empty()) {
            fail(ERROR_FILE_NOT_FOUND);
            continue;
        }
        for (const auto& h : hosts) {
            if (is_system_host(h)) {
                fail(DE_INVALIDFILES);
                continue;
            }
            bool ok;
            if (undo) {
                ok = !tree_holds_busy(h, busy) && move_to_trash(h);
                // Without the trash the shell asks whether to delete for good; with
                // FOF_NOCONFIRMATION that question is answered yes.
                if (!ok && !tree_holds_busy(h, busy) && (op.fFlags & FOF_NOCONFIRMATION)) {
                    ok = remove_tree(h, busy);
                }
            } else {
                ok = remove_tree(h, busy);
            }
            if (!ok) fail(DE_ACCESSDENIEDSRC);
        }
    }
    return result;
}

}  // namespace platform
