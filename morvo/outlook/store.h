#pragma once

// Inside the binding: what a store backend offers to the object model. The public classes in
// outlook.h are handles onto these nodes.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "morvo/outlook/store_config.h"

namespace morvo::outlook::detail {

struct MimeMail;

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
    // A list of `count` mails whose sources are made only when asked for, by 0-based position:
    // a big folder keeps nothing per mail here but the mails in use. A source still held
    // elsewhere (a pending save) is given again, not made anew.
    MailList(long count, std::function<std::shared_ptr<MailSource>(long)> source_at)
        : count_(count), source_at_(std::move(source_at)) {}
    void add(std::shared_ptr<MailSource> s) {
        entries_.push_back({std::move(s), {}});
        ++count_;
    }
    long count() const { return count_; }
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
    long count_ = 0;
    // Made when asked for: the sources and mails in use by position, pruned of those gone.
    struct Held {
        std::weak_ptr<MailSource> source;
        std::weak_ptr<MimeMail> mail;
    };
    std::function<std::shared_ptr<MailSource>(long)> source_at_;
    std::unordered_map<long, Held> held_;
    std::size_t prune_at_ = 64;
    std::shared_ptr<MailSource> source(long index);
    std::weak_ptr<MimeMail>& mail_of(long index);
    bool in_use(long index) const;
    // Reading ahead: one thread, kept while the list lives (not one per mail), parses the mail
    // at `index` while the caller works on the one before.
    struct Ahead {
        std::mutex mutex;
        std::condition_variable changed;
        std::thread thread;
        long index = 0;                   // the position given last; 0: none
        std::shared_ptr<MailSource> job;  // given, not yet taken up by the thread
        std::shared_ptr<MimeMailParsed> result;
        bool busy = false, stop = false;
        ~Ahead();
        void work();
        // Waits for the mail in hand (its result is dropped), then gives the thread this one.
        void start(long position, std::shared_ptr<MailSource> source);
        // Waits for the mail given last and takes what it gave (nullptr: read it when needed).
        std::shared_ptr<MimeMailParsed> take();
    };
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

// One backend's pending saves in one session. The backend completes them by the batch rules of
// outlook.h (256 saves, a second after the first, a listing of the folder's mails) and the
// session on flush() and when it ends.
struct PendingSaves {
    virtual ~PendingSaves() = default;
    // Completes what is pending; reports every failure since the last call.
    virtual FlushResult flush() = 0;
    // The session is over: nobody will flush again, so later saves (through mails still held)
    // complete at once.
    virtual void session_ended() {}
};

// The save queue of one session: one batch per backend, made when its first store opens.
class SaveQueue {
  public:
    // The session's batch of type T (a PendingSaves with a default constructor).
    template <class T>
    std::shared_ptr<T> batch() {
        for (const auto& b : batches_)
            if (auto t = std::dynamic_pointer_cast<T>(b)) return t;
        auto t = std::make_shared<T>();
        batches_.push_back(t);
        return t;
    }
    // Every batch, in the order they were made.
    FlushResult flush();
    // flush(), then session_ended() on every batch.
    void end();

  private:
    std::vector<std::shared_ptr<PendingSaves>> batches_;
};

// What a backend opens a store for: the session's save queue, and whether the session only
// reads (its listings leave what a killed save left behind for a run, which holds the lock).
struct StoreSession {
    SaveQueue& saves;
    bool read_only = false;
};

// A store backend: which profile entries it opens, and the opening of one as a top-level
// folder. Each lives in its own file; the table in backends.cpp names them all.
struct StoreBackend {
    std::string_view kind;  // as StoreConfig::kind names it
    bool (*accepts)(const StoreConfig& config);
    // Fails (platform::Error) when the store cannot be opened; IMAP connects and logs in here.
    std::shared_ptr<FolderNode> (*open)(const StoreConfig& config, StoreSession& session);
};

// Every backend, in the order they are asked.
std::span<const StoreBackend> store_backends();
// The first backend that accepts the store; nullptr when none does.
const StoreBackend* backend_for(const StoreConfig& config);

// A folder with no mails of its own: a store's top, the namespace's root.
struct FolderWithoutMails : FolderNode {
    long item_count() override { return 0; }
    std::shared_ptr<MimeMail> item(long index) override;  // fails: no such position
};

// The top of a namespace: one child per store, and the session's save queue. Its end completes
// the saves still pending.
class NamespaceRoot : public FolderWithoutMails {
  public:
    NamespaceRoot(const std::vector<StoreConfig>& stores, bool read_only);
    ~NamespaceRoot() override;
    std::string name() const override { return ""; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override { return kids_; }
    FlushResult flush_saves() { return saves_.flush(); }

  private:
    SaveQueue saves_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
};

struct Session {
    std::vector<StoreConfig> stores;
    bool read_only = false;
};

}  // namespace morvo::outlook::detail
