#pragma once

// Writes sample Maildir and mbox stores with known contents, and tells what it wrote.

#include <cstdint>
#include <string>
#include <vector>

namespace mkmailstore {

struct Options {
    // or "nested"; "mboxo", "mboxrd": an mbox tree as Thunderbird keeps local folders
    std::string layout = "maildir++";
    long bulk_mails = 0;  // extra mails in the folder "Massenpost"
    std::size_t attachment_size = 100 * 1024;
    std::uint32_t seed = 1;
    bool bulk_only = false;  // only "Massenpost" (benchmarks)
};

struct AttachmentInfo {
    std::string display_name;  // what a reader should show ("" for unnamed parts)
    std::string bytes;         // the decoded content
};

struct MailInfo {
    std::string folder;  // display path below the store, "Posteingang|Kunden"
    std::string file;    // path relative to the store folder (the mbox file of an mbox tree)
    std::string subject;
    std::string body;  // the plain-text body as written (LF line ends), "" when there is none
    std::string charset;
    bool has_html = false;
    std::vector<AttachmentInfo> attachments;  // in the order a reader lists them
    std::string flags;                        // Maildir flags after ":2,"
    bool damaged = false;                     // truncated mail or no mail at all
};

struct Manifest {
    std::vector<std::string> folders;  // display paths of every folder
    std::vector<MailInfo> mails;
};

// Writes the store into dir (created when missing); throws std::runtime_error on failure.
Manifest generate(const std::string& dir, const Options& options);

// IMAP modified UTF-7, written independently of the reader's decoder.
std::string encode_mutf7(const std::string& utf8);

std::uint64_t fnv1a64(const std::string& bytes);

}  // namespace mkmailstore
