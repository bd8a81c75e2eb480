#pragma once

// The IMAP backend of the binding: a store of the profile that is an IMAP account
// ("imap://user@host:port"). Folders come from LIST, mails of a folder are its messages in UID
// order; reading uses BODY.PEEK[] so it never marks a mail as read and reads the next mails
// ahead in one FETCH. Saves complete in batches, like the Maildir backend's: the new mails are
// appended (pipelined) with the old flags and internal dates, and only once each is confirmed
// are the old ones flagged (while unchanged since read, with CONDSTORE) and expunged by UID set.
// What another program changes meanwhile stays: its flags go to the new copy, and a mail it
// deleted or moved takes its new copy with it.

#include <memory>

#include "morvo/outlook/store.h"

namespace morvo::outlook::detail {

// open_imap_store (see backends.cpp) connects and logs in at once, so that an unreachable
// server or a rejected login fails when the namespace is created, with a description of what
// happened. Its saves join the session's queue; flushing them reports everything that failed
// with them since the last flush (reads, listings, saves) as one text.

// How long a connection waits for the server before it gives up (default a minute).
void set_imap_timeout(int milliseconds);

}  // namespace morvo::outlook::detail
