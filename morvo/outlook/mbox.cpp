// The mbox backend. A folder's file is read once when its mails are listed; a mail's bytes are
// read from where the listing found them. Saves are held in memory (every reading through the
// binding sees them at once) and written in batches: a rewrite costs the whole file, so one per
// mail would make a run over a big mbox quadratic.

#include "morvo/outlook/mbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "morvo/outlook/mbox_format.h"
#include "morvo/outlook/mime.h"
#include "platform/file_toolkit.h"
#include "platform/run_lock.h"
#include "platform/text.h"

namespace morvo::outlook::detail {

namespace {

using platform::iequals;
using Clock = std::chrono::steady_clock;

const char* const inbox_name = "Posteingang";
// How long a lock held by another program is waited for before the save is refused.
constexpr auto lock_patience = std::chrono::seconds(3);

std::string join(const std::string& a, const std::string& b) {
    if (a.empty() || a.back() == '/') return a + b;
    return a + "/" + b;
}

std::string dir_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void fail_errno(int e, const std::string& what) {
    if (e == EACCES || e == EPERM) fail(e_access_denied, "Zugriff verweigert: " + what);
    fail(e_fail, what + ": " + std::strerror(e));
}

std::string errno_text(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool read_exactly(int fd, char* into, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t r = ::pread(fd, into, n, at);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        into += r;
        n -= static_cast<size_t>(r);
        at += r;
    }
    return true;
}

bool alive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::string host_name() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return "localhost";
    return buf;
}

// The file as it was read: a rewrite must find it so, or only grown.
struct FileState {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    std::uint64_t hash = 0;  // of the bytes up to `size`
};

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Why the mail program of the profile above `dir` holds it ("" when none does): Thunderbird on
// Linux keeps a link "lock" to "ADDRESS:+PID" and an fcntl lock on ".parentlock" while it runs.
std::string profile_lock_reason(const std::string& dir) {
    for (std::string d = dir;; d = dir_of(d)) {
        const std::string link = join(d, "lock");
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            char target[512] = {};
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            const char* plus = n > 0 ? std::strstr(target, ":+") : nullptr;
            if (plus && alive(std::strtol(plus + 2, nullptr, 10)))
                return "das Mailprogramm läuft und hält sein Profil " + d + " gesperrt (" + link +
                       ")";
        }
        const std::string parent = join(d, ".parentlock");
        const int fd = ::open(parent.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            const bool held = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
            ::close(fd);
            if (held)
                return "das Mailprogramm läuft und hält sein Profil " + d + " gesperrt (" + parent +
                       ")";
        }
        if (d == "/" || d == ".") return "";
    }
}

// The dot lock "NAME.lock" mail programs agree on: created exclusively, removed after. A lock
// left by a killed run of this program (its marker, this host, a process that is gone) is
// ours to clear; any other is waited for and then respected.
class DotLock {
  public:
    explicit DotLock(std::string path) : path_(std::move(path)) {}
    ~DotLock() {
        if (held_) ::unlink(path_.c_str());
    }
    bool take(std::string& why, Clock::duration patience = lock_patience) {
        const std::string mine = marker() + std::to_string(::getpid()) + "\n";
        const auto until = Clock::now() + patience;
        // The lock appears with its text or not at all (written beside it, then linked), so
        // that a kill never leaves a lock nobody can tell as ours.
        const std::string draft = draft_of(path_);
        for (;;) {
            const int fd =
                ::open(draft.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0 || !platform::write_all(fd, mine)) {
                why = errno_text("Die Sperrdatei " + path_ + " kann nicht geschrieben werden");
                if (fd >= 0) ::close(fd);
                ::unlink(draft.c_str());
                return false;
            }
            ::close(fd);
            const int linked = ::link(draft.c_str(), path_.c_str());
            const int link_errno = errno;
            ::unlink(draft.c_str());
            if (linked == 0) {
                held_ = true;
                return true;
            }
            errno = link_errno;
            if (errno != EEXIST) {
                why = errno_text("Die Sperrdatei " + path_ + " kann nicht angelegt werden");
                return false;
            }
            if (left_by_killed_run()) {
                ::unlink(path_.c_str());
                continue;
            }
            if (Clock::now() > until) {
                why = "ein anderes Programm sperrt das Postfach (" + path_ + ")";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // The text of the lock before it is linked into place: one name, since one run at a time
    // changes a store.
    static std::string draft_of(const std::string& lock) {
        return join(dir_of(lock), "." + base_of(lock) + ".morvo");
    }

  private:
    static std::string marker() { return "morvo " + host_name() + " "; }
    bool left_by_killed_run() const {
        char buf[512] = {};
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        const ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        const std::string text(buf, n > 0 ? static_cast<size_t>(n) : 0);
        const std::string m = marker();
        if (text.compare(0, m.size(), m) != 0) return false;
        char* end = nullptr;
        const long pid = std::strtol(text.c_str() + m.size(), &end, 10);
        return end && *end == '\n' && pid > 0 && !alive(pid);
    }
    std::string path_;
    bool held_ = false;
};

// Where a rewrite writes the new file: beside the old one, under a dot name, which mail programs
// do not take for a folder.
std::string new_copy_of(const std::string& real) {
    return join(dir_of(real), "." + base_of(real) + ".morvo-neu");
}

// Removes what a run of this program killed while rewriting `path` left beside it: its dot lock
// (which would hold off other mail programs when nothing is left to change) and the new file it
// was writing. Both only while the dot lock is ours; a lock held by a live program stays.
void clear_killed_rewrite(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return;
    const std::string real = resolved;
    std::free(resolved);
    struct stat st {};
    const std::string lock = real + ".lock", copy = new_copy_of(real);
    const std::string draft = DotLock::draft_of(lock);
    if (::lstat(lock.c_str(), &st) != 0 && ::lstat(copy.c_str(), &st) != 0 &&
        ::lstat(draft.c_str(), &st) != 0)
        return;
    if (!profile_lock_reason(dir_of(real)).empty()) return;
    DotLock dot(lock);
    std::string why;
    if (dot.take(why, Clock::duration::zero())) ::unlink(copy.c_str());  // the draft went too
}

// The fcntl write lock on the open mbox, waited for a while.
bool lock_file(int fd, const std::string& path, std::string& why) {
    const auto until = Clock::now() + lock_patience;
    for (;;) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &fl) == 0) return true;
        if (errno != EACCES && errno != EAGAIN && errno != EINTR) {
            why = errno_text("Das Postfach " + path + " kann nicht gesperrt werden");
            return false;
        }
        if (Clock::now() > until) {
            why = "ein anderes Programm sperrt das Postfach " + path + " (fcntl)";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

class MboxFile;

// The files holding saved mails, written in one go. The batch completes when the held bytes
// grow large, some seconds after its first save (more for files that take long to rewrite),
// when a folder's mails are listed, when a namespace ends and at program exit.
// One batch per session (see SaveQueue).
class MboxQueue : public PendingSaves {
  public:
    ~MboxQueue() override { write_pending(); }
    void add(const std::shared_ptr<MboxFile>& f, long long held_delta);
    bool write_pending();
    // Incomplete when a save failed since the last call, with why (one failure per file).
    FlushResult flush() override {
        bool ok = write_pending();
        FlushResult r;
        r.complete = !std::exchange(failed_, false) && ok;
        r.failures = std::move(reasons_);
        reasons_.clear();
        return r;
    }
    void session_ended() override { ended_ = true; }

  private:
    bool ended_ = false;
    std::vector<std::shared_ptr<MboxFile>> files_;
    long long held_ = 0;
    Clock::time_point first_;
    Clock::duration last_cost_{};
    bool flushing_ = false;
    bool failed_ = false;
    std::vector<std::string> reasons_;
};

// One mbox file: its mails as listed, and the saves not yet written.
class MboxFile : public std::enable_shared_from_this<MboxFile> {
  public:
    MboxFile(std::string path, std::shared_ptr<MboxQueue> queue)
        : path_(std::move(path)), queue_(std::move(queue)) {}

    // Reads the file; the positions of the mails that are shown (not marked deleted).
    std::vector<size_t> scan() {
        std::lock_guard lock(mutex_);
        for (int attempt = 0;; ++attempt) {
            Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
            if (fd.fd < 0) fail_errno(errno, "Postfach " + path_);
            struct stat before {};
            if (::fstat(fd.fd, &before) != 0 || !S_ISREG(before.st_mode))
                fail(mapi_e_corrupt_data, "Das Postfach " + path_ + " ist keine Datei.");
            mbox::Scanner scanner;
            std::vector<char> buf(1 << 20);
            off_t size = 0;
            for (;;) {
                const ssize_t n = ::read(fd.fd, buf.data(), buf.size());
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) fail_errno(errno, "Postfach " + path_);
                if (n == 0) break;
                scanner.feed(buf.data(), static_cast<size_t>(n));
                size += n;
            }
            struct stat after {};
            ::fstat(fd.fd, &after);
            // Written to while read: read again, so that the listing is of one state.
            if ((after.st_size != size || !same_time(after.st_mtim, before.st_mtim)) &&
                attempt < 3) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            state_ = {after.st_dev, after.st_ino, size, before.st_mtim, scanner.file_hash()};
            entries_ = scanner.finish();
            ids_.assign(entries_.size(), std::nullopt);
            std::vector<size_t> shown;
            for (size_t i = 0; i < entries_.size(); ++i)
                if (!entries_[i].deleted) shown.push_back(i);
            return shown;
        }
    }

    MailSource::Bytes load(size_t i) {
        std::lock_guard lock(mutex_);
        if (auto p = pending_.find(i); p != pending_.end()) return MailSource::copy_of(p->second);
        return read_content(i);
    }

    void store(size_t i, std::string_view bytes) {
        long long delta = 0;
        {
            std::lock_guard lock(mutex_);
            std::string& slot = pending_[i];
            delta = static_cast<long long>(bytes.size()) - static_cast<long long>(slot.size());
            slot.assign(bytes.data(), bytes.size());
            ids_[i].reset();
        }
        queue_->add(shared_from_this(), delta);
    }

    // The file and a hash of the mail's bytes: a rewrite for other mails keeps it.
    std::string entry_id(size_t i) {
        std::lock_guard lock(mutex_);
        if (!ids_[i]) {
            mbox::StreamHash h;
            if (auto p = pending_.find(i); p != pending_.end()) {
                h.feed(p->second.data(), p->second.size());
            } else {
                MailSource::Bytes b = read_content(i);
                h.feed(b.data, b.size);
                std::free(b.data);
            }
            ids_[i] = h.value();
        }
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(*ids_[i]));
        return path_ + "#" + hex;
    }

    // Writes the saves held; false with `why` when the file stays as it was (the saves are
    // then dropped, as a failed save leaves its mail).
    // `durable`: the files the saved mails' attachments went to are on the disk; without that
    // no mail may lose its attachment, and the file stays as it is.
    bool write(bool durable, std::string& why) {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return true;
        std::map<size_t, std::string> changes;
        changes.swap(pending_);
        for (const auto& c : changes) ids_[c.first].reset();
        why = durable ? rewrite(changes)
                      : std::string("die abgelegten Dateien sind nicht sicher auf der Platte");
        if (!why.empty()) why = "Das Postfach " + path_ + " bleibt unverändert: " + why + ".";
        return why.empty();
    }

  private:
    MailSource::Bytes read_content(size_t i) {
        const mbox::Entry& e = entries_.at(i);
        Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (fd.fd < 0) fail_errno(errno, "Postfach " + path_);
        struct stat st {};
        char from[5];
        if (::fstat(fd.fd, &st) != 0 || st.st_dev != state_.dev || st.st_ino != state_.ino ||
            st.st_size < static_cast<off_t>(e.end) ||
            !read_exactly(fd.fd, from, 5, static_cast<off_t>(e.from)) ||
            std::memcmp(from, "From ", 5) != 0)
            fail(e_fail, "Das Postfach " + path_ +
                             " wurde von einem anderen Programm verändert; bitte den Ordner neu "
                             "öffnen.");
        const size_t n = static_cast<size_t>(e.content_end - e.content);
        MailSource::Bytes b;
        b.data = static_cast<char*>(std::malloc(n + 1));
        if (!b.data) fail(e_fail, "Zu wenig Speicher für die Nachricht.");
        if (!read_exactly(fd.fd, b.data, n, static_cast<off_t>(e.content))) {
            std::free(b.data);
            fail(e_fail, "Eine Nachricht aus " + path_ + " kann nicht gelesen werden.");
        }
        b.size = n;
        return b;
    }

    // "" when done, else why not.
    std::string rewrite(const std::map<size_t, std::string>& changes) {
        char* resolved = ::realpath(path_.c_str(), nullptr);
        if (!resolved) return errno_text("nicht gefunden");
        const std::string real = resolved;
        std::free(resolved);
        const std::string dir = dir_of(real);
        if (std::string held = profile_lock_reason(dir); !held.empty()) return held;

        DotLock dot(real + ".lock");
        std::string why;
        if (!dot.take(why)) return why;
        Fd in(::open(real.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        if (in.fd < 0) return errno_text("nicht zu öffnen");
        if (!lock_file(in.fd, real, why)) return why;
        struct stat st {};
        if (::fstat(in.fd, &st) != 0) return errno_text("nicht zu lesen");

        // Another program may have written meanwhile: mails appended are kept, anything else
        // leaves the file to that program. The bytes up to the listed end are checked as they
        // are copied (timestamps are too coarse to tell).
        const std::string changed = "ein anderes Programm hat es inzwischen verändert";
        if (st.st_dev != state_.dev || st.st_ino != state_.ino || st.st_size < state_.size)
            return changed;

        // The new file beside the old one, with its mode and owner.
        const std::string tmp = new_copy_of(real);
        ::unlink(tmp.c_str());  // left by a killed run: the dot lock says nobody writes it
        Fd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
        if (out.fd < 0) return errno_text("die neue Datei " + tmp + " kann nicht angelegt werden");
        struct stat now {};
        bool ok = ::fstat(out.fd, &now) == 0;
        if (ok && (now.st_mode & 07777) != (st.st_mode & 07777))
            ok = ::fchmod(out.fd, st.st_mode & 07777) == 0;
        if (ok && (now.st_uid != st.st_uid || now.st_gid != st.st_gid))
            ok = ::fchown(out.fd, st.st_uid, st.st_gid) == 0;
        if (!ok) {
            why = errno_text("Eigentümer und Rechte sind nicht zu übernehmen");
            ::unlink(tmp.c_str());
            return why;
        }

        std::vector<mbox::Entry> moved = entries_;
        mbox::StreamHash hash;
        std::vector<char> buf(1 << 20);
        off_t written = 0;
        auto put = [&](const char* p, size_t n) {
            if (!platform::write_all(out.fd, std::string_view(p, n))) return false;
            hash.feed(p, n);
            written += static_cast<off_t>(n);
            return true;
        };
        // Untouched bytes go over as they are: a mail the run did not change, its "From " line
        // and the separating empty lines. Every byte up to the listed end is read once, in
        // order, so that its hash tells whether it is still what the listing read.
        mbox::StreamHash was;
        auto pass = [&](off_t from, off_t to, bool keep) {
            while (from < to) {
                const size_t n =
                    static_cast<size_t>(std::min<off_t>(static_cast<off_t>(buf.size()), to - from));
                if (!read_exactly(in.fd, buf.data(), n, from)) return false;
                if (from < state_.size)
                    was.feed(buf.data(), static_cast<size_t>(std::min<off_t>(static_cast<off_t>(n),
                                                                             state_.size - from)));
                if (keep && !put(buf.data(), n)) return false;
                from += static_cast<off_t>(n);
            }
            return true;
        };
        off_t at = 0;
        ok = true;
        for (size_t i = 0; ok && i < entries_.size(); ++i) {
            const mbox::Entry& e = entries_[i];
            mbox::Entry& m = moved[i];
            // Bytes between `at` and the next change go over unchanged, shifted by `delta`.
            const std::int64_t delta = static_cast<std::int64_t>(written) - at;
            auto c = changes.find(i);
            if (c == changes.end()) {
                for (auto field : {&mbox::Entry::from, &mbox::Entry::content,
                                   &mbox::Entry::content_end, &mbox::Entry::end})
                    m.*field =
                        static_cast<std::uint64_t>(static_cast<std::int64_t>(e.*field) + delta);
                continue;
            }
            ok = pass(at, static_cast<off_t>(e.from), true);
            std::string from_line(e.content - e.from, '\0');
            ok = ok && read_exactly(in.fd, from_line.data(), from_line.size(),
                                    static_cast<off_t>(e.from));
            ok = ok && pass(static_cast<off_t>(e.from), static_cast<off_t>(e.end), false);
            const bool separated = e.content_end < e.end;
            const std::string framed = mbox::framed(from_line, c->second, separated);
            m.from = static_cast<std::uint64_t>(written);
            m.content = m.from + from_line.size();
            ok = ok && put(framed.data(), framed.size());
            m.end = static_cast<std::uint64_t>(written);
            m.content_end = m.end - (separated ? 1 : 0);
            at = static_cast<off_t>(e.end);
        }
        ok = ok && pass(at, state_.size, true);
        if (ok && was.value() != state_.hash) {
            ::unlink(tmp.c_str());
            return changed;
        }
        ok = ok && pass(state_.size, st.st_size, true);  // ... and mails appended meanwhile
        if (ok && ::fsync(out.fd) != 0) ok = false;
        struct stat fresh {};
        if (ok && ::fstat(out.fd, &fresh) != 0) ok = false;
        const int closed = ::close(std::exchange(out.fd, -1));
        if (!ok || closed != 0) {
            why = errno_text("die neue Datei " + tmp + " kann nicht geschrieben werden");
            ::unlink(tmp.c_str());
            return why;
        }
        // The mail program's summary would claim the old contents: without it, it reads the
        // file anew.
        const std::string summary = real + ".msf";
        if (::unlink(summary.c_str()) != 0 && errno != ENOENT) {
            why = errno_text("die Zusammenfassung " + summary + " ist nicht zu entfernen");
            ::unlink(tmp.c_str());
            return why;
        }
        if (::rename(tmp.c_str(), real.c_str()) != 0) {
            why = errno_text("die neue Datei ist nicht an ihren Platz zu bringen");
            ::unlink(tmp.c_str());
            return why;
        }
        Fd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.fd >= 0) ::fsync(folder.fd);
        entries_ = std::move(moved);
        state_ = {fresh.st_dev, fresh.st_ino, fresh.st_size, fresh.st_mtim, hash.value()};
        return "";
    }

    std::string path_;
    std::shared_ptr<MboxQueue> queue_;
    std::mutex mutex_;
    std::vector<mbox::Entry> entries_;
    std::vector<std::optional<std::uint64_t>> ids_;
    std::map<size_t, std::string> pending_;
    FileState state_;
};

void MboxQueue::add(const std::shared_ptr<MboxFile>& f, long long held_delta) {
    if (files_.empty()) first_ = Clock::now();
    if (std::find(files_.begin(), files_.end(), f) == files_.end()) files_.push_back(f);
    held_ += held_delta;
    const auto wait = std::max<Clock::duration>(std::chrono::seconds(2), 4 * last_cost_);
    if (!flushing_ && (ended_ || held_ > (64LL << 20) || Clock::now() - first_ > wait))
        write_pending();
}

bool MboxQueue::write_pending() {
    if (files_.empty() || flushing_) return true;
    flushing_ = true;
    const auto start = Clock::now();
    std::vector<std::shared_ptr<MboxFile>> files;
    files.swap(files_);
    held_ = 0;
    bool all = true;
    // One sync for every file saved since the last batch, before any mail loses an attachment.
    const bool durable = make_durable();
    for (const auto& f : files) {
        std::string why;
        if (f->write(durable, why)) continue;
        all = false;
        if (std::find(reasons_.begin(), reasons_.end(), why) == reasons_.end())
            reasons_.push_back(why);
    }
    last_cost_ = Clock::now() - start;
    flushing_ = false;
    if (!all) failed_ = true;
    return all;
}

class MboxMail : public MailSource {
  public:
    MboxMail(std::shared_ptr<MboxFile> f, size_t i) : file_(std::move(f)), index_(i) {}
    Bytes load() override { return file_->load(index_); }
    void store(std::string_view bytes) override { file_->store(index_, bytes); }
    std::string entry_id() override { return file_->entry_id(index_); }

  private:
    std::shared_ptr<MboxFile> file_;
    size_t index_;
};

bool has_suffix(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix.data(), suffix.size()) == 0;
}

class MboxFolder : public MailFolderNode {
  public:
    MboxFolder(std::shared_ptr<MboxQueue> queue, std::string name, std::string file,
               std::string sbd, bool read_only)
        : queue_(std::move(queue)),
          name_(std::move(name)),
          file_(std::move(file)),
          sbd_(std::move(sbd)),
          read_only_(read_only) {}

    std::string name() const override { return name_; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override {
        if (!kids_ready_) {
            if (!sbd_.empty()) kids_ = folders_in(queue_, sbd_, false, read_only_);
            kids_ready_ = true;
        }
        return kids_;
    }

    // The mbox files of a folder, each with its "NAME.sbd/" subfolders; a "NAME.sbd/" without
    // its file is a folder without mails. Summaries, the mail program's other files and files
    // that are no mbox stay out.
    static std::vector<std::shared_ptr<FolderNode>> folders_in(
        const std::shared_ptr<MboxQueue>& queue, const std::string& dir, bool top, bool read_only) {
        DIR* d = ::opendir(dir.c_str());
        if (!d) fail_errno(errno, "Ordner " + dir);
        std::vector<std::string> files, subdirs;
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n.empty() || n[0] == '.') continue;
            struct stat st {};
            if (::stat(join(dir, n).c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                if (has_suffix(n, ".sbd") && n.size() > 4) subdirs.push_back(n);
            } else if (S_ISREG(st.st_mode) && is_mbox(join(dir, n), st)) {
                files.push_back(n);
            }
        }
        ::closedir(d);
        std::vector<std::shared_ptr<FolderNode>> out;
        auto shown = [top](const std::string& n) {
            return top && iequals(n, "Inbox") ? std::string(inbox_name) : n;
        };
        for (const auto& f : files) {
            const bool sub = std::find(subdirs.begin(), subdirs.end(), f + ".sbd") != subdirs.end();
            out.push_back(std::make_shared<MboxFolder>(
                queue, shown(f), join(dir, f), sub ? join(dir, f + ".sbd") : "", read_only));
        }
        for (const auto& s : subdirs) {
            const std::string n = s.substr(0, s.size() - 4);
            if (std::find(files.begin(), files.end(), n) == files.end())
                out.push_back(
                    std::make_shared<MboxFolder>(queue, shown(n), "", join(dir, s), read_only));
        }
        // Same names (the inbox and a folder "Posteingang"): the inbox first, by file name.
        std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
            auto* x = static_cast<MboxFolder*>(a.get());
            auto* y = static_cast<MboxFolder*>(b.get());
            if (x->name_ != y->name_) return x->name_ < y->name_;
            return x->file_ + x->sbd_ < y->file_ + y->sbd_;
        });
        return out;
    }

  private:
    static bool is_mbox(const std::string& path, const struct stat& st) {
        for (const char* ext : {".msf", ".dat", ".json", ".html", ".js", ".sqlite", ".lock"})
            if (has_suffix(path, ext)) return false;
        if (st.st_size == 0) return true;
        char head[5] = {};
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        return fd.fd >= 0 && read_exactly(fd.fd, head, 5, 0) && std::memcmp(head, "From ", 5) == 0;
    }

    MailList list_items() override {
        queue_->write_pending();  // a new listing sees every mail saved before
        MailList list;
        if (file_.empty()) return list;
        if (!read_only_) clear_killed_rewrite(file_);
        auto file = std::make_shared<MboxFile>(file_, queue_);
        for (size_t i : file->scan()) list.add(std::make_shared<MboxMail>(file, i));
        list.read_ahead(true);
        return list;
    }

    std::shared_ptr<MboxQueue> queue_;
    std::string name_, file_, sbd_;
    bool read_only_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
    bool kids_ready_ = false;
};

class MboxStore : public FolderWithoutMails {
  public:
    MboxStore(StoreConfig c, std::shared_ptr<MboxQueue> queue, bool read_only)
        : config_(std::move(c)), queue_(std::move(queue)), read_only_(read_only) {}
    std::string name() const override { return config_.name; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override {
        if (!ready_) {
            const std::string& at = config_.location;
            struct stat st {};
            if (::stat(at.c_str(), &st) != 0) {
                if (errno != ENOENT && errno != ENOTDIR)
                    fail_errno(errno, "Informationsspeicher " + at);
            } else if (S_ISDIR(st.st_mode)) {
                kids_ = MboxFolder::folders_in(queue_, at, true, read_only_);
            } else {
                struct stat sbd {};
                const bool sub = ::stat((at + ".sbd").c_str(), &sbd) == 0 && S_ISDIR(sbd.st_mode);
                kids_.push_back(std::make_shared<MboxFolder>(queue_, inbox_name, at,
                                                             sub ? at + ".sbd" : "", read_only_));
            }
            ready_ = true;
        }
        return kids_;
    }

  private:
    StoreConfig config_;
    std::shared_ptr<MboxQueue> queue_;
    bool read_only_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
    bool ready_ = false;
};

}  // namespace

std::shared_ptr<FolderNode> open_mbox_store(const StoreConfig& config, StoreSession& session) {
    return std::make_shared<MboxStore>(config, session.saves.batch<MboxQueue>(), session.read_only);
}

std::string mbox_store_identity(const std::string& location) {
    struct stat st {};
    if (::stat(location.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
    char* resolved = ::realpath(location.c_str(), nullptr);
    if (!resolved) return "";
    const std::string real = resolved;
    std::free(resolved);
    const std::string folder = platform::file_identity(dir_of(real));
    return folder.empty() ? "" : "mbox:" + folder + "/" + base_of(real);
}

}  // namespace morvo::outlook::detail
