#include "morvo/outlook/outlook.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>

#include "morvo/outlook/discovery.h"
#include "morvo/outlook/imap_client.h"
#include "morvo/outlook/mbox.h"
#include "morvo/outlook/mime.h"
#include "morvo/outlook/store.h"
#include "platform/paths.h"
#include "platform/run_lock.h"
#include "platform/text.h"

namespace morvo::outlook {

namespace detail {

void fail(long number, std::string description) {
    throw platform::Error(number, std::move(description));
}

MailList::~MailList() = default;

MailList::Ahead::~Ahead() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_all();
    if (thread.joinable()) thread.join();
}

void MailList::Ahead::work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stop || job; });
        if (stop) return;
        std::shared_ptr<MailSource> source = std::move(job);
        job.reset();
        busy = true;
        lock.unlock();
        std::shared_ptr<MimeMailParsed> parsed;
        try {
            parsed = parse_ahead(*source);
        } catch (...) {
            // Read again when asked for, where a failure has a caller to reach.
        }
        source.reset();
        lock.lock();
        result = std::move(parsed);
        busy = false;
        changed.notify_all();
    }
}

void MailList::Ahead::start(long position, std::shared_ptr<MailSource> source) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !busy && !job; });
    index = position;
    result.reset();
    job = std::move(source);
    changed.notify_all();
}

std::shared_ptr<MimeMailParsed> MailList::Ahead::take() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !busy && !job; });
    index = 0;
    return std::move(result);
}

MailSource::Bytes MailSource::copy_of(std::string_view bytes) {
    Bytes b;
    b.data = static_cast<char*>(std::malloc(bytes.size() + 1));
    if (!b.data) fail(e_fail, "Zu wenig Speicher für die Nachricht.");
    std::memcpy(b.data, bytes.data(), bytes.size());
    b.size = bytes.size();
    return b;
}

MailList& MailFolderNode::items() {
    if (!listed_) {
        mails_ = list_items();
        listed_ = true;
    }
    return mails_;
}

long MailFolderNode::item_count() {
    return items().count();
}

std::shared_ptr<MimeMail> MailFolderNode::item(long index) {
    MailList& list = items();
    if (index < 1 || index > list.count())
        fail(disp_e_badindex, "Der Arrayindex liegt außerhalb der Grenzen.");
    return list.get(index);
}

std::shared_ptr<MailSource> MailList::source(long index) {
    if (!source_at_) return entries_.at(static_cast<size_t>(index - 1)).source;
    Held& h = held_[index];
    std::shared_ptr<MailSource> s = h.source.lock();
    if (!s) {
        s = source_at_(index - 1);
        h.source = s;
    }
    return s;
}

std::weak_ptr<MimeMail>& MailList::mail_of(long index) {
    if (!source_at_) return entries_.at(static_cast<size_t>(index - 1)).mail;
    if (held_.size() >= prune_at_) {  // amortised: the map stays near the mails in use
        std::erase_if(held_, [](const auto& h) {
            return h.second.source.expired() && h.second.mail.expired();
        });
        prune_at_ = std::max<std::size_t>(64, 2 * held_.size());
    }
    return held_[index].mail;
}

bool MailList::in_use(long index) const {
    if (!source_at_) return !entries_[static_cast<size_t>(index - 1)].mail.expired();
    auto h = held_.find(index);
    return h != held_.end() && !h->second.mail.expired();
}

std::shared_ptr<MimeMail> MailList::get(long index) {
    std::shared_ptr<MimeMail> m = mail_of(index).lock();
    if (!m) {
        std::shared_ptr<MimeMailParsed> ready;
        if (ahead_ && ahead_->index == index) ready = ahead_->take();
        // Not make_shared: the entry's weak reference would keep the mail's storage, not only
        // the small count block, for the folder's life.
        m = std::shared_ptr<MimeMail>(new MimeMail(source(index), std::move(ready)));
        mail_of(index) = m;
    }
    // The next mail is read on another core meanwhile; the run asks for the mails in order.
    const long next = index + 1;
    if (read_ahead_ && next <= count() && !(ahead_ && ahead_->index == next) && !in_use(next)) {
        if (!ahead_) {
            ahead_ = std::make_unique<Ahead>();
            try {
                ahead_->thread = std::thread([a = ahead_.get()] { a->work(); });
            } catch (...) {
                // No thread to spare: the mail is read when asked for (and no job may wait for
                // a thread that never came).
                ahead_.reset();
            }
        }
        if (ahead_) ahead_->start(next, source(next));  // one read for another position is dropped
    }
    return m;
}

namespace {

// A store that could not be opened (a server that does not answer, say): it keeps its name and
// place among the stores and gives the reason whenever it is looked into, so that the other
// stores stay usable.
class UnopenedStore : public FolderNode {
  public:
    UnopenedStore(std::string name, platform::Error why)
        : name_(std::move(name)), why_(std::move(why)) {}
    std::string name() const override { return name_; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override { throw why_; }
    long item_count() override { throw why_; }
    std::shared_ptr<MimeMail> item(long) override { throw why_; }

  private:
    std::string name_;
    platform::Error why_;
};

}  // namespace

NamespaceRoot::NamespaceRoot(const std::vector<StoreConfig>& stores, bool read_only) {
    StoreSession session{saves_, read_only};
    for (const auto& s : stores) {
        const StoreBackend* backend = backend_for(s);
        if (!backend)
            fail(e_fail, "„" + s.name + "“ (" + s.location + "): " + s.kind +
                             "-Speicher kann Morvo noch nicht öffnen.");
        try {
            kids_.push_back(backend->open(s, session));
        } catch (const platform::Error& e) {
            kids_.push_back(std::make_shared<UnopenedStore>(s.name, e));
        }
    }
}

NamespaceRoot::~NamespaceRoot() {
    // What fails here was the namespace's to report; its owner flushed if it wanted to know.
    saves_.end();
}

std::shared_ptr<MimeMail> FolderWithoutMails::item(long) {
    fail(disp_e_badindex, "Der Arrayindex liegt außerhalb der Grenzen.");
}

std::string to_host_path(std::string_view path) {
    if (!path.empty() && path[0] == '/') return std::string(path);
    std::string host = platform::host_path(path);
    if (host.empty())
        fail(e_invalidarg, "Der Pfad " + std::string(path) + " ist nicht erreichbar.");
    return host;
}

}  // namespace detail

using detail::fail;

namespace {

std::mutex override_mutex;
std::optional<std::vector<StoreConfig>> store_override;

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string home_dir() {
    return env_or("HOME", "/");
}

using platform::iequals;

void check(const void* p) {
    if (!p) fail(object_not_set, "Objektvariable oder With-Blockvariable nicht festgelegt");
}

std::shared_ptr<detail::FolderNode> child_at(const std::shared_ptr<detail::FolderNode>& parent,
                                             long index) {
    check(parent.get());
    const auto& kids = parent->children();
    if (index < 1 || index > static_cast<long>(kids.size()))
        fail(disp_e_badindex, "Der Arrayindex liegt außerhalb der Grenzen.");
    return kids[static_cast<size_t>(index - 1)];
}

std::shared_ptr<detail::FolderNode> child_named(const std::shared_ptr<detail::FolderNode>& parent,
                                                std::string_view name) {
    check(parent.get());
    for (const auto& k : parent->children())
        if (k->name() == name) return k;
    fail(mapi_e_not_found,
         "Der Vorgang konnte nicht ausgeführt werden. Ein Objekt wurde nicht gefunden.");
}

}  // namespace

bool is_not_found(long number) {
    return number == mapi_e_not_found || number == 0x8004010FL;
}
bool is_not_found(const platform::Error& e) {
    return is_not_found(e.number);
}

std::string store_identity(const StoreConfig& store) {
    if (imap::is_imap_location(store.location)) {
        imap::Account a = imap::parse_location(store.location);
        std::string host = a.host;
        for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return "imap:" + a.user + "@" + host + ":" + std::to_string(a.port);
    }
    if (std::string mbox = detail::mbox_store_identity(store.location); !mbox.empty()) return mbox;
    std::string id = platform::file_identity(store.location);
    return id.empty() ? "path:" + store.location : "dir:" + id;
}

std::string profile_path() {
    std::string config = env_or("XDG_CONFIG_HOME", home_dir() + "/.config");
    return config + "/morvolan/profile.ini";
}

std::vector<StoreConfig> read_profile(const std::string& host_path) {
    return load_profile(host_path, home_dir()).stores;
}

std::vector<StoreConfig> configured_stores() {
    {
        std::lock_guard<std::mutex> lock(override_mutex);
        if (store_override) return *store_override;
    }
    FoundStores found = find_stores(DiscoveryPlaces::from_environment());
    std::vector<StoreConfig> stores = stores_to_open(found);
    {
        // Each note once a process: the window and every run ask again.
        static std::mutex noted_mutex;
        static std::set<std::string> noted;
        std::lock_guard<std::mutex> lock(noted_mutex);
        for (const auto& n : found.notes)
            if (noted.insert(n).second) std::cerr << "Hinweis: " << n << "\n";
    }
    if (stores.empty())
        fail(cannot_create_object, "Objekterstellung durch ActiveX-Komponente nicht möglich");
    return stores;
}

void set_store_override(std::optional<std::vector<StoreConfig>> stores) {
    std::lock_guard<std::mutex> lock(override_mutex);
    store_override = std::move(stores);
}

// --- Attachment -------------------------------------------------------------------------------

std::string Attachment::DisplayName() const {
    check(ref_.get());
    return ref_->mail->display_name(*ref_);
}

std::string Attachment::text() const {
    check(ref_.get());
    return ref_->mail->text_value(*ref_);
}

long Attachment::Size() const {
    check(ref_.get());
    return ref_->mail->part_size(*ref_);
}

std::string Attachment::ContentType() const {
    check(ref_.get());
    return ref_->mail->content_type(*ref_);
}

std::string Attachment::Sha256() const {
    check(ref_.get());
    return ref_->mail->part_sha256(*ref_);
}

void Attachment::SaveAsFile(std::string_view path) const {
    check(ref_.get());
    ref_->mail->save_part(*ref_, detail::to_host_path(path));
}

void Attachment::SaveAsNewFile(std::string_view path) const {
    check(ref_.get());
    ref_->mail->save_part_as_new(*ref_, detail::to_host_path(path));
}

void Attachment::Delete() const {
    check(ref_.get());
    ref_->mail->remove_part(*ref_);
}

long Attachments::Count() const {
    check(mail_.get());
    return mail_->attachment_count();
}

Attachment Attachments::Item(long index) const {
    check(mail_.get());
    return Attachment(mail_->attachment(index));
}

// --- MailItem ---------------------------------------------------------------------------------

Attachments MailItem::Attachments() const {
    check(mail_.get());
    return outlook::Attachments(mail_);
}

Attachment MailItem::Attachments(long index) const {
    return Attachments().Item(index);
}

std::string MailItem::Body() const {
    check(mail_.get());
    return mail_->body();
}

void MailItem::set_Body(std::string_view text) const {
    check(mail_.get());
    mail_->set_body(text);
}

void MailItem::Save() const {
    check(mail_.get());
    mail_->save();
}

bool MailItem::is_protected() const {
    check(mail_.get());
    return mail_->is_protected();
}

bool MailItem::unsafe_to_rewrite() const {
    check(mail_.get());
    return mail_->unsafe_to_rewrite();
}

std::string MailItem::Subject() const {
    check(mail_.get());
    return mail_->subject();
}

std::string MailItem::EntryID() const {
    check(mail_.get());
    return mail_->entry_id();
}

std::vector<FilingRecord> MailItem::FilingRecords() const {
    check(mail_.get());
    std::vector<FilingRecord> out;
    for (const auto& v : mail_->record_values())
        if (auto r = parse_filing_record(v)) out.push_back(std::move(*r));
    return out;
}

std::vector<std::string> MailItem::UnreadableFilingRecords() const {
    check(mail_.get());
    std::vector<std::string> out;
    for (auto& v : mail_->record_values())
        if (!parse_filing_record(v)) out.push_back(std::move(v));
    return out;
}

bool MailItem::HasFilingRecordHeader() const {
    check(mail_.get());
    return mail_->has_record_header();
}

void MailItem::add_FilingRecord(const FilingRecord& r) const {
    check(mail_.get());
    mail_->add_record(format_filing_record(r));
}

bool MailItem::Reattach(const FilingRecord& r, std::string_view bytes) const {
    check(mail_.get());
    return mail_->reattach(r, bytes);
}

// --- Filing records ---------------------------------------------------------------------------

namespace {

std::optional<std::string> percent_decode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
            return std::nullopt;
        out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    return out;
}

std::string_view trim(std::string_view s) {
    return platform::trimmed(s, " \t\n\v\f\r");
}

bool valid_type(std::string_view t) {
    size_t slash = t.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 == t.size()) return false;
    for (unsigned char c : t)
        if (!(std::isalnum(c) || c == '/' || c == '-' || c == '+' || c == '.' || c == '_'))
            return false;
    return t.find('/', slash + 1) == std::string_view::npos;
}

}  // namespace

std::string format_filing_record(const FilingRecord& r) {
    return "link*=UTF-8''" + platform::percent_encoded(r.link, false) + "; name*=UTF-8''" +
           platform::percent_encoded(r.name, false) + "; type=" + r.type +
           "; size=" + std::to_string(r.size) + "; sha256=" + r.sha256;
}

std::optional<FilingRecord> parse_filing_record(std::string_view value) {
    FilingRecord r;
    bool link = false, name = false, type = false, size = false, sha = false;
    size_t start = 0;
    while (start <= value.size()) {
        size_t semi = value.find(';', start);
        std::string_view field = trim(value.substr(
            start, semi == std::string_view::npos ? std::string_view::npos : semi - start));
        start = semi == std::string_view::npos ? value.size() + 1 : semi + 1;
        size_t eq = field.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = trim(field.substr(0, eq));
        std::string_view val = trim(field.substr(eq + 1));
        constexpr std::string_view ext = "UTF-8''";
        // A name may hold any character a mail's attachment name can (line breaks too); a link
        // is one line of the text.
        auto extended = [&](std::string& into, const char* refused) {
            if (val.substr(0, ext.size()) != ext) return false;
            auto d = percent_decode(val.substr(ext.size()));
            if (!d || d->empty() ||
                d->find_first_of(refused, 0, std::strlen(refused) + 1) != std::string::npos)
                return false;
            into = std::move(*d);
            return true;
        };
        if (key == "link*") {
            link = extended(r.link, "\r\n");
        } else if (key == "name*") {
            name = extended(r.name, "");
        } else if (key == "type") {
            std::string t(val);
            for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            type = valid_type(t);
            r.type = t;
        } else if (key == "size") {
            size = !val.empty() && val.size() < 19 &&
                   val.find_first_not_of("0123456789") == std::string_view::npos;
            if (size) r.size = std::stoll(std::string(val));
        } else if (key == "sha256") {
            sha = val.size() == 64 &&
                  val.find_first_not_of("0123456789abcdef") == std::string_view::npos;
            r.sha256 = std::string(val);
        }
    }
    if (!(link && name && type && size && sha)) return std::nullopt;
    return r;
}

std::string sha256_hex(std::string_view bytes) {
    return detail::sha256_of(bytes);
}

// --- Items, Folders, MAPIFolder, NameSpace ----------------------------------------------------

long Items::Count() const {
    check(folder_.get());
    return folder_->item_count();
}

MailItem Items::Item(long index) const {
    check(folder_.get());
    return MailItem(folder_->item(index));
}

long Folders::Count() const {
    check(parent_.get());
    return static_cast<long>(parent_->children().size());
}

MAPIFolder Folders::Item(long index) const {
    return MAPIFolder(child_at(parent_, index));
}
MAPIFolder Folders::Item(std::string_view name) const {
    return MAPIFolder(child_named(parent_, name));
}
MAPIFolder Folders::operator()(long index) const {
    return Item(index);
}
MAPIFolder Folders::operator()(std::string_view name) const {
    return Item(name);
}

std::string MAPIFolder::Name() const {
    check(node_.get());
    return node_->name();
}

std::string MAPIFolder::text() const {
    return Name();
}

Folders MAPIFolder::Folders() const {
    check(node_.get());
    return outlook::Folders(node_);
}

MAPIFolder MAPIFolder::Folders(long index) const {
    return MAPIFolder(child_at(node_, index));
}
MAPIFolder MAPIFolder::Folders(std::string_view name) const {
    return MAPIFolder(child_named(node_, name));
}

Items MAPIFolder::Items() const {
    check(node_.get());
    return outlook::Items(node_);
}

MailItem MAPIFolder::Items(long index) const {
    return Items().Item(index);
}

FlushResult NameSpace::flush_saves() const {
    check(root_.get());
    return root_->flush_saves();
}

Folders NameSpace::Folders() const {
    check(root_.get());
    return outlook::Folders(root_);
}

MAPIFolder NameSpace::Folders(long index) const {
    return Folders().Item(index);
}
MAPIFolder NameSpace::Folders(std::string_view name) const {
    return Folders().Item(name);
}

// --- Application ------------------------------------------------------------------------------

Application Application::create(std::string_view prog_id) {
    if (!iequals(prog_id, "Outlook.Application"))
        fail(cannot_create_object, "Objekterstellung durch ActiveX-Komponente nicht möglich");
    return with_stores(configured_stores());
}

Application Application::with_stores(std::vector<StoreConfig> stores) {
    auto s = std::make_shared<detail::Session>();
    s->stores = std::move(stores);
    return Application(std::move(s));
}

Application Application::reading_only() const {
    check(session_.get());
    auto s = std::make_shared<detail::Session>(*session_);
    s->read_only = true;
    return Application(std::move(s));
}

const std::vector<StoreConfig>& Application::stores() const {
    check(session_.get());
    return session_->stores;
}

NameSpace Application::GetNamespace(std::string_view type) const {
    check(session_.get());
    if (!iequals(type, "MAPI")) fail(e_invalidarg, "Unbekannter Namensraum: " + std::string(type));
    return NameSpace(
        std::make_shared<detail::NamespaceRoot>(session_->stores, session_->read_only));
}

}  // namespace morvo::outlook
