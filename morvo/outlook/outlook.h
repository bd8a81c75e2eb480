#pragma once

// The mail binding: the part of the automation object model that the archiver uses, as typed
// C++ classes over the user's mail stores. Objects are cheap handles (copy them freely); a
// default-constructed handle is "Nothing" and every call on it fails with error 91.
//
// Every failing call throws platform::Error with a code and a description. Codes are the
// 32-bit values an automation caller sees (negative for HRESULTs); a folder looked up by a
// name that does not exist fails with mapi_e_not_found (0x8004010F).
//
// Positions are 1-based and stable for the life of the NameSpace object: folders are sorted by
// display name, messages by delivery name, and a saved message keeps its position.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace morvo::outlook {

namespace detail {
struct Session;
struct FolderNode;
struct MailEntry;
struct MimeMail;
struct PartRef;
}  // namespace detail

constexpr long hresult(std::uint32_t code) {
    return static_cast<std::int32_t>(code);
}

inline constexpr long mapi_e_not_found = hresult(0x8004010F);     // folder name not found
inline constexpr long mapi_e_corrupt_data = hresult(0x8004011B);  // damaged or non-MIME mail
inline constexpr long e_access_denied = hresult(0x80070005);      // folder or file not readable
inline constexpr long e_fail = hresult(0x80004005);               // any other failure of a call
inline constexpr long e_invalidarg = hresult(0x80070057);         // argument not accepted
inline constexpr long e_file_exists = hresult(0x80070050);        // the name is taken
inline constexpr long disp_e_badindex = hresult(0x8002000B);      // position out of range
inline constexpr long cannot_create_object = 429;                 // no mail program / profile
inline constexpr long object_not_set = 91;                        // call on a "Nothing" handle

// True for the not-found result, whether the caller holds it signed or unsigned.
bool is_not_found(const platform::Error& e);
bool is_not_found(long number);

// One mail store: its display name (the top-level folder's Name), where it lives (a host path
// or an IMAP location) and, for a Maildir, its folder layout ("" = detect, "maildir++",
// "nested", "kmail": subfolders in ".NAME.directory/", "thunderbird": in "NAME.sbd/").
struct StoreConfig {
    std::string name;
    std::string location;
    std::string layout;
    // IMAP accounts (location "imap://user@host:port"): the password, or a command whose first
    // line of output is the password.
    std::string password;
    std::string password_command;
    // IMAP accounts: "starttls" secures an imap:// connection before the login, "off" or ""
    // leaves it plain (imaps:// is always TLS); ca_file names the PEM file of the CAs to trust
    // instead of the system's.
    std::string tls;
    std::string ca_file;
    // (Given defaults, so that brace lists of the fields above stay complete.)
    // "maildir", "imap" or "mbox" (one mbox file, or a folder of them with "NAME.sbd/"
    // subfolders); "" = from the location (imap:// and imaps:// are IMAP, else Maildir).
    std::string kind = {};
    // The file that named the store: the profile, or the mail program's file it was found in.
    std::string source = {};
};

// What names a store among every spelling of its location, for locks between runs: an IMAP
// account by server, port and user; a Maildir by the device and inode of its folder.
std::string store_identity(const StoreConfig& store);

// $XDG_CONFIG_HOME/morvolan/profile.ini (XDG_CONFIG_HOME defaults to ~/.config).
std::string profile_path();
// Reads a profile file: its stores (sections with a Location). Throws when it cannot be read,
// and names every unknown key and unreadable line with file and line.
std::vector<StoreConfig> read_profile(const std::string& host_path);
// The stores the application opens: the profile's when it names any, else the stores of the
// user's mail programs (see discovery.h), leaving out those the binding cannot open yet (each
// noted once on standard error); error 429 when there is none (as when the mail program is
// missing).
std::vector<StoreConfig> configured_stores();
// Tests: replaces what configured_stores() returns (nullopt restores the profile lookup).
void set_store_override(std::optional<std::vector<StoreConfig>> stores);

// Saves complete in batches (one file-system sync for many mails). A batch completes after 256
// saves, a second after its first save, when a folder's mails are listed, when a NameSpace ends
// and at program exit; this completes it now. False when a save could not be completed (its
// mail then stays as it was); throws platform::Error naming what failed on an IMAP server since
// the last call and what that left on the server, or why an mbox stayed unchanged.
bool flush_saves();

// What filing records in the mail for each attachment it files (one header per attachment,
// not shown to the reader): enough to put the attachment back and to know it was filed.
struct FilingRecord {
    std::string link;  // the link line written into the body
    std::string name;  // the attachment's DisplayName
    std::string type;  // "type/subtype"
    long long size = 0;
    std::string sha256;  // lower-case hex of the decoded content
};

inline constexpr const char* kFilingHeader = "X-Morvolan-Filed";

// The header value of a record (ASCII only: link and name as RFC 2231 extended values) and its
// reading back; nullopt for a value that is not a complete record.
std::string format_filing_record(const FilingRecord& r);
std::optional<FilingRecord> parse_filing_record(std::string_view value);

// SHA-256 of bytes as lower-case hex.
std::string sha256_hex(std::string_view bytes);

class Attachment {
  public:
    Attachment() = default;
    // The decoded file name; "" for an attachment without a name; a forwarded mail's subject.
    std::string DisplayName() const;
    // The default member as text: DisplayName, or a description of the type for unnamed parts.
    std::string text() const;
    // The size in bytes of what SaveAsFile writes (the decoded content).
    long Size() const;
    // "type/subtype" in lower case.
    std::string ContentType() const;
    // SHA-256 (hex) of what SaveAsFile writes.
    std::string Sha256() const;
    // Writes the decoded content to the file (Windows path or host path), replacing it.
    void SaveAsFile(std::string_view path) const;
    // Writes the decoded content to a new file and never replaces anything: fails with
    // e_file_exists when any entry (file, hidden file, folder, link) has that name.
    void SaveAsNewFile(std::string_view path) const;
    // Removes the attachment from its mail (in memory until the mail's Save); later
    // attachments move up one position; this handle is dead afterwards.
    void Delete() const;
    bool is_nothing() const { return !ref_; }

  private:
    friend class Attachments;
    explicit Attachment(std::shared_ptr<detail::PartRef> r) : ref_(std::move(r)) {}
    std::shared_ptr<detail::PartRef> ref_;
};

class Attachments {
  public:
    Attachments() = default;
    long Count() const;
    Attachment Item(long index) const;
    Attachment operator()(long index) const { return Item(index); }

  private:
    friend class MailItem;
    explicit Attachments(std::shared_ptr<detail::MimeMail> m) : mail_(std::move(m)) {}
    std::shared_ptr<detail::MimeMail> mail_;
};

class MailItem {
  public:
    MailItem() = default;
    outlook::Attachments Attachments() const;
    Attachment Attachments(long index) const;
    // The plain-text body decoded to Unicode, lines ending in CR LF.
    std::string Body() const;
    // Replaces the plain-text body (CR LF or LF line ends); see the README for the charset and
    // the HTML alternative.
    void set_Body(std::string_view text) const;
    // Stores the changed mail (no-op when nothing changed). Every reading through the binding
    // sees the change at once; other programs see it when the batch of saves completes (see
    // flush_saves).
    void Save() const;
    std::string Subject() const;
    // The store's name for this mail as it lies now (its folder and its name there); a save
    // gives the mail a new one, so it names the unsaved mail only. "" when the store has none.
    std::string EntryID() const;
    // A signed or encrypted mail (or one holding such content) offers no attachments and is
    // never changed; nor is a mail that cannot be written again without changing parts it was not
    // asked to change (lines that end in both CR LF and LF alone, NUL bytes).
    bool is_protected() const;
    // Why it is protected: true when writing it again would change it, false for signed or
    // encrypted content.
    bool unsafe_to_rewrite() const;
    // The filing records of the mail, in header order; headers that are no complete record are
    // left out.
    std::vector<FilingRecord> FilingRecords() const;
    // The values of record headers that are no complete record (damaged, cut short, or written
    // by something else): what a reattach cannot act on and must name.
    std::vector<std::string> UnreadableFilingRecords() const;
    // Whether the mail's header holds a record, read from its bytes: true also for a mail that
    // cannot be read otherwise (cut short, say).
    bool HasFilingRecordHeader() const;
    // Adds a record header (in memory until Save).
    void add_FilingRecord(const FilingRecord& r) const;
    // Undoes one filing in memory (until Save): the bytes become an attachment again with the
    // record's name and type, the record's header goes and the link line (with the empty line
    // after it) leaves the text. Returns false when the body held no such link line.
    bool Reattach(const FilingRecord& r, std::string_view bytes) const;
    bool is_nothing() const { return !mail_; }

  private:
    friend class Items;
    explicit MailItem(std::shared_ptr<detail::MimeMail> m) : mail_(std::move(m)) {}
    std::shared_ptr<detail::MimeMail> mail_;
};

class Items {
  public:
    Items() = default;
    long Count() const;
    MailItem Item(long index) const;
    MailItem operator()(long index) const { return Item(index); }

  private:
    friend class MAPIFolder;
    explicit Items(std::shared_ptr<detail::FolderNode> f) : folder_(std::move(f)) {}
    std::shared_ptr<detail::FolderNode> folder_;
};

class MAPIFolder;

class Folders {
  public:
    Folders() = default;
    long Count() const;
    MAPIFolder Item(long index) const;
    // The first folder of that exact name; mapi_e_not_found when there is none.
    MAPIFolder Item(std::string_view name) const;
    MAPIFolder operator()(long index) const;
    MAPIFolder operator()(std::string_view name) const;

  private:
    friend class MAPIFolder;
    friend class NameSpace;
    explicit Folders(std::shared_ptr<detail::FolderNode> parent) : parent_(std::move(parent)) {}
    std::shared_ptr<detail::FolderNode> parent_;
};

class MAPIFolder {
  public:
    MAPIFolder() = default;
    std::string Name() const;
    // The default member as text (the display name).
    std::string text() const;
    outlook::Folders Folders() const;
    MAPIFolder Folders(long index) const;
    MAPIFolder Folders(std::string_view name) const;
    outlook::Items Items() const;
    MailItem Items(long index) const;
    bool is_nothing() const { return !node_; }

  private:
    friend class Folders;
    explicit MAPIFolder(std::shared_ptr<detail::FolderNode> n) : node_(std::move(n)) {}
    std::shared_ptr<detail::FolderNode> node_;
};

class NameSpace {
  public:
    NameSpace() = default;
    // The stores, each as a top-level folder.
    outlook::Folders Folders() const;
    MAPIFolder Folders(long index) const;
    MAPIFolder Folders(std::string_view name) const;
    bool is_nothing() const { return !root_; }

  private:
    friend class Application;
    explicit NameSpace(std::shared_ptr<detail::FolderNode> r) : root_(std::move(r)) {}
    std::shared_ptr<detail::FolderNode> root_;
};

class Application {
  public:
    Application() = default;
    // Creating the automation object "Outlook.Application": opens configured_stores().
    // Any other identifier, or no store configured, fails with error 429.
    static Application create(std::string_view prog_id = "Outlook.Application");
    // Opens exactly these stores (tests, tools).
    static Application with_stores(std::vector<StoreConfig> stores);
    // "MAPI" (any letter case) gives a fresh namespace; anything else fails.
    NameSpace GetNamespace(std::string_view type) const;
    bool is_nothing() const { return !session_; }
    // The same stores for a caller that only reads, beside a run that may be changing them:
    // its namespaces clear nothing up.
    Application reading_only() const;
    // The stores it opens, each the top-level folder of its name.
    const std::vector<StoreConfig>& stores() const;

  private:
    explicit Application(std::shared_ptr<detail::Session> s) : session_(std::move(s)) {}
    std::shared_ptr<detail::Session> session_;
};

// The late-bound creation call, as the archiver's code spells it.
inline Application CreateObject(std::string_view prog_id) {
    return Application::create(prog_id);
}

}  // namespace morvo::outlook
