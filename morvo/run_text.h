// The text of a run as it grows. A run over a big folder writes megabytes of text; it is kept in
// an unnamed temporary file, already in the form the log file takes (UTF-8, LF line ends), so
// that the run holds only a small buffer however long it goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvo {

class RunText {
  public:
    RunText();
    ~RunText();
    RunText(const RunText&) = delete;
    RunText& operator=(const RunText&) = delete;

    // The text starts afresh with `text` / grows by `text`; CR LF and a lone CR become LF.
    void reset(std::string_view text);
    void append(std::string_view text);

    // Its length in the log's form.
    std::uint64_t size() const { return spooled_ + buffer_.size(); }
    // At most the last `max` bytes, from the start of a line (the whole text when it fits).
    std::string tail(std::size_t max) const;
    // The whole text (small texts and tests).
    std::string whole() const;
    // Writes the whole text to `fd`: 0 or an errno value.
    int write_to(int fd) const;

  private:
    void spool();
    // Bytes [from, from + n) of the text.
    std::string read(std::uint64_t from, std::size_t n) const;

    int fd_ = -1;            // the spool file; -1: the text is all in buffer_
    bool spooling_ = false;  // false once the file took no more (a full disk)
    std::uint64_t spooled_ = 0;
    std::string buffer_;
    bool after_cr_ = false;  // the last piece ended in CR: a leading LF belongs to it
};

}  // namespace morvo
