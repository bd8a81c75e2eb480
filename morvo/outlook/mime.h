#pragma once

// One mail as a MIME tree: attachments, body, removal of parts and writing back. The only place
// that touches GMime; its objects and reference counts stay inside mime.cpp.

#include <memory>
#include <string>
#include <string_view>

#include "morvo/outlook/store.h"

namespace morvo::outlook::detail {

struct PartRef;

struct MimeMail : std::enable_shared_from_this<MimeMail> {
    explicit MimeMail(std::shared_ptr<MailSource> source);
    ~MimeMail();
    MimeMail(const MimeMail&) = delete;
    MimeMail& operator=(const MimeMail&) = delete;

    long attachment_count();
    std::shared_ptr<PartRef> attachment(long index);
    std::string display_name(const PartRef& part);
    std::string text_value(const PartRef& part);
    void save_part(const PartRef& part, const std::string& host_path);
    long part_size(const PartRef& part);
    void remove_part(PartRef& part);

    std::string body();
    void set_body(std::string_view text);
    void save();
    std::string subject();
    bool modified() const { return modified_; }

    struct Parsed;

  private:
    Parsed& parsed();
    std::shared_ptr<MailSource> source_;
    std::unique_ptr<Parsed> parsed_;
    bool modified_ = false;
};

struct PartRef {
    std::shared_ptr<MimeMail> mail;
    std::shared_ptr<void> object;  // the part, holding one reference of its own
    bool deleted = false;
};

// Writes bytes to a file the safe way (temporary name in the same folder, flush, fsync,
// rename); throws platform::Error.
void write_file_safely(const std::string& host_path, std::string_view bytes);

// Converts a Windows path ("C:\x\y") to the host path; host paths pass unchanged.
std::string to_host_path(std::string_view path);

}  // namespace morvo::outlook::detail
