#include "morvo/outlook/imap_store.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>

#include "morvo/outlook/imap_client.h"
#include "morvo/outlook/mime.h"
#include "morvo/outlook/mutf7.h"

namespace morvo::outlook::detail {

namespace {

using imap::Connection;
using imap::Piece;
using imap::Value;

const char* const inbox_name = "Posteingang";

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

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

// The FETCH data of the message with this UID among the untagged responses ("* n FETCH (...)").
const Value* fetch_data(const std::vector<imap::Response>& responses, std::uint32_t uid) {
    for (const auto& r : responses) {
        if (r.tag != "*" || r.values.size() < 3 || !r.values[1].is_atom("FETCH") ||
            r.values[2].kind != Value::Kind::list)
            continue;
        const auto& items = r.values[2].items;
        for (size_t i = 0; i + 1 < items.size(); i += 2) {
            std::uint32_t u = 0;
            if (items[i].is_atom("UID") && parse_uid(items[i + 1].text, u) && u == uid)
                return &r.values[2];
        }
    }
    return nullptr;
}

const Value* fetch_item(const Value& data, std::string_view name) {
    for (size_t i = 0; i + 1 < data.items.size(); i += 2)
        if (data.items[i].is_atom(name)) return &data.items[i + 1];
    return nullptr;
}

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

    std::mutex mutex;

    Connection& connection() {
        if (!conn_ || !conn_->usable()) {
            conn_.reset();
            selected_.clear();
            auto c = std::make_unique<Connection>(account_.host, account_.port, account_.tls);
            c->login(account_.user, account_.password);
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

    const std::string& selected() const { return selected_; }

  private:
    imap::Account account_;
    std::unique_ptr<Connection> conn_;
    std::string selected_;
    std::map<std::string, std::string> validity_;
};

class ImapMail : public MailSource {
  public:
    ImapMail(std::shared_ptr<ImapSession> s, std::string mailbox, std::uint32_t uid)
        : session_(std::move(s)), mailbox_(std::move(mailbox)), uid_(uid) {}

    Bytes load() override {
        std::lock_guard<std::mutex> lock(session_->mutex);
        session_->select(mailbox_);
        auto r = session_->connection().command(
            "UID FETCH " + std::to_string(uid_) + " BODY.PEEK[]", "Nachricht lesen");
        const Value* data = fetch_data(r.untagged, uid_);
        const Value* body = data ? fetch_item(*data, "BODY[]") : nullptr;
        if (!body) fail(e_fail, "Die Nachricht ist auf dem Server nicht mehr vorhanden.");
        std::string text = crlf_to_lf(body->text);
        Bytes b;
        b.data = static_cast<char*>(std::malloc(text.size() + 1));
        if (!b.data) fail(e_fail, "Zu wenig Speicher für die Nachricht.");
        std::memcpy(b.data, text.data(), text.size());
        b.size = text.size();
        return b;
    }

    // Append first, then remove the old message: a failure in between leaves both copies.
    void store(std::string_view bytes) override {
        std::lock_guard<std::mutex> lock(session_->mutex);
        session_->select(mailbox_);
        // Attachments saved from this mail must be on disk before the server drops them.
        if (!make_durable())
            fail(e_fail,
                 "Gespeicherte Anhänge konnten nicht auf den Datenträger geschrieben "
                 "werden; die Nachricht bleibt unverändert.");
        Connection& c = session_->connection();
        if (!c.has_capability("UIDPLUS"))
            fail(e_fail, "Der IMAP-Server kann Nachrichten nicht sicher ersetzen (UIDPLUS fehlt).");
        auto r = c.command("UID FETCH " + std::to_string(uid_) + " (FLAGS INTERNALDATE)",
                           "Nachricht lesen");
        const Value* data = fetch_data(r.untagged, uid_);
        const Value* flags = data ? fetch_item(*data, "FLAGS") : nullptr;
        const Value* date = data ? fetch_item(*data, "INTERNALDATE") : nullptr;
        if (!flags || !date || flags->kind != Value::Kind::list)
            fail(e_fail, "Die Nachricht ist auf dem Server nicht mehr vorhanden.");
        std::string flag_list;
        for (const auto& f : flags->items) {
            if (f.is_atom("\\Recent")) continue;  // only the server sets it
            if (!flag_list.empty()) flag_list += ' ';
            flag_list += f.text;
        }
        std::vector<Piece> append{{false, "APPEND "}};
        append = cat(std::move(append), imap::astring(mailbox_));
        append.push_back({false, " (" + flag_list + ") \"" + date->text + "\" "});
        append.push_back({true, lf_to_crlf(bytes)});
        auto a = c.command(append, "Nachricht speichern");
        auto appended = response_code(a.text, "APPENDUID");
        std::uint32_t new_uid = 0;
        if (appended.size() < 2 || !parse_uid(appended[1], new_uid))
            fail(e_fail,
                 "Der IMAP-Server nannte die neue Nachricht nicht; die alte bleibt erhalten.");
        std::string old = std::to_string(uid_);
        c.command("UID STORE " + old + " +FLAGS.SILENT (\\Deleted)", "Alte Nachricht entfernen");
        uid_ = new_uid;  // from here on the new message is this mail
        c.command("UID EXPUNGE " + old, "Alte Nachricht entfernen");
    }

  private:
    std::shared_ptr<ImapSession> session_;
    std::string mailbox_;
    std::uint32_t uid_;
};

class ImapFolder : public FolderNode {
  public:
    ImapFolder(std::shared_ptr<ImapSession> s, std::string display, std::string raw)
        : session_(std::move(s)), display_(std::move(display)), raw_(std::move(raw)) {}

    std::string name() const override { return display_; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override { return kids_; }

    long item_count() override {
        ensure_items();
        return mails_.count();
    }

    std::shared_ptr<MimeMail> item(long index) override {
        ensure_items();
        if (index < 1 || index > mails_.count())
            fail(disp_e_badindex, "Der Arrayindex liegt außerhalb der Grenzen.");
        return mails_.get(index);
    }

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
    void ensure_items() {
        if (ready_) return;
        MailList list;
        if (!mailbox.empty()) {
            std::lock_guard<std::mutex> lock(session_->mutex);
            session_->select(mailbox);
            auto r = session_->connection().command("UID FETCH 1:* (UID INTERNALDATE)",
                                                    "Nachrichten auflisten");
            std::vector<std::pair<long long, std::uint32_t>> order;  // (received, UID)
            for (const auto& u : r.untagged) {
                if (u.values.size() < 3 || !u.values[1].is_atom("FETCH")) continue;
                std::uint32_t uid = 0;
                long long when = 0;
                bool dated = false;  // not an unsolicited flag update
                const auto& items = u.values[2].items;
                for (size_t i = 0; i + 1 < items.size(); i += 2) {
                    if (items[i].is_atom("UID")) parse_uid(items[i + 1].text, uid);
                    if (items[i].is_atom("INTERNALDATE")) {
                        when = parse_internal_date(items[i + 1].text);
                        dated = true;
                    }
                }
                if (uid && dated) order.emplace_back(when, uid);
            }
            // Received order, as the Maildir backend lists by delivery time: a saved mail keeps
            // its internal date and so its place in later listings; equal dates go by UID.
            std::sort(order.begin(), order.end());
            std::set<std::uint32_t> seen;
            std::vector<std::uint32_t> uids;
            for (const auto& o : order)
                if (seen.insert(o.second).second) uids.push_back(o.second);
            for (auto uid : uids) list.add(std::make_shared<ImapMail>(session_, mailbox, uid));
        }
        mails_ = std::move(list);
        ready_ = true;
    }

    std::shared_ptr<ImapSession> session_;
    std::string display_;
    std::string raw_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
    MailList mails_;
    bool ready_ = false;
};

std::string display_of(const std::string& raw) {
    if (auto s = mutf7_decode(raw)) return *s;
    return raw;
}

class ImapStore : public FolderNode {
  public:
    explicit ImapStore(const StoreConfig& config)
        : name_(config.name), session_(std::make_shared<ImapSession>(config)) {
        std::lock_guard<std::mutex> lock(session_->mutex);
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

    std::string name() const override { return name_; }
    const std::vector<std::shared_ptr<FolderNode>>& children() override { return kids_; }
    long item_count() override { return 0; }
    std::shared_ptr<MimeMail> item(long) override {
        fail(disp_e_badindex, "Der Arrayindex liegt außerhalb der Grenzen.");
    }

  private:
    std::string name_;
    std::shared_ptr<ImapSession> session_;
    std::vector<std::shared_ptr<FolderNode>> kids_;
};

}  // namespace

std::shared_ptr<FolderNode> open_imap_store(const StoreConfig& config) {
    return std::make_shared<ImapStore>(config);
}

}  // namespace morvo::outlook::detail
