#include "morvo/journal.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/escape.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace morvo {

namespace {

const char* const kJournalName = ".morvo-journal";

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
    // The leading "F" and the trailing "." mark a line written whole.
    return "F\t" + e.sha256 + "\t" + escape(e.target) + "\t" + escape(e.mail) + "\t" +
           escape(e.attachment) + "\t.\n";
}

std::optional<JournalEntry> parse_journal_line(const std::string& line) {
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (f.size() != 6 || f[0] != "F" || f[5] != "." || !is_hex64(f[1])) return std::nullopt;
    auto target = unescape(f[2]), mail = unescape(f[3]), name = unescape(f[4]);
    if (!target || !mail || !name || target->empty()) return std::nullopt;
    return JournalEntry{*mail, *name, f[1], *target};
}

std::string file_sha256(const std::string& host_path) {
    const int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return {};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
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
    ::close(fd);
    std::string out = ok ? g_checksum_get_string(sum) : "";
    g_checksum_free(sum);
    return out;
}

Journal::Journal(const std::string& storage_path) {
    std::string folder = platform::host_path(storage_path);
    if (folder.empty()) return;
    if (folder.back() != '/') folder += '/';
    path_ = folder + kJournalName;
    auto text = platform::read_file(platform::windows_path(path_));
    if (!text) return;
    size_t start = 0;
    while (start < text->size()) {
        size_t nl = text->find('\n', start);
        if (nl == std::string::npos) break;  // a line cut short by the kill
        if (auto e = parse_journal_line(text->substr(start, nl - start)))
            left_.push_back(std::move(*e));
        start = nl + 1;
    }
}

std::optional<std::string> Journal::take_filed(const std::string& mail,
                                               const std::string& attachment,
                                               const std::string& sha256) {
    for (auto it = left_.begin(); it != left_.end(); ++it) {
        if (it->mail != mail || it->attachment != attachment || it->sha256 != sha256) continue;
        std::string host = platform::host_path(it->target);
        if (host.empty() || file_sha256(host) != sha256) continue;
        std::string target = it->target;
        left_.erase(it);
        return target;
    }
    return std::nullopt;
}

bool Journal::record(const JournalEntry& entry) {
    if (path_.empty()) return false;
    const int fd =
        ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const std::string line = journal_line(entry);
    // One write per record: with O_APPEND a kill leaves whole lines or a cut last one.
    bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return ok;
}

void Journal::clear() {
    left_.clear();
    if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace morvo
