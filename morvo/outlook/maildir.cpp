// The Maildir backend: our own walker over Maildir++ (".Parent.Child", names in IMAP modified
// UTF-7) and nested ("Parent/Child") stores; safe replacement of changed mails.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "morvo/outlook/mime.h"
#include "morvo/outlook/mutf7.h"
#include "platform/error.h"
#include "platform/text.h"

namespace morvo::outlook::detail {

namespace {

const char* const inbox_name = "Posteingang";

std::string join(const std::string& a, const std::string& b) {
    if (a.empty() || a.back() == '/') return a + b;
    return a + "/" + b;
}

[[noreturn]] void fail_errno(int e, const std::string& what) {
    if (e == EACCES || e == EPERM) fail(e_access_denied, "Zugriff verweigert: " + what);
    fail(e_fail, what + ": " + std::strerror(e));
}

// 0 = is a directory, else the errno (ENOTDIR for other files).
int dir_status(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

struct DirEntry {
    std::string name;
    bool is_dir;
    bool is_file;  // a regular file (also through a link)
};

// The entries of a folder without "." and ".."; throws when it cannot be read.
std::vector<DirEntry> list_dir(const std::string& path) {
    DIR* d = ::opendir(path.c_str());
    if (!d) fail_errno(errno, "Ordner " + path);
    std::vector<DirEntry> out;
    errno = 0;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        bool is_dir = e->d_type == DT_DIR;
        bool is_file = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            bool ok = ::stat(join(path, n).c_str(), &st) == 0;
            is_dir = ok && S_ISDIR(st.st_mode);
            is_file = ok && S_ISREG(st.st_mode);
        }
        out.push_back({std::move(n), is_dir, is_file});
    }
    int e = errno;
    ::closedir(d);
    if (e != 0) fail_errno(e, "Ordner " + path);
    return out;
}

std::string display_of(const std::string& raw) {
    if (auto s = mutf7_decode(raw)) return *s;
    return raw;  // names written as UTF-8 by other programs
}

using platform::iequals;

bool is_maildir_sub(const std::string& n) {
    return n == "cur" || n == "new" || n == "tmp";
}

// Delivery names in delivery order: the leading seconds compare as numbers, the rest bytewise.
bool delivery_less(const std::string& a, const std::string& b) {
    auto digits = [](const std::string& s) {
        size_t i = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        return i;
    };
    size_t da = digits(a), db = digits(b);
    if (da > 0 && db > 0) {
        std::string_view na(a.data(), da), nb(b.data(), db);
        while (na.size() > 1 && na[0] == '0') na.remove_prefix(1);
        while (nb.size() > 1 && nb[0] == '0') nb.remove_prefix(1);
        if (na.size() != nb.size()) return na.size() < nb.size();
        if (na != nb) return na < nb;
    }
    return a < b;
}

std::string host_name_for_maildir() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return "localhost";
    std::string out;
    for (const char* p = buf; *p; ++p) {
        if (*p == '/')
            out += "\\057";
        else if (*p == ':')
            out += "\\072";
        else
            out += *p;
    }
    return out;
}

std::atomic<unsigned long> delivery_counter{0};

// A saved mail's name carries a mark of the name it replaces ("R" and 16 hex digits of a hash of
// the old unique part). A crash between the rename of the new file into cur/ and the removal
// of the old one leaves both; the next listing recognises the old one by the mark and removes
// it, so a mail is never doubled.
std::string replaced_mark(const std::string& file_name) {
    return platform::fnv1a64_hex(std::string_view(file_name).substr(0, file_name.find(':')));
}

// The mark of the name a file replaces, or "" for a file that replaces none.
std::string mark_in(const std::string& file_name) {
    std::string unique = file_name.substr(0, file_name.find(':'));
    size_t q = unique.find(".M");
    if (q == std::string::npos) return {};
    q = unique.find('Q', q);
    if (q == std::string::npos) return {};
    size_t r = q + 1;
    while (r < unique.size() && std::isdigit(static_cast<unsigned char>(unique[r]))) ++r;
    if (r >= unique.size() || unique[r] != 'R' || r + 17 > unique.size()) return {};
    if (r + 17 < unique.size() && unique[r + 17] != '.') return {};
    std::string mark = unique.substr(r + 1, 16);
    for (char c : mark) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    }
    return mark;
}

// A new unique name. It keeps the delivery time that leads the old name, so that the mail keeps
// its place among the others; the rest makes it unique.
std::string new_unique_name(const std::string& old_name) {
    static const std::string host = host_name_for_maildir();
    static const std::string pid = std::to_string(::getpid());
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    size_t digits = 0;
    while (digits < old_name.size() && std::isdigit(static_cast<unsigned char>(old_name[digits])))
        ++digits;
    std::string seconds = digits > 0 && digits < old_name.size() && old_name[digits] == '.'
                              ? old_name.substr(0, digits)
                              : std::to_string(tv.tv_sec);
    return seconds + ".M" + std::to_string(tv.tv_usec) + "P" + pid + "Q" +
           std::to_string(++delivery_counter) + "R" + replaced_mark(old_name) + "." + host;
}

// Where a mail lies now: its subfolder ("cur" or "new") and file name.
struct MailPlace {
    std::string sub, file;
};

std::string unique_of(const std::string& file_name) {
    return file_name.substr(0, file_name.find(':'));
}

// The mail of a unique name wherever it lies in `folder`, whatever its flags. A listing can
// miss a file that another program renames while it is read, so "not there" is believed only
// after a few listings agree.
std::optional<MailPlace> find_mail(const std::string& folder, const std::string& unique) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        for (const char* sub : {"cur", "new"}) {
            DIR* d = ::opendir(join(folder, sub).c_str());
            if (!d) continue;
            while (dirent* e = ::readdir(d)) {
                std::string n = e->d_name;
                if (unique_of(n) == unique) {
                    ::closedir(d);
                    return MailPlace{sub, std::move(n)};
                }
            }
            ::closedir(d);
        }
    }
    return std::nullopt;
}

// The flags of a name's "2," information; nullopt for names without it or with another kind.
std::optional<std::string> flags_of(const std::string& file_name) {
    size_t colon = file_name.find(':');
    if (colon == std::string::npos) return std::string();  // in new/: no flags yet
    if (file_name.compare(colon + 1, 2, "2,") != 0) return std::nullopt;
    return file_name.substr(colon + 3);
}

// The flags a client changed on the old file (from `base` to `now`) applied to `mine`.
std::string merged_flags(const std::string& base, const std::string& now, std::string mine) {
    for (char c : now)
        if (base.find(c) == std::string::npos && mine.find(c) == std::string::npos) mine += c;
    for (char c : base)
        if (now.find(c) == std::string::npos) std::erase(mine, c);
    std::sort(mine.begin(), mine.end());
    return mine;
}

class MaildirMail;

// Saved mails become visible in batches. A save keeps the new mail in memory (a mail saved
// again before the batch completes only replaces it); the batch writes every new mail into
// tmp/, makes them durable with one file-system sync, renames them into cur/, syncs again and
// only then removes the old files. A crash at any point leaves the old mail or the new one (at
// worst both), never neither; and one sync per batch instead of one per mail keeps a run of
// thousands of mails fast.
//
// One batch per session (see SaveQueue); its mails hold it, and it holds their pending saves.
class SaveBatch : public PendingSaves {
  public:
    ~SaveBatch() override { complete(); }

    void add(std::shared_ptr<MaildirMail> m);
    // Bytes held by pending saves changed by `delta`; many large mails complete the batch early.
    void held_bytes(long long delta);
    // False when a mail of the batch could not be saved (it stays as it was).
    bool complete();
    // Incomplete when a save failed since the last call, in this batch or an earlier one; a
    // Maildir has no more to say about it than that the mail stayed as it was.
    FlushResult flush() override {
        bool ok = complete();
        FlushResult r;
        r.complete = !std::exchange(failed_, false) && ok;
        return r;
    }
    void session_ended() override { ended_ = true; }

  private:
    bool ended_ = false;
    std::vector<std::shared_ptr<MaildirMail>> pending_;
    long long held_ = 0;
    std::chrono::steady_clock::time_point first_;
    bool flushing_ = false;
    bool failed_ = false;
};

// A folder's mails as listed: each one's place (new/ or cur/) and file name, packed one after
// another, so that a folder of 100,000 mails keeps a few megabytes. The mail objects are made
// when a mail is asked for; one renamed by a save writes its new name back.
class MaildirListing {
  public:
    explicit MaildirListing(std::string dir) : dir_(std::move(dir)) {}
    const std::string& dir() const { return dir_; }
    void add(const std::string& sub, const std::string& file) {
        rows_.push_back(Row{names_.size(), static_cast<std::uint32_t>(file.size()), sub == "cur"});
        names_ += file;
    }
    size_t size() const { return rows_.size(); }
    std::pair<std::string, std::string> at(size_t i) const {
        std::lock_guard lock(mutex_);
        const Row& r = rows_.at(i);
        return {r.cur ? "cur" : "new", names_.substr(r.offset, r.size)};
    }
    void rename(size_t i, const std::string& sub, const std::string& file) {
        std::lock_guard lock(mutex_);
        rows_.at(i) = Row{names_.size(), static_cast<std::uint32_t>(file.size()), sub == "cur"};
        names_ += file;
    }

  private:
    struct Row {
        std::uint64_t offset;
        std::uint32_t size;
        bool cur;
    };
    std::string dir_;
    std::string names_;
    std::vector<Row> rows_;
    mutable std::mutex mutex_;  // renames come from the batch, reads from the reading thread
};

// One mail file of a Maildir folder. The file may be renamed by other mail programs (flag
// changes); it is found again by its unique part.
class MaildirMail : public MailSource, public std::enable_shared_from_this<MaildirMail> {
  public:
    MaildirMail(std::shared_ptr<SaveBatch> saves, std::shared_ptr<MaildirListing> listing,
                size_t row)
        : saves_(std::move(saves)), listing_(std::move(listing)), row_(row) {
        folder_ = listing_->dir();
        std::tie(sub_, file_) = listing_->at(row_);
    }

    // load() may run on the thread that reads ahead, beside the batch's calls on this mail.
    Bytes load() override {
        std::lock_guard lock(mutex_);
        if (has_pending_) {  // saved by this program, not yet on disk
            return copy_of(pending_bytes_);
        }
        std::string path = pending_tmp_.empty() ? current_path() : pending_tmp_;
        // Non-blocking: a FIFO put in place of the mail since the listing must not stop the run.
        const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
        int fd = ::open(path.c_str(), flags);
        if (fd < 0 && errno == ENOENT && pending_tmp_.empty()) {  // renamed by another program
            path = locate();
            fd = ::open(path.c_str(), flags);
        }
        if (fd < 0) fail_errno(errno, "Nachricht " + path);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fail(mapi_e_corrupt_data, "Die Nachricht " + path + " ist keine Datei.");
        }
        size_t cap = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 65536;
        Bytes b;
        b.data = static_cast<char*>(std::malloc(cap));
        for (;;) {
            if (b.size == cap) {
                cap *= 2;
                char* grown = static_cast<char*>(std::realloc(b.data, cap));
                if (!grown) break;
                b.data = grown;
            }
            ssize_t n = b.data ? ::read(fd, b.data + b.size, cap - b.size) : -1;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ::close(fd);
                std::free(b.data);
                fail(e_fail, "Die Nachricht " + path + " kann nicht gelesen werden.");
            }
            if (n == 0) break;
            b.size += static_cast<size_t>(n);
        }
        ::close(fd);
        return b;
    }

    void store(std::string_view bytes) override {
        bool queued = false;
        long long before = 0;
        {
            std::lock_guard lock(mutex_);
            std::string old_path = current_path();
            struct stat st {};
            if (::stat(old_path.c_str(), &st) != 0 && errno == ENOENT) old_path = locate();
            if (::stat(old_path.c_str(), &st) != 0) fail_errno(errno, "Nachricht " + old_path);
            queued = has_pending_;
            before = queued ? static_cast<long long>(pending_bytes_.size()) : 0;
            pending_bytes_.assign(bytes.data(), bytes.size());
            has_pending_ = true;
        }
        saves_->held_bytes(static_cast<long long>(bytes.size()) - before);
        if (!queued) saves_->add(shared_from_this());
    }

    // First step of the batch: the new mail goes into tmp/ with the old file's mode and owner.
    // false (and nothing left behind) when that fails; the old mail then stays as it is.
    bool write_pending() {
        std::lock_guard lock(mutex_);
        if (!has_pending_) return false;
        std::string bytes = std::move(pending_bytes_);
        pending_bytes_.clear();
        has_pending_ = false;
        struct stat st {};
        std::string old_path;
        try {
            old_path = locate();
        } catch (const platform::Error&) {
            return false;  // deleted by another program meanwhile: it stays deleted
        }
        if (::stat(old_path.c_str(), &st) != 0) return false;

        std::string tmp_dir = join(folder_, "tmp");
        std::string unique = new_unique_name(file_);
        std::string tmp_path = join(tmp_dir, unique);
        int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
        int fd = ::open(tmp_path.c_str(), flags, st.st_mode & 07777);
        if (fd < 0 && errno == ENOENT &&
            ::mkdir(tmp_dir.c_str(), 0700) == 0)  // tmp/ was cleaned away
            fd = ::open(tmp_path.c_str(), flags, st.st_mode & 07777);
        if (fd < 0) return false;
        bool ok = true;
        const char* p = bytes.data();
        size_t left = bytes.size();
        while (ok && left > 0) {
            ssize_t w = ::write(fd, p, left);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) ok = false;
            if (w > 0) {
                p += w;
                left -= static_cast<size_t>(w);
            }
        }
        struct stat now {};
        if (ok && ::fstat(fd, &now) != 0) ok = false;
        if (ok && (now.st_mode & 07777) != (st.st_mode & 07777) &&
            ::fchmod(fd, st.st_mode & 07777) != 0)
            ok = false;
        if (ok && (now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0)
            ok = false;
        if (::close(fd) != 0) ok = false;
        if (!ok) {
            ::unlink(tmp_path.c_str());
            return false;
        }
        pending_tmp_ = tmp_path;
        pending_unique_ = unique;
        return true;
    }

    const std::string& folder() const { return folder_; }

    // After the sync: the new file goes into cur/ under its unique name with the mail's
    // current flags. True when there is an old file to remove (finish_replace).
    bool commit() {
        std::lock_guard lock(mutex_);
        std::string tmp = std::move(pending_tmp_);
        pending_tmp_.clear();
        try {
            locate();
        } catch (const platform::Error&) {
            ::unlink(tmp.c_str());  // deleted by another program meanwhile: it stays deleted
            return false;
        }
        size_t colon = file_.find(':');
        std::string info = colon == std::string::npos ? "2," : file_.substr(colon + 1);
        std::string new_file = pending_unique_ + ":" + info;
        std::string new_path = join(join(folder_, "cur"), new_file);
        // Maildir delivery moves the file from tmp/ to cur/ under a new name and never over
        // another mail: a move between folders, not a replacement the file toolkit writes.
        if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, new_path.c_str(), RENAME_NOREPLACE) != 0) {
            bool done = false;
            if (errno == EINVAL || errno == ENOSYS) {  // file systems without RENAME_NOREPLACE
                done = ::link(tmp.c_str(), new_path.c_str()) == 0;
                if (done) ::unlink(tmp.c_str());
            }
            if (!done) {
                ::unlink(tmp.c_str());  // the old mail stays as it was
                return false;
            }
        }
        replaced_unique_ = unique_of(file_);
        replaced_flags_ = flags_of(file_);
        replaced_path_ = current_path();
        moved_to("cur", new_file);
        return true;
    }

    // Once the new file is durable: the old one goes. A client may have renamed it meanwhile
    // (flags, new/ to cur/): it is found by its unique part, and the flags it had when it went
    // are carried to the new file. A mail the client deleted meanwhile takes the new file with
    // it, so that it does not come back.
    void finish_replace() {
        std::lock_guard lock(mutex_);
        const std::string old_unique = std::exchange(replaced_unique_, {});
        const std::string old_path = std::exchange(replaced_path_, {});
        if (old_unique.empty()) return;
        // Mostly the old file is where it was read, unchanged: removing it by that name spares a
        // listing of the folder per mail, which would make a big folder's run quadratic.
        if (::unlink(old_path.c_str()) == 0) return;
        if (errno != ENOENT) return;  // both stay; the next listing knows the old one by the mark
        std::optional<std::string> gone_flags;
        bool gone = false;
        for (int tries = 0; tries < 100 && !gone; ++tries) {
            std::optional<MailPlace> at = find_mail(folder_, old_unique);
            if (!at) break;
            if (::unlink(join(join(folder_, at->sub), at->file).c_str()) == 0) {
                gone = true;
                gone_flags = flags_of(at->file);
            } else if (errno != ENOENT) {
                return;  // both stay; the next listing knows the old one by the mark
            }
        }
        const std::string mine = unique_of(file_);
        if (!gone) {  // deleted by the client
            if (std::optional<MailPlace> at = find_mail(folder_, mine))
                ::unlink(join(join(folder_, at->sub), at->file).c_str());
            return;
        }
        if (!gone_flags || !replaced_flags_ || *gone_flags == *replaced_flags_) return;
        for (int tries = 0; tries < 100; ++tries) {
            std::optional<MailPlace> at = find_mail(folder_, mine);
            if (!at) return;
            std::optional<std::string> now = flags_of(at->file);
            if (!now) return;
            std::string want = merged_flags(*replaced_flags_, *gone_flags, *now);
            if (want == *now && at->sub == "cur") return;
            std::string from = join(join(folder_, at->sub), at->file);
            std::string name = mine + ":2," + want;
            if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD,
                            join(join(folder_, "cur"), name).c_str(), RENAME_NOREPLACE) == 0) {
                moved_to("cur", name);
                return;
            }
            if (errno != ENOENT && errno != EEXIST) return;  // renamed meanwhile: look again
        }
    }

    std::string entry_id() override {
        std::lock_guard lock(mutex_);
        return folder_ + "/" + file_.substr(0, file_.find(':'));
    }

    // When the sync failed: the old mail stays, the new one is dropped.
    void abandon_pending() {
        std::lock_guard lock(mutex_);
        if (!pending_tmp_.empty()) ::unlink(pending_tmp_.c_str());
        pending_tmp_.clear();
        pending_bytes_.clear();
        has_pending_ = false;
    }

  private:
    std::string current_path() const { return join(join(folder_, sub_), file_); }

    // The mail's file has a new name: kept here and in the listing, for the next object made.
    void moved_to(std::string sub, std::string file) {
        sub_ = std::move(sub);
        file_ = std::move(file);
        listing_->rename(row_, sub_, file_);
    }

    std::string locate() {
        std::string path = current_path();
        if (::access(path.c_str(), F_OK) == 0) return path;
        if (errno != ENOENT) return path;  // let the caller report the real failure
        if (std::optional<MailPlace> at = find_mail(folder_, unique_of(file_))) {
            moved_to(at->sub, at->file);
            return join(join(folder_, sub_), file_);
        }
        fail(e_fail, "Die Nachricht " + path + " ist nicht mehr vorhanden.");
    }

    std::shared_ptr<SaveBatch> saves_;
    std::shared_ptr<MaildirListing> listing_;
    size_t row_;
    std::string folder_;
    std::string sub_;
    std::string file_;
    std::string pending_tmp_;
    std::string pending_unique_;
    // After commit(): the unique part of the file replaced and its flags then.
    std::string replaced_unique_;
    std::optional<std::string> replaced_flags_;
    std::string replaced_path_;
    std::string pending_bytes_;
    bool has_pending_ = false;
    std::mutex mutex_;
};

// Freeing a file's blocks waits on the disk (notably with online discard); a few helpers that
// live only inside this call remove the old files side by side.
void finish_replacements(const std::vector<std::shared_ptr<MaildirMail>>& mails) {
    size_t helpers = std::min<size_t>(16, mails.size() / 8);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < mails.size();) mails[i]->finish_replace();
    };
    std::vector<std::thread> pool;
    try {
        for (size_t k = 1; k < helpers; ++k) pool.emplace_back(work);
    } catch (const std::system_error&) {
        // no thread to spare: this one does the rest
    }
    work();
    for (auto& t : pool) t.join();
}

void SaveBatch::add(std::shared_ptr<MaildirMail> m) {
    if (pending_.empty()) first_ = std::chrono::steady_clock::now();
    pending_.push_back(std::move(m));
    if (ended_ || pending_.size() >= 256 || held_ > (32LL << 20) ||
        std::chrono::steady_clock::now() - first_ > std::chrono::seconds(1))
        complete();
}

void SaveBatch::held_bytes(long long delta) {
    held_ += delta;
    if (held_ > (64LL << 20) && !flushing_) complete();  // one mail saved again and again, grown
}

bool SaveBatch::complete() {
    if (pending_.empty() || flushing_) return true;
    flushing_ = true;
    std::vector<std::shared_ptr<MaildirMail>> batch;
    batch.swap(pending_);
    held_ = 0;
    std::vector<std::shared_ptr<MaildirMail>> written;
    for (const auto& m : batch)
        if (m->write_pending()) written.push_back(m);
    bool all = written.size() == batch.size();
    batch.swap(written);
    std::vector<std::string> dirs;
    for (const auto& m : batch)
        if (std::find(dirs.begin(), dirs.end(), m->folder()) == dirs.end())
            dirs.push_back(m->folder());
    // The new files' contents must be on disk first, and so must the attachments saved from
    // these mails before the mails lose them.
    if (!make_durable(dirs)) {
        for (const auto& m : batch) m->abandon_pending();
        flushing_ = false;
        failed_ = true;
        return false;
    }
    std::vector<std::shared_ptr<MaildirMail>> replaced;
    for (const auto& m : batch)
        if (m->commit()) replaced.push_back(m);
    if (make_durable(dirs)) finish_replacements(replaced);  // ... and their names in cur/
    flushing_ = false;
    if (!all) failed_ = true;
    return all;
}

// What the folders of one opened store share.
struct Opened {
    std::shared_ptr<SaveBatch> saves;
    bool read_only = false;
};

class MaildirFolder : public MailFolderNode {
  public:
    // nested: a folder's subfolders are directories inside it; kmail: beside it in
    // ".NAME.directory/"; thunderbird: beside it in "NAME.sbd/".
    enum class Layout { plusplus, nested, kmail, thunderbird };

    // The directory that holds the subfolders of folder `name` in `dir`; "" when there is none.
    static std::string subfolder_dir(const std::string& dir, const std::string& name, Layout l) {
        std::string sub = l == Layout::kmail         ? join(dir, "." + name + ".directory")
                          : l == Layout::thunderbird ? join(dir, name + ".sbd")
                                                     : join(dir, name);
        return l == Layout::nested || dir_status(sub) == 0 ? sub : "";
    }
    static bool is_folder_dir(const DirEntry& e, Layout l) {
        if (!e.is_dir || e.name[0] == '.' || is_maildir_sub(e.name)) return false;
        return !(l == Layout::thunderbird && e.name.size() > 4 &&
                 e.name.compare(e.name.size() - 4, 4, ".sbd") == 0);
    }

    MaildirFolder(std::string name, std::string raw, std::string dir, Layout layout, Opened opened)
        : name_(std::move(name)),
          raw_(std::move(raw)),
          dir_(std::move(dir)),
          layout_(layout),
          opened_(std::move(opened)) {}

    std::string name() const override { return name_; }
    const std::string& raw() const { return raw_; }
    void set_dir(std::string d) { dir_ = std::move(d); }

    const std::vector<std::shared_ptr<FolderNode>>& children() override {
        if (!kids_ready_) {
            if (layout_ != Layout::plusplus) {
                std::vector<std::shared_ptr<FolderNode>> kids;
                for (const auto& d : nested_dirs_) append_nested(d, kids);
                sort_folders(kids);
                kids_ = std::move(kids);
            }
            kids_ready_ = true;
        }
        return kids_;
    }

    // Maildir++: the store walk hands out the children; nested: the folders whose
    // subdirectories are this folder's children.
    std::vector<std::shared_ptr<MaildirFolder>> plus_kids;
    std::vector<std::string> nested_dirs_;

    void finish_plusplus() {
        std::vector<std::shared_ptr<FolderNode>> kids(plus_kids.begin(), plus_kids.end());
        sort_folders(kids);
        kids_ = std::move(kids);
        kids_ready_ = true;
        for (auto& k : plus_kids) k->finish_plusplus();
    }

    static void sort_folders(std::vector<std::shared_ptr<FolderNode>>& kids) {
        std::stable_sort(kids.begin(), kids.end(), [](const auto& a, const auto& b) {
            auto* x = static_cast<MaildirFolder*>(a.get());
            auto* y = static_cast<MaildirFolder*>(b.get());
            if (x->name_ != y->name_) return x->name_ < y->name_;
            return x->raw_ < y->raw_;
        });
    }

  private:
    void append_nested(const std::string& dir, std::vector<std::shared_ptr<FolderNode>>& kids) {
        for (const auto& e : list_dir(dir)) {
            if (!is_folder_dir(e, layout_)) continue;
            auto f = std::make_shared<MaildirFolder>(display_of(e.name), e.name, join(dir, e.name),
                                                     layout_, opened_);
            std::string sub = subfolder_dir(dir, e.name, layout_);
            if (!sub.empty()) f->nested_dirs_.push_back(sub);
            kids.push_back(std::move(f));
        }
    }

    // Removes the old files that a completed save replaced (left by a crash between the rename
    // and the removal): the new file is durable before its rename, so the old one is surplus.
    void drop_replaced(std::vector<std::pair<std::string, std::string>>& files) {
        std::set<std::string> marks;
        for (const auto& f : files) {
            std::string m = mark_in(f.second);
            if (!m.empty()) marks.insert(m);
        }
        if (marks.empty()) return;
        std::erase_if(files, [&](const auto& f) {
            if (!marks.count(replaced_mark(f.second))) return false;
            std::string path = join(join(dir_, f.first), f.second);
            return ::unlink(path.c_str()) == 0;
        });
    }

    MailList list_items() override {
        opened_.saves->complete();  // a new listing sees every mail saved before
        MailList list;
        if (!dir_.empty()) {
            std::vector<std::pair<std::string, std::string>> files;  // (sub, file)
            for (const char* sub : {"new", "cur"}) {
                std::string d = join(dir_, sub);
                int st = dir_status(d);
                if (st == ENOENT || st == ENOTDIR) continue;  // a folder that holds no mails
                if (st != 0) fail_errno(st, "Ordner " + d);
                // FIFOs, devices and sockets are no mails: opening one could wait for ever.
                for (const auto& e : list_dir(d))
                    if (e.is_file && e.name[0] != '.') files.emplace_back(sub, e.name);
            }
            if (!opened_.read_only) drop_replaced(files);
            std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
                std::string ka = a.second.substr(0, a.second.find(':'));
                std::string kb = b.second.substr(0, b.second.find(':'));
                if (ka != kb) return delivery_less(ka, kb);
                return a.second < b.second;
            });
            auto listing = std::make_shared<MaildirListing>(dir_);
            for (const auto& [sub, file] : files) listing->add(sub, file);
            files = {};
            list = MailList(static_cast<long>(listing->size()), [listing, saves = opened_.saves](
                                                                    long position) {
                return std::make_shared<MaildirMail>(saves, listing, static_cast<size_t>(position));
            });
        }
        list.read_ahead(true);
        return list;
    }

    std::string name_;
    std::string raw_;
    std::string dir_;
    Layout layout_;
    Opened opened_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
    bool kids_ready_ = false;
};

// The store: a top-level folder without mails of its own; its first level holds the inbox,
// shown as "Posteingang", next to the store's other top-level folders.
class MaildirStore : public FolderWithoutMails {
  public:
    MaildirStore(StoreConfig c, Opened opened)
        : config_(std::move(c)), opened_(std::move(opened)) {}

    std::string name() const override { return config_.name; }

    const std::vector<std::shared_ptr<FolderNode>>& children() override {
        if (!ready_) {
            kids_ = walk();
            ready_ = true;
        }
        return kids_;
    }

  private:
    std::vector<std::shared_ptr<FolderNode>> walk() {
        const std::string& root = config_.location;
        int st = dir_status(root);
        if (st == ENOENT || st == ENOTDIR) return {};  // a store that is not there has no folders
        if (st != 0) fail_errno(st, "Informationsspeicher " + root);
        auto entries = list_dir(root);
        bool plusplus = true;
        using L = MaildirFolder::Layout;
        L tree = L::nested;  // how a folder's subfolders are found when not Maildir++
        if (iequals(config_.layout, "kmail")) tree = L::kmail;
        if (iequals(config_.layout, "thunderbird")) tree = L::thunderbird;
        if (iequals(config_.layout, "nested") || tree != L::nested) {
            plusplus = false;
        } else if (!iequals(config_.layout, "maildir++")) {
            bool dot = false, nested = false;
            for (const auto& e : entries) {
                if (!e.is_dir) continue;
                if (e.name[0] == '.')
                    dot = true;
                else if (!is_maildir_sub(e.name))
                    nested = true;
            }
            plusplus = dot || !nested;
        }
        return plusplus ? walk_plusplus(root, entries) : walk_nested(root, entries, tree);
    }

    std::vector<std::shared_ptr<FolderNode>> walk_plusplus(const std::string& root,
                                                           const std::vector<DirEntry>& entries) {
        using L = MaildirFolder::Layout;
        auto top = std::make_shared<MaildirFolder>("", "", "", L::plusplus, opened_);
        auto inbox = std::make_shared<MaildirFolder>(
            inbox_name, "", dir_status(join(root, "cur")) == 0 ? root : "", L::plusplus, opened_);
        top->plus_kids.push_back(inbox);
        for (const auto& e : entries) {
            if (!e.is_dir || e.name.size() < 2 || e.name[0] != '.') continue;
            std::vector<std::string> comps;
            size_t start = 1;
            bool bad = false;
            for (;;) {
                size_t dot = e.name.find('.', start);
                std::string c = e.name.substr(
                    start, dot == std::string::npos ? std::string::npos : dot - start);
                if (c.empty()) bad = true;
                comps.push_back(c);
                if (dot == std::string::npos) break;
                start = dot + 1;
            }
            if (bad) continue;
            MaildirFolder* at = top.get();
            size_t first = 0;
            if (iequals(comps[0], "INBOX")) {
                if (comps.size() == 1) continue;  // the inbox itself lives at the root
                at = inbox.get();
                first = 1;
            }
            for (size_t k = first; k < comps.size(); ++k) {
                std::shared_ptr<MaildirFolder> next;
                for (auto& kid : at->plus_kids)
                    if (kid->raw() == comps[k] && kid.get() != inbox.get()) next = kid;
                bool last = k + 1 == comps.size();
                if (!next) {
                    next = std::make_shared<MaildirFolder>(display_of(comps[k]), comps[k], "",
                                                           L::plusplus, opened_);
                    at->plus_kids.push_back(next);
                }
                if (last) next->set_dir(join(root, e.name));
                at = next.get();
            }
        }
        top->finish_plusplus();
        return top->children();
    }

    std::vector<std::shared_ptr<FolderNode>> walk_nested(const std::string& root,
                                                         const std::vector<DirEntry>& entries,
                                                         MaildirFolder::Layout layout) {
        std::string inbox_dir;
        std::string inbox_sub;  // an "INBOX" directory: the inbox's mails or subfolders are there
        std::string inbox_kids;
        for (const auto& e : entries)
            if (e.is_dir && iequals(e.name, "INBOX")) {
                inbox_sub = join(root, e.name);
                inbox_kids = MaildirFolder::subfolder_dir(root, e.name, layout);
            }
        if (dir_status(join(root, "cur")) == 0)
            inbox_dir = root;
        else if (!inbox_sub.empty() && dir_status(join(inbox_sub, "cur")) == 0)
            inbox_dir = inbox_sub;
        std::vector<std::shared_ptr<FolderNode>> kids;
        auto inbox = std::make_shared<MaildirFolder>(inbox_name, "", inbox_dir, layout, opened_);
        if (!inbox_kids.empty()) inbox->nested_dirs_.push_back(inbox_kids);
        kids.push_back(inbox);
        for (const auto& e : entries) {
            if (!MaildirFolder::is_folder_dir(e, layout) || iequals(e.name, "INBOX")) continue;
            auto f = std::make_shared<MaildirFolder>(display_of(e.name), e.name, join(root, e.name),
                                                     layout, opened_);
            std::string sub = MaildirFolder::subfolder_dir(root, e.name, layout);
            if (!sub.empty()) f->nested_dirs_.push_back(sub);
            kids.push_back(std::move(f));
        }
        MaildirFolder::sort_folders(kids);
        return kids;
    }

    StoreConfig config_;
    Opened opened_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
    bool ready_ = false;
};

}  // namespace

std::shared_ptr<FolderNode> open_maildir_store(const StoreConfig& config, StoreSession& session) {
    return std::make_shared<MaildirStore>(
        config, Opened{session.saves.batch<SaveBatch>(), session.read_only});
}

}  // namespace morvo::outlook::detail
