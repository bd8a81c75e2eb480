#pragma once

// The mbox file format alone (no files, no folders): where the mails of an mbox lie, and how a
// changed mail is framed again. Both mboxo and mboxrd are read as written: a mail's bytes are
// what lies between its "From " line and the next, with ">From " lines kept as they are.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvo::outlook::mbox {

// A 64-bit hash fed in pieces of any size: the same value however the bytes are split.
class StreamHash {
  public:
    void feed(const char* p, std::size_t n);
    std::uint64_t value() const;

  private:
    std::uint64_t h_ = 0x9E3779B97F4A7C15ULL;
    std::uint64_t word_ = 0;
    unsigned filled_ = 0;
    std::uint64_t length_ = 0;
};

// One mail of an mbox, as byte offsets into the file.
struct Entry {
    std::uint64_t from = 0;         // its "From " line
    std::uint64_t content = 0;      // after that line
    std::uint64_t content_end = 0;  // before the empty line that separates it from the next
    std::uint64_t end = 0;          // where the next "From " line (or the file's end) lies
    bool deleted = false;           // X-Mozilla-Status flag 0x0008: deleted, not yet compacted
};

// Reads an mbox in pieces of any size. A line that begins "From " starts a mail; bytes before
// the first such line belong to no mail.
class Scanner {
  public:
    void feed(const char* p, std::size_t n);
    // The mails; call once, after the last piece.
    std::vector<Entry> finish();
    // Of every byte fed.
    std::uint64_t file_hash() const { return file_.value(); }

  private:
    void line_done(std::uint64_t end);
    void close_mail(std::uint64_t at);
    std::vector<Entry> mails_;
    StreamHash file_;
    StreamHash mail_;
    bool open_ = false;
    bool in_header_ = false;
    bool last_empty_ = false;
    std::uint64_t last_empty_size_ = 0;
    std::uint64_t pos_ = 0;
    std::uint64_t line_start_ = 0;
    std::string head_;  // the current line's first bytes (enough to recognise it)
};

// The value of an "X-Mozilla-Status:" header line (name in any letter case); -1 for another
// line or an unreadable value.
long mozilla_status(std::string_view line);

// A changed mail as its mbox holds it: its "From " line as it was, the bytes with every line
// that would read as the start of a mail quoted (">From "), a line end at the end, and the
// separating empty line when the mail had one. Lines already quoted stay as they are, since the
// bytes were read with their quoting.
std::string framed(std::string_view from_line, std::string_view bytes, bool separated);

}  // namespace morvo::outlook::mbox
