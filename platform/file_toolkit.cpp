#include "platform/file_toolkit.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace platform {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool UniqueFd::close() {
    if (fd_ < 0) return true;
    const int rc = ::close(release());
    return rc == 0;
}

bool read_all(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> read_whole_file(const std::string& host) {
    if (host.empty()) return std::nullopt;
    // Non-blocking, so that a named pipe in the way cannot hang the caller.
    UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string out;
    if (!read_all(fd.get(), out)) return std::nullopt;
    return out;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::vector<std::string> list_folder_at(int dir) {
    std::vector<std::string> names;
    const int copy = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return names;
    DIR* d = ::fdopendir(copy);
    if (!d) {
        ::close(copy);
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> list_folder(const std::string& host) {
    UniqueFd dir(::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return {};
    return list_folder_at(dir.get());
}

namespace {

// Removes `name` in `dir`; every folder is entered through a descriptor opened with
// O_NOFOLLOW, so a link swapped in for a folder cannot lead the removal elsewhere.
bool remove_at(int dir, const std::string& name,
               const std::function<bool(const struct stat&)>& keep) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (keep && keep(st)) return false;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT;
    bool ok = true;
    UniqueFd sub(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub) return false;
    for (const auto& n : list_folder_at(sub.get())) ok = remove_at(sub.get(), n, keep) && ok;
    sub.reset();
    return ok && ::unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0;
}

std::pair<std::string, std::string> parent_and_leaf(const std::string& host) {
    const auto slash = host.rfind('/');
    if (slash == std::string::npos) return {".", host};
    return {slash == 0 ? "/" : host.substr(0, slash), host.substr(slash + 1)};
}

// A name for the temporary file that no other writer in this or another process picks.
std::string temporary_name(const std::string& leaf, int attempt) {
    static std::atomic<unsigned> counter{0};
    // Kept short enough that a long target name still leaves room for the suffix.
    return "." + leaf.substr(0, 200) + "." + std::to_string(::getpid()) + "_" +
           std::to_string(counter.fetch_add(1)) + "_" + std::to_string(attempt) + ".tmp";
}

int rename_exclusive(int dir, const std::string& from, const std::string& to) {
    if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a hard link also refuses an existing name.
    if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return errno;
    ::unlinkat(dir, from.c_str(), 0);
    return 0;
}

}  // namespace

bool remove_tree(const std::string& host, const std::function<bool(const struct stat&)>& keep) {
    const auto [parent, leaf] = parent_and_leaf(host);
    UniqueFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return errno == ENOENT;
    return remove_at(dir.get(), leaf, keep);
}

int replace_file_at(int dir, const std::string& name, const std::function<int(int fd)>& write,
                    const ReplaceOptions& options) {
    if (name.empty() || name == "." || name == "..") return EISDIR;
    struct stat old;
    const bool replacing = ::fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing && options.exclusive) return EEXIST;

    std::string tmp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        tmp = temporary_name(name, attempt);
        fd.reset(::openat(dir, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          options.create_mode));
        if (!fd && errno != EEXIST) return errno;
    }
    if (!fd) return EEXIST;

    int err = 0;
    if (options.keep_owner_and_mode && replacing && S_ISREG(old.st_mode)) {
        // Setting the owner needs privileges the process may lack; the mode it can always set.
        [[maybe_unused]] const int owner_kept = ::fchown(fd.get(), old.st_uid, old.st_gid);
        if (::fchmod(fd.get(), old.st_mode & 07777) != 0) err = errno;
    } else if (options.exact_mode && ::fchmod(fd.get(), *options.exact_mode & 07777) != 0) {
        err = errno;
    }
    if (!err) err = write(fd.get());
    if (!err && options.durability != Durability::none && ::fsync(fd.get()) != 0) err = errno;
    if (!fd.close() && !err) err = errno;
    if (!err) {
        err = options.exclusive
                  ? rename_exclusive(dir, tmp, name)
                  : (::renameat(dir, tmp.c_str(), dir, name.c_str()) == 0 ? 0 : errno);
    }
    if (err) {
        ::unlinkat(dir, tmp.c_str(), 0);
        return err;
    }
    // The folder's own entry: without this sync a power cut can still bring back the old file.
    if (options.durability == Durability::file_and_folder && ::fsync(dir) != 0) return errno;
    return 0;
}

int replace_file_at(int dir, const std::string& name, std::string_view data,
                    const ReplaceOptions& options) {
    return replace_file_at(
        dir, name, [data](int fd) { return write_all(fd, data) ? 0 : errno; }, options);
}

int replace_file(const std::string& host, const std::function<int(int fd)>& write,
                 const ReplaceOptions& options) {
    std::string target = host;
    if (options.through_links) {
        char real[PATH_MAX];
        if (::realpath(host.c_str(), real)) target = real;
    }
    const auto [parent, leaf] = parent_and_leaf(target);
    UniqueFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return errno;
    return replace_file_at(dir.get(), leaf, write, options);
}

int replace_file(const std::string& host, std::string_view data, const ReplaceOptions& options) {
    return replace_file(
        host, [data](int fd) { return write_all(fd, data) ? 0 : errno; }, options);
}

}  // namespace platform
