#pragma once

// IMAP modified UTF-7 (RFC 3501, 5.1.3), the folder-name encoding of Maildir++ stores and IMAP.

#include <optional>
#include <string>
#include <string_view>

namespace morvo::outlook {

// The UTF-8 text of an encoded name; nullopt when the name is not valid modified UTF-7.
std::optional<std::string> mutf7_decode(std::string_view encoded);
// The encoded form of a UTF-8 name ("&" becomes "&-", non-ASCII runs become "&...-").
std::string mutf7_encode(std::string_view utf8);

}  // namespace morvo::outlook
