#include "platform/name_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <list>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "platform/codepage.h"

namespace platform {
namespace {

constexpr std::size_t kMaxFolders = 64;
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// Network and user-space file systems do not report changes made by other machines or by the
// server itself; their folders are read for each question.
bool reports_all_changes(const std::string& dir) {
    struct statfs fs {};
    if (::statfs(dir.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969UL:      // NFS
        case 0xff534d42UL:  // CIFS
        case 0xfe534d42UL:  // SMB2
        case 0x517bUL:      // SMB
        case 0x65735546UL:  // FUSE
        case 0x564cUL:      // NCP
        case 0x73757245UL:  // Coda
        case 0x6b414653UL:  // AFS
        case 0x7461636fUL:  // OCFS2
        case 0x47504653UL:  // GPFS
        case 0x0bd00bd0UL:  // Lustre
            return false;
        default:
            return true;
    }
}

// A folder's names, kept compactly (a storage folder holds one file per filed attachment):
// the names one after another in one text, found through a hash of their folded form.
class Names {
  public:
    void add(std::string_view name) {
        const std::uint64_t h = key(name);
        if (at(h, name)) return;
        by_key_.emplace(h, static_cast<std::uint32_t>(text_.size()));
        text_.append(name).push_back('\0');
    }
    void remove(std::string_view name) {
        const std::uint64_t h = key(name);
        auto [a, b] = by_key_.equal_range(h);
        for (auto it = a; it != b; ++it) {
            if (stored(it->second) != name) continue;
            by_key_.erase(it);
            unused_ += name.size() + 1;
            // Names that come and go leave gaps: closed once they are half the text.
            if (unused_ > 1024 && unused_ * 2 > text_.size()) compact();
            return;
        }
    }
    // The smallest stored name that folds as `name` does; "" for none.
    std::string find(std::string_view name) const {
        const std::u32string folded = folded_code_points(name);
        auto [a, b] = by_key_.equal_range(hash(folded));
        std::string_view best;
        for (auto it = a; it != b; ++it) {
            std::string_view n = stored(it->second);
            if (folded_code_points(n) == folded && (best.empty() || n < best)) best = n;
        }
        return std::string(best);
    }

  private:
    static std::uint64_t hash(const std::u32string& folded) {
        std::uint64_t h = 1469598103934665603ull;
        for (char32_t c : folded) {
            h ^= static_cast<std::uint64_t>(c);
            h *= 1099511628211ull;
        }
        return h;
    }
    static std::uint64_t key(std::string_view name) { return hash(folded_code_points(name)); }
    std::string_view stored(std::uint32_t offset) const {
        return std::string_view(text_.data() + offset);
    }
    bool at(std::uint64_t h, std::string_view name) const {
        auto [a, b] = by_key_.equal_range(h);
        for (auto it = a; it != b; ++it)
            if (stored(it->second) == name) return true;
        return false;
    }
    void compact() {
        std::string text;
        text.reserve(text_.size() - unused_);
        for (auto& [h, offset] : by_key_) {
            const std::string_view n = stored(offset);
            offset = static_cast<std::uint32_t>(text.size());
            text.append(n).push_back('\0');
        }
        text_ = std::move(text);
        unused_ = 0;
    }

    std::string text_;
    std::unordered_multimap<std::uint64_t, std::uint32_t> by_key_;
    std::size_t unused_ = 0;
};

struct Folder {
    std::string path;
    int wd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    bool valid = false;
    Names names;
};

class NameIndex {
  public:
    std::string find(const std::string& dir, const std::string& name) {
        std::lock_guard lock(mutex_);
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
        if (!open_notifications()) return scan_once(dir, name);
        drain();
        Folder* f = folder(dir);
        if (f && (!f->valid || f->dev != st.st_dev || f->ino != st.st_ino)) {
            forget(*f);
            f = nullptr;
        }
        if (!f && reports_all_changes(dir)) f = index(dir, st);
        if (!f) return scan_once(dir, name);
        return f->names.find(name);
    }

    long listings() {
        std::lock_guard lock(mutex_);
        return listings_;
    }

  private:
    bool open_notifications() {
        if (fd_ >= 0) return true;
        if (failed_) return false;
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        failed_ = fd_ < 0;
        return fd_ >= 0;
    }

    Folder* folder(const std::string& dir) {
        for (auto it = folders_.begin(); it != folders_.end(); ++it) {
            if (it->path != dir) continue;
            folders_.splice(folders_.begin(), folders_, it);  // most recently used first
            return &folders_.front();
        }
        return nullptr;
    }

    Folder* by_watch(int wd) {
        for (auto& f : folders_)
            if (f.wd == wd) return &f;
        return nullptr;
    }

    void forget(Folder& f) {
        if (f.wd >= 0) ::inotify_rm_watch(fd_, f.wd);
        for (auto it = folders_.begin(); it != folders_.end(); ++it) {
            if (&*it == &f) {
                folders_.erase(it);
                return;
            }
        }
    }

    // The watch is set before the folder is read, so no change between the two is missed;
    // one seen twice does no harm.
    Folder* index(const std::string& dir, const struct stat& st) {
        int wd = ::inotify_add_watch(fd_, dir.c_str(), kWatchMask);
        if (wd < 0) return nullptr;  // e.g. out of watches: the caller reads the folder itself
        if (Folder* other = by_watch(wd)) forget_keep_watch(*other);  // same folder, other name
        DIR* d = ::opendir(dir.c_str());
        if (!d) {
            ::inotify_rm_watch(fd_, wd);
            return nullptr;
        }
        ++listings_;
        Folder f;
        f.path = dir;
        f.wd = wd;
        f.dev = st.st_dev;
        f.ino = st.st_ino;
        f.valid = true;
        while (dirent* e = ::readdir(d)) add(f, e->d_name);
        ::closedir(d);
        if (folders_.size() >= kMaxFolders) forget(folders_.back());
        folders_.push_front(std::move(f));
        return &folders_.front();
    }

    void forget_keep_watch(Folder& f) {
        f.wd = -1;
        forget(f);
    }

    static void add(Folder& f, const char* name) {
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return;
        f.names.add(name);
    }

    static void remove(Folder& f, const char* name) { f.names.remove(name); }

    void drain() {
        alignas(inotify_event) char buf[64 * 1024];
        for (;;) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            for (char* p = buf; p < buf + n;) {
                auto* ev = reinterpret_cast<inotify_event*>(p);
                p += sizeof(inotify_event) + ev->len;
                if (ev->mask & IN_Q_OVERFLOW) {  // changes were lost: every index is suspect
                    for (auto& f : folders_) f.valid = false;
                    continue;
                }
                Folder* f = by_watch(ev->wd);
                if (!f) continue;
                if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                    f->valid = false;
                    if (ev->mask & IN_IGNORED) f->wd = -1;
                    continue;
                }
                if (!ev->len) continue;
                if (ev->mask & (IN_CREATE | IN_MOVED_TO)) add(*f, ev->name);
                if (ev->mask & (IN_DELETE | IN_MOVED_FROM)) remove(*f, ev->name);
            }
        }
    }

    // Without notification: read the folder for this one question.
    std::string scan_once(const std::string& dir, const std::string& name) {
        DIR* d = ::opendir(dir.c_str());
        if (!d) return {};
        ++listings_;
        std::string best;
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            if (equals_ignore_case(e->d_name, name) && (best.empty() || e->d_name < best))
                best = e->d_name;
        }
        ::closedir(d);
        return best;
    }

    std::mutex mutex_;
    int fd_ = -1;
    bool failed_ = false;
    long listings_ = 0;
    std::list<Folder> folders_;
};

NameIndex& name_index() {
    static NameIndex* index = new NameIndex;  // lives to the end: used from exit-time code too
    return *index;
}

}  // namespace

std::string find_name_ignoring_case(const std::string& dir, const std::string& name) {
    return name_index().find(dir, name);
}

long name_index_listings() {
    return name_index().listings();
}

}  // namespace platform
