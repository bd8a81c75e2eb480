#include "morvo/outlook/mime.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <gnutls/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "platform/file_toolkit.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace morvo::outlook::detail {

namespace {

// GLib makes the classes of its objects on first use; one mail of each kind parsed here, on
// the first caller's thread, lets threads that read ahead later only use them.
void warm_up_classes() {
    static const char mail[] =
        "From: a@b\nSubject: s\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=x\n\n"
        "--x\nContent-Type: text/plain; charset=utf-8\n\nt\n--x\nContent-Type: message/rfc822\n\n"
        "From: a@b\nSubject: i\n\nt\n--x\nContent-Type: application/octet-stream; name=a.b\n"
        "Content-Disposition: attachment; filename=a.b\nContent-Transfer-Encoding: base64\n\n"
        "YQ==\n--x--\n";
    GMimeStream* in = g_mime_stream_mem_new_with_buffer(mail, sizeof mail - 1);
    GMimeParser* parser = g_mime_parser_new_with_stream(in);
    if (GMimeMessage* m = g_mime_parser_construct_message(parser, nullptr)) {
        GMimeStream* out = g_mime_stream_mem_new();
        g_mime_object_write_to_stream(GMIME_OBJECT(m), nullptr, out);
        g_object_unref(out);
        g_object_unref(m);
    }
    g_object_unref(parser);
    g_object_unref(in);
}

void ensure_gmime() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        warm_up_classes();
    });
}

// Owns one GObject reference.
template <class T>
class GRef {
  public:
    GRef() = default;
    explicit GRef(T* p) : p_(p) {}  // adopts
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    ~GRef() {
        if (p_) g_object_unref(p_);
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

std::string bytes_of(GMimeStream* mem) {
    GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    return std::string(reinterpret_cast<const char*>(a->data), a->len);
}

struct ParseReport {
    bool damaged = false;
};

void on_parser_warning(gint64, GMimeParserWarning code, const gchar*, gpointer user) {
    auto* r = static_cast<ParseReport*>(user);
    switch (code) {
        case GMIME_WARN_MALFORMED_MULTIPART:
        case GMIME_WARN_TRUNCATED_MESSAGE:
        case GMIME_WARN_MALFORMED_MESSAGE:
        case GMIME_CRIT_INVALID_HEADER_NAME:
        case GMIME_CRIT_CONFLICTING_HEADER:
        case GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY:
        case GMIME_CRIT_NESTING_OVERFLOW:
        case GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT:
            r->damaged = true;
            break;
        default:
            break;
    }
}

// The headers that make a text a mail; a file without any of them is not one.
bool looks_like_mail(GMimeMessage* m) {
    GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(m));
    static const char* const names[] = {"From",     "Date",        "Message-Id",  "Received",
                                        "Subject",  "To",          "Return-Path", "Sender",
                                        "Reply-To", "MIME-Version"};
    for (const char* n : names)
        if (g_mime_header_list_contains(list, n)) return true;
    return false;
}

// Parses mail bytes; nullptr with `damaged` set when the text is no sound mail.
// Parses mail bytes held in a byte array, which the stream references without copying.
GMimeMessage* parse_message(GByteArray* bytes, bool& damaged) {
    ensure_gmime();
    damaged = false;
    GRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(bytes));
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
    GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GMimeParserOptions* opts = g_mime_parser_options_new();
    ParseReport report;
    g_mime_parser_options_set_warning_callback(opts, on_parser_warning, &report);
    GMimeMessage* m = g_mime_parser_construct_message(parser.get(), opts);
    g_mime_parser_options_free(opts);
    if (m && (report.damaged || !looks_like_mail(m) || !g_mime_message_get_mime_part(m))) {
        g_object_unref(m);
        m = nullptr;
    }
    damaged = m == nullptr;
    return m;
}

bool is_attachment_disposition(GMimeObject* o) {
    const char* d = g_mime_object_get_disposition(o);
    return d && g_ascii_strcasecmp(d, "attachment") == 0;
}

const char* part_file_name(GMimeObject* o) {
    if (GMIME_IS_PART(o)) return g_mime_part_get_filename(GMIME_PART(o));
    const char* n = g_mime_object_get_content_disposition_parameter(o, "filename");
    if (!n || !*n) n = g_mime_object_get_content_type_parameter(o, "name");
    return n;
}

// What a mail client lists as an attachment: forwarded mails, and leaf parts with a file name
// or marked "attachment". Unnamed inline parts (pictures of an HTML mail) are not.
bool is_attachment(GMimeObject* o) {
    if (GMIME_IS_MESSAGE_PART(o)) return true;
    if (!GMIME_IS_PART(o)) return false;
    const char* n = part_file_name(o);
    return (n && *n) || is_attachment_disposition(o);
}

bool has_type(GMimeObject* o, const char* type, const char* subtype) {
    GMimeContentType* ct = g_mime_object_get_content_type(o);
    return ct && g_mime_content_type_is_type(ct, type, subtype);
}

// A signature or the key material of an encrypted mail: part of the mail's protection, never a
// file of its own.
bool is_protection_part(GMimeObject* o) {
    for (const char* sub : {"pkcs7-signature", "x-pkcs7-signature", "pgp-signature",
                            "pgp-encrypted", "pkcs7-mime", "x-pkcs7-mime"})
        if (has_type(o, "application", sub)) return true;
    return false;
}

// Signed or encrypted content anywhere in the tree (forwarded mails aside, which are filed
// whole): changing any part would break the signature or leave nothing to decrypt.
bool is_protected(GMimeObject* o) {
    if (has_type(o, "multipart", "signed") || has_type(o, "multipart", "encrypted") ||
        has_type(o, "application", "pkcs7-mime") || has_type(o, "application", "x-pkcs7-mime"))
        return true;
    if (!GMIME_IS_MULTIPART(o)) return false;
    GMimeMultipart* mp = GMIME_MULTIPART(o);
    int n = g_mime_multipart_get_count(mp);
    for (int i = 0; i < n; ++i)
        if (is_protected(g_mime_multipart_get_part(mp, i))) return true;
    return false;
}

// Depth-first, in document order; forwarded mails are not entered.
void collect_attachments(GMimeObject* o, std::vector<GMimeObject*>& out) {
    if (GMIME_IS_MULTIPART(o)) {
        GMimeMultipart* mp = GMIME_MULTIPART(o);
        int n = g_mime_multipart_get_count(mp);
        for (int i = 0; i < n; ++i) collect_attachments(g_mime_multipart_get_part(mp, i), out);
    } else if (is_attachment(o) && !is_protection_part(o)) {
        out.push_back(o);
    }
}

bool is_text_body(GMimeObject* o, const char* subtype) {
    if (!GMIME_IS_PART(o) || is_attachment(o)) return false;
    GMimeContentType* ct = g_mime_object_get_content_type(o);
    return ct && g_mime_content_type_is_type(ct, "text", subtype);
}

GMimeObject* find_text(GMimeObject* o, const char* subtype) {
    if (GMIME_IS_MULTIPART(o)) {
        GMimeMultipart* mp = GMIME_MULTIPART(o);
        int n = g_mime_multipart_get_count(mp);
        for (int i = 0; i < n; ++i)
            if (GMimeObject* f = find_text(g_mime_multipart_get_part(mp, i), subtype)) return f;
        return nullptr;
    }
    return is_text_body(o, subtype) ? o : nullptr;
}

GMimeMultipart* find_parent(GMimeObject* root, GMimeObject* child) {
    if (!GMIME_IS_MULTIPART(root)) return nullptr;
    GMimeMultipart* mp = GMIME_MULTIPART(root);
    int n = g_mime_multipart_get_count(mp);
    for (int i = 0; i < n; ++i) {
        GMimeObject* c = g_mime_multipart_get_part(mp, i);
        if (c == child) return mp;
        if (GMimeMultipart* p = find_parent(c, child)) return p;
    }
    return nullptr;
}

[[noreturn]] void fail_unreadable() {
    fail(mapi_e_corrupt_data, "Der Inhalt der Anlage kann nicht gelesen werden.");
}

// Base64 as mail clients read it: characters outside the alphabet are skipped, and padding ends
// a group, not the data (some writers pad every line). Text that does not decode completely (a
// group cut short, as in a truncated mail) fails: such a part must not leave its mail.
std::string decode_base64(std::string_view text) {
    static const auto table = [] {
        std::array<signed char, 256> t{};
        t.fill(-1);
        const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(abc[i])] = static_cast<signed char>(i);
        return t;
    }();
    std::string out;
    out.resize(text.size() / 4 * 3 + 3);
    char* o = out.data();
    const char* p = text.data();
    const char* const end = p + text.size();
    unsigned bits = 0;
    int group = 0;  // characters of the current group of four
    while (p < end) {
        // Whole groups of four alphabet characters, the bulk of every line, four at a time.
        if (group == 0) {
            while (end - p >= 4) {
                const int a = table[static_cast<unsigned char>(p[0])];
                const int b = table[static_cast<unsigned char>(p[1])];
                const int c = table[static_cast<unsigned char>(p[2])];
                const int d = table[static_cast<unsigned char>(p[3])];
                if ((a | b | c | d) < 0) break;
                const unsigned v = static_cast<unsigned>(a) << 18 | static_cast<unsigned>(b) << 12 |
                                   static_cast<unsigned>(c) << 6 | static_cast<unsigned>(d);
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>(v >> 8);
                o[2] = static_cast<char>(v);
                o += 3;
                p += 4;
            }
            if (p == end) break;
        }
        const char ch = *p++;
        if (ch == '=') {
            if (group == 1) fail_unreadable();  // one character holds no whole byte
            group = 0;
            bits = 0;
            continue;
        }
        int v = table[static_cast<unsigned char>(ch)];
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        ++group;
        if (group >= 2) *o++ = static_cast<char>((bits >> (2 * (4 - group))) & 0xFF);
        if (group == 4) {
            group = 0;
            bits = 0;
        }
    }
    if (group != 0) fail_unreadable();  // cut short without its padding
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string decoded_content(GMimePart* part) {
    GMimeDataWrapper* w = g_mime_part_get_content(part);
    if (!w) return {};
    if (g_mime_data_wrapper_get_encoding(w) == GMIME_CONTENT_ENCODING_BASE64) {
        GMimeStream* encoded = g_mime_data_wrapper_get_stream(w);
        if (!encoded) return {};
        // A parsed part's text is a window onto the mail's own bytes: read there, not copied.
        if (GMIME_IS_STREAM_MEM(encoded)) {
            GByteArray* all = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(encoded));
            const gint64 from = encoded->bound_start;
            const gint64 to =
                encoded->bound_end < 0 ? gint64(all ? all->len : 0) : encoded->bound_end;
            if (all && from >= 0 && from <= to && to <= gint64(all->len))
                return decode_base64(
                    std::string_view(reinterpret_cast<const char*>(all->data) + from,
                                     static_cast<size_t>(to - from)));
        }
        GRef<GMimeStream> raw(g_mime_stream_mem_new());
        g_mime_stream_reset(encoded);
        if (g_mime_stream_write_to_stream(encoded, raw.get()) < 0) fail_unreadable();
        g_mime_stream_reset(encoded);
        GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(raw.get()));
        return decode_base64(std::string_view(reinterpret_cast<const char*>(a->data), a->len));
    }
    // Sized for the decoded content up front: growing by doubling would copy it again and again.
    GMimeStream* encoded = g_mime_data_wrapper_get_stream(w);
    gint64 length = encoded ? g_mime_stream_length(encoded) : -1;
    guint reserve = length > 0 && length < (1LL << 30) ? static_cast<guint>(length) + 1024 : 0;
    GRef<GMimeStream> mem(g_mime_stream_mem_new_with_byte_array(g_byte_array_sized_new(reserve)));
    if (g_mime_data_wrapper_write_to_stream(w, mem.get()) < 0) fail_unreadable();
    return bytes_of(mem.get());
}

std::string object_bytes(GMimeObject* o) {
    GRef<GMimeStream> mem(g_mime_stream_mem_new());
    if (g_mime_object_write_to_stream(o, nullptr, mem.get()) < 0)
        fail(e_fail, "Die Nachricht kann nicht geschrieben werden.");
    return bytes_of(mem.get());
}

// Converts between charsets; nullopt when a character does not fit or the charset is unknown.
std::optional<std::string> convert(std::string_view in, const char* to, const char* from) {
    GError* err = nullptr;
    gsize written = 0;
    gchar* out =
        g_convert(in.data(), static_cast<gssize>(in.size()), to, from, nullptr, &written, &err);
    if (!out) {
        if (err) g_error_free(err);
        return std::nullopt;
    }
    std::string s(out, written);
    g_free(out);
    return s;
}

const char* charset_of(GMimeObject* o) {
    const char* cs = g_mime_object_get_content_type_parameter(o, "charset");
    return cs && *cs ? cs : nullptr;
}

std::string to_utf8(std::string_view raw, const char* charset) {
    if (charset) {
        if (auto s = convert(raw, "UTF-8", g_mime_charset_iconv_name(charset))) return *s;
    }
    if (g_utf8_validate(raw.data(), static_cast<gssize>(raw.size()), nullptr))
        return std::string(raw);
    if (auto s = convert(raw, "UTF-8", "WINDOWS-1252")) return *s;
    return convert(raw, "UTF-8", "ISO-8859-1").value_or(std::string());
}

std::string to_lf(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string to_crlf(std::string_view s) {
    std::string lf = to_lf(s), out;
    out.reserve(lf.size() + lf.size() / 32);
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Sets a leaf part's decoded content, keeping base64 or quoted-printable when the part had it.
void set_part_content(GMimePart* part, std::string_view bytes) {
    GMimeContentEncoding old = g_mime_part_get_content_encoding(part);
    GRef<GMimeStream> mem(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GRef<GMimeDataWrapper> w(
        g_mime_data_wrapper_new_with_stream(mem.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part, w.get());
    if (old == GMIME_CONTENT_ENCODING_BASE64 || old == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE)
        g_mime_part_set_content_encoding(part, old);
    else
        g_mime_part_set_content_encoding(
            part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
}

// Text in the part's charset when every character fits, else UTF-8 (and the charset says so).
void set_text_content(GMimePart* part, std::string_view utf8) {
    const char* cs = charset_of(GMIME_OBJECT(part));
    std::string charset = cs ? cs : "us-ascii";
    std::optional<std::string> bytes;
    if (g_ascii_strcasecmp(charset.c_str(), "utf-8") != 0 &&
        g_ascii_strcasecmp(charset.c_str(), "utf8") != 0)
        bytes = convert(utf8, g_mime_charset_iconv_name(charset.c_str()), "UTF-8");
    if (!bytes) {
        bytes = std::string(utf8);
        charset = "utf-8";
    }
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", charset.c_str());
    set_part_content(part, *bytes);
}

std::string html_escape_ascii(std::string_view utf8) {
    std::string out;
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    while (p < end) {
        gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            c = 0xFFFD;
            ++p;
        } else {
            p = g_utf8_next_char(p);
        }
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                if (c < 0x80)
                    out += static_cast<char>(c);
                else
                    out += "&#" + std::to_string(c) + ";";
        }
    }
    return out;
}

// The new text as HTML in plain ASCII (other characters as references), so it fits into the
// HTML part whatever its charset; "file:" lines become links.
std::string html_snippet(std::string_view text_lf) {
    std::string out = "<div>";
    size_t start = 0;
    bool first = true;
    while (start <= text_lf.size()) {
        size_t nl = text_lf.find('\n', start);
        std::string_view line = text_lf.substr(
            start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!first) out += "<br>\n";
        first = false;
        std::string esc = html_escape_ascii(line);
        if (line.rfind("file:", 0) == 0)
            out += "<a href=\"" + esc + "\">" + esc + "</a>";
        else
            out += esc;
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return out + "</div>\n";
}

// One block per paragraph (text up to an empty line): several link lines put on top at once
// read in HTML as when they came one by one, and each can be taken out again by itself.
std::string html_snippets(std::string_view text_lf) {
    std::string out;
    size_t start = 0;
    while (start < text_lf.size()) {
        size_t gap = text_lf.find("\n\n", start);
        size_t end = gap == std::string_view::npos ? text_lf.size() : gap + 2;
        out += html_snippet(text_lf.substr(start, end - start));
        start = end;
    }
    return out;
}

size_t find_ci(std::string_view hay, std::string_view needle, size_t from = 0) {
    if (needle.size() > hay.size()) return std::string_view::npos;
    for (size_t i = from; i + needle.size() <= hay.size(); ++i)
        if (g_ascii_strncasecmp(hay.data() + i, needle.data(), needle.size()) == 0) return i;
    return std::string_view::npos;
}

// Where new content goes at the top of an HTML document: after the body tag, else at the start.
size_t html_insert_pos(std::string_view html) {
    size_t pos = 0;
    while ((pos = find_ci(html, "<body", pos)) != std::string_view::npos) {
        char next = pos + 5 < html.size() ? html[pos + 5] : '>';
        if (next == '>' || g_ascii_isspace(next) || next == '/') {
            size_t close = html.find('>', pos);
            return close == std::string_view::npos ? html.size() : close + 1;
        }
        pos += 5;
    }
    return 0;
}

std::string decode_entities(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        size_t semi = s.find(';', i);
        if (semi == std::string_view::npos || semi - i > 10) {
            out += '&';
            continue;
        }
        std::string_view ent = s.substr(i + 1, semi - i - 1);
        gunichar c = 0;
        if (ent == "amp")
            c = '&';
        else if (ent == "lt")
            c = '<';
        else if (ent == "gt")
            c = '>';
        else if (ent == "quot")
            c = '"';
        else if (ent == "apos")
            c = '\'';
        else if (ent == "nbsp")
            c = 0xA0;
        else if (ent.size() > 1 && ent[0] == '#') {
            bool hex = ent[1] == 'x' || ent[1] == 'X';
            std::string digits(ent.substr(hex ? 2 : 1));
            char* endp = nullptr;
            unsigned long v = std::strtoul(digits.c_str(), &endp, hex ? 16 : 10);
            if (!digits.empty() && endp && *endp == '\0' && v > 0 && v < 0x110000)
                c = static_cast<gunichar>(v);
        }
        if (!c) {
            out += '&';
            continue;
        }
        char buf[8];
        out.append(buf, g_unichar_to_utf8(c, buf));
        i = semi;
    }
    return out;
}

// A plain reading of an HTML body, for mails that have no plain-text part.
std::string html_to_text(std::string_view html) {
    std::string out;
    size_t i = 0;
    auto skip_element = [&](std::string_view name) {
        size_t close = find_ci(html, std::string("</") + std::string(name), i);
        i = close == std::string_view::npos ? html.size() : html.find('>', close);
        i = i == std::string_view::npos ? html.size() : i + 1;
    };
    while (i < html.size()) {
        if (html[i] != '<') {
            size_t lt = html.find('<', i);
            std::string_view chunk =
                html.substr(i, lt == std::string_view::npos ? std::string_view::npos : lt - i);
            for (char c : chunk)
                if (c != '\r' && c != '\n')
                    out += c;
                else if (!out.empty() && out.back() != ' ' && out.back() != '\n')
                    out += ' ';
            i = lt == std::string_view::npos ? html.size() : lt;
            continue;
        }
        size_t gt = html.find('>', i);
        if (gt == std::string_view::npos) break;
        std::string tag(html.substr(i + 1, gt - i - 1));
        size_t k = 0;
        bool closing = !tag.empty() && tag[0] == '/';
        if (closing) k = 1;
        size_t e = k;
        while (e < tag.size() && g_ascii_isalnum(tag[e])) ++e;
        std::string name = tag.substr(k, e - k);
        for (char& c : name) c = g_ascii_tolower(c);
        i = gt + 1;
        if (!closing && (name == "head" || name == "script" || name == "style")) {
            skip_element(name);
            continue;
        }
        if (name == "br" ||
            (closing && (name == "p" || name == "div" || name == "tr" || name == "li" ||
                         name == "h1" || name == "h2" || name == "h3"))) {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            out += '\n';
        }
    }
    return decode_entities(out);
}

std::string part_text(GMimeObject* o) {
    std::string raw = decoded_content(GMIME_PART(o));
    std::string utf8 = to_utf8(raw, charset_of(o));
    GMimeContentType* ct = g_mime_object_get_content_type(o);
    if (ct && g_mime_content_type_is_type(ct, "text", "html"))
        return to_lf(html_to_text(to_lf(utf8)));
    return to_lf(utf8);
}

std::string type_description(GMimeObject* o) {
    if (GMIME_IS_MESSAGE_PART(o)) return "E-Mail-Nachricht";
    GMimeContentType* ct = g_mime_object_get_content_type(o);
    std::string type = ct && g_mime_content_type_get_media_type(ct)
                           ? g_mime_content_type_get_media_type(ct)
                           : "application";
    for (char& c : type) c = g_ascii_tolower(c);
    std::string sub = ct && g_mime_content_type_get_media_subtype(ct)
                          ? g_mime_content_type_get_media_subtype(ct)
                          : "octet-stream";
    for (char& c : sub) c = g_ascii_tolower(c);
    if (type == "image") {
        if (sub == "bmp" || sub == "x-bmp" || sub == "x-ms-bmp")
            return "Bild (Geräteunabhängige Bitmap)";
        std::string up = sub.rfind("x-", 0) == 0 ? sub.substr(2) : sub;
        for (char& c : up) c = g_ascii_toupper(c);
        return "Bild (" + up + ")";
    }
    if (type == "application" && sub == "msword") return "Microsoft Word Document";
    return "Anlage (" + type + "/" + sub + ")";
}

GMimeTextPart* new_empty_text_part() {
    GMimeTextPart* t = g_mime_text_part_new_with_subtype("plain");
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(t), "charset", "us-ascii");
    set_part_content(GMIME_PART(t), "");
    return t;
}

}  // namespace

struct MimeMailParsed {
    GMimeMessage* message = nullptr;
    GByteArray* bytes = nullptr;
    // Attachments decoded ahead: the content and its SHA-256, handed over once.
    struct Decoded {
        std::string bytes;
        std::string sha256;
    };
    std::unordered_map<GMimeObject*, Decoded> ready;
    MimeMailParsed() = default;
    MimeMailParsed(const MimeMailParsed&) = delete;
    MimeMailParsed& operator=(const MimeMailParsed&) = delete;
    ~MimeMailParsed() {
        if (message) g_object_unref(message);
        if (bytes) g_byte_array_unref(bytes);
    }
    GMimeObject* root() const { return g_mime_message_get_mime_part(message); }
    // Kept from call to call: a mail of thousands of attachments must not be walked again for
    // each of them. A change of the tree updates or forgets the list.
    const std::vector<GMimeObject*>& attachments() {
        if (!attachments_known) {
            attachments_list.clear();
            collect_attachments(root(), attachments_list);
            attachments_known = true;
        }
        return attachments_list;
    }
    bool is_protected() {
        if (protection == Protection::unknown)
            protection = unsafe_to_rewrite || detail::is_protected(root()) ? Protection::yes
                                                                           : Protection::no;
        return protection == Protection::yes;
    }
    void tree_changed() {
        ready.clear();  // keyed by parts that may be gone
        attachments_known = false;
        protection = Protection::unknown;
    }

    // A mail that GMime cannot write again without changing parts it was not asked to change.
    bool unsafe_to_rewrite = false;
    std::vector<GMimeObject*> attachments_list;
    bool attachments_known = false;
    enum class Protection { unknown, yes, no } protection = Protection::unknown;
};

MimeMail::MimeMail(std::shared_ptr<MailSource> source, std::shared_ptr<MimeMailParsed> ready)
    : source_(std::move(source)), parsed_(std::move(ready)) {}
MimeMail::~MimeMail() = default;

namespace {

// GMime writes every part it does not re-encode through one line-end filter, so a mail whose
// lines end both ways loses one kind; and a NUL byte ends a header value early when the mail is
// written, which merges what follows into it.
bool rewrite_changes_parts(std::string_view bytes) {
    if (bytes.find('\0') != std::string_view::npos) return true;
    bool crlf = false, lf = false;
    for (size_t at = bytes.find('\n'); at != std::string_view::npos;
         at = bytes.find('\n', at + 1)) {
        (at > 0 && bytes[at - 1] == '\r' ? crlf : lf) = true;
        if (crlf && lf) return true;
    }
    return false;
}

std::shared_ptr<MimeMailParsed> load_and_parse(MailSource& source) {
    MailSource::Bytes raw = source.load();
    // The array takes the buffer; it lives as long as the message, whose parts point into it.
    GByteArray* bytes = g_byte_array_new_take(reinterpret_cast<guint8*>(raw.data), raw.size);
    bool damaged = false;
    GMimeMessage* m = parse_message(bytes, damaged);
    if (!m) g_byte_array_unref(bytes);
    if (!m)
        fail(mapi_e_corrupt_data,
             "Die Nachricht ist beschädigt oder keine E-Mail und kann nicht gelesen werden.");
    auto p = std::make_shared<MimeMailParsed>();
    p->message = m;
    p->bytes = bytes;
    p->unsafe_to_rewrite = rewrite_changes_parts(std::string_view(
        reinterpret_cast<const char*>(bytes->data), static_cast<size_t>(bytes->len)));
    return p;
}

}  // namespace

std::shared_ptr<MimeMailParsed> parse_ahead(MailSource& source) {
    try {
        auto p = load_and_parse(source);
        if (p->is_protected()) return p;
        // Decoded ahead up to a bound: a mail of huge attachments is decoded when asked for.
        size_t budget = 16u << 20;
        for (GMimeObject* o : p->attachments()) {
            if (!GMIME_IS_PART(o)) continue;
            MimeMailParsed::Decoded d;
            d.bytes = decoded_content(GMIME_PART(o));
            if (d.bytes.size() > budget) break;
            budget -= d.bytes.size();
            d.sha256 = sha256_of(d.bytes);
            p->ready.emplace(o, std::move(d));
        }
        return p;
    } catch (...) {
        return nullptr;
    }
}

MimeMail::Parsed& MimeMail::parsed() {
    if (!parsed_) parsed_ = load_and_parse(*source_);
    return *parsed_;
}

bool MimeMail::is_protected() {
    return parsed().is_protected();
}

bool MimeMail::unsafe_to_rewrite() {
    return parsed().unsafe_to_rewrite;
}

namespace {
[[noreturn]] void fail_protected(const MimeMailParsed& p) {
    fail(e_access_denied, p.unsafe_to_rewrite
                              ? "Die Nachricht hat gemischte Zeilenenden oder Nullbytes und bleibt "
                                "unverändert."
                              : "Die Nachricht ist signiert oder verschlüsselt und bleibt "
                                "unverändert.");
}
}  // namespace

// A signed or encrypted mail offers no attachments: none of its parts may leave it.
long MimeMail::attachment_count() {
    if (is_protected()) return 0;
    return static_cast<long>(parsed().attachments().size());
}

std::shared_ptr<PartRef> MimeMail::attachment(long index) {
    static const std::vector<GMimeObject*> none;
    const auto& list = is_protected() ? none : parsed().attachments();
    if (index < 1 || index > static_cast<long>(list.size()))
        fail(disp_e_badindex, "Der Arrayindex liegt außerhalb der Grenzen.");
    auto ref = std::make_shared<PartRef>();
    ref->mail = shared_from_this();
    ref->object =
        std::shared_ptr<void>(g_object_ref(list[static_cast<size_t>(index - 1)]), g_object_unref);
    return ref;
}

namespace {
GMimeObject* live_object(const PartRef& part) {
    if (part.deleted) fail(e_fail, "Die Anlage wurde bereits gelöscht.");
    return static_cast<GMimeObject*>(part.object.get());
}
}  // namespace

std::string MimeMail::display_name(const PartRef& part) {
    GMimeObject* o = live_object(part);
    const char* n = part_file_name(o);
    std::string name = n ? n : "";
    if (name.find("=?") != std::string::npos) {
        // A name= parameter carrying encoded words, as some mail programs write it.
        gchar* dec = g_mime_utils_header_decode_text(nullptr, name.c_str());
        if (dec) {
            name = dec;
            g_free(dec);
        }
    }
    if (name.empty() && GMIME_IS_MESSAGE_PART(o)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(o));
        const char* s = inner ? g_mime_message_get_subject(inner) : nullptr;
        name = s ? s : "";
    }
    return name;
}

std::string MimeMail::text_value(const PartRef& part) {
    std::string n = display_name(part);
    return n.empty() ? type_description(live_object(part)) : n;
}

// What the binding offers as an attachment's content: a forwarded mail as its text, a part
// decoded.
std::string attachment_bytes(GMimeObject* o) {
    if (GMIME_IS_MESSAGE_PART(o)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(o));
        return inner ? object_bytes(GMIME_OBJECT(inner)) : std::string();
    }
    return GMIME_IS_PART(o) ? decoded_content(GMIME_PART(o)) : std::string();
}

const std::string& MimeMail::decoded(const PartRef& part) {
    GMimeObject* o = live_object(part);
    if (decoded_part_ && decoded_part_ == part.object) return decoded_bytes_;
    forget_decoded();
    if (parsed_) {
        auto it = parsed_->ready.find(o);
        if (it != parsed_->ready.end()) {
            decoded_bytes_ = std::move(it->second.bytes);
            decoded_sha_ = std::move(it->second.sha256);
            parsed_->ready.erase(it);
            decoded_part_ = part.object;
            return decoded_bytes_;
        }
    }
    decoded_bytes_ = attachment_bytes(o);
    decoded_part_ = part.object;
    return decoded_bytes_;
}

void MimeMail::forget_decoded() {
    decoded_part_.reset();
    std::string().swap(decoded_bytes_);
    decoded_sha_.clear();
}

void MimeMail::save_part(const PartRef& part, const std::string& host_path) {
    write_file_safely(host_path, decoded(part));
    forget_decoded();
}

void MimeMail::save_part_as_new(const PartRef& part, const std::string& host_path) {
    const std::string& bytes = decoded(part);
    try {
        platform::create_new_file(host_path, bytes);
    } catch (const platform::Error& e) {
        if (e.number == platform::kErrFileExists)
            fail(e_file_exists, "Die Datei " + host_path + " ist bereits vorhanden.");
        fail(e.number == platform::kErrPathFileAccess ? e_access_denied : e_fail,
             "Die Datei " + host_path + " kann nicht angelegt werden.");
    }
    note_saved(host_path);
    forget_decoded();
}

long MimeMail::part_size(const PartRef& part) {
    return static_cast<long>(decoded(part).size());
}

void MimeMail::remove_part(PartRef& part) {
    GMimeObject* o = live_object(part);
    if (is_protected()) fail_protected(parsed());
    forget_decoded();
    Parsed& p = parsed();
    GMimeObject* target = o;
    for (;;) {
        GMimeObject* root = p.root();
        if (target == root) {
            GMimeTextPart* t = new_empty_text_part();
            g_mime_message_set_mime_part(p.message, GMIME_OBJECT(t));
            g_object_unref(t);
            break;
        }
        GMimeMultipart* parent = find_parent(root, target);
        if (!parent) fail(e_fail, "Die Anlage gehört nicht mehr zur Nachricht.");
        g_mime_multipart_remove(parent, target);
        if (g_mime_multipart_get_count(parent) > 0) break;
        target = GMIME_OBJECT(parent);  // an empty multipart is no valid MIME; it goes too
    }
    // Whatever went with it held no other attachment: the list only loses this one.
    p.ready.erase(o);
    if (p.attachments_known) {
        auto& list = p.attachments_list;
        list.erase(std::remove(list.begin(), list.end(), o), list.end());
    }
    part.deleted = true;
    modified_ = true;
}

std::string MimeMail::body() {
    GMimeObject* root = parsed().root();
    if (GMimeObject* t = find_text(root, "plain")) return to_crlf(part_text(t));
    if (GMimeObject* h = find_text(root, "html")) return to_crlf(part_text(h));
    return {};
}

void MimeMail::set_body(std::string_view text) {
    Parsed& p = parsed();
    if (is_protected()) fail_protected(parsed());
    // Never bytes that are not UTF-8: the next reading would take the whole text for another
    // charset.
    std::string new_text = to_lf(text);
    if (!g_utf8_validate(new_text.data(), static_cast<gssize>(new_text.size()), nullptr)) {
        gchar* valid = g_utf8_make_valid(new_text.data(), static_cast<gssize>(new_text.size()));
        new_text = valid;
        g_free(valid);
    }
    GMimeObject* root = p.root();
    GMimeObject* plain = find_text(root, "plain");
    GMimeObject* html = nullptr;
    std::string old_text;
    if (plain) {
        old_text = part_text(plain);
        GMimeMultipart* parent = find_parent(root, plain);
        if (parent &&
            g_mime_content_type_is_type(g_mime_object_get_content_type(GMIME_OBJECT(parent)),
                                        "multipart", "alternative"))
            html = find_text(GMIME_OBJECT(parent), "html");
    } else if ((html = find_text(root, "html"))) {
        // An HTML-only mail gets a plain alternative, so that the text reads back as written.
        old_text = part_text(html);
        GRef<GMimeMultipart> alt(g_mime_multipart_new_with_subtype("alternative"));
        GRef<GMimeTextPart> t(new_empty_text_part());
        g_object_ref(html);
        GRef<GMimeObject> keep(html);
        GMimeMultipart* parent = find_parent(root, html);
        if (parent) {
            int idx = g_mime_multipart_index_of(parent, html);
            GMimeObject* old = g_mime_multipart_replace(parent, idx, GMIME_OBJECT(alt.get()));
            if (old) g_object_unref(old);
        } else {
            g_mime_message_set_mime_part(p.message, GMIME_OBJECT(alt.get()));
        }
        g_mime_multipart_add(alt.get(), GMIME_OBJECT(t.get()));
        g_mime_multipart_add(alt.get(), html);
        plain = GMIME_OBJECT(t.get());
    } else {
        // No text at all (a mail of attachments only): a text part goes first.
        GRef<GMimeTextPart> t(new_empty_text_part());
        if (GMIME_IS_MULTIPART(root)) {
            g_mime_multipart_insert(GMIME_MULTIPART(root), 0, GMIME_OBJECT(t.get()));
        } else {
            g_object_ref(root);
            GRef<GMimeObject> keep(root);
            GRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
            g_mime_multipart_add(mixed.get(), GMIME_OBJECT(t.get()));
            g_mime_multipart_add(mixed.get(), root);
            g_mime_message_set_mime_part(p.message, GMIME_OBJECT(mixed.get()));
        }
        plain = GMIME_OBJECT(t.get());
    }
    set_text_content(GMIME_PART(plain), new_text);
    p.tree_changed();

    if (html) {
        std::string raw = decoded_content(GMIME_PART(html));
        std::string updated;
        if (new_text.size() >= old_text.size() &&
            new_text.compare(new_text.size() - old_text.size(), old_text.size(), old_text) == 0) {
            std::string prefix = new_text.substr(0, new_text.size() - old_text.size());
            if (!prefix.empty()) {
                size_t pos = html_insert_pos(raw);
                updated = raw.substr(0, pos) + html_snippets(prefix) + raw.substr(pos);
            }
        } else {
            updated = "<html><body>" + html_snippet(new_text) + "</body></html>\n";
        }
        if (!updated.empty()) set_part_content(GMIME_PART(html), updated);
    }
    modified_ = true;
}

void MimeMail::save() {
    if (!modified_) return;
    Parsed& p = parsed();
    // One buffer, reused from mail to mail, takes the new text.
    static thread_local GByteArray* out = g_byte_array_new();
    g_byte_array_set_size(out, 0);
    {
        GRef<GMimeStream> mem(g_mime_stream_mem_new_with_byte_array(out));
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(mem.get()), FALSE);
        // GMime passes every part that it does not re-encode through a line-end filter: written
        // in the mail's own line ends, the bytes of an unencoded attachment stay as they were.
        const guint8* lf =
            static_cast<const guint8*>(std::memchr(p.bytes->data, '\n', p.bytes->len));
        GMimeFormatOptions* options = g_mime_format_options_new();
        g_mime_format_options_set_newline_format(options, lf && lf > p.bytes->data && lf[-1] == '\r'
                                                              ? GMIME_NEWLINE_FORMAT_DOS
                                                              : GMIME_NEWLINE_FORMAT_UNIX);
        const auto written =
            g_mime_object_write_to_stream(GMIME_OBJECT(p.message), options, mem.get());
        g_mime_format_options_free(options);
        if (written < 0) fail(e_fail, "Die Nachricht kann nicht geschrieben werden.");
    }
    // A second reading of what is about to replace the mail: never store something that no
    // longer parses or has lost attachments on the way.
    bool damaged = false;
    GMimeMessage* check = parse_message(out, damaged);
    if (!check) fail(e_fail, "Die geänderte Nachricht ist fehlerhaft und wurde nicht gespeichert.");
    std::vector<GMimeObject*> a, b;
    collect_attachments(g_mime_message_get_mime_part(check), a);
    collect_attachments(p.root(), b);
    // Nor one whose remaining attachments read back other than they are offered now, nor one
    // that the next reading would have to leave alone (mixed line ends written by the filter).
    bool sound = a.size() == b.size() && !rewrite_changes_parts(std::string_view(
                                             reinterpret_cast<const char*>(out->data), out->len));
    for (size_t i = 0; sound && i < a.size(); ++i)
        sound = attachment_bytes(a[i]) == attachment_bytes(b[i]);
    g_object_unref(check);
    if (!sound) fail(e_fail, "Die geänderte Nachricht ist fehlerhaft und wurde nicht gespeichert.");
    source_->store(std::string_view(reinterpret_cast<const char*>(out->data), out->len));
    if (out->len > (4u << 20)) {  // do not keep a buffer of a huge mail for the rest of the run
        g_byte_array_unref(out);
        out = g_byte_array_new();
    }
    modified_ = false;
}

std::string MimeMail::content_type(const PartRef& part) {
    GMimeObject* o = live_object(part);
    if (GMIME_IS_MESSAGE_PART(o)) return "message/rfc822";
    GMimeContentType* ct = g_mime_object_get_content_type(o);
    const char* t = ct ? g_mime_content_type_get_media_type(ct) : nullptr;
    const char* s = ct ? g_mime_content_type_get_media_subtype(ct) : nullptr;
    std::string out =
        std::string(t && *t ? t : "application") + "/" + (s && *s ? s : "octet-stream");
    for (char& c : out) c = g_ascii_tolower(c);
    return out;
}

std::string MimeMail::part_sha256(const PartRef& part) {
    const std::string& bytes = decoded(part);
    if (decoded_sha_.empty()) decoded_sha_ = sha256_of(bytes);
    return decoded_sha_;
}

namespace {
// A header's value, unfolded (a long record is folded at its separators) and with encoded
// words decoded, should a program on the way have put its value into them.
std::string unfolded_value(GMimeHeader* h) {
    const char* raw = g_mime_header_get_value(h);
    if (!raw) raw = g_mime_header_get_raw_value(h);
    std::string v = raw ? raw : "";
    v.erase(std::remove_if(v.begin(), v.end(), [](char c) { return c == '\r' || c == '\n'; }),
            v.end());
    return v;
}
}  // namespace

bool MimeMail::has_record_header() {
    MailSource::Bytes raw = source_->load();
    const std::string_view bytes(raw.data, raw.size);
    const std::string_view key = kFilingHeader;
    bool found = false;
    size_t at = 0;
    while (!found && at < bytes.size()) {
        const size_t nl = bytes.find('\n', at);
        const std::string_view line =
            bytes.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        if (line.empty() || line == "\r") break;  // the end of the header
        found = line.size() > key.size() && line[key.size()] == ':' &&
                g_ascii_strncasecmp(line.data(), key.data(), key.size()) == 0;
        at = nl == std::string_view::npos ? bytes.size() : nl + 1;
    }
    std::free(raw.data);
    return found;
}

std::vector<std::string> MimeMail::record_values() {
    GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(parsed().message));
    std::vector<std::string> out;
    int n = g_mime_header_list_get_count(list);
    for (int i = 0; i < n; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        const char* name = g_mime_header_get_name(h);
        if (!name || g_ascii_strcasecmp(name, kFilingHeader) != 0) continue;
        out.push_back(unfolded_value(h));
    }
    return out;
}

void MimeMail::add_record(std::string_view value) {
    GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(parsed().message));
    g_mime_header_list_append(list, kFilingHeader, "", nullptr);
    // Written as it is, folded at its separators: the value is ASCII already, and GMime would
    // turn its long words into encoded words.
    std::string raw = " ";
    for (char c : value) {
        raw += c;
        if (c == ';') raw += "\n";
    }
    raw += "\n";
    g_mime_header_set_raw_value(
        g_mime_header_list_get_header_at(list, g_mime_header_list_get_count(list) - 1),
        raw.c_str());
    modified_ = true;
}

namespace {

// Removes the line `link` (and the empty line filing put after it) from LF text.
bool remove_link_line(std::string& text, const std::string& link) {
    size_t at = 0;
    while ((at = text.find(link, at)) != std::string::npos) {
        size_t end = at + link.size();
        if ((at == 0 || text[at - 1] == '\n') && (end == text.size() || text[end] == '\n')) {
            if (end < text.size()) ++end;
            if (end < text.size() && text[end] == '\n') ++end;
            text.erase(at, end - at);
            return true;
        }
        at = end;
    }
    return false;
}

// A name holding control characters (a line break, say) is written as an RFC 2231 value, where
// they are escaped: GMime writes an ASCII name quoted as it is, and the line break would end the
// header. The parts' own objects keep the name; only the written headers change.
void encode_name_parameters(GMimeObject* part, const std::string& name) {
    bool control = false;
    for (unsigned char c : name) control = control || c < 0x20 || c == 0x7F;
    if (!control) return;
    // Continuations of at most 60 characters keep the lines short; no escape is split.
    const std::string encoded = platform::percent_encoded(name, false);
    auto value = [&](const char* key) {
        std::string out;
        size_t at = 0;
        for (int n = 0; at < encoded.size(); ++n) {
            size_t len = std::min<size_t>(60, encoded.size() - at);
            if (at + len < encoded.size()) {
                size_t pct = encoded.rfind('%', at + len - 1);
                if (pct != std::string::npos && pct >= at && pct + 3 > at + len) len = pct - at;
            }
            out += ";\n " + std::string(key) + "*" + std::to_string(n) +
                   "*=" + (n == 0 ? "UTF-8''" : "") + encoded.substr(at, len);
            at += len;
        }
        return out + "\n";
    };
    GMimeHeaderList* list = g_mime_object_get_header_list(part);
    for (int i = 0; i < g_mime_header_list_get_count(list); ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        const char* key = g_mime_header_get_name(h);
        if (!key) continue;
        if (g_ascii_strcasecmp(key, "Content-Disposition") == 0) {
            const char* d = g_mime_object_get_disposition(part);
            g_mime_header_set_raw_value(
                h, (" " + std::string(d ? d : "attachment") + value("filename")).c_str());
        } else if (g_ascii_strcasecmp(key, "Content-Type") == 0) {
            GMimeContentType* t = g_mime_object_get_content_type(part);
            char* mime = t ? g_mime_content_type_get_mime_type(t) : nullptr;
            g_mime_header_set_raw_value(
                h, (" " + std::string(mime ? mime : "application/octet-stream") + value("name"))
                       .c_str());
            g_free(mime);
        }
    }
}

}  // namespace

bool MimeMail::reattach(const FilingRecord& r, std::string_view bytes) {
    Parsed& p = parsed();
    forget_decoded();
    // The part first: it is the one thing that must not fail half-way.
    GMimeObject* part = nullptr;
    if (r.type == "message/rfc822") {
        GByteArray* copy = g_byte_array_sized_new(static_cast<guint>(bytes.size()));
        g_byte_array_append(copy, reinterpret_cast<const guint8*>(bytes.data()),
                            static_cast<guint>(bytes.size()));
        GRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(copy));
        GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        GMimeMessage* inner = g_mime_parser_construct_message(parser.get(), nullptr);
        if (!inner) fail(mapi_e_corrupt_data, "Die abgelegte Nachricht ist keine E-Mail.");
        GMimeMessagePart* mp = g_mime_message_part_new_with_message("rfc822", inner);
        g_object_unref(inner);
        part = GMIME_OBJECT(mp);
        g_mime_object_set_disposition(part, "attachment");
        g_mime_object_set_content_disposition_parameter(part, "filename", r.name.c_str());
    } else {
        size_t slash = r.type.find('/');
        GMimePart* mp = g_mime_part_new_with_type(r.type.substr(0, slash).c_str(),
                                                  r.type.substr(slash + 1).c_str());
        GRef<GMimeStream> mem(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
        GRef<GMimeDataWrapper> w(
            g_mime_data_wrapper_new_with_stream(mem.get(), GMIME_CONTENT_ENCODING_DEFAULT));
        g_mime_part_set_content(mp, w.get());
        // Base64 gives back exactly these bytes, line ends included.
        g_mime_part_set_content_encoding(mp, GMIME_CONTENT_ENCODING_BASE64);
        g_mime_object_set_disposition(GMIME_OBJECT(mp), "attachment");
        g_mime_part_set_filename(mp, r.name.c_str());
        part = GMIME_OBJECT(mp);
    }
    encode_name_parameters(part, r.name);
    GRef<GMimeObject> keep(part);

    GMimeObject* root = p.root();
    GMimeContentType* rct = g_mime_object_get_content_type(root);
    if (GMIME_IS_MULTIPART(root) && rct && g_mime_content_type_is_type(rct, "multipart", "mixed")) {
        g_mime_multipart_add(GMIME_MULTIPART(root), part);
    } else {
        g_object_ref(root);
        GRef<GMimeObject> old(root);
        GRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), root);
        g_mime_multipart_add(mixed.get(), part);
        g_mime_message_set_mime_part(p.message, GMIME_OBJECT(mixed.get()));
    }

    p.tree_changed();

    // The record goes: the attachment is back.
    GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(p.message));
    for (int i = g_mime_header_list_get_count(list) - 1; i >= 0; --i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        const char* name = g_mime_header_get_name(h);
        if (!name || g_ascii_strcasecmp(name, kFilingHeader) != 0) continue;
        auto rec = parse_filing_record(unfolded_value(h));
        if (rec && rec->link == r.link) {
            g_mime_header_list_remove_at(list, i);
            break;
        }
    }

    // The link line leaves the text and, where filing put it, the HTML alternative.
    bool found = false;
    root = p.root();
    if (GMimeObject* plain = find_text(root, "plain")) {
        std::string text = part_text(plain);
        found = remove_link_line(text, r.link);
        if (found) set_text_content(GMIME_PART(plain), text);
        GMimeMultipart* parent = find_parent(root, plain);
        GMimeObject* html = nullptr;
        if (parent &&
            g_mime_content_type_is_type(g_mime_object_get_content_type(GMIME_OBJECT(parent)),
                                        "multipart", "alternative"))
            html = find_text(GMIME_OBJECT(parent), "html");
        if (html) {
            std::string raw = decoded_content(GMIME_PART(html));
            const std::string snippet = html_snippet(r.link + "\n\n");
            size_t at = raw.find(snippet);
            if (at != std::string::npos) {
                raw.erase(at, snippet.size());
                set_part_content(GMIME_PART(html), raw);
            }
        }
    }
    modified_ = true;
    return found;
}

std::string MimeMail::subject() {
    const char* s = g_mime_message_get_subject(parsed().message);
    return s ? s : "";
}

// GnuTLS's hash uses the processor's SHA instructions where it has them: several times faster
// than GLib's, and every filed attachment is hashed once.
std::string sha256_of(std::string_view bytes) {
    std::array<unsigned char, 32> digest{};
    if (gnutls_hash_fast(GNUTLS_DIG_SHA256, bytes.data(), bytes.size(), digest.data()) != 0)
        throw std::runtime_error("SHA-256 not available");
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

namespace {
std::mutex saved_mutex;
std::vector<std::string> saved_folders;  // of files saved since the last sync
}  // namespace

void write_file_safely(const std::string& host_path, std::string_view bytes) {
    const size_t slash = host_path.rfind('/');
    const std::string base = slash == std::string::npos ? host_path : host_path.substr(slash + 1);
    if (base.empty()) fail(e_invalidarg, "Ungültiger Dateiname: " + host_path);
    // Durability is deferred: make_durable syncs once per file system for many files.
    const int e = platform::replace_file(host_path, bytes);
    if (e != 0)
        fail(e == EACCES || e == EPERM ? e_access_denied : e_fail,
             "Die Datei " + host_path + " kann nicht geschrieben werden: " + std::strerror(e));
    note_saved(host_path);
}

void note_saved(const std::string& host_path) {
    size_t slash = host_path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : host_path.substr(0, slash + 1);
    std::lock_guard lock(saved_mutex);
    if (std::find(saved_folders.begin(), saved_folders.end(), dir) == saved_folders.end())
        saved_folders.push_back(dir);
}

namespace {

std::function<bool(const std::string&)> file_system_sync;  // guarded by saved_mutex

bool sync_file_systems(const std::vector<std::string>& dirs) {
    bool ok = true;
    std::vector<dev_t> done;
    for (const auto& d : dirs) {
        struct stat st {};
        if (::stat(d.c_str(), &st) != 0) continue;
        if (std::find(done.begin(), done.end(), st.st_dev) != done.end()) continue;
        done.push_back(st.st_dev);
        if (file_system_sync) {
            if (!file_system_sync(d)) ok = false;
            continue;
        }
        int fd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) continue;
        if (::syncfs(fd) != 0) ok = false;
        ::close(fd);
    }
    return ok;
}

}  // namespace

void set_file_system_sync(std::function<bool(const std::string& folder)> sync) {
    std::lock_guard lock(saved_mutex);
    file_system_sync = std::move(sync);
}

bool make_durable(const std::vector<std::string>& folders) {
    // Held throughout: a file saved while the sync runs stays pending for the next one.
    std::lock_guard lock(saved_mutex);
    std::vector<std::string> dirs = saved_folders;
    dirs.insert(dirs.end(), folders.begin(), folders.end());
    if (dirs.empty()) return true;
    if (!sync_file_systems(dirs)) return false;
    saved_folders.clear();
    return true;
}

}  // namespace morvo::outlook::detail
