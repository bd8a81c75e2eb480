#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/file_toolkit.h"
#include "platform/paths.h"

namespace platform {
namespace {

// A Windows path split into its folder and its last component.
struct Split {
    std::string folder;  // Windows form, "" for the current folder
    std::string name;
};

Split split_last(std::string_view path) {
    std::string p(path.substr(0, path.find('\0')));
    const auto slash = p.find_last_of("\\/");
    if (slash == std::string::npos) {
        if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
            return {p.substr(0, 2), p.substr(2)};
        }
        return {"", p};
    }
    return {p.substr(0, slash + 1), p.substr(slash + 1)};
}

bool has_wildcards(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}

bool is_drive_letter_path(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]));
}

// Host folder of a Windows folder ("" = the current folder).
std::string host_folder(const std::string& folder) {
    if (folder.empty()) return host_path(".");
    return host_path(folder);
}

bool match_from(std::u32string_view p, std::size_t i, std::u32string_view n, std::size_t j) {
    // Iterative glob matching with backtracking on the last star.
    std::size_t star = std::u32string_view::npos, mark = 0;
    while (j < n.size()) {
        if (i < p.size() && (p[i] == U'?' || p[i] == n[j])) {
            ++i, ++j;
        } else if (i < p.size() && p[i] == U'*') {
            star = i++;
            mark = j;
        } else if (star != std::u32string_view::npos) {
            i = star + 1;
            j = ++mark;
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == U'*') ++i;
    return i == p.size();
}

// Windows wildcard match, without regard to case. "*.*" matches every name, and "name.*"
// also matches "name" without an extension.
bool wildcard_match(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*" || pattern == "*") return true;
    const auto p = folded_code_points(pattern);
    const auto n = folded_code_points(name);
    if (match_from(p, 0, n, 0)) return true;
    if (p.size() >= 2 && p.compare(p.size() - 2, 2, U".*") == 0) {
        return match_from(p.substr(0, p.size() - 2), 0, n, 0);
    }
    return false;
}

}  // namespace

bool wildcard_name_matches(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*") return true;  // every name, with or without a dot
    return match_from(folded_code_points(pattern), 0, folded_code_points(name), 0);
}

namespace {

struct Entry {
    std::string name;
    bool directory;
};

int attributes_of(const std::string& name, const struct stat& st) {
    int a = S_ISDIR(st.st_mode) ? vbDirectory : vbArchive;
    if (!(st.st_mode & S_IWUSR)) a |= vbReadOnly;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") a |= vbHidden;
    return a;
}

bool qualifies(const std::string& name, const struct stat& st, int wanted) {
    const int a = attributes_of(name, st);
    if ((a & vbDirectory) && !(wanted & vbDirectory)) return false;
    if ((a & vbHidden) && !(wanted & vbHidden)) return false;
    return true;
}

bool stat_follow(const std::string& p, struct stat& st) {
    return stat(p.c_str(), &st) == 0 || lstat(p.c_str(), &st) == 0;
}

std::string base_name(const std::string& host) {
    const auto slash = host.rfind('/');
    return slash == std::string::npos ? host : host.substr(slash + 1);
}

std::string parent_of(const std::string& host) {
    const auto slash = host.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : host.substr(0, slash);
}

bool is_dir(const std::string& host) {
    struct stat st;
    return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

thread_local std::vector<std::string> t_dir_rest;

// A failed statement names the file or folder it was about, as the program named it.
[[noreturn]] void fail(long number, std::string_view about) {
    throw Error(number, error_text(number), std::string(about));
}

// The host path of a Windows path that must exist: 53 when it does not.
std::string existing(std::string_view path) {
    const std::string h = host_path(path);
    struct stat st;
    if (h.empty() || lstat(h.c_str(), &st) != 0) fail(kErrFileNotFound, path);
    return h;
}

// The matches of a pattern in a folder (files only, hidden ones included).
std::vector<std::string> matching_files(const std::string& folder_host, const std::string& pat) {
    std::vector<std::string> out;
    for (const auto& n : list_folder(folder_host)) {
        if (!wildcard_match(pat, n)) continue;
        struct stat st;
        const std::string full = folder_host + (folder_host == "/" ? "" : "/") + n;
        if (stat_follow(full, st) && !S_ISDIR(st.st_mode)) out.push_back(full);
    }
    return out;
}

// Writes `data` to a temporary name beside `target`, then renames it over the target. The
// statements promise no more than a whole file under the name, so there is no sync.
void write_beside_and_rename(const std::string& target, std::string_view data,
                             std::optional<mode_t> mode, long error_on_failure,
                             std::string_view about) {
    ReplaceOptions options;
    options.durability = Durability::none;
    options.exact_mode = mode;
    const int err = replace_file(target, data, options);
    if (err) fail(err == ENOSPC ? kErrDiskFull : error_on_failure, about);
}

}  // namespace

std::string Dir(std::string_view pattern, int attributes) {
    t_dir_rest.clear();
    const Split sp = split_last(pattern);
    const std::string name_pattern = sp.name.empty() ? "*" : sp.name;
    const std::string folder = host_folder(sp.folder);
    if (folder.empty()) {
        fail(is_drive_letter_path(sp.folder) ? kErrDeviceUnavailable : kErrBadFileName, pattern);
    }
    if (attributes & vbVolume) return "";
    if (!has_wildcards(name_pattern)) {
        const std::string full = host_path(sp.folder + name_pattern);
        struct stat st;
        if (full.empty() || !stat_follow(full, st)) return "";
        const std::string real_name = base_name(full);
        return qualifies(real_name, st, attributes) ? real_name : "";
    }
    if (!is_dir(folder)) return "";
    std::vector<std::string> names;
    for (const auto& n : list_folder(folder)) {
        if (!wildcard_match(name_pattern, n)) continue;
        struct stat st;
        if (!stat_follow(folder + (folder == "/" ? "" : "/") + n, st)) continue;
        if (qualifies(n, st, attributes)) names.push_back(n);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const auto fa = folded_code_points(a), fb = folded_code_points(b);
        return fa != fb ? fa < fb : a < b;
    });
    // A folder other than a drive root lists "." and ".." first, as Windows does.
    const bool root = folder == "/" || [&] {
        for (const auto& drv : drive_letters()) {
            if (drv.root == folder) return true;
        }
        return false;
    }();
    if ((attributes & vbDirectory) && !root) {
        for (const char* dot : {"..", "."}) {
            if (wildcard_match(name_pattern, dot)) names.insert(names.begin(), dot);
        }
    }
    if (names.empty()) return "";
    t_dir_rest.assign(names.rbegin(), names.rend() - 1);
    return names.front();
}

std::string Dir() {
    if (t_dir_rest.empty()) return "";
    std::string n = std::move(t_dir_rest.back());
    t_dir_rest.pop_back();
    return n;
}

void FileCopy(std::string_view source, std::string_view destination) {
    const std::string src = host_path(source);
    struct stat st;
    if (src.empty() || stat(src.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        fail(kErrFileNotFound, source);
    const std::string dst = host_path(destination);
    if (dst.empty() || !is_dir(parent_of(dst))) fail(kErrPathNotFound, destination);
    std::string target = dst;
    struct stat dt;
    if (stat(dst.c_str(), &dt) == 0) {
        if (S_ISDIR(dt.st_mode) || !(dt.st_mode & S_IWUSR)) fail(kErrPathFileAccess, destination);
        if (dt.st_dev == st.st_dev && dt.st_ino == st.st_ino) fail(kErrPathFileAccess, destination);
        char real[PATH_MAX];
        if (realpath(dst.c_str(), real)) target = real;
    }
    const UniqueFd in(open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    std::string data;
    if (!in || !read_all(in.get(), data)) fail(kErrPathFileAccess, source);
    // The copy keeps the source's permissions: its run bit and its read-only attribute.
    write_beside_and_rename(target, data, st.st_mode & 07777, kErrPathFileAccess, destination);
}

void Kill(std::string_view pattern) {
    const Split sp = split_last(pattern);
    const std::string folder = host_folder(sp.folder);
    if (folder.empty() || !is_dir(folder)) fail(kErrPathNotFound, pattern);
    std::vector<std::string> victims;
    if (has_wildcards(sp.name)) {
        victims = matching_files(folder, sp.name);
    } else {
        const std::string full = host_path(sp.folder + sp.name);
        struct stat st;
        if (!full.empty() && lstat(full.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            victims.push_back(full);
        }
    }
    if (victims.empty()) fail(kErrFileNotFound, pattern);
    bool refused = false;
    for (const auto& v : victims) {
        struct stat st;
        if (lstat(v.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
            refused = true;  // read-only: Windows refuses to delete it
            continue;
        }
        if (unlink(v.c_str()) != 0) refused = true;
    }
    if (refused) fail(kErrPathFileAccess, pattern);
}

void MkDir(std::string_view path) {
    const std::string h = host_path(path);
    if (h.empty()) fail(kErrPathNotFound, path);
    if (mkdir(h.c_str(), 0777) == 0) return;
    fail(errno == ENOENT || errno == ENOTDIR ? kErrPathNotFound : kErrPathFileAccess, path);
}

void RmDir(std::string_view path) {
    const std::string h = host_path(path);
    if (h.empty() || !is_dir(h)) fail(kErrPathNotFound, path);
    if (rmdir(h.c_str()) == 0) return;
    fail(kErrPathFileAccess, path);
}

bool MakeSureDirectoryPathExists(std::string_view path) {
    const Split sp = split_last(path);
    if (sp.folder.empty()) return true;
    const std::string h = host_path(sp.folder);
    if (h.empty()) return false;
    std::string cur;
    std::size_t pos = 0;
    while (pos <= h.size()) {
        auto slash = h.find('/', pos);
        if (slash == std::string::npos) slash = h.size();
        cur = h.substr(0, slash);
        pos = slash + 1;
        if (cur.empty()) continue;
        if (mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return is_dir(h);
}

int GetAttr(std::string_view path) {
    const std::string h = existing(path);
    struct stat st;
    if (!stat_follow(h, st)) fail(kErrFileNotFound, path);
    return attributes_of(base_name(h), st);
}

void SetAttr(std::string_view path, int attributes) {
    const std::string h = existing(path);
    struct stat st;
    if (stat(h.c_str(), &st) != 0) fail(kErrFileNotFound, path);
    const mode_t mode =
        (attributes & vbReadOnly) ? (st.st_mode & ~mode_t(0222)) : (st.st_mode | S_IWUSR);
    if (chmod(h.c_str(), mode & 07777) != 0) fail(kErrPathFileAccess, path);
}

std::int64_t FileLen(std::string_view path) {
    const std::string h = existing(path);
    struct stat st;
    if (stat(h.c_str(), &st) != 0) fail(kErrFileNotFound, path);
    return st.st_size;
}

bool file_exists(std::string_view path) {
    const std::string h = host_path(path);
    struct stat st;
    return !h.empty() && stat(h.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folder_exists(std::string_view path) {
    return is_dir(host_path(path));
}

bool folder_writable(std::string_view path) {
    const std::string h = host_path(path);
    return is_dir(h) && access(h.c_str(), W_OK | X_OK) == 0;
}

bool path_exists(std::string_view path) {
    const std::string h = host_path(path);
    struct stat st;
    return !h.empty() && stat(h.c_str(), &st) == 0;
}

namespace {
// The two calls below also take host paths ("/..."), as the mail binding hands them on.
std::string host_or_windows(std::string_view path) {
    return !path.empty() && path[0] == '/' ? std::string(path) : host_path(path);
}
}  // namespace

bool entry_exists(std::string_view path) {
    const std::string h = host_or_windows(path);
    struct stat st;
    return !h.empty() && lstat(h.c_str(), &st) == 0;
}

std::optional<std::string> read_file(std::string_view path) {
    return read_whole_file(host_path(path));
}

void write_file(std::string_view path, std::string_view bytes) {
    const std::string h = host_path(path);
    if (h.empty() || !is_dir(parent_of(h))) fail(kErrPathNotFound, path);
    std::string target = h;
    std::optional<mode_t> mode;  // a new file: 0666 less the umask
    struct stat st;
    if (stat(h.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)) fail(kErrPathFileAccess, path);
        mode = st.st_mode & 07777;
        char real[PATH_MAX];
        if (realpath(h.c_str(), real)) target = real;
    }
    write_beside_and_rename(target, bytes, mode, kErrPathFileAccess, path);
}

void create_new_file(std::string_view path, std::string_view bytes) {
    const std::string h = host_or_windows(path);
    if (h.empty() || !is_dir(parent_of(h))) fail(kErrPathNotFound, path);
    if (base_name(h).empty()) fail(kErrBadFileName, path);
    ReplaceOptions options;
    options.exclusive = true;
    const int e = replace_file(h, bytes, options);
    if (e != 0)
        fail(e == EEXIST ? kErrFileExists : e == ENOSPC ? kErrDiskFull : kErrPathFileAccess, path);
}

void append_file(std::string_view path, std::string_view bytes) {
    const std::string h = host_path(path);
    if (h.empty() || !is_dir(parent_of(h))) fail(kErrPathNotFound, path);
    struct stat st;
    if (stat(h.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR))) {
        fail(kErrPathFileAccess, path);
    }
    UniqueFd fd(open(h.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (!fd || !write_all(fd.get(), bytes) || !fd.close()) fail(kErrPathFileAccess, path);
}

}  // namespace platform
