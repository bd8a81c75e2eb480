#include "morvo/run_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/file_toolkit.h"

namespace morvo {

namespace {

constexpr std::size_t kBuffered = 64 * 1024;

// An unnamed file in the temporary folder, gone with the process; -1 when none can be made.
int open_spool() {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env && *env ? env : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string name = dir + "/morvo-text-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

}  // namespace

RunText::RunText() : fd_(open_spool()), spooling_(fd_ >= 0) {}

RunText::~RunText() {
    if (fd_ >= 0) ::close(fd_);
}

void RunText::reset(std::string_view text) {
    if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
    spooled_ = 0;
    spooling_ = fd_ >= 0;
    buffer_.clear();
    after_cr_ = false;
    append(text);
}

void RunText::append(std::string_view text) {
    std::string piece;
    piece.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' && i == 0 && after_cr_) continue;
        if (c == '\r') {
            piece += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            piece += c;
        }
    }
    after_cr_ = !text.empty() && text.back() == '\r';
    buffer_ += platform::valid_utf8(piece);
    if (buffer_.size() >= kBuffered) spool();
}

void RunText::spool() {
    if (!spooling_) return;
    if (::lseek(fd_, static_cast<off_t>(spooled_), SEEK_SET) >= 0 &&
        platform::write_all(fd_, buffer_)) {
        spooled_ += buffer_.size();
        buffer_.clear();
    } else {
        // A full disk: what is in the file stays there, the rest is kept in memory.
        spooling_ = false;
    }
}

std::string RunText::read(std::uint64_t from, std::size_t n) const {
    std::string out;
    out.reserve(n);
    while (n > 0 && from < spooled_) {
        char chunk[65536];
        const std::size_t want = std::min<std::uint64_t>({n, sizeof chunk, spooled_ - from});
        ssize_t got = ::pread(fd_, chunk, want, static_cast<off_t>(from));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        out.append(chunk, static_cast<std::size_t>(got));
        from += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    if (n > 0 && from >= spooled_) {
        const std::size_t at = static_cast<std::size_t>(from - spooled_);
        if (at < buffer_.size()) out.append(buffer_, at, n);
    }
    return out;
}

std::string RunText::tail(std::size_t max) const {
    if (size() <= max) return whole();
    std::string t = read(size() - max, max);
    const std::size_t line = t.find('\n');
    return line == std::string::npos ? std::string() : t.substr(line + 1);
}

std::string RunText::whole() const {
    return read(0, static_cast<std::size_t>(size()));
}

int RunText::write_to(int fd) const {
    for (std::uint64_t at = 0; at < spooled_;) {
        const std::string chunk =
            read(at, static_cast<std::size_t>(std::min<std::uint64_t>(1 << 20, spooled_ - at)));
        if (chunk.empty()) return EIO;
        if (!platform::write_all(fd, chunk)) return errno ? errno : EIO;
        at += chunk.size();
    }
    return platform::write_all(fd, buffer_) ? 0 : (errno ? errno : EIO);
}

}  // namespace morvo
