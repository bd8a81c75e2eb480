#pragma once

// The mbox backend: one mbox file, or a folder of them with subfolders in "NAME.sbd/" (local
// folders as Thunderbird keeps them).

#include <memory>
#include <string>

#include "morvo/outlook/store.h"

namespace morvo::outlook::detail {

// An mbox store as a top-level folder named `config.name`: a folder's mails are listed from its
// file once. Saves are held in the session's queue and written in batches: the new file beside
// the old one, synced, renamed over it under the mail programs' locks; a flush names each file
// that stayed as it was, and why.
std::shared_ptr<FolderNode> open_mbox_store(const StoreConfig& config, StoreSession& session);

// What names an mbox file for the run locks: its folder's device and inode and its name (the
// file's own inode changes with every rewrite); "" when `location` is no file.
std::string mbox_store_identity(const std::string& location);

}  // namespace morvo::outlook::detail
