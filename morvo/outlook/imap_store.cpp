#include "morvo/outlook/imap_store.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "morvo/outlook/imap_client.h"
#include "morvo/outlook/mime.h"
#include "morvo/outlook/mutf7.h"
#include "platform/resume.h"
#include "platform/text.h"

namespace morvo::outlook::detail {

namespace {

using imap::Connection;
using imap::Piece;
using imap::Value;

const char* const inbox_name = "Posteingang";

using platform::iequals;

std::string run_password_command(const std::string& command) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) fail(e_fail, "Der Kennwort-Befehl kann nicht gestartet werden: " + command);
    std::string out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = ::pclose(p);
    if (status != 0) fail(e_fail, "Der Kennwort-Befehl ist fehlgeschlagen: " + command);
    size_t nl = out.find_first_of("\r\n");
    if (nl != std::string::npos) out.resize(nl);
    return out;
}

// The server sends lines ending in CR LF; mail files on this side end lines in LF, as the
// Maildir backend reads them. Lone CRs stay.
std::string crlf_to_lf(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out += s[i];
    }
    return out;
}

std::string lf_to_crlf(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 32);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) out += '\r';
        out += s[i];
    }
    return out;
}

std::vector<Piece> cat(std::vector<Piece> a, const std::vector<Piece>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "[NAME v1 v2 ...] ..." -> the values after NAME; empty when the code is not NAME.
std::vector<std::string> response_code(const std::string& text, std::string_view name) {
    if (text.empty() || text[0] != '[') return {};
    size_t end = text.find(']');
    std::string code = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= code.size()) {
        size_t sp = code.find(' ', start);
        words.push_back(
            code.substr(start, sp == std::string::npos ? std::string::npos : sp - start));
        if (sp == std::string::npos) break;
        start = sp + 1;
    }
    if (words.empty() || !iequals(words[0], name)) return {};
    words.erase(words.begin());
    return words;
}

bool parse_uid(std::string_view s, std::uint32_t& out) {
    if (s.empty() || s.size() > 10) return false;
    unsigned long long v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v == 0 || v > 0xFFFFFFFFull) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

// "01-Mar-2024 08:00:00 +0100" as seconds since 1970 (UTC); 0 when it cannot be read.
long long parse_internal_date(const std::string& s) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int day = 0, year = 0, h = 0, m = 0, sec = 0, zone = 0;
    char mon[4] = {};
    char sign = '+';
    std::string t = s;
    if (!t.empty() && t[0] == ' ') t.erase(0, 1);
    if (std::sscanf(t.c_str(), "%d-%3s-%d %d:%d:%d %c%d", &day, mon, &year, &h, &m, &sec, &sign,
                    &zone) != 8)
        return 0;
    int month = -1;
    for (int i = 0; i < 12; ++i)
        if (iequals(mon, months[i])) month = i;
    if (month < 0) return 0;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = sec;
    long long offset = (zone / 100) * 3600LL + (zone % 100) * 60LL;
    return static_cast<long long>(::timegm(&tm)) - (sign == '-' ? -offset : offset);
}

const Value* fetch_item(const Value& data, std::string_view name) {
    for (size_t i = 0; i + 1 < data.items.size(); i += 2)
        if (data.items[i].is_atom(name)) return &data.items[i + 1];
    return nullptr;
}

// "3:5,9" -> 3 4 5 9, in the order given; empty when it cannot be read.
std::vector<std::uint32_t> parse_uid_set(const std::string& set) {
    std::vector<std::uint32_t> out;
    for (const std::string_view part_view : platform::pieces(set, ',')) {
        const std::string part(part_view);
        size_t colon = part.find(':');
        std::uint32_t a = 0, b = 0;
        if (!parse_uid(part.substr(0, colon), a)) return {};
        b = a;
        if (colon != std::string::npos && !parse_uid(part.substr(colon + 1), b)) return {};
        if (b < a || b - a > 100000 || out.size() > 100000) return {};
        for (std::uint64_t u = a; u <= b; ++u) out.push_back(static_cast<std::uint32_t>(u));
    }
    return out;
}

// The UIDs as a sequence set, runs joined: "3:7,9,12:13".
std::string uid_set(std::vector<std::uint32_t> uids) {
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    std::string out;
    for (size_t i = 0; i < uids.size();) {
        size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(uids[i]);
        if (j > i) out += ':' + std::to_string(uids[j]);
        i = j + 1;
    }
    return out;
}

// What FETCH responses told of each UID, later responses over earlier ones: another session's
// flag change comes as a FETCH of its own, before or after the one asked for.
struct Fetched {
    const Value* flags = nullptr;
    const Value* date = nullptr;
    std::uint64_t modseq = 0;
};
std::map<std::uint32_t, Fetched> fetched_by_uid(const std::vector<imap::Response>& responses) {
    std::map<std::uint32_t, Fetched> out;
    for (const auto& r : responses) {
        if (r.tag != "*" || r.values.size() < 3 || !r.values[1].is_atom("FETCH") ||
            r.values[2].kind != Value::Kind::list)
            continue;
        const Value* u = fetch_item(r.values[2], "UID");
        std::uint32_t uid = 0;
        if (!u || !parse_uid(u->text, uid)) continue;
        Fetched& f = out[uid];
        if (const Value* v = fetch_item(r.values[2], "FLAGS"); v && v->kind == Value::Kind::list)
            f.flags = v;
        if (const Value* v = fetch_item(r.values[2], "INTERNALDATE")) f.date = v;
        if (const Value* v = fetch_item(r.values[2], "MODSEQ"); v && !v->items.empty())
            f.modseq = std::strtoull(v->items[0].text.c_str(), nullptr, 10);
    }
    return out;
}

// UIDs that left the mailbox, as QRESYNC reports them ("* VANISHED [(EARLIER)] set").
void note_vanished(const std::vector<imap::Response>& responses, std::set<std::uint32_t>& gone) {
    for (const auto& r : responses)
        if (r.tag == "*" && r.values.size() >= 2 && r.values[0].is_atom("VANISHED"))
            for (auto uid : parse_uid_set(r.values.back().text)) gone.insert(uid);
}

// A flag list as the server gave it, without \Recent (only the server sets it) and, when asked,
// without \Deleted; in the server's order.
std::string flag_text(const Value& flags, bool keep_deleted) {
    std::vector<std::string> out;
    for (const auto& f : flags.items)
        if (!f.is_atom("\\Recent") && (keep_deleted || !f.is_atom("\\Deleted")))
            out.push_back(f.text);
    std::string text;
    for (const auto& f : out) text += (text.empty() ? "" : " ") + f;
    return text;
}

// Two flag lists (flag_text) hold the same flags, in whatever order.
bool same_flags(const std::string& a, const std::string& b) {
    auto sorted = [](const std::string& s) {
        std::vector<std::string_view> v = platform::pieces(s, ' ');
        std::sort(v.begin(), v.end());
        return v;
    };
    return sorted(a) == sorted(b);
}

// A saved mail carries this header naming the message it replaces ("UIDVALIDITY UID SIZE
// MAILBOX"; UIDs are never given twice within one UIDVALIDITY of a mailbox). When
// a save stops between the APPEND and the EXPUNGE, both copies are on the server; the next
// listing finds the old one by this mark and completes the save.
const char* const mark_header = "X-Morvo-Replaces";

// The mail's bytes (LF line ends) with any earlier mark taken out and the new one in front.
std::string with_mark(std::string_view bytes, const std::string& mark) {
    std::string out = std::string(mark_header) + ": " + mark + "\n";
    out.reserve(bytes.size() + out.size());
    const size_t name_len = std::strlen(mark_header);
    size_t pos = 0;
    bool dropping = false;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        size_t next = nl == std::string_view::npos ? bytes.size() : nl + 1;
        std::string_view line = bytes.substr(pos, next - pos);
        if (line == "\n" || line == "\r\n") {  // end of the header: the rest as it is
            out.append(bytes.substr(pos));
            return out;
        }
        if (line[0] != ' ' && line[0] != '\t')
            dropping = line.size() > name_len && line[name_len] == ':' &&
                       iequals(line.substr(0, name_len), mark_header);
        if (!dropping) out.append(line);
        pos = next;
    }
    return out;
}

// The value of the mark in a header block ("" when there is none).
std::string mark_of(const std::string& header) {
    const size_t name_len = std::strlen(mark_header);
    for (const std::string_view line_view : platform::pieces(header, '\n')) {
        const std::string line(line_view);
        if (line.size() > name_len && line[name_len] == ':' &&
            iequals(std::string_view(line).substr(0, name_len), mark_header)) {
            std::string v = line.substr(name_len + 1);
            while (!v.empty() && (v.back() == '\r' || v.back() == ' ')) v.pop_back();
            while (!v.empty() && v.front() == ' ') v.erase(0, 1);
            return v;
        }
    }
    return {};
}

int session_timeout_ms = 60000;

class ImapMail;

// A folder's messages as listed, and the bodies of the next ones read ahead in one FETCH.
struct FolderCache {
    std::string mailbox;
    // By position, in listing order: all that is kept of a mail until it is read (a folder of
    // a million mails holds 8 MB here). A saved mail's new message takes its old one's place.
    struct Slot {
        std::uint32_t uid = 0;
        std::uint32_t size = 0;  // RFC822.SIZE
    };
    std::vector<Slot> slots;
    std::map<std::uint32_t, std::string> bodies;  // read ahead, LF line ends
    // With CONDSTORE, each body's flags, internal date and MODSEQ read with it, and the highest
    // MODSEQ of that reading: a save needs no fresh reading, since its STORE is refused for a
    // message changed after it (every change gets a higher MODSEQ).
    struct Read {
        std::string flags, date;
        std::uint64_t since = 0;
    };
    std::map<std::uint32_t, Read> read;

    // A server may pay for every command that changes a mailbox with a pass over the whole
    // mailbox (a Maildir server rescans its folder), so a big folder is worked in batches that
    // grow with it: about the same number of them whatever its size, which keeps the run's
    // time per mail flat. Each batch is read ahead in four FETCHes (one STORE each).
    size_t batch_mails() const { return std::clamp<size_t>(slots.size() / 64, 256, 4096); }
    size_t read_ahead_mails() const { return batch_mails() / 4; }
    // A second for the smallest batch.
    std::chrono::milliseconds batch_time() const {
        return std::chrono::milliseconds(1000 * batch_mails() / 256);
    }
};

// Read ahead at most this many bytes in one FETCH.
constexpr std::uint64_t read_ahead_bytes = 16u << 20;
// A read-ahead or a batch ends before the UID set of its mails could pass this many characters,
// so that each command line stays under the 8,000 or so bytes a server may take (RFC 7162 asks
// clients to keep to that). A batch's mails, in the order listed, are what its commands name.
constexpr size_t uid_set_chars = 6000;
// What a UID set of mails in this order grows by at most with `uid` after `last` (0: none):
// nothing when it extends a run, else the UID and the end of a run it may start.
size_t uid_set_growth(std::uint32_t last, std::uint32_t uid) {
    if (last != 0 && uid == last + 1) return 0;
    return 2 * (std::to_string(uid).size() + 1);
}
// A batch of saves completes after its folder's batch of mails or batch time (from its first),
// or this many bytes.
constexpr long long batch_bytes = 32LL << 20;

// One logged-in connection per store, shared by its folders and mails. A dropped connection
// fails the call that saw it; the next call connects again.
class ImapSession {
  public:
    explicit ImapSession(const StoreConfig& config)
        : account_(imap::parse_location(config.location)) {
        imap::apply_tls_setting(account_, config.tls);
        account_.tls.ca_file = config.ca_file;
        if (account_.password.empty()) account_.password = config.password;
        if (account_.password.empty() && !config.password_command.empty())
            account_.password = run_password_command(config.password_command);
        if (account_.user.empty()) fail(e_fail, "Kein Benutzername für " + config.location);
        connection();
    }

    std::recursive_mutex mutex;

    Connection& connection() {
        if (!conn_ || !conn_->usable()) {
            conn_.reset();
            selected_.clear();
            auto c = std::make_unique<Connection>(account_.host, account_.port, account_.tls,
                                                  session_timeout_ms);
            c->login(account_.user, account_.password);
            // QRESYNC names messages that other sessions expunged by UID (VANISHED), which is
            // how a save learns that the mail it replaces was deleted or moved meanwhile.
            qresync_ = c->has_capability("QRESYNC") && c->has_capability("ENABLE");
            if (qresync_) {
                auto r = c->command("ENABLE QRESYNC", "QRESYNC einschalten");
                qresync_ = false;
                for (const auto& u : r.untagged)
                    if (!u.values.empty() && u.values[0].is_atom("ENABLED"))
                        for (const auto& v : u.values) qresync_ = qresync_ || v.is_atom("QRESYNC");
            }
            condstore_ = qresync_ || c->has_capability("CONDSTORE");
            conn_ = std::move(c);
        }
        return *conn_;
    }

    // Selects the mailbox unless it is selected; a changed UIDVALIDITY means the UIDs this
    // session holds name other messages now, so nothing may be done with them.
    void select(const std::string& mailbox) {
        Connection& c = connection();
        if (selected_ == mailbox) return;
        auto r = c.command(cat({{false, "SELECT "}}, imap::astring(mailbox)),
                           "Ordner " + mailbox + " öffnen");
        std::string validity;
        for (const auto& u : r.untagged)
            if (u.status == "OK") {
                auto v = response_code(u.text, "UIDVALIDITY");
                if (!v.empty()) validity = v[0];
            }
        auto known = validity_.find(mailbox);
        if (known != validity_.end() && known->second != validity)
            fail(e_fail,
                 "Der Ordner " + mailbox + " wurde auf dem Server neu angelegt; bitte neu öffnen.");
        validity_[mailbox] = validity;
        selected_ = mailbox;
    }

    const std::string& validity(const std::string& mailbox) { return validity_[mailbox]; }
    bool condstore() const { return condstore_; }
    std::string account_name() const {
        return account_.user + "@" + account_.host + ":" + std::to_string(account_.port);
    }

    // What went wrong since it was last reported; the run reports it.
    void note_problem(const std::string& text) {
        if (std::find(problems_.begin(), problems_.end(), text) == problems_.end() &&
            problems_.size() < 50)
            problems_.push_back(text);
    }
    std::vector<std::string> take_problems() { return std::exchange(problems_, {}); }
    // Its namespace is over: saves complete at once (nobody would complete them later).
    void end() { ended_ = true; }

    void add_save(std::shared_ptr<ImapMail> m, long long delta);
    void held_bytes(long long delta) { held_ += delta; }
    // Completes the pending saves; throws what stopped it, saying what it left on the server.
    void flush();

    // An old message and the confirmed new copy that is to take its place.
    struct Replacement {
        std::shared_ptr<ImapMail> mail;  // none for a copy left by an earlier run
        std::uint32_t old_uid = 0, new_uid = 0, size = 0;
        std::string flags;        // those the new copy carries (flag_text)
        std::uint64_t since = 0;  // a MODSEQ no lower than the old one's when read; 0: unknown
    };
    struct Replaced {
        std::set<std::uint32_t> expunged;  // old messages
        std::set<std::uint32_t> dropped;   // new copies whose old message went elsewhere
    };
    // In the selected mailbox. Sets `failures` to what went wrong.
    Replaced replace(std::vector<Replacement> todo, std::string& failures);

  private:
    void flush_mailbox(const std::vector<std::shared_ptr<ImapMail>>& batch,
                       const std::string& mailbox, std::string& failures);

  public:
  private:
    imap::Account account_;
    std::unique_ptr<Connection> conn_;
    std::string selected_;
    std::map<std::string, std::string> validity_;
    std::vector<std::shared_ptr<ImapMail>> pending_;
    long long held_ = 0;
    size_t set_chars_ = 0;  // of the batch's UID set, at most (uid_set_growth)
    std::chrono::steady_clock::time_point first_;
    bool flushing_ = false;
    bool ended_ = false;
    std::vector<std::string> problems_;
    bool qresync_ = false, condstore_ = false;
    // How far the save in progress got: what a broken connection leaves on the server.
    enum class Step { none, appending, replacing } step_ = Step::none;
};

class ImapMail : public MailSource, public std::enable_shared_from_this<ImapMail> {
  public:
    ImapMail(std::shared_ptr<ImapSession> s, std::shared_ptr<FolderCache> folder, size_t index)
        : session_(std::move(s)),
          folder_(std::move(folder)),
          index_(index),
          uid_(folder_->slots.at(index).uid),
          size_(folder_->slots[index].size) {}

    Bytes load() override {
        std::lock_guard<std::recursive_mutex> lock(session_->mutex);
        std::string text;
        if (has_pending_) {
            text = pending_;
        } else {
            auto cached = folder_->bodies.find(uid_);
            if (cached == folder_->bodies.end()) {
                try {
                    read_ahead();
                } catch (const platform::Error& e) {
                    session_->note_problem(e.description);
                    throw;
                }
                cached = folder_->bodies.find(uid_);
            }
            if (cached == folder_->bodies.end())
                fail(e_fail, "Die Nachricht ist auf dem Server nicht mehr vorhanden.");
            text = std::move(cached->second);
            folder_->bodies.erase(cached);
            read_.reset();
            if (auto r = folder_->read.find(uid_); r != folder_->read.end()) {
                read_ = std::move(r->second);
                folder_->read.erase(r);
            }
        }
        return copy_of(text);
    }

    // Held until the batch completes; reading sees the new bytes at once.
    void store(std::string_view bytes) override {
        std::lock_guard<std::recursive_mutex> lock(session_->mutex);
        const long long before = has_pending_ ? static_cast<long long>(pending_.size()) : 0;
        pending_.assign(bytes.data(), bytes.size());
        const long long delta = static_cast<long long>(bytes.size()) - before;
        if (has_pending_) {
            session_->held_bytes(delta);
            return;
        }
        has_pending_ = true;
        try {
            session_->add_save(shared_from_this(), delta);
        } catch (const platform::Error& e) {
            session_->note_problem(e.description);
            throw;
        }
    }

    const std::string& mailbox() const { return folder_->mailbox; }
    std::uint32_t uid() const { return uid_; }
    std::string entry_id() override {
        std::lock_guard<std::recursive_mutex> lock(session_->mutex);
        return "imap://" + session_->account_name() + "/" + folder_->mailbox +
               ";UIDVALIDITY=" + session_->validity(folder_->mailbox) +
               "/;UID=" + std::to_string(uid_);
    }
    std::uint32_t size() const { return size_; }
    const FolderCache& folder() const { return *folder_; }
    bool has_pending() const { return has_pending_; }
    // The bytes to append (CR LF, marked with the message they replace); the pending save is
    // taken over by the batch.
    std::string take_pending(const std::string& validity) {
        std::string out =
            lf_to_crlf(with_mark(pending_, validity + " " + std::to_string(uid_) + " " +
                                               std::to_string(size_) + " " + folder_->mailbox));
        drop_pending();
        return out;
    }
    void drop_pending() {
        pending_.clear();
        pending_.shrink_to_fit();
        has_pending_ = false;
    }
    // The appended message is this mail from now on.
    void replaced_by(std::uint32_t uid, std::uint32_t size) {
        uid_ = uid;
        size_ = size;
        read_.reset();
        folder_->slots[index_] = {uid, size};  // for whoever reads the position next
    }
    // What was read with the body (CONDSTORE only).
    const std::optional<FolderCache::Read>& read() const { return read_; }

  private:
    // This mail's body and those of the next listed ones in one FETCH.
    void read_ahead() {
        session_->select(folder_->mailbox);
        std::vector<std::uint32_t> want{uid_};
        std::uint64_t bytes = size_;
        const size_t most = folder_->read_ahead_mails();
        size_t set_chars = uid_set_growth(0, uid_);
        for (size_t i = index_ + 1; i < folder_->slots.size() && want.size() < most; ++i) {
            const std::uint64_t more = folder_->slots[i].size;
            set_chars += uid_set_growth(want.back(), folder_->slots[i].uid);
            if (bytes + more > read_ahead_bytes || set_chars > uid_set_chars) break;
            bytes += more;
            want.push_back(folder_->slots[i].uid);
        }
        folder_->bodies.clear();  // what was read ahead and not asked for is not kept
        folder_->read.clear();
        const bool condstore = session_->condstore();
        auto r = session_->connection().command(
            "UID FETCH " + uid_set(want) +
                (condstore ? " (BODY.PEEK[] FLAGS INTERNALDATE MODSEQ)" : " BODY.PEEK[]"),
            "Nachricht lesen");
        std::set<std::uint32_t> gone;
        note_vanished(r.untagged, gone);
        std::uint64_t since = 0;
        for (const auto& [uid, f] : fetched_by_uid(r.untagged)) since = std::max(since, f.modseq);
        for (const auto& u : r.untagged) {
            if (u.values.size() < 3 || !u.values[1].is_atom("FETCH") ||
                u.values[2].kind != Value::Kind::list)
                continue;
            const Value* uid = fetch_item(u.values[2], "UID");
            const Value* body = fetch_item(u.values[2], "BODY[]");
            std::uint32_t n = 0;
            if (uid && body && parse_uid(uid->text, n) &&
                std::find(want.begin(), want.end(), n) != want.end())
                folder_->bodies[n] = crlf_to_lf(body->text);
        }
        if (condstore && since > 0)
            for (const auto& [uid, f] : fetched_by_uid(r.untagged))
                if (f.flags && f.date && f.modseq && !gone.count(uid) && folder_->bodies.count(uid))
                    folder_->read[uid] = {flag_text(*f.flags, true), f.date->text, since};
    }

    std::shared_ptr<ImapSession> session_;
    std::shared_ptr<FolderCache> folder_;
    size_t index_;
    std::uint32_t uid_;
    std::uint32_t size_ = 0;
    std::string pending_;
    bool has_pending_ = false;
    std::optional<FolderCache::Read> read_;
};

void ImapSession::add_save(std::shared_ptr<ImapMail> m, long long delta) {
    if (pending_.empty()) {
        first_ = std::chrono::steady_clock::now();
        set_chars_ = 0;
    }
    set_chars_ += uid_set_growth(pending_.empty() ? 0 : pending_.back()->uid(), m->uid());
    pending_.push_back(std::move(m));
    held_ += delta;
    const FolderCache& folder = pending_.back()->folder();
    if (ended_ || pending_.size() >= folder.batch_mails() || held_ > batch_bytes ||
        set_chars_ > uid_set_chars ||
        std::chrono::steady_clock::now() - first_ > folder.batch_time())
        flush();
}

namespace {
// A flag list (flag_text) without \Deleted: what two states are compared by, since the save
// itself sets \Deleted on the old message.
std::string without_deleted(const std::string& flags) {
    std::string out;
    for (const std::string_view f : platform::pieces(flags, ' '))
        if (!f.empty() && !iequals(f, "\\Deleted"))
            out += (out.empty() ? "" : " ") + std::string(f);
    return out;
}
bool has_deleted(const std::string& flags) {
    return without_deleted(flags) != flags;
}
const char* const gone_elsewhere =
    "Eine Email wurde während des Speicherns von einem anderen Programm gelöscht oder "
    "verschoben; das bleibt so, ihre abgelegten Anlagen bleiben in der Ablage.";
}  // namespace

// Per mailbox: the old flags, dates and MODSEQs (as read with the bodies under CONDSTORE, else
// in one FETCH), every APPEND sent back to back, and once each is confirmed, the old messages
// replaced (replace()). A failure anywhere leaves
// the old message, and at worst the new one next to it (found by its mark and removed later).
void ImapSession::flush() {
    if (pending_.empty() || flushing_) return;
    flushing_ = true;
    std::vector<std::shared_ptr<ImapMail>> batch;
    batch.swap(pending_);
    held_ = 0;
    struct Reset {
        bool& f;
        Step& step;
        std::vector<std::shared_ptr<ImapMail>>& b;
        ~Reset() {
            for (auto& m : b) m->drop_pending();
            f = false;
            step = Step::none;
        }
    } reset{flushing_, step_, batch};
    // Attachments saved from these mails must be on disk before the server drops them.
    if (!make_durable())
        fail(e_fail,
             "Gespeicherte Anhänge konnten nicht auf den Datenträger geschrieben "
             "werden; die Nachrichten bleiben unverändert.");
    if (!connection().has_capability("UIDPLUS"))
        fail(e_fail, "Der IMAP-Server kann Nachrichten nicht sicher ersetzen (UIDPLUS fehlt).");
    std::vector<std::string> mailboxes;
    for (const auto& m : batch)
        if (std::find(mailboxes.begin(), mailboxes.end(), m->mailbox()) == mailboxes.end())
            mailboxes.push_back(m->mailbox());
    std::string failures;
    try {
        for (const auto& mailbox : mailboxes) flush_mailbox(batch, mailbox, failures);
    } catch (const platform::Error& e) {
        // What the server holds now, as far as this side knows.
        if (step_ == Step::appending)
            fail(e_fail, e.description +
                             " Neue Kopien können neben den unveränderten Emails liegen; der "
                             "nächste Lauf entfernt sie.");
        if (step_ == Step::replacing)
            fail(e_fail, e.description +
                             " Neue Kopien liegen neben den alten Emails, die als gelöscht "
                             "markiert sein können; der nächste Lauf räumt sie auf.");
        fail(e_fail, e.description + " Die betroffenen Emails bleiben unverändert.");
    }
    if (!failures.empty()) fail(e_fail, failures);
}

void ImapSession::flush_mailbox(const std::vector<std::shared_ptr<ImapMail>>& batch,
                                const std::string& mailbox, std::string& failures) {
    std::vector<std::shared_ptr<ImapMail>> mails;
    std::vector<std::uint32_t> unread;  // without flags read along with the body
    for (const auto& m : batch)
        if (m->mailbox() == mailbox && m->has_pending()) {
            mails.push_back(m);
            if (!condstore_ || !m->read()) unread.push_back(m->uid());
        }
    if (mails.empty()) return;
    step_ = Step::none;
    select(mailbox);
    Connection& c = connection();
    Connection::Result r;
    if (!unread.empty())
        r = c.command("UID FETCH " + uid_set(unread) +
                          (condstore_ ? " (FLAGS INTERNALDATE MODSEQ)" : " (FLAGS INTERNALDATE)"),
                      "Nachricht lesen");
    // A message another session expunged may still be answered (its last flags), with the
    // VANISHED after it.
    std::set<std::uint32_t> gone;
    note_vanished(r.untagged, gone);
    const auto data = fetched_by_uid(r.untagged);
    std::uint64_t fetched_since = 0;
    for (const auto& [uid, f] : data) fetched_since = std::max(fetched_since, f.modseq);
    struct Append {
        std::shared_ptr<ImapMail> mail;
        std::string tag;
        std::uint32_t size = 0;
        std::string flags;
        std::uint64_t since = 0;
    };
    std::vector<Append> sent;
    const std::string& valid = validity(mailbox);
    // MULTIAPPEND saves the whole batch in one transaction (one sync on the server instead
    // of one per mail); it needs LITERAL+ to go without a round trip per mail.
    const bool multi =
        mails.size() > 1 && c.has_capability("MULTIAPPEND") && c.has_capability("LITERAL+");
    std::vector<Piece> multi_pieces;
    step_ = Step::appending;
    for (const auto& m : mails) {
        FolderCache::Read known;
        if (condstore_ && m->read()) {
            known = *m->read();  // one that is gone meanwhile takes its new copy with it later
        } else {
            auto d = data.find(m->uid());
            if (gone.count(m->uid()) || d == data.end() || !d->second.flags || !d->second.date) {
                failures = gone_elsewhere;
                m->drop_pending();  // deleted or moved by another program meanwhile: it stays so
                continue;
            }
            known = {flag_text(*d->second.flags, true), d->second.date->text, fetched_since};
        }
        std::vector<Piece> append{{false, "APPEND "}};
        append = cat(std::move(append), imap::astring(mailbox));
        append.push_back({false, " (" + known.flags + ") \"" + known.date + "\" "});
        append.push_back({true, m->take_pending(valid)});
        Append a{m,
                 {},
                 static_cast<std::uint32_t>(append.back().bytes.size()),
                 known.flags,
                 known.since};
        if (multi) {  // one APPEND for all: the server stores them in one go
            if (multi_pieces.empty())
                multi_pieces = append;
            else
                multi_pieces.insert(multi_pieces.end(), append.begin() + 2, append.end());
            sent.push_back(std::move(a));
            continue;
        }
        if (c.can_send_at_once(append)) {
            a.tag = c.send(append);
        } else {  // each literal waits for the server's go-ahead anyway
            try {
                auto done = c.command(append, "Nachricht speichern");
                a.tag = "OK " + done.text;
            } catch (const platform::Error& e) {
                if (!c.usable()) throw;
                failures = e.description;
                continue;
            }
        }
        sent.push_back(std::move(a));
    }
    if (multi && !multi_pieces.empty()) {
        imap::Response done = c.wait(c.send(multi_pieces));
        auto appended = response_code(done.text, "APPENDUID");
        std::vector<std::uint32_t> new_uids;
        if (done.status == "OK" && appended.size() >= 2) new_uids = parse_uid_set(appended[1]);
        if (done.status != "OK")
            failures = "Nachricht speichern: " + done.text;
        else if (new_uids.size() != sent.size())
            failures =
                "Der IMAP-Server nannte die neuen Nachrichten nicht; die alten bleiben "
                "erhalten.";
        for (size_t i = 0; i < sent.size(); ++i)
            sent[i].tag = new_uids.size() == sent.size()
                              ? "OK [APPENDUID " + valid + " " + std::to_string(new_uids[i]) + "]"
                              : "NO";
    }
    std::vector<Replacement> todo;
    for (auto& a : sent) {
        std::string text;
        if (a.tag == "NO") continue;  // reported above
        if (a.tag.rfind("OK ", 0) == 0) {
            text = a.tag.substr(3);
        } else {
            imap::Response done = c.wait(a.tag);
            if (done.status != "OK") {
                failures = "Nachricht speichern: " + done.text;
                continue;
            }
            text = done.text;
        }
        auto appended = response_code(text, "APPENDUID");
        std::uint32_t new_uid = 0;
        if (appended.size() < 2 || !parse_uid(appended[1], new_uid)) {
            failures = "Der IMAP-Server nannte die neue Nachricht nicht; die alte bleibt erhalten.";
            continue;
        }
        todo.push_back({a.mail, a.mail->uid(), new_uid, a.size, a.flags, a.since});
    }
    replace(std::move(todo), failures);
}

// The old message is flagged \Deleted only while it is unchanged since its flags were read
// (UNCHANGEDSINCE), and expunged by UID alone, so that no \Deleted message of another program
// goes with it. One that changed gives its flags to the new copy and is tried again; one that
// another program deleted or moved takes its new copy with it. Without CONDSTORE the flags the
// STORE reports are compared instead, and a change is taken over after the fact. The EXPUNGE
// waits for the STORE's answer, so that only messages confirmed unchanged go: what another
// program does in that one round trip (to a message it sees as deleted) is not seen.
ImapSession::Replaced ImapSession::replace(std::vector<Replacement> todo, std::string& failures) {
    Connection& c = connection();
    Replaced out;
    std::vector<std::uint32_t> drop;
    // Gives a new copy the changes its old message got since it was read: added and removed
    // flags only, so that what another program did to the new copy meanwhile stays too.
    std::vector<std::string> reflags;
    auto take_over = [&](Replacement& t, const std::string& flags) {
        auto set_of = [](const std::string& f) {
            std::set<std::string> out;
            for (const std::string_view x : platform::pieces(f, ' '))
                if (!x.empty()) out.insert(std::string(x));
            return out;
        };
        const auto before = set_of(t.flags), now = set_of(flags);
        std::string added, removed;
        for (const auto& f : now)
            if (!before.count(f)) added += (added.empty() ? "" : " ") + f;
        for (const auto& f : before)
            if (!now.count(f)) removed += (removed.empty() ? "" : " ") + f;
        const std::string uid = std::to_string(t.new_uid);
        if (!added.empty())
            reflags.push_back(
                c.send({{false, "UID STORE " + uid + " +FLAGS.SILENT (" + added + ")"}}));
        if (!removed.empty())
            reflags.push_back(
                c.send({{false, "UID STORE " + uid + " -FLAGS.SILENT (" + removed + ")"}}));
        t.flags = flags;
    };
    for (int round = 0; !todo.empty(); ++round) {
        if (round == 3) {  // changed again at every try: the other program's state stays
            for (const auto& t : todo) drop.push_back(t.new_uid);
            failures =
                "Eine Email wurde beim Speichern immer wieder von einem anderen Programm "
                "geändert; sie bleibt, wie es sie hinterließ.";
            break;
        }
        // One STORE per reading of the old messages (their MODSEQ bound), all in one round trip.
        std::map<std::uint64_t, std::vector<std::uint32_t>> olds;
        for (const auto& t : todo) olds[condstore_ ? t.since : 0].push_back(t.old_uid);
        std::vector<imap::Response> u;
        // Without QRESYNC an expunge by another session shows only as a position: a NOOP first
        // brings this session's view up to date, so that the STORE finds no message that is gone.
        const std::string noop = qresync_ ? "" : c.send({{false, "NOOP"}});
        step_ = Step::replacing;
        std::vector<std::string> tags;
        for (const auto& [since, uids] : olds)
            tags.push_back(c.send(
                {{false, "UID STORE " + uid_set(uids) +
                             (since > 0 ? " (UNCHANGEDSINCE " + std::to_string(since) + ")" : "") +
                             " +FLAGS (\\Deleted)"}}));
        // Read once more right behind the STOREs: a message another program moved or expunged
        // while the STORE ran may be answered with this program's \Deleted, and only the next
        // command tells that it is gone.
        std::vector<std::uint32_t> all;
        for (const auto& t : todo) all.push_back(t.old_uid);
        // Without QRESYNC a message expunged while the STORE waited is told only at a NOOP:
        // one more between the STOREs and the reading.
        const std::string noop_after = qresync_ ? "" : c.send({{false, "NOOP"}});
        const std::string recheck = c.send({{false, "UID FETCH " + uid_set(all) + " (FLAGS)"}});
        for (const auto& t : reflags) c.wait(t, &u);
        reflags.clear();
        if (!noop.empty()) c.wait(noop, &u);
        std::set<std::uint32_t> gone, modified;
        std::string refused;
        for (const auto& tag : tags) {
            imap::Response done = c.wait(tag, &u);
            if (done.status != "OK") refused = done.text;
            if (auto code = response_code(done.text, "MODIFIED"); !code.empty())
                for (auto uid : parse_uid_set(code[0])) modified.insert(uid);
        }
        if (!noop_after.empty()) c.wait(noop_after, &u);
        // Only this reading tells what is there: the STORE answers for a message another
        // session expunged meanwhile as if it were still there, until the expunge is told.
        std::vector<imap::Response> read_back;
        c.wait(recheck, &read_back);
        if (!refused.empty()) {
            failures = "Alte Nachricht entfernen: " + refused +
                       " Neue Kopien liegen neben den alten; der nächste Lauf entfernt sie.";
            break;
        }
        note_vanished(u, gone);
        note_vanished(read_back, gone);
        auto seen = fetched_by_uid(read_back);
        // A message that had \Deleted already (a save broken after its STORE) may get no FETCH:
        // whether it is still there is asked once more.
        std::vector<std::uint32_t> unseen;
        for (const auto& t : todo)
            if (!gone.count(t.old_uid) && !modified.count(t.old_uid) &&
                (!seen.count(t.old_uid) || !seen[t.old_uid].flags))
                unseen.push_back(t.old_uid);
        Connection::Result check;
        if (!unseen.empty()) {
            check = c.command("UID FETCH " + uid_set(unseen) + " (FLAGS)", "Nachricht lesen");
            note_vanished(check.untagged, gone);
            for (const auto& [uid, f] : fetched_by_uid(check.untagged)) seen[uid] = f;
        }
        std::vector<Replacement> again, replaced;
        for (auto& t : todo) {
            auto s = seen.find(t.old_uid);
            if (gone.count(t.old_uid)) {
                drop.push_back(t.new_uid);
            } else if (modified.count(t.old_uid)) {
                again.push_back(std::move(t));
            } else if (s == seen.end() || !s->second.flags ||
                       !has_deleted(flag_text(*s->second.flags, true))) {
                drop.push_back(t.new_uid);  // no longer in this session's view
            } else {
                const std::string now = flag_text(*s->second.flags, false);
                if (!same_flags(now, without_deleted(t.flags)))
                    take_over(t, now + (has_deleted(t.flags) ? " \\Deleted" : ""));
                replaced.push_back(std::move(t));
            }
        }
        if (!replaced.empty()) {
            std::vector<std::uint32_t> expunge;
            for (const auto& t : replaced) expunge.push_back(t.old_uid);
            std::vector<imap::Response> v;
            imap::Response gone_now =
                c.wait(c.send({{false, "UID EXPUNGE " + uid_set(expunge)}}), &v);
            for (const auto& t : reflags) c.wait(t, &v);
            reflags.clear();
            if (gone_now.status != "OK") {
                failures = "Alte Nachricht entfernen: " + gone_now.text +
                           " Emails sind als gelöscht markiert neben ihren neuen Kopien; der "
                           "nächste Lauf räumt sie auf.";
            } else {
                for (auto& t : replaced) {
                    out.expunged.insert(t.old_uid);
                    if (t.mail) t.mail->replaced_by(t.new_uid, t.size);
                }
            }
        }
        todo.clear();
        if (again.empty()) break;
        // What the other program changed goes to the new copy; the old one is tried again.
        std::vector<std::uint32_t> changed;
        for (const auto& t : again) changed.push_back(t.old_uid);
        auto r = c.command("UID FETCH " + uid_set(changed) + " (FLAGS MODSEQ)", "Nachricht lesen");
        note_vanished(r.untagged, gone);
        const auto now = fetched_by_uid(r.untagged);
        std::uint64_t since = 0;
        for (const auto& [uid, f] : now) since = std::max(since, f.modseq);
        for (auto& t : again) {
            auto n = now.find(t.old_uid);
            if (gone.count(t.old_uid) || n == now.end() || !n->second.flags) {
                drop.push_back(t.new_uid);
                continue;
            }
            t.since = since;
            take_over(t, flag_text(*n->second.flags, true));
            todo.push_back(std::move(t));
        }
    }
    std::vector<imap::Response> w;
    for (const auto& t : reflags) {
        imap::Response done = c.wait(t, &w);
        if (done.status != "OK") failures = "Markierungen übernehmen: " + done.text;
    }
    if (!drop.empty()) {
        // The new copy of a mail that another program deleted or moved would bring it back.
        const std::string set = uid_set(drop);
        const std::string flag =
            c.send({{false, "UID STORE " + set + " +FLAGS.SILENT (\\Deleted)"}});
        const std::string expunge = c.send({{false, "UID EXPUNGE " + set}});
        c.wait(flag, &w);
        imap::Response done = c.wait(expunge, &w);
        failures = done.status == "OK" ? gone_elsewhere
                                       : "Überzählige Kopie entfernen: " + done.text +
                                             " Sie liegt als gelöscht markiert im Ordner.";
        if (done.status == "OK") out.dropped.insert(drop.begin(), drop.end());
    }
    return out;
}

class ImapFolder : public MailFolderNode {
  public:
    ImapFolder(std::shared_ptr<ImapSession> s, std::string display, std::string raw)
        : session_(std::move(s)), display_(std::move(display)), raw_(std::move(raw)) {}

    std::string name() const override { return display_; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override { return kids_; }

    std::vector<std::shared_ptr<ImapFolder>> sub;
    std::string mailbox;  // the selectable mailbox; "" for a folder without mails of its own
    const std::string& raw() const { return raw_; }

    void finish() {
        std::stable_sort(sub.begin(), sub.end(), [](const auto& a, const auto& b) {
            if (a->display_ != b->display_) return a->display_ < b->display_;
            return a->raw_ < b->raw_;
        });
        kids_.assign(sub.begin(), sub.end());
        for (auto& k : sub) k->finish();
    }

  private:
    MailList list_items() override {
        if (mailbox.empty()) return {};
        std::lock_guard<std::recursive_mutex> lock(session_->mutex);
        try {
            session_->flush();  // a new listing sees every mail saved before
        } catch (const platform::Error& e) {
            session_->note_problem(e.description);
        }
        std::shared_ptr<FolderCache> cache;
        try {
            cache = list_mails();
        } catch (const platform::Error& e) {
            session_->note_problem(e.description);
            throw;
        }
        // A mail's object lives only while it is read, held or saved.
        return MailList(static_cast<long>(cache->slots.size()),
                        [session = session_, cache](long index) -> std::shared_ptr<MailSource> {
                            return std::make_shared<ImapMail>(session, cache,
                                                              static_cast<size_t>(index));
                        });
    }

    std::shared_ptr<FolderCache> list_mails() {
        auto cache = std::make_shared<FolderCache>();
        cache->mailbox = mailbox;
        session_->select(mailbox);
        Connection& c = session_->connection();
        // Read as the answer comes: a big folder's answer is not held whole.
        struct Listed {
            long long when;  // received
            std::uint32_t uid, size;
        };
        std::vector<Listed> listed;
        std::map<std::uint32_t, std::string> marks;
        auto one = [&](const imap::Response& u) {
            if (u.values.size() < 3 || !u.values[1].is_atom("FETCH")) return;
            std::uint32_t uid = 0;
            long long when = 0;
            bool dated = false;  // not an unsolicited flag update
            std::uint32_t size = 0;
            std::string mark;
            const auto& items = u.values[2].items;
            for (size_t i = 0; i + 1 < items.size(); i += 2) {
                const Value& v = items[i + 1];
                if (items[i].is_atom("UID")) parse_uid(v.text, uid);
                if (items[i].is_atom("INTERNALDATE")) {
                    when = parse_internal_date(v.text);
                    dated = true;
                }
                if (items[i].is_atom("RFC822.SIZE")) parse_uid(v.text, size);
                if (items[i].kind == Value::Kind::atom && items[i].text.rfind("BODY[", 0) == 0)
                    mark = mark_of(v.text);
            }
            if (!uid || !dated) return;
            listed.push_back({when, uid, size});
            if (!mark.empty()) marks[uid] = mark;
        };
        c.command("UID FETCH 1:* (UID INTERNALDATE RFC822.SIZE BODY.PEEK[HEADER.FIELDS (" +
                      std::string(mark_header) + ")])",
                  "Nachrichten auflisten", one);
        // By UID, each once (a server may answer twice), for the marks to find their originals.
        std::sort(listed.begin(), listed.end(),
                  [](const Listed& a, const Listed& b) { return a.uid < b.uid; });
        listed.erase(std::unique(listed.begin(), listed.end(),
                                 [](const Listed& a, const Listed& b) { return a.uid == b.uid; }),
                     listed.end());
        auto size_of = [&](std::uint32_t uid) -> std::optional<std::uint32_t> {
            auto at = std::lower_bound(listed.begin(), listed.end(), uid,
                                       [](const Listed& l, std::uint32_t u) { return l.uid < u; });
            if (at == listed.end() || at->uid != uid) return std::nullopt;
            return at->size;
        };
        // A marked message whose original is still here: a save stopped between the APPEND
        // and the EXPUNGE. The new message is complete (its attachments were on disk before
        // it was sent), so the original goes now.
        std::map<std::uint32_t, std::uint32_t> leftovers;  // original -> copy
        const std::string& validity = session_->validity(mailbox);
        for (const auto& [uid, mark] : marks) {
            char v[32] = {};
            unsigned long old = 0, size = 0;
            int used = 0;
            if (std::sscanf(mark.c_str(), "%31s %lu %lu %n", v, &old, &size, &used) != 3 ||
                mark.substr(static_cast<size_t>(used)) != mailbox)
                continue;
            const auto found = size_of(static_cast<std::uint32_t>(old));
            if (validity.empty() || validity != v || old == uid || old > 0xFFFFFFFFul || !found ||
                *found != size)
                continue;
            leftovers[static_cast<std::uint32_t>(old)] = uid;
        }
        const auto done = finish_saves(leftovers);
        // Received order, as the Maildir backend lists by delivery time: a saved mail keeps
        // its internal date and so its place in later listings; equal dates go by UID.
        std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
            return a.when != b.when ? a.when < b.when : a.uid < b.uid;
        });
        cache->slots.reserve(listed.size());
        for (const auto& l : listed)
            if (!done.expunged.count(l.uid) && !done.dropped.count(l.uid))
                cache->slots.push_back({l.uid, l.size});
        return cache;
    }

    // The copy takes the original's flags (changes made since the broken save included; a
    // \Deleted on the original is this program's own when the save broke after its STORE),
    // then replaces it as a save does.
    // In parts of 256 pairs, so that each command's UID set stays short (uid_set_chars).
    ImapSession::Replaced finish_saves(const std::map<std::uint32_t, std::uint32_t>& leftovers) {
        ImapSession::Replaced out;
        std::map<std::uint32_t, std::uint32_t> part;
        for (auto at = leftovers.begin(); at != leftovers.end();) {
            part.insert(*at++);
            if (part.size() < 256 && at != leftovers.end()) continue;
            auto done = finish_part(part);
            out.expunged.merge(done.expunged);
            out.dropped.merge(done.dropped);
            part.clear();
        }
        return out;
    }
    ImapSession::Replaced finish_part(const std::map<std::uint32_t, std::uint32_t>& leftovers) {
        Connection& c = session_->connection();
        std::vector<std::uint32_t> both;
        for (const auto& [old, copy] : leftovers) {
            both.push_back(old);
            both.push_back(copy);
        }
        auto r = c.command(
            "UID FETCH " + uid_set(both) + (session_->condstore() ? " (FLAGS MODSEQ)" : " (FLAGS)"),
            "Doppelte entfernen");
        std::set<std::uint32_t> gone;
        note_vanished(r.untagged, gone);
        const auto f = fetched_by_uid(r.untagged);
        std::vector<ImapSession::Replacement> todo;
        std::uint64_t since = 0;
        for (const auto& [old, copy] : leftovers) {
            auto o = f.find(old), n = f.find(copy);
            if (gone.count(old) || gone.count(copy) || o == f.end() || n == f.end() ||
                !o->second.flags || !n->second.flags)
                continue;
            const std::string has = flag_text(*n->second.flags, true);
            std::string want = flag_text(*o->second.flags, false);
            if (has_deleted(has)) want += want.empty() ? "\\Deleted" : " \\Deleted";
            if (!same_flags(want, has))
                c.command("UID STORE " + std::to_string(copy) + " FLAGS.SILENT (" + want + ")",
                          "Doppelte entfernen");
            since = std::max(since, o->second.modseq);
            todo.push_back({nullptr, old, copy, 0, want});
        }
        for (auto& t : todo) t.since = since;
        std::string failures;
        auto out = session_->replace(std::move(todo), failures);
        if (!failures.empty()) session_->note_problem(failures);
        return out;
    }

    std::shared_ptr<ImapSession> session_;
    std::string display_;
    std::string raw_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
};

std::string display_of(const std::string& raw) {
    if (auto s = mutf7_decode(raw)) return *s;
    return raw;
}

class ImapStore : public FolderWithoutMails {
  public:
    explicit ImapStore(const StoreConfig& config)
        : name_(config.name), session_(std::make_shared<ImapSession>(config)) {
        std::lock_guard<std::recursive_mutex> lock(session_->mutex);
        auto r = session_->connection().command("LIST \"\" \"*\"", "Ordner auflisten");
        auto top = std::make_shared<ImapFolder>(session_, "", "");
        auto inbox = std::make_shared<ImapFolder>(session_, inbox_name, "INBOX");
        top->sub.push_back(inbox);
        for (const auto& u : r.untagged) {
            if (u.values.size() < 4 || !u.values[0].is_atom("LIST") ||
                u.values[1].kind != Value::Kind::list)
                continue;
            bool selectable = true;
            for (const auto& a : u.values[1].items)
                if (a.is_atom("\\Noselect") || a.is_atom("\\NonExistent")) selectable = false;
            std::string sep = u.values[2].is_nil() ? "" : u.values[2].text;
            const std::string& full = u.values[3].text;
            std::vector<std::string> comps;
            if (sep.empty()) {
                comps.push_back(full);
            } else {
                size_t start = 0;
                for (;;) {
                    size_t at = full.find(sep, start);
                    comps.push_back(full.substr(
                        start, at == std::string::npos ? std::string::npos : at - start));
                    if (at == std::string::npos) break;
                    start = at + sep.size();
                }
            }
            ImapFolder* at = top.get();
            size_t first = 0;
            if (iequals(comps[0], "INBOX")) {
                at = inbox.get();
                first = 1;
                if (comps.size() == 1) {
                    if (selectable) inbox->mailbox = full;
                    continue;
                }
            }
            for (size_t k = first; k < comps.size(); ++k) {
                std::shared_ptr<ImapFolder> next;
                for (auto& kid : at->sub)
                    if (kid->raw() == comps[k] && kid.get() != inbox.get()) next = kid;
                if (!next) {
                    next = std::make_shared<ImapFolder>(session_, display_of(comps[k]), comps[k]);
                    at->sub.push_back(next);
                }
                if (k + 1 == comps.size() && selectable) next->mailbox = full;
                at = next.get();
            }
        }
        top->finish();
        kids_.assign(top->sub.begin(), top->sub.end());
    }

    ~ImapStore() override {
        std::lock_guard<std::recursive_mutex> lock(session_->mutex);
        // A destructor must not throw: what the session cannot note is passed over.
        platform::resume_on_error([&] {
            try {
                session_->flush();
            } catch (const platform::Error& e) {
                session_->note_problem(e.description);
            }
        });
    }

    std::string name() const override { return name_; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override { return kids_; }

    const std::shared_ptr<ImapSession>& session() const { return session_; }

  private:
    std::string name_;
    std::shared_ptr<ImapSession> session_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
};

}  // namespace

namespace {

// The IMAP saves of one namespace: every store's connection with the saves it holds.
class ImapSaves : public PendingSaves {
  public:
    void add(std::shared_ptr<ImapSession> s) { sessions_.push_back(std::move(s)); }

    // Completes every store's pending saves; what failed with them since the last call (reads,
    // listings, saves) as one text, saying what it left on the server.
    FlushResult flush() override {
        std::vector<std::string> seen;
        for (const auto& s : sessions_) {
            std::lock_guard<std::recursive_mutex> lock(s->mutex);
            try {
                s->flush();
            } catch (const platform::Error& e) {
                s->note_problem(e.description);
            }
            for (auto& p : s->take_problems()) seen.push_back(std::move(p));
        }
        FlushResult r;
        if (seen.empty()) return r;
        std::string text = "Beim IMAP-Server ging nicht alles gut:";
        for (const auto& p : seen) text += "\r\n" + p;
        r.complete = false;
        r.failures.push_back(std::move(text));
        return r;
    }

    void session_ended() override {
        for (const auto& s : sessions_) {
            std::lock_guard<std::recursive_mutex> lock(s->mutex);
            s->end();
        }
    }

  private:
    std::vector<std::shared_ptr<ImapSession>> sessions_;
};

}  // namespace

std::shared_ptr<FolderNode> open_imap_store(const StoreConfig& config, StoreSession& session) {
    auto store = std::make_shared<ImapStore>(config);
    session.saves.batch<ImapSaves>()->add(store->session());
    return store;
}

void set_imap_timeout(int milliseconds) {
    session_timeout_ms = milliseconds;
}

}  // namespace morvo::outlook::detail
