#include "morvo/outlook/mbox_format.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace morvo::outlook::mbox {

namespace {

std::uint64_t mixed(std::uint64_t w) {
    w ^= w >> 33;
    w *= 0xFF51AFD7ED558CCDULL;
    w ^= w >> 29;
    return w;
}

bool starts_from(std::string_view line) {
    return line.substr(0, 5) == "From ";
}

}  // namespace

void StreamHash::feed(const char* p, std::size_t n) {
    length_ += n;
    auto take = [this](std::uint64_t w) { h_ = (h_ ^ mixed(w)) * 0x9FB21C651E98DF25ULL; };
    while (n > 0 && filled_ > 0) {
        word_ |= static_cast<std::uint64_t>(static_cast<unsigned char>(*p++)) << (8 * filled_++);
        --n;
        if (filled_ == 8) {
            take(word_);
            word_ = 0;
            filled_ = 0;
        }
    }
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        take(w);
    }
    for (; n > 0; --n)
        word_ |= static_cast<std::uint64_t>(static_cast<unsigned char>(*p++)) << (8 * filled_++);
}

std::uint64_t StreamHash::value() const {
    return mixed(h_ ^ mixed(word_ ^ length_));
}

void Scanner::feed(const char* p, std::size_t n) {
    file_.feed(p, n);
    std::size_t i = 0;
    while (i < n) {
        const void* nl = std::memchr(p + i, '\n', n - i);
        const std::size_t stop =
            nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - p) + 1 : n;
        // Enough of a line to tell a "From " line, an empty line or a status header.
        if (head_.size() < 64) head_.append(p + i, std::min(stop - i, 64 - head_.size()));
        pos_ += stop - i;
        i = stop;
        if (nl) line_done(pos_);
    }
}

void Scanner::line_done(std::uint64_t end) {
    if (starts_from(head_)) {
        close_mail(line_start_);
        Entry e;
        e.from = line_start_;
        e.content = end;
        mails_.push_back(e);
        open_ = true;
        in_header_ = true;
        last_empty_ = false;
    } else {
        const bool empty = head_ == "\n" || head_ == "\r\n";
        if (open_ && in_header_) {
            if (empty) {
                in_header_ = false;
            } else if (long s = mozilla_status(head_); s >= 0 && (s & 0x0008)) {
                mails_.back().deleted = true;
            }
        }
        last_empty_ = empty;
        last_empty_size_ = end - line_start_;
    }
    head_.clear();
    line_start_ = end;
}

void Scanner::close_mail(std::uint64_t at) {
    if (!open_) return;
    Entry& e = mails_.back();
    e.end = at;
    // The empty line before the next "From " line separates the mails; it is no part of either.
    const std::uint64_t sep = last_empty_ ? last_empty_size_ : 0;
    e.content_end = std::max(e.content, at - sep);
}

std::vector<Entry> Scanner::finish() {
    if (pos_ > line_start_) line_done(pos_);  // a last line without a line end
    close_mail(pos_);
    open_ = false;
    return std::move(mails_);
}

long mozilla_status(std::string_view line) {
    constexpr std::string_view name = "x-mozilla-status:";
    if (line.size() < name.size()) return -1;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return -1;
    std::size_t i = name.size();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    long value = 0;
    std::size_t digits = 0;
    for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
        if (++digits > 8) return -1;
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
        value = value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
    }
    for (; i < line.size(); ++i)
        if (!std::isspace(static_cast<unsigned char>(line[i]))) return -1;
    return digits > 0 ? value : -1;
}

std::string framed(std::string_view from_line, std::string_view bytes, bool separated) {
    std::string out;
    out.reserve(from_line.size() + bytes.size() + bytes.size() / 1000 + 2);
    out.append(from_line);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t nl = bytes.find('\n', i);
        const std::size_t stop = nl == std::string_view::npos ? bytes.size() : nl + 1;
        if (starts_from(bytes.substr(i))) out += '>';
        out.append(bytes.substr(i, stop - i));
        i = stop;
    }
    if (out.back() != '\n') out += '\n';
    if (separated) out += '\n';
    return out;
}

}  // namespace morvo::outlook::mbox
