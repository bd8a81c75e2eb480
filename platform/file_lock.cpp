#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/paths.h"

namespace platform {

std::optional<FileLock> FileLock::try_acquire(std::string_view path, bool* busy) {
    if (busy) *busy = false;
    const std::string host = host_path(path);
    if (host.empty()) return std::nullopt;
    // Opened without following a link: a link planted under the lock's name must not make
    // this program create or lock a file elsewhere.
    const int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return std::nullopt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (busy) *busy = errno == EWOULDBLOCK;
        ::close(fd);
        return std::nullopt;
    }
    return FileLock(fd);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
