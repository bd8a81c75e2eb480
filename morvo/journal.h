// The filing journal: a run records every storage file before it creates it, and drops the
// records once the mails that lost those attachments are stored. A run killed in between leaves
// the records behind; the next run finds the file with the same bytes and links it instead of
// filing the attachment a second time. A missing or damaged journal costs at most a duplicate.
//
// The journal lies in the storage folder, which others may share: it is read only as a regular
// file, as a stream, and a record serves only the mail it was written for and only a file of
// this user lying directly in the storage folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvo {

struct JournalEntry {
    // The mail's EntryID before filing changed it: a saved mail has a new one, so the record
    // serves the mail only while its save has not landed. Older journals hold the subject here
    // (identified false); such a record names no mail and serves none.
    std::string mail;
    std::string attachment;  // its display name
    std::string sha256;      // of the decoded content
    std::string target;      // the storage file (Windows path)
    bool identified = true;
};

class Journal {
  public:
    // The journal of a storage folder (Windows path); indexes what a killed run left.
    explicit Journal(const std::string& storage_path);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Why the journal cannot be used, "" when it can. Anything but a regular file by that name
    // (a folder, a symbolic link, a pipe, a device) is refused: the run must not start then.
    const std::string& problem() const { return problem_; }

    // A storage file a killed run left for this attachment of this mail (its EntryID): one of
    // this user, directly in the storage folder, whose bytes still have that SHA-256. Each
    // record serves once.
    std::optional<std::string> take_filed(const std::string& mail_id, const std::string& attachment,
                                          const std::string& sha256);
    // Recorded before the file is created. False when it could not be written.
    bool record(const JournalEntry& entry);
    // Every mail of the run is stored: no record is needed any more.
    void clear();

    const std::string& path() const { return path_; }

  private:
    std::optional<JournalEntry> entry_at(std::uint64_t offset) const;

    std::string folder_;   // host path of the storage folder, with a final "/"
    std::string path_;     // host path
    std::string problem_;  // see problem()
    int read_fd_ = -1;     // the journal as found, for reading records again by their place
    int append_fd_ = -1;
    // What a killed run left: (hash of mail, attachment and digest; where its line starts),
    // sorted by hash. Sixteen bytes a record, whatever the lines hold.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> left_;
};

// The journal's lines: fields separated by tabs, with backslash, tab and line breaks escaped.
std::string journal_line(const JournalEntry& e);
std::optional<JournalEntry> parse_journal_line(const std::string& line);

// SHA-256 of a file's bytes (lower-case hex), or "" when it cannot be read as a regular file.
std::string file_sha256(const std::string& host_path);

// The host path of a storage file named by a record (a Windows path), when it lies directly in
// the storage folder: records come from mails and from a shared folder, and must reach no other
// file. "" otherwise.
std::string storage_file_host(const std::string& windows_path, const std::string& storage_host);

}  // namespace morvo
