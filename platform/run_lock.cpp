#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/text.h"

namespace platform {

std::string file_identity(std::string_view host_path) {
    struct stat st {};
    if (host_path.empty() || ::stat(std::string(host_path).c_str(), &st) != 0) return {};
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}

namespace {

// A folder this user owns and nobody else may write into (no link to one).
bool own_private_folder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 022) == 0;
}

std::string local_time_text(std::time_t t) {
    std::tm tm{};
    char buf[32] = {};
    if (!::localtime_r(&t, &tm) || std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm) == 0)
        return {};
    return buf;
}

// What the holder wrote into its lock file: "PID SECONDS".
LockHolder read_holder(int fd) {
    LockHolder h;
    // The holder writes right after taking the lock; give it a moment.
    for (int tries = 0; tries < 20; ++tries) {
        char buf[64] = {};
        ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        long long pid = 0, since = 0;
        if (n > 0 && std::sscanf(buf, "%lld %lld", &pid, &since) == 2 && pid > 0) {
            h.pid = static_cast<long>(pid);
            h.since = local_time_text(static_cast<std::time_t>(since));
            return h;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return h;
}

}  // namespace

std::string run_lock_folder() {
    const std::string uid = std::to_string(::geteuid());
    const std::string session = "/run/user/" + uid;
    if (own_private_folder(session)) return session + "/morvolan";
    return "/tmp/morvolan-" + uid;
}

RunLock::RunLock(RunLock&& o) noexcept : fd_(std::exchange(o.fd_, -1)), path_(std::move(o.path_)) {}

RunLock& RunLock::operator=(RunLock&& o) noexcept {
    if (this != &o) {
        release();
        fd_ = std::exchange(o.fd_, -1);
        path_ = std::move(o.path_);
    }
    return *this;
}

void RunLock::release() {
    if (fd_ < 0) return;
    // Removed while still held: whoever opened the old file finds it gone after locking it and
    // tries again on a fresh one.
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

LockAttempt try_run_lock(std::string_view key) {
    LockAttempt a;
    const std::string folder = run_lock_folder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        a.error = "Der Ordner " + folder + " kann nicht angelegt werden: " + std::strerror(errno);
        return a;
    }
    if (!own_private_folder(folder)) {
        a.error = "Der Ordner " + folder + " gehört nicht diesem Benutzer allein.";
        return a;
    }
    const std::string path = folder + "/" + fnv1a64_hex(key) + ".lock";
    for (int tries = 0; tries < 50; ++tries) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd < 0) {
            a.error =
                "Die Sperrdatei " + path + " kann nicht geöffnet werden: " + std::strerror(errno);
            return a;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int e = errno;
            if (e == EWOULDBLOCK)
                a.holder = read_holder(fd);
            else
                a.error =
                    "Die Sperrdatei " + path + " kann nicht gesperrt werden: " + std::strerror(e);
            ::close(fd);
            return a;
        }
        struct stat mine {
        }, named{};
        if (::fstat(fd, &mine) != 0 || ::lstat(path.c_str(), &named) != 0 ||
            mine.st_ino != named.st_ino || mine.st_dev != named.st_dev) {
            ::close(fd);  // its holder removed it before we locked it
            continue;
        }
        const std::string text = std::to_string(::getpid()) + " " +
                                 std::to_string(static_cast<long long>(std::time(nullptr))) + "\n";
        a.lock.fd_ = fd;
        a.lock.path_ = path;
        if (::ftruncate(fd, 0) != 0 ||
            ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
            a.error = "Die Sperrdatei " + path +
                      " kann nicht beschrieben werden: " + std::strerror(errno);
            a.lock.release();
            return a;
        }
        a.taken = true;
        return a;
    }
    a.error = "Die Sperrdatei " + path + " wechselt ständig.";
    return a;
}

}  // namespace platform
