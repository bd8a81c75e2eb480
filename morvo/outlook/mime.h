#pragma once

// One mail as a MIME tree: attachments, body, removal of parts and writing back. The only place
// that touches GMime; its objects and reference counts stay inside mime.cpp.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "morvo/outlook/outlook.h"
#include "morvo/outlook/store.h"

namespace morvo::outlook::detail {

struct PartRef;

struct MimeMail : std::enable_shared_from_this<MimeMail> {
    // `ready`: the mail as parse_ahead gave it, or nullptr to read it when first needed.
    explicit MimeMail(std::shared_ptr<MailSource> source,
                      std::shared_ptr<MimeMailParsed> ready = nullptr);
    ~MimeMail();
    MimeMail(const MimeMail&) = delete;
    MimeMail& operator=(const MimeMail&) = delete;

    long attachment_count();
    std::shared_ptr<PartRef> attachment(long index);
    std::string display_name(const PartRef& part);
    std::string text_value(const PartRef& part);
    void save_part(const PartRef& part, const std::string& host_path);
    // Creates the file; fails with e_file_exists when any entry has that name.
    void save_part_as_new(const PartRef& part, const std::string& host_path);
    // Is or holds signed or encrypted content, or mixes line ends: then it is never changed.
    bool is_protected();
    bool unsafe_to_rewrite();
    long part_size(const PartRef& part);
    void remove_part(PartRef& part);
    std::string content_type(const PartRef& part);
    std::string part_sha256(const PartRef& part);  // of the decoded content, lower-case hex

    // Filing records (see outlook.h): the raw header values, adding one, and undoing one.
    std::vector<std::string> record_values();
    // Whether the header holds a record, read from the bytes: also for a mail that cannot be
    // parsed.
    bool has_record_header();
    void add_record(std::string_view value);
    bool reattach(const FilingRecord& r, std::string_view bytes);

    std::string body();
    void set_body(std::string_view text);
    void save();
    std::string subject();
    std::string entry_id() { return source_->entry_id(); }
    bool modified() const { return modified_; }

    using Parsed = MimeMailParsed;

  private:
    Parsed& parsed();
    const std::string& decoded(const PartRef& part);
    void forget_decoded();
    std::shared_ptr<MailSource> source_;
    // The last part decoded: the archiver asks for an attachment's size, then saves it, and
    // decoding a large attachment twice would double the run's work.
    std::shared_ptr<void> decoded_part_;
    std::string decoded_bytes_;
    std::string decoded_sha_;  // of decoded_bytes_, "" until asked for
    std::shared_ptr<Parsed> parsed_;
    bool modified_ = false;
};

// Reads and parses a mail and decodes its attachments, so that the thread working on the mail
// finds it ready; nullptr when anything fails (the mail is then read as usual, and fails the
// usual way). Touches nothing but the source and the new objects.
std::shared_ptr<MimeMailParsed> parse_ahead(MailSource& source);

struct PartRef {
    std::shared_ptr<MimeMail> mail;
    std::shared_ptr<void> object;  // the part, holding one reference of its own
    bool deleted = false;
};

// Writes bytes to a file the safe way (temporary name in the same folder, then renamed over
// the target, so the name never shows half a file); throws platform::Error. The data is not
// forced to disk here: see make_saved_files_durable.
void write_file_safely(const std::string& host_path, std::string_view bytes);

// Records a file saved outside write_file_safely for the next make_durable.
void note_saved(const std::string& host_path);

// Forces onto the disk the file systems of `folders` and of every file saved by
// write_file_safely since the last successful call: one sync per file system, not one per file.
// A store calls it before a changed mail replaces the old one, so that an attachment leaves the
// mail only when its saved copy is durable. Returns false when a sync failed; saved files then
// stay pending.
bool make_durable(const std::vector<std::string>& folders = {});

// Replaces the sync of one file system (given by a folder on it) for tests; {} restores it.
void set_file_system_sync(std::function<bool(const std::string& folder)> sync);

std::string sha256_of(std::string_view bytes);

// Converts a Windows path ("C:\x\y") to the host path; host paths pass unchanged.
std::string to_host_path(std::string_view path);

}  // namespace morvo::outlook::detail
