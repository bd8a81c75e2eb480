#pragma once

// Inside the binding: what a store backend offers to the object model. The public classes in
// outlook.h are handles onto these nodes.

#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "morvo/outlook/outlook.h"

namespace morvo::outlook::detail {

[[noreturn]] void fail(long number, std::string description);

// A mail parsed ahead of its use (see MailList::read_ahead); defined in mime.cpp.
struct MimeMailParsed;

// Where a mail's bytes live. load() gives the current bytes; store() replaces the mail by new
// bytes the safe way (never in place) and keeps the mail's flags.
struct MailSource {
    virtual ~MailSource() = default;
    // The bytes in memory from malloc; the caller owns them.
    struct Bytes {
        char* data = nullptr;
        std::size_t size = 0;
    };
    virtual Bytes load() = 0;
    virtual void store(std::string_view bytes) = 0;
    // The store's name for the mail as it is now (see MailItem::EntryID); "" when it has none.
    virtual std::string entry_id() { return {}; }
    // A copy of bytes held elsewhere, as load() gives them.
    static Bytes copy_of(std::string_view bytes);
};

// A folder of the tree. Children and items are read once and then kept, so that positions stay
// the same for the life of the namespace.
struct FolderNode {
    virtual ~FolderNode() = default;
    virtual std::string name() const = 0;
    virtual const std::vector<std::shared_ptr<FolderNode>>& children() = 0;
    virtual long item_count() = 0;
    // 1-based; the same MimeMail object while a handle to it is alive.
    virtual std::shared_ptr<MimeMail> item(long index) = 0;
};

// A list of mails whose MimeMail objects live only as long as somebody holds them.
class MailList {
  public:
    MailList() = default;
    MailList(MailList&&) = default;
    MailList& operator=(MailList&&) = default;
    ~MailList();
    void add(std::shared_ptr<MailSource> s) { entries_.push_back({std::move(s), {}}); }
    long count() const { return static_cast<long>(entries_.size()); }
    std::shared_ptr<MimeMail> get(long index);
    // Reading ahead: while one mail is worked on, the next is read, parsed and decoded on
    // another core. Only for sources whose load() may run beside the other calls.
    void read_ahead(bool on) { read_ahead_ = on; }

  private:
    struct Entry {
        std::shared_ptr<MailSource> source;
        std::weak_ptr<MimeMail> mail;
    };
    std::vector<Entry> entries_;
    // The mail being read ahead: its position, the thread and what it gives (read once the
    // thread is joined).
    struct Ahead {
        long index = 0;
        std::thread thread;
        std::shared_ptr<MimeMailParsed> result;
        ~Ahead() {
            if (thread.joinable()) thread.join();
        }
    };
    void join_ahead();
    bool read_ahead_ = false;
    std::unique_ptr<Ahead> ahead_;
};

// A folder that holds mails: they are listed on first use, then kept.
class MailFolderNode : public FolderNode {
  public:
    long item_count() override;
    std::shared_ptr<MimeMail> item(long index) override;

  protected:
    // Lists the folder's mails; called once.
    virtual MailList list_items() = 0;

  private:
    MailList& items();
    MailList mails_;
    bool listed_ = false;
};

// The top of the namespace: one child per store.
std::shared_ptr<FolderNode> make_namespace_root(const std::vector<StoreConfig>& stores,
                                                bool read_only);

// Completes the saves of Maildir mails that are still pending.
bool flush_maildir_saves();

// A Maildir store as a top-level folder named `name`. Read-only: its listings leave what a
// killed save left behind for a run to clear, which holds the store's lock.
std::shared_ptr<FolderNode> open_maildir_store(const StoreConfig& config, bool read_only = false);

struct Session {
    std::vector<StoreConfig> stores;
    bool read_only = false;
};

}  // namespace morvo::outlook::detail
