// The filing journal: a run records every storage file before it creates it, and drops the
// records once the mails that lost those attachments are stored. A run killed in between leaves
// the records behind; the next run finds the file with the same bytes and links it instead of
// filing the attachment a second time. A missing or damaged journal costs at most a duplicate.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvo {

struct JournalEntry {
    std::string mail;        // the mail's subject
    std::string attachment;  // its display name
    std::string sha256;      // of the decoded content
    std::string target;      // the storage file (Windows path)
};

class Journal {
  public:
    // The journal of a storage folder (Windows path); reads what a killed run left.
    explicit Journal(const std::string& storage_path);

    // A storage file a killed run left for this attachment: one whose bytes still have that
    // SHA-256. Each record serves once.
    std::optional<std::string> take_filed(const std::string& mail, const std::string& attachment,
                                          const std::string& sha256);
    // Recorded before the file is created. False when it could not be written.
    bool record(const JournalEntry& entry);
    // Every mail of the run is stored: no record is needed any more.
    void clear();

    const std::string& path() const { return path_; }

  private:
    std::string path_;                // host path
    std::vector<JournalEntry> left_;  // from a killed run, not yet taken
};

// The journal's lines: fields separated by tabs, with backslash, tab and line breaks escaped.
std::string journal_line(const JournalEntry& e);
std::optional<JournalEntry> parse_journal_line(const std::string& line);

// SHA-256 of a file's bytes (lower-case hex), or "" when it cannot be read as a regular file.
std::string file_sha256(const std::string& host_path);

}  // namespace morvo
