#include "morvo/journal.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/escape.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace morvo {

namespace {

const char* const kJournalName = ".morvo-journal";

// A line longer than this is no record this program wrote: it is passed over unread.
constexpr size_t kMaxLine = 1 << 20;

// The place of a record that served already.
constexpr std::uint64_t kTaken = ~std::uint64_t{0};

std::uint64_t record_key(const std::string& mail, const std::string& attachment,
                         const std::string& sha256) {
    std::string k = mail;
    k += '\0';
    k += attachment;
    k += '\0';
    k += sha256;
    return std::hash<std::string>{}(k);
}

// Opens a file only as a regular file, never through a symbolic link and never waiting (a FIFO
// would block an open for ever): -1 with errno otherwise.
int open_regular(const std::string& path, int flags, struct stat& st) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = ELOOP;  // reported as "no regular file"
        return -1;
    }
    return fd;
}

// The SHA-256 of what an open file holds, "" when it cannot be read.
std::string sha256_of_fd(int fd) {
    GChecksum* sum = g_checksum_new(G_CHECKSUM_SHA256);
    char buf[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        g_checksum_update(sum, reinterpret_cast<const guchar*>(buf), static_cast<gssize>(n));
    }
    std::string out = ok ? g_checksum_get_string(sum) : "";
    g_checksum_free(sum);
    return out;
}

std::string without_final_slash(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// A field keeps to its line and its tab-separated place.
const std::initializer_list<platform::Escape> kEscapes = {
    {'\\', "\\\\"}, {'\t', "\\t"}, {'\n', "\\n"}, {'\r', "\\r"}};

std::string escape(const std::string& s) {
    return platform::escaped(s, kEscapes);
}

std::optional<std::string> unescape(const std::string& s) {
    return platform::unescaped(s, kEscapes, platform::OtherEscape::refuse);
}

bool is_hex64(const std::string& s) {
    if (s.size() != 64) return false;
    for (char c : s)
        if (!g_ascii_isxdigit(c)) return false;
    return true;
}

}  // namespace

std::string journal_line(const JournalEntry& e) {
    // The leading tag and the trailing "." mark a line written whole; "M" records name the mail
    // by its EntryID, the older "F" ones by its subject.
    return std::string(e.identified ? "M" : "F") + "\t" + e.sha256 + "\t" + escape(e.target) +
           "\t" + escape(e.mail) + "\t" + escape(e.attachment) + "\t.\n";
}

std::optional<JournalEntry> parse_journal_line(const std::string& line) {
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos || f.size() > 6) break;
        start = tab + 1;
    }
    if (f.size() != 6 || (f[0] != "F" && f[0] != "M") || f[5] != "." || !is_hex64(f[1]))
        return std::nullopt;
    auto target = unescape(f[2]), mail = unescape(f[3]), name = unescape(f[4]);
    if (!target || !mail || !name || target->empty()) return std::nullopt;
    return JournalEntry{*mail, *name, f[1], *target, f[0] == "M"};
}

std::string file_sha256(const std::string& host_path) {
    struct stat st {};
    const int fd = open_regular(host_path, O_RDONLY, st);
    if (fd < 0) return {};
    std::string out = sha256_of_fd(fd);
    ::close(fd);
    return out;
}

std::string storage_file_host(const std::string& windows_path, const std::string& storage_host) {
    namespace fs = std::filesystem;
    std::string host = platform::host_path(windows_path);
    if (host.empty() || storage_host.empty() || host.back() == '/') return {};
    const fs::path p(host);
    const std::string name = p.filename().string();
    if (name.empty() || name == "." || name == "..") return {};
    std::error_code ec1, ec2;
    const auto parent = fs::weakly_canonical(without_final_slash(p.parent_path().string()), ec1);
    const auto folder = fs::weakly_canonical(without_final_slash(storage_host), ec2);
    if (ec1 || ec2 || parent != folder) return {};
    return host;
}

Journal::Journal(const std::string& storage_path) {
    std::string folder = platform::host_path(storage_path);
    if (folder.empty()) return;
    if (folder.back() != '/') folder += '/';
    folder_ = folder;
    path_ = folder + kJournalName;
    struct stat st {};
    read_fd_ = open_regular(path_, O_RDONLY, st);
    if (read_fd_ < 0) {
        const int err = errno;
        if (err == ENOENT) return;
        const std::string shown = platform::windows_path(path_);
        if (err == ELOOP || err == ENXIO)
            problem_ =
                "Im Ablageordner trägt etwas anderes als eine gewöhnliche Datei den Namen "
                "des Ablagejournals: " +
                shown +
                " (ein Ordner, eine Verknüpfung, eine Pipe oder ein Gerät). Bitte "
                "entfernen. Vorgang abgebrochen!";
        else
            problem_ = "Das Ablagejournal " + shown +
                       " kann nicht gelesen werden: " + std::strerror(err) +
                       ". Vorgang abgebrochen!";
        return;
    }
    // Read as a stream: what the index keeps is sixteen bytes a record, whatever the size of
    // the journal; overlong lines are passed over without being held.
    char buf[65536];
    std::string line;
    bool overlong = false;
    std::uint64_t base = 0, line_start = 0;
    for (;;) {
        ssize_t n = ::read(read_fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // a line without its end was cut short by the kill
        size_t i = 0;
        const size_t len = static_cast<size_t>(n);
        while (i < len) {
            const char* nl = static_cast<const char*>(std::memchr(buf + i, '\n', len - i));
            const size_t end = nl ? static_cast<size_t>(nl - buf) : len;
            if (!overlong && line.size() + (end - i) > kMaxLine) {
                overlong = true;
                std::string().swap(line);
            }
            if (!overlong) line.append(buf + i, end - i);
            if (nl) {
                if (!overlong) {
                    auto e = parse_journal_line(line);
                    if (e && e->identified && !e->mail.empty())
                        left_.emplace_back(record_key(e->mail, e->attachment, e->sha256),
                                           line_start);
                }
                line.clear();
                overlong = false;
                line_start = base + end + 1;
            }
            i = end + 1;
        }
        base += len;
    }
    std::sort(left_.begin(), left_.end());
    left_.shrink_to_fit();
}

Journal::~Journal() {
    if (read_fd_ >= 0) ::close(read_fd_);
    if (append_fd_ >= 0) ::close(append_fd_);
}

std::optional<JournalEntry> Journal::entry_at(std::uint64_t offset) const {
    std::string line;
    char buf[4096];
    for (;;) {
        ssize_t n = ::pread(read_fd_, buf, sizeof buf, static_cast<off_t>(offset + line.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        const char* nl = static_cast<const char*>(std::memchr(buf, '\n', static_cast<size_t>(n)));
        line.append(buf, nl ? static_cast<size_t>(nl - buf) : static_cast<size_t>(n));
        if (nl) return parse_journal_line(line);
        if (line.size() > kMaxLine) return std::nullopt;
    }
}

std::optional<std::string> Journal::take_filed(const std::string& mail_id,
                                               const std::string& attachment,
                                               const std::string& sha256) {
    if (mail_id.empty() || read_fd_ < 0) return std::nullopt;
    const std::uint64_t key = record_key(mail_id, attachment, sha256);
    auto it = std::lower_bound(left_.begin(), left_.end(), std::make_pair(key, std::uint64_t{0}));
    for (; it != left_.end() && it->first == key; ++it) {
        if (it->second == kTaken) continue;
        auto e = entry_at(it->second);
        if (!e || !e->identified || e->mail != mail_id || e->attachment != attachment ||
            e->sha256 != sha256)
            continue;
        // Only a file of this user that no other name reaches: a file someone else placed, or
        // a hard link to a file outside, could be changed behind the mail's back.
        const std::string host = storage_file_host(e->target, folder_);
        if (host.empty()) continue;
        struct stat st {};
        const int fd = open_regular(host, O_RDONLY, st);
        if (fd < 0) continue;
        const bool ours = st.st_uid == ::geteuid() && st.st_nlink == 1;
        const bool same = ours && sha256_of_fd(fd) == sha256;
        ::close(fd);
        if (!same) continue;
        it->second = kTaken;  // the order by key, all lookups need, stays
        return e->target;
    }
    return std::nullopt;
}

bool Journal::record(const JournalEntry& entry) {
    if (path_.empty()) return false;
    if (append_fd_ < 0) {
        struct stat st {};
        append_fd_ = open_regular(path_, O_WRONLY | O_APPEND | O_CREAT, st);
        if (append_fd_ < 0) return false;
    }
    const std::string line = journal_line(entry);
    // One write per record: with O_APPEND a kill leaves whole lines or a cut last one.
    return ::write(append_fd_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

void Journal::clear() {
    left_.clear();
    if (read_fd_ >= 0) ::close(read_fd_);
    if (append_fd_ >= 0) ::close(append_fd_);
    read_fd_ = append_fd_ = -1;
    if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace morvo
