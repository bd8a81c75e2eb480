#include "morvo/outlook/imap_client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "morvo/outlook/imap_tls.h"
#include "morvo/outlook/outlook.h"
#include "platform/text.h"

namespace morvo::outlook::imap {

namespace {

[[noreturn]] void fail(std::string description) {
    throw platform::Error(e_fail, std::move(description));
}

using platform::iequals;

std::string percent_decode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Longest bytes a literal from the server may have: far above any mail the binding handles,
// low enough that a broken length cannot exhaust memory.
constexpr std::size_t max_literal = 1024u * 1024u * 1024u;
constexpr int max_depth = 64;

}  // namespace

bool is_imap_location(std::string_view location) {
    auto starts = [&](std::string_view p) {
        return location.size() >= p.size() && iequals(location.substr(0, p.size()), p);
    };
    return starts("imap://") || starts("imaps://");
}

Account parse_location(std::string_view location) {
    Account a;
    std::string_view rest;
    if (location.size() >= 7 && iequals(location.substr(0, 7), "imap://")) {
        rest = location.substr(7);
    } else if (location.size() >= 8 && iequals(location.substr(0, 8), "imaps://")) {
        rest = location.substr(8);
        a.tls.mode = Tls::implicit;
        a.port = 993;
    } else {
        fail("Kein IMAP-Konto: " + std::string(location));
    }
    size_t slash = rest.find('/');
    if (slash != std::string_view::npos) rest = rest.substr(0, slash);
    size_t at = rest.rfind('@');
    if (at != std::string_view::npos) {
        std::string_view cred = rest.substr(0, at);
        size_t colon = cred.find(':');
        a.user = percent_decode(cred.substr(0, colon));
        if (colon != std::string_view::npos) a.password = percent_decode(cred.substr(colon + 1));
        rest = rest.substr(at + 1);
    }
    std::string_view host = rest;
    if (!rest.empty() && rest[0] == '[') {  // [::1]:143
        size_t close = rest.find(']');
        if (close == std::string_view::npos)
            fail("Ungültige IMAP-Adresse: " + std::string(location));
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            fail("Ungültige IMAP-Adresse: " + std::string(location));
        if (!rest.empty())
            rest = rest.substr(1);
        else
            rest = {};
    } else {
        size_t colon = rest.rfind(':');
        if (colon != std::string_view::npos) {
            host = rest.substr(0, colon);
            rest = rest.substr(colon + 1);
        } else {
            rest = {};
        }
    }
    if (!rest.empty()) {
        int port = 0;
        for (char c : rest) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || port > 65535)
                fail("Ungültiger IMAP-Port in " + std::string(location));
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) fail("Ungültiger IMAP-Port in " + std::string(location));
        a.port = port;
    }
    if (host.empty()) fail("Kein IMAP-Server angegeben: " + std::string(location));
    a.host = std::string(host);
    return a;
}

void apply_tls_setting(Account& account, std::string_view setting) {
    if (setting.empty()) return;
    const bool starttls = iequals(setting, "starttls");
    if (!starttls && !iequals(setting, "off"))
        fail("Unbekannte Einstellung TLS=" + std::string(setting) + " (möglich: starttls, off).");
    if (account.tls.mode == Tls::implicit)
        fail("Die Einstellung TLS=" + std::string(setting) +
             " passt nicht zu imaps:// (dort ist die Verbindung von Anfang an verschlüsselt).");
    account.tls.mode = starttls ? Tls::starttls : Tls::none;
}

bool Value::is_atom(std::string_view a) const {
    return kind == Kind::atom && iequals(text, a);
}

std::vector<Piece> astring(std::string_view s) {
    bool plain = s.size() < 1000;
    for (unsigned char c : s)
        if (c == '\r' || c == '\n' || c == 0 || c >= 0x80) plain = false;
    if (!plain) return {{true, std::string(s)}};
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    q += '"';
    return {{false, q}};
}

Connection::Connection(const std::string& host, int port, const TlsSettings& tls, int timeout_ms) {
    peer_ = host + ":" + std::to_string(port);
    // The trusted CAs first: a CA file that cannot be read fails before the network is touched.
    std::unique_ptr<TlsChannel> channel;
    if (tls.mode != Tls::none) channel = std::make_unique<TlsChannel>(tls.ca_file);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res);
    if (rc != 0)
        fail("Der IMAP-Server " + peer_ + " ist unbekannt: " + std::string(::gai_strerror(rc)));
    int last = 0;
    for (addrinfo* p = res; p; p = p->ai_next) {
        int fd = ::socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC, p->ai_protocol);
        if (fd < 0) {
            last = errno;
            continue;
        }
        if (::connect(fd, p->ai_addr, p->ai_addrlen) == 0) {
            fd_ = fd;
            break;
        }
        last = errno;
        ::close(fd);
    }
    ::freeaddrinfo(res);
    if (fd_ < 0) {
        if (last == ECONNREFUSED)
            fail("Die Verbindung zum IMAP-Server " + peer_ + " wurde abgelehnt.");
        fail("Keine Verbindung zum IMAP-Server " + peer_ + ": " + std::strerror(last));
    }
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    try {
        if (tls.mode == Tls::implicit) {
            channel->handshake(fd_, host, peer_, timeout_ms);
            tls_ = std::move(channel);
        }
        Response greeting = read_response();
        if (greeting.tag != "*" || (greeting.status != "OK" && greeting.status != "PREAUTH"))
            fail("Der IMAP-Server " + peer_ + " nimmt keine Verbindung an: " + greeting.text);
        parse_capabilities(greeting.text);
        if (tls.mode == Tls::starttls)
            start_tls(std::move(channel), host, timeout_ms, greeting.status == "PREAUTH");
    } catch (...) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        throw;
    }
}

void Connection::start_tls(std::unique_ptr<TlsChannel> channel, const std::string& host,
                           int timeout_ms, bool preauth) {
    const std::string prefix = "Keine sichere Verbindung zum IMAP-Server " + peer_ + ": ";
    if (preauth)  // logged in already, so STARTTLS is no longer allowed
        fail(prefix + "der Server meldet die Sitzung ohne Anmeldung an (PREAUTH).");
    if (caps_.empty()) refresh_capabilities();
    if (!has_capability("STARTTLS")) fail(prefix + "der Server bietet kein STARTTLS an.");
    const std::string refused = "der Server lehnt STARTTLS ab";
    try {
        command("STARTTLS", refused);
    } catch (const platform::Error& e) {
        if (fd_ < 0) throw;
        fail(prefix + e.description);  // "der Server lehnt STARTTLS ab: <its text>"
    }
    // Bytes after the server's OK came before the encryption: anyone on the way could have put
    // them there to be read as the first answers of the secured session.
    if (pos_ < buf_.size())
        fail(prefix + "der Server sandte nach STARTTLS unverschlüsselte Daten.");
    buf_.clear();
    pos_ = 0;
    channel->handshake(fd_, host, peer_, timeout_ms);
    tls_ = std::move(channel);
    // What the server offered before the encryption may have been altered on the way.
    caps_.clear();
    refresh_capabilities();
}

Connection::~Connection() {
    if (fd_ >= 0) ::close(fd_);
}

void Connection::lost(const std::string& why) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fail("Die Verbindung zum IMAP-Server " + peer_ + " wurde unterbrochen (" + why + ").");
}

void Connection::fill() {
    if (fd_ < 0) lost("bereits getrennt");
    if (pos_ > 0 && pos_ == buf_.size()) {
        buf_.clear();
        pos_ = 0;
    }
    char chunk[65536];
    if (tls_) {
        long n = tls_->recv(chunk, sizeof chunk);
        if (n > 0) {
            buf_.append(chunk, static_cast<size_t>(n));
            return;
        }
        if (n == 0) lost("vom Server geschlossen");
        lost(tls_->why());
    }
    for (;;) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            buf_.append(chunk, static_cast<size_t>(n));
            return;
        }
        if (n == 0) lost("vom Server geschlossen");
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) lost("keine Antwort");
        lost(std::strerror(errno));
    }
}

int Connection::peek() {
    if (pos_ >= buf_.size()) fill();
    return static_cast<unsigned char>(buf_[pos_]);
}

int Connection::get() {
    int c = peek();
    ++pos_;
    return c;
}

void Connection::send_all(std::string_view bytes) {
    if (fd_ < 0) lost("bereits getrennt");
    while (!bytes.empty()) {
        if (tls_) {
            long n = tls_->send(bytes.data(), bytes.size());
            if (n < 0) lost(tls_->why());
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            lost(std::strerror(errno));
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

std::string Connection::read_line_rest() {
    std::string out;
    for (;;) {
        int c = get();
        if (c == '\n') break;
        out += static_cast<char>(c);
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return out;
}

Value Connection::read_value(int depth) {
    if (depth > max_depth) lost("Antwort zu tief verschachtelt");
    Value v;
    int c = peek();
    if (c == '(') {
        get();
        v.kind = Value::Kind::list;
        for (;;) {
            c = peek();
            if (c == ')') {
                get();
                return v;
            }
            if (c == ' ') {
                get();
                continue;
            }
            if (c == '\r' || c == '\n') lost("unvollständige Liste in der Antwort");
            v.items.push_back(read_value(depth + 1));
        }
    }
    if (c == '"') {
        get();
        v.kind = Value::Kind::string;
        for (;;) {
            c = get();
            if (c == '"') return v;
            if (c == '\\') c = get();
            if (c == '\r' || c == '\n') lost("unvollständige Zeichenkette in der Antwort");
            v.text += static_cast<char>(c);
        }
    }
    if (c == '{') {
        get();
        std::string digits;
        while ((c = get()) != '}') {
            if (!std::isdigit(c) || digits.size() > 12) lost("ungültige Literal-Länge");
            digits += static_cast<char>(c);
        }
        if (digits.empty() || get() != '\r' || get() != '\n') lost("ungültiges Literal");
        std::size_t n = std::stoull(digits);
        if (n > max_literal) lost("Literal zu groß");
        v.kind = Value::Kind::string;
        v.text.reserve(n);
        while (v.text.size() < n) {
            if (pos_ >= buf_.size()) fill();
            std::size_t take = std::min(n - v.text.size(), buf_.size() - pos_);
            v.text.append(buf_, pos_, take);
            pos_ += take;
        }
        return v;
    }
    // An atom; "BODY[...]" style sections keep their brackets (and any spaces inside them).
    v.kind = Value::Kind::atom;
    int brackets = 0;
    for (;;) {
        c = peek();
        if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '\r' || c == '\n')) break;
        if (c == '\r' || c == '\n') lost("unvollständige Antwort");
        if (c == '[') ++brackets;
        if (c == ']' && brackets > 0) --brackets;
        v.text += static_cast<char>(get());
    }
    if (v.text.empty()) lost("unerwartetes Zeichen in der Antwort");
    return v;
}

Response Connection::read_response() {
    Response r;
    while (peek() != ' ' && peek() != '\r' && peek() != '\n') r.tag += static_cast<char>(get());
    if (r.tag.empty()) lost("Antwort ohne Kennung");
    if (r.tag == "+") {
        if (peek() == ' ') get();
        r.text = read_line_rest();
        return r;
    }
    for (;;) {
        int c = peek();
        if (c == '\r' || c == '\n') {
            read_line_rest();
            return r;
        }
        if (c == ' ') {
            get();
            continue;
        }
        Value v = read_value(0);
        if (r.values.empty() && v.kind == Value::Kind::atom &&
            (v.is_atom("OK") || v.is_atom("NO") || v.is_atom("BAD") || v.is_atom("BYE") ||
             v.is_atom("PREAUTH"))) {
            r.status = v.text;
            for (char& ch : r.status)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (peek() == ' ') get();
            r.text = read_line_rest();
            return r;
        }
        r.values.push_back(std::move(v));
    }
}

bool Connection::non_sync_literal(std::size_t size) const {
    return has_capability("LITERAL+") || (has_capability("LITERAL-") && size <= 4096);
}

std::string Connection::literal_prefix(std::size_t size) const {
    return "{" + std::to_string(size) + (non_sync_literal(size) ? "+}\r\n" : "}\r\n");
}

bool Connection::can_send_at_once(const std::vector<Piece>& pieces) const {
    for (const Piece& p : pieces)
        if (p.literal && !non_sync_literal(p.bytes.size())) return false;
    return true;
}

std::string Connection::send(const std::vector<Piece>& pieces) {
    if (!can_send_at_once(pieces)) fail("Befehl mit synchronem Literal kann nicht vorab gehen");
    std::string tag = "m" + std::to_string(++next_tag_);
    std::string out = tag + " ";
    for (const Piece& p : pieces) {
        if (p.literal) out += literal_prefix(p.bytes.size());
        out += p.bytes;
    }
    out += "\r\n";
    send_all(out);
    return tag;
}

Response Connection::wait(const std::string& tag, std::vector<Response>* untagged) {
    return wait(tag, [untagged](Response& r) {
        if (untagged) untagged->push_back(std::move(r));
    });
}

Response Connection::wait(const std::string& tag, const std::function<void(Response&)>& each) {
    for (auto it = early_.begin(); it != early_.end(); ++it)
        if (it->tag == tag) {
            Response r = std::move(*it);
            early_.erase(it);
            return r;
        }
    for (;;) {
        Response r = read_response();
        if (r.tag == tag) return r;
        if (r.tag == "+") lost("unerwartete Aufforderung zur Fortsetzung");
        if (r.tag != "*") {  // another pipelined command finished first
            if (early_.size() > 4096) lost("zu viele unerwartete Antworten");
            early_.push_back(std::move(r));
            continue;
        }
        if (r.status == "BYE") lost("Server meldet: " + r.text);
        each(r);
    }
}

Connection::Result Connection::command(const std::vector<Piece>& pieces, const std::string& what) {
    Result result;
    std::string tag;
    if (can_send_at_once(pieces)) {  // no round trip for a go-ahead
        tag = send(pieces);
    } else {
        tag = "m" + std::to_string(++next_tag_);
        std::string out = tag + " ";
        for (const Piece& p : pieces) {
            if (!p.literal) {
                out += p.bytes;
                continue;
            }
            out += literal_prefix(p.bytes.size());
            if (non_sync_literal(p.bytes.size())) {
                out += p.bytes;
                continue;
            }
            send_all(out);
            out.clear();
            // Wait for the go-ahead; the server may refuse the literal instead.
            for (;;) {
                Response r = read_response();
                if (r.tag == "+") break;
                if (r.tag == tag) {
                    if (r.status == "OK") lost("Server übersprang ein Literal");
                    fail(what + ": " + r.text);
                }
                if (r.status == "BYE") lost("Server meldet: " + r.text);
                result.untagged.push_back(std::move(r));
            }
            send_all(p.bytes);
        }
        out += "\r\n";
        send_all(out);
    }
    Response r = wait(tag, &result.untagged);
    result.text = answered(r, what);
    return result;
}

std::string Connection::command(std::string_view text, const std::string& what,
                                const std::function<void(Response&)>& each) {
    return answered(wait(send({{false, std::string(text)}}), each), what);
}

std::string Connection::answered(const Response& r, const std::string& what) {
    if (r.status == "OK") return r.text;
    if (r.status == "NO" || r.status == "BAD") fail(what + ": " + r.text);
    lost("unerwartete Antwort auf " + what);
}

void Connection::parse_capabilities(const std::string& text) {
    // "[CAPABILITY IMAP4rev1 ...] text" in a greeting or tagged OK.
    if (text.rfind("[CAPABILITY ", 0) != 0) return;
    size_t end = text.find(']');
    std::string list = text.substr(12, end == std::string::npos ? std::string::npos : end - 12);
    caps_.clear();
    size_t start = 0;
    while (start < list.size()) {
        size_t sp = list.find(' ', start);
        std::string cap =
            list.substr(start, sp == std::string::npos ? std::string::npos : sp - start);
        if (!cap.empty()) caps_.push_back(cap);
        if (sp == std::string::npos) break;
        start = sp + 1;
    }
}

bool Connection::has_capability(std::string_view cap) const {
    for (const auto& c : caps_)
        if (iequals(c, cap)) return true;
    return false;
}

void Connection::login(const std::string& user, const std::string& password) {
    std::vector<Piece> cmd{{false, "LOGIN "}};
    for (auto& p : astring(user)) cmd.push_back(p);
    cmd.push_back({false, " "});
    for (auto& p : astring(password)) cmd.push_back(p);
    Result r;
    try {
        r = command(cmd, "Anmeldung");
    } catch (const platform::Error& e) {
        if (fd_ < 0) throw;
        fail("Die Anmeldung als " + user + " am IMAP-Server " + peer_ +
             " wurde abgelehnt (Benutzername oder Kennwort falsch?): " + e.description);
    }
    parse_capabilities(r.text);
    bool listed = false;
    for (auto& u : r.untagged)
        if (!u.values.empty() && u.values[0].is_atom("CAPABILITY")) {
            caps_.clear();
            for (size_t i = 1; i < u.values.size(); ++i) caps_.push_back(u.values[i].text);
            listed = true;
        }
    if (!listed && r.text.rfind("[CAPABILITY ", 0) != 0) refresh_capabilities();
}

void Connection::refresh_capabilities() {
    caps_.clear();
    Result c = command("CAPABILITY", "CAPABILITY");
    for (auto& u : c.untagged)
        if (!u.values.empty() && u.values[0].is_atom("CAPABILITY"))
            for (size_t i = 1; i < u.values.size(); ++i) caps_.push_back(u.values[i].text);
}

}  // namespace morvo::outlook::imap
