#pragma once
// An exclusive lock on a lock file, held by this process: the kernel releases it when the
// holder ends in any way, so a killed program never blocks the next one.
#include <optional>
#include <string_view>

namespace platform {

class FileLock {
  public:
    // Takes the lock on path (Windows path; the file is created when missing). Nothing when
    // another process holds it (busy set to true) or the file cannot be opened (busy false).
    static std::optional<FileLock> try_acquire(std::string_view path, bool* busy = nullptr);

    FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    ~FileLock();

  private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace platform
