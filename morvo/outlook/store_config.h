#pragma once

// What both sides of the binding share: the result codes of its calls, a store's entry of the
// profile and the result of completing saves. It sits below the public classes (outlook.h) and
// the backends (store.h), so that neither includes the other.

#include <cstdint>
#include <string>
#include <vector>

namespace morvo::outlook {

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

// What completing the pending saves came to, one convention for every backend: `complete` is
// false when anything went wrong since the last flush (a save that could not be completed, whose
// mail then stays as it was, or a reading or listing that failed on a server); `failures` holds
// every text the backends have for it, each whole, in the order of the stores. A backend that
// has no words for a failure only clears `complete`.
struct FlushResult {
    bool complete = true;
    std::vector<std::string> failures;

    // Adds another batch's result.
    void merge(FlushResult other) {
        complete = complete && other.complete;
        for (auto& f : other.failures) failures.push_back(std::move(f));
    }
};

}  // namespace morvo::outlook
