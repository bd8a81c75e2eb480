// The table of store backends: which profile entries each opens. A new backend is its own file
// with its open function, declared here, and one line of the table.

#include "morvo/outlook/imap_client.h"
#include "morvo/outlook/store.h"

namespace morvo::outlook::detail {

std::shared_ptr<FolderNode> open_imap_store(const StoreConfig& config, StoreSession& session);
std::shared_ptr<FolderNode> open_maildir_store(const StoreConfig& config, StoreSession& session);
std::shared_ptr<FolderNode> open_mbox_store(const StoreConfig& config, StoreSession& session);

namespace {

// Asked in this order. An IMAP location always means IMAP (a contradicting kind is the
// profile reader's to report); a folder is a Maildir unless its kind names another backend.
constexpr StoreBackend backends[] = {
    {"imap", [](const StoreConfig& c) { return imap::is_imap_location(c.location); },
     open_imap_store},
    {"maildir",
     [](const StoreConfig& c) {
         return (c.kind.empty() || c.kind == "maildir") && !imap::is_imap_location(c.location);
     },
     open_maildir_store},
    {"mbox", [](const StoreConfig& c) { return c.kind == "mbox"; }, open_mbox_store},
};

}  // namespace

std::span<const StoreBackend> store_backends() {
    return backends;
}

const StoreBackend* backend_for(const StoreConfig& config) {
    for (const auto& b : backends)
        if (b.accepts(config)) return &b;
    return nullptr;
}

FlushResult SaveQueue::flush() {
    FlushResult all;
    for (const auto& b : batches_) all.merge(b->flush());
    return all;
}

void SaveQueue::end() {
    flush();
    for (const auto& b : batches_) b->session_ended();
}

}  // namespace morvo::outlook::detail
