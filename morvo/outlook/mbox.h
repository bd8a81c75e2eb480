#pragma once

// The mbox backend: one mbox file, or a folder of them with subfolders in "NAME.sbd/" (local
// folders as Thunderbird keeps them).

#include <memory>
#include <string>

#include "morvo/outlook/store.h"

namespace morvo::outlook::detail {

// An mbox store as a top-level folder named `config.name`: a folder's mails are listed from its
// file once, saves are held and written in batches (see flush_mbox_saves).
std::shared_ptr<FolderNode> open_mbox_store(const StoreConfig& config, bool read_only = false);

// Writes every mbox that holds saved mails: the new file beside the old one, synced, renamed
// over it under the mail programs' locks. False when a save could not be completed since the
// last call (its mail then stays as it was); `reasons` (when given) gets why, one line each.
bool flush_mbox_saves(std::string* reasons = nullptr);

// What names an mbox file for the run locks: its folder's device and inode and its name (the
// file's own inode changes with every rewrite); "" when `location` is no file.
std::string mbox_store_identity(const std::string& location);

}  // namespace morvo::outlook::detail
