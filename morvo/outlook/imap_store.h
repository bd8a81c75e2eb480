#pragma once

// The IMAP backend of the binding: a store of the profile that is an IMAP account
// ("imap://user@host:port"). Folders come from LIST, mails of a folder are its messages in UID
// order; reading uses BODY.PEEK[] so it never marks a mail as read; a save appends the new mail
// with the old flags and internal date and only then expunges the old one by UID.

#include <memory>

#include "morvo/outlook/store.h"

namespace morvo::outlook::detail {

// Connects and logs in at once, so that an unreachable server or a rejected login fails when
// the namespace is created; throws platform::Error with a description of what happened.
std::shared_ptr<FolderNode> open_imap_store(const StoreConfig& config);

}  // namespace morvo::outlook::detail
