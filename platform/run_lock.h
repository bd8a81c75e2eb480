#pragma once
// Exclusive locks between runs of this user's programs: a lock file per key under a folder only
// this user may write, held with flock so that the kernel drops it when its process ends, however
// it ends. Nothing waits: a lock held elsewhere is reported with its holder.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Who holds a lock: its process ID and since when (local time as people read it; empty when
// the holder has not written it yet).
struct LockHolder {
    long pid = 0;
    std::string since;
};

// The identity of an existing file or folder, the same for every path that reaches it (links,
// other spellings, bind mounts of one file system): "dev:ino". Empty when it cannot be read.
std::string file_identity(std::string_view host_path);

struct LockAttempt;

class RunLock {
  public:
    RunLock() = default;
    RunLock(RunLock&& o) noexcept;
    RunLock& operator=(RunLock&& o) noexcept;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock() { release(); }
    void release();

  private:
    friend LockAttempt try_run_lock(std::string_view key);
    int fd_ = -1;
    std::string path_;
};

// The result of one attempt: the lock, or who holds it, or why no lock could be made (error).
struct LockAttempt {
    RunLock lock;
    bool taken = false;
    std::optional<LockHolder> holder;
    std::string error;
};

// Takes the lock named `key` (any text) without waiting.
LockAttempt try_run_lock(std::string_view key);

// The folder of the lock files: /run/user/UID/morvolan when the login session has one, else
// /tmp/morvolan-UID. Both runs of one user find the same folder whatever their environment.
std::string run_lock_folder();

}  // namespace platform
