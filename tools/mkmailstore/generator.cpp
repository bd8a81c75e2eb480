#include "tools/mkmailstore/generator.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>

namespace mkmailstore {

namespace {

const char* const b64_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::string& in) {
    std::string out;
    size_t col = 0;
    for (size_t i = 0; i < in.size(); i += 3) {
        std::uint32_t v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
        out += b64_alphabet[(v >> 18) & 63];
        out += b64_alphabet[(v >> 12) & 63];
        out += i + 1 < in.size() ? b64_alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < in.size() ? b64_alphabet[v & 63] : '=';
        col += 4;
        if (col >= 76) {
            out += '\n';
            col = 0;
        }
    }
    if (col) out += '\n';
    return out;
}

// Quoted-printable with soft breaks; line ends stay line ends.
std::string quoted_printable(const std::string& in) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    size_t col = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        auto c = static_cast<unsigned char>(in[i]);
        if (c == '\n') {
            if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
                char last = out.back();
                out.pop_back();
                out += '=';
                out += hex[static_cast<unsigned char>(last) >> 4];
                out += hex[static_cast<unsigned char>(last) & 15];
            }
            out += '\n';
            col = 0;
            continue;
        }
        std::string enc;
        if ((c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t')
            enc = std::string(1, static_cast<char>(c));
        else
            enc = std::string("=") + hex[c >> 4] + hex[c & 15];
        if (col + enc.size() > 75) {
            out += "=\n";
            col = 0;
        }
        out += enc;
        col += enc.size();
    }
    return out;
}

// UTF-8 to ISO-8859-1 (the sample texts only use Latin-1 characters).
std::string latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x1F) << 6) |
                                     (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            throw std::runtime_error("not a Latin-1 text");
        }
    }
    return out;
}

std::string pct_encode(const std::string& bytes) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_')
            out += static_cast<char>(c);
        else
            out += std::string("%") + hex[c >> 4] + hex[c & 15];
    }
    return out;
}

// An RFC 2047 "B" word.
std::string word_b(const std::string& utf8) {
    std::string b = base64(utf8);
    b.erase(std::remove(b.begin(), b.end(), '\n'), b.end());
    return "=?UTF-8?B?" + b + "?=";
}

// An RFC 2047 "Q" word.
std::string word_q(const std::string& utf8) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "=?UTF-8?Q?";
    for (unsigned char c : utf8) {
        if (c == ' ')
            out += '_';
        else if (std::isalnum(c) || c == '.' || c == '-' || c == '~')
            out += static_cast<char>(c);
        else
            out += std::string("=") + hex[c >> 4] + hex[c & 15];
    }
    return out + "?=";
}

void make_dir(const std::string& p) {
    if (::mkdir(p.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + p + ": " + std::strerror(errno));
}

void make_dirs(const std::string& p) {
    for (size_t i = 1; i <= p.size(); ++i)
        if (i == p.size() || p[i] == '/') make_dir(p.substr(0, i));
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> split_path(const std::string& display) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t bar = display.find('|', start);
        out.push_back(
            display.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return out;
        start = bar + 1;
    }
}

struct Part {
    std::string headers;  // without the blank line
    std::string body;
};

std::string render(const Part& p) {
    return p.headers + "\n" + p.body;
}

std::string multipart(const std::string& subtype, const std::string& boundary,
                      const std::vector<Part>& parts, std::string& headers_out) {
    headers_out = "Content-Type: multipart/" + subtype + "; boundary=\"" + boundary + "\"\n";
    std::string body = "This is a multi-part message in MIME format.\n";
    for (const auto& p : parts) body += "\n--" + boundary + "\n" + render(p);
    body += "\n--" + boundary + "--\n";
    return body;
}

Part multipart_part(const std::string& subtype, const std::string& boundary,
                    const std::vector<Part>& parts) {
    Part p;
    p.body = multipart(subtype, boundary, parts, p.headers);
    return p;
}

Part text_part(const std::string& utf8, const std::string& charset,
               const std::string& subtype = "plain") {
    Part p;
    if (charset == "iso-8859-1") {
        p.headers = "Content-Type: text/" + subtype +
                    "; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n";
        p.body = quoted_printable(latin1(utf8));
    } else if (charset == "utf-8") {
        p.headers =
            "Content-Type: text/" + subtype + "; charset=utf-8\nContent-Transfer-Encoding: 8bit\n";
        p.body = utf8;
    } else {
        p.headers = "Content-Type: text/" + subtype +
                    "; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n";
        p.body = utf8;
    }
    return p;
}

Part binary_part(const std::string& type, const std::string& name_params, const std::string& bytes,
                 const std::string& disposition = "attachment") {
    Part p;
    p.headers = "Content-Type: " + type + name_params.substr(0, name_params.find('\x01')) +
                "\nContent-Transfer-Encoding: base64\n";
    std::string disp = name_params.find('\x01') == std::string::npos
                           ? ""
                           : name_params.substr(name_params.find('\x01') + 1);
    if (!disposition.empty()) p.headers += "Content-Disposition: " + disposition + disp + "\n";
    p.body = base64(bytes);
    return p;
}

// The name parameters of an attachment called `file`, in the form binary_part takes.
std::string named(const std::string& file) {
    return "; name=\"" + file + "\"\x01; filename=\"" + file + "\"";
}

class Writer {
  public:
    Writer(std::string root, const Options& o) : root_(std::move(root)), opt_(o), rng_(o.seed) {}

    std::string random_bytes(size_t n, bool text = false) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) {
            std::uint32_t v = rng_();
            if (text) {
                static const char* alphabet =
                    "abcdefghijklmnopqrstuvwxyz äöüß ABCDEFG 0123456789.,\n";
                s[i] = alphabet[v % 50];
            } else {
                s[i] = static_cast<char>(v & 0xFF);
            }
        }
        return s;
    }

    // A plain "document" with a recognisable start, so that a reader mix-up would show.
    std::string document(const std::string& tag, size_t n) {
        std::string head = "%PDF-1.4 " + tag + "\n";
        return head + random_bytes(n > head.size() ? n - head.size() : 0);
    }

    // The folder's directory, created with its ancestors as the layout keeps them.
    std::string folder_dir(const std::string& display, bool create_ancestors = true) {
        auto comps = split_path(display);
        if (comps.size() == 1 && comps[0] == "Posteingang") return root_;
        bool under_inbox = comps[0] == "Posteingang";
        if (under_inbox) comps.erase(comps.begin());
        std::string dir;
        if (opt_.layout == "kmail") {
            // Each folder a Maildir; its subfolders beside it in ".NAME.directory/".
            // The inbox's mails are at the top; its subfolders go with an "inbox" folder.
            if (under_inbox) make_maildir(root_ + "/inbox");
            std::string base = under_inbox ? root_ + "/.inbox.directory" : root_;
            for (size_t k = 0; k < comps.size(); ++k) {
                const std::string name = encode_mutf7(comps[k]);
                dir = base + "/" + name;
                // A subfolder is found only through its parent: the parent always exists.
                if (k + 1 < comps.size()) make_maildir(dir);
                base += "/." + name + ".directory";
            }
            make_dirs(dir.substr(0, dir.rfind('/')));
        } else if (opt_.layout == "nested") {
            dir = under_inbox ? root_ + "/INBOX" : root_;
            for (const auto& c : comps) dir += "/" + encode_mutf7(c);
            make_dirs(dir);
        } else {
            std::string name = under_inbox ? ".INBOX" : "";
            for (size_t k = 0; k < comps.size(); ++k) {
                name += "." + encode_mutf7(comps[k]);
                if (create_ancestors && k + 1 < comps.size()) make_maildir(root_ + "/" + name);
            }
            dir = root_ + "/" + name;
        }
        return dir;
    }

    void make_maildir(const std::string& dir) {
        make_dirs(dir);
        for (const char* s : {"cur", "new", "tmp"}) make_dir(dir + "/" + s);
    }

    // A top-level folder named like the inbox: a sibling of the same name.
    void add_inbox_namesake() {
        make_maildir(root_ + (opt_.layout == "maildir++" ? "/.Posteingang" : "/Posteingang"));
        folders_.push_back("Posteingang");
    }

    void add_folder(const std::string& display, bool create_ancestors = true) {
        make_maildir(folder_dir(display, create_ancestors));
        folders_.push_back(display);
    }

    std::string headers(const std::string& subject_header, int n) {
        char date[64];
        std::snprintf(date, sizeof date, "Tue, %d Mar 2024 %02d:%02d:00 +0100", 1 + n % 28,
                      8 + n % 10, n % 60);
        return "Return-Path: <anna@example.org>\n"
               "Received: from mx.example.org (mx.example.org [192.0.2.1])\n"
               "\tby mail.example.net with ESMTP id " +
               std::to_string(1000 + n) + ";\n\t" + date +
               "\n"
               "From: Anna Absender <anna@example.org>\n"
               "To: " +
               word_q("Bruno Empfänger") +
               " <bruno@example.net>\n"
               "Subject: " +
               subject_header + "\nDate: " + date + "\nMessage-ID: <" + std::to_string(n) +
               ".sample@example.org>\n"
               "X-Sample-Note: a folded header that must survive\n"
               " unchanged, continuation line included\n"
               "MIME-Version: 1.0\n";
    }

    MailInfo& write_mail(const std::string& folder, const std::string& subject,
                         const std::string& subject_header, const Part& top,
                         const std::string& flags, bool in_new = false) {
        std::string bytes = headers(subject_header, next_number()) + render(top);
        return write_raw(folder, subject, bytes, flags, in_new);
    }

    MailInfo& write_raw(const std::string& folder, const std::string& subject,
                        const std::string& bytes, const std::string& flags, bool in_new = false) {
        ++count_;
        std::string unique = std::to_string(1709280000 + count_ * 60) + ".M" +
                             std::to_string(count_) + "P4242Q" + std::to_string(count_) +
                             ".mkmailstore";
        std::string dir = folder_dir(folder, false);
        std::string rel_dir = dir.size() > root_.size() ? dir.substr(root_.size() + 1) + "/" : "";
        std::string file = in_new ? "new/" + unique : "cur/" + unique + ":2," + flags;
        write_file(dir + "/" + file, bytes);
        MailInfo m;
        m.folder = folder;
        m.file = rel_dir + file;
        m.subject = subject;
        m.flags = in_new ? "" : flags;
        mails_.push_back(std::move(m));
        return mails_.back();
    }

    int next_number() const { return count_ + 1; }

    Manifest finish() { return Manifest{folders_, mails_}; }

  private:
    std::string root_;
    const Options& opt_;
    std::mt19937 rng_;
    int count_ = 0;
    std::vector<std::string> folders_;
    std::vector<MailInfo> mails_;
};

void write_bulk(Writer& w, const Options& o) {
    w.add_folder("Massenpost");
    for (long k = 1; k <= o.bulk_mails; ++k) {
        std::string body =
            "Guten Tag,\nanbei Unterlage " + std::to_string(k) + " für Sie.\nGrüße\nAnna\n";
        std::string big = w.document("bulk " + std::to_string(k), o.attachment_size);
        std::string note = "Notiz " + std::to_string(k) + "\n";
        std::string big_name = "Anlage_" + std::to_string(k) + ".pdf";
        std::string note_name = "Notiz_" + std::to_string(k) + ".txt";
        Part top = multipart_part(
            "mixed", "bulk-" + std::to_string(k),
            {text_part(body, "iso-8859-1"), binary_part("application/pdf", named(big_name), big),
             binary_part("text/plain", named(note_name), note)});
        MailInfo& m = w.write_mail("Massenpost", "Unterlage " + std::to_string(k),
                                   "Unterlage " + std::to_string(k), top, "S");
        m.body = body;
        m.charset = "iso-8859-1";
        m.attachments = {{big_name, big}, {note_name, note}};
    }
}

void write_sample(Writer& w) {
    // Folders: umlauts, a comma, "#", "&", a leading digit, same-name siblings (the inbox and a
    // folder "Posteingang"), a folder whose parent has no directory, an empty folder, and a
    // chain 25 levels deep.
    for (const char* f : {"Posteingang|Kunden", "Posteingang|Kunden alt",
                          "Posteingang|Kunden|Müller", "Gesendete Elemente", "Entwürfe",
                          "Müller, Schmidt & Co", "Projekt #1", "Leer", "0 Ablage", "Ärger"})
        w.add_folder(f);
    w.add_inbox_namesake();
    w.add_folder("Archiv|2023|März", false);  // "Archiv" and "Archiv|2023" exist only as parents
    std::string deep = "Tief";
    w.add_folder(deep);
    for (int level = 2; level <= 25; ++level) {
        deep += "|Ebene " + std::to_string(level);
        w.add_folder(deep);
    }

    const std::string body_latin =
        "Sehr geehrte Frau Müller,\n\nanbei die Rechnung für März.\nGrüße aus Köln\n";
    const std::string body_utf8 =
        "Hallo Jürgen,\n\nhier die Grüße — mit Euro: 5 € und µ.\nBis bald\n";

    // 1: ISO-8859-1 body, RFC 2231 file name with charset, base64 PDF.
    {
        std::string pdf = w.document("rechnung", 3000);
        std::string params = "; name=\"Rechnung Maerz.pdf\"\x01; filename*=ISO-8859-1''" +
                             pct_encode(latin1("Rechnung März.pdf"));
        Part top = multipart_part(
            "mixed", "b1-mixed",
            {text_part(body_latin, "iso-8859-1"), binary_part("application/pdf", params, pdf)});
        MailInfo& m =
            w.write_mail("Posteingang", "Rechnung März", word_q("Rechnung März"), top, "S");
        m.body = body_latin;
        m.charset = "iso-8859-1";
        m.attachments = {{"Rechnung März.pdf", pdf}};
    }
    // 2: UTF-8 body, RFC 2047 word in name= only, quoted-printable text attachment.
    {
        std::string txt = "Grüße an Jürgen\nZeile zwei mit = Zeichen und Tab\t\nEnde\n";
        Part att;
        att.headers = "Content-Type: text/plain; charset=utf-8; name=\"" +
                      word_q("Grüße an Jürgen~.txt") +
                      "\"\nContent-Transfer-Encoding: quoted-printable\n";
        att.body = quoted_printable(txt);
        Part top = multipart_part("mixed", "b2-mixed", {text_part(body_utf8, "utf-8"), att});
        MailInfo& m = w.write_mail("Posteingang", "Grüße", word_b("Grüße"), top, "RS");
        m.body = body_utf8;
        m.charset = "utf-8";
        m.attachments = {{"Grüße an Jürgen~.txt", txt}};
    }
    // 3: text and HTML alternatives, an inline picture without a name, two named attachments.
    {
        std::string gif = "GIF89a" + w.random_bytes(400);
        std::string docx = "PK\x03\x04" + w.random_bytes(2500);
        std::string pdf = w.document("angebot", 5000);
        std::string html =
            "<html><head><title>x</title></head><body bgcolor=\"#ffffff\"><p>Guten Tag,</p>"
            "<p>siehe Anlagen. Grüße</p><img src=\"cid:bild1@example.org\"></body></html>\n";
        std::string plain = "Guten Tag,\n\nsiehe Anlagen. Grüße\n";
        Part pic = binary_part("image/gif", "", gif, "inline");
        pic.headers += "Content-ID: <bild1@example.org>\n";
        Part related =
            multipart_part("related", "b3-related", {text_part(html, "iso-8859-1", "html"), pic});
        Part alt =
            multipart_part("alternative", "b3-alt", {text_part(plain, "iso-8859-1"), related});
        Part top = multipart_part(
            "mixed", "b3-mixed",
            {alt,
             binary_part("application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                         named("Brief.docx"), docx),
             binary_part("application/pdf", named("Angebot.pdf"), pdf)});
        MailInfo& m =
            w.write_mail("Posteingang", "Angebot mit Bild", "Angebot mit Bild", top, "FS");
        m.body = plain;
        m.charset = "iso-8859-1";
        m.has_html = true;
        m.attachments = {{"Brief.docx", docx}, {"Angebot.pdf", pdf}};
    }
    // 4: a forwarded mail (with its own attachment), delivered to new/.
    {
        std::string inner_pdf = w.document("inner", 1200);
        Part inner_top =
            multipart_part("mixed", "b4-inner",
                           {text_part("Das ist die Originalnachricht.\n", "us-ascii"),
                            binary_part("application/pdf", named("Innen.pdf"), inner_pdf)});
        std::string inner =
            "From: Carla <carla@example.org>\nTo: anna@example.org\nSubject: Vertrag\n"
            "Date: Mon, 4 Mar 2024 09:00:00 +0100\nMessage-ID: <inner@example.org>\nMIME-Version: "
            "1.0\n" +
            render(inner_top);
        Part fwd;
        fwd.headers = "Content-Type: message/rfc822\nContent-Disposition: inline\n";
        fwd.body = inner;
        Part top =
            multipart_part("mixed", "b4-mixed",
                           {text_part("Siehe weitergeleitete Nachricht.\n", "us-ascii"), fwd});
        MailInfo& m = w.write_mail("Posteingang", "WG: Vertrag", "WG: Vertrag", top, "", true);
        m.body = "Siehe weitergeleitete Nachricht.\n";
        m.charset = "us-ascii";
        m.attachments = {{"Vertrag", inner}};
    }
    // 5: no text part at all: the whole mail is one PDF.
    {
        std::string pdf = w.document("scan", 2000);
        Part top = binary_part("application/pdf", named("Scan.pdf"), pdf);
        MailInfo& m = w.write_mail("Posteingang|Kunden", "Scan", "Scan", top, "S");
        m.attachments = {{"Scan.pdf", pdf}};
    }
    // 6: RFC 2231 continuations; a bitmap marked as attachment without a name; a name without
    // an extension.
    {
        std::string pdf = w.document("lang", 1500);
        std::string bmp = "BM" + w.random_bytes(600);
        std::string liste = "eins\nzwei\n";
        std::string long_name = "Sehr langer Dateiname mit Überlänge.pdf";
        std::string enc = pct_encode(long_name);
        std::string params = "; name=\"lang.pdf\"\x01;\n filename*0*=UTF-8''" + enc.substr(0, 30) +
                             ";\n filename*1*=" + enc.substr(30);
        Part top = multipart_part(
            "mixed", "b6-mixed",
            {text_part(body_latin, "iso-8859-1"), binary_part("application/pdf", params, pdf),
             binary_part("image/bmp", "", bmp, "attachment"),
             binary_part("text/plain", "; name=\"Liste\"", liste, "")});
        MailInfo& m = w.write_mail("Müller, Schmidt & Co", "Unterlagen", "Unterlagen", top, "S");
        m.body = body_latin;
        m.charset = "iso-8859-1";
        m.attachments = {{long_name, pdf}, {"", bmp}, {"Liste", liste}};
    }
    // 7: HTML only, with an attachment.
    {
        std::string pdf = w.document("html", 800);
        std::string html = "<html><body><p>Nur HTML, Gr&uuml;&szlig;e</p></body></html>\n";
        Part top = multipart_part("mixed", "b7-mixed",
                                  {text_part(html, "us-ascii", "html"),
                                   binary_part("application/pdf", named("Plan.pdf"), pdf)});
        MailInfo& m = w.write_mail("Projekt #1", "Plan", "Plan", top, "S");
        m.has_html = true;
        m.attachments = {{"Plan.pdf", pdf}};
    }
    // 8: a plain mail without MIME headers, in the deepest folder and at level 20.
    for (const std::string& f :
         {std::string("Tief|Ebene 2|Ebene 3|Ebene 4|Ebene 5|Ebene 6|Ebene 7|Ebene 8|Ebene 9|"
                      "Ebene 10|Ebene 11|Ebene 12|Ebene 13|Ebene 14|Ebene 15|Ebene 16|"
                      "Ebene 17|Ebene 18|Ebene 19|Ebene 20"),
          std::string("Tief|Ebene 2|Ebene 3|Ebene 4|Ebene 5|Ebene 6|Ebene 7|Ebene 8|Ebene 9|"
                      "Ebene 10|Ebene 11|Ebene 12|Ebene 13|Ebene 14|Ebene 15|Ebene 16|"
                      "Ebene 17|Ebene 18|Ebene 19|Ebene 20|Ebene 21|Ebene 22|Ebene 23|"
                      "Ebene 24|Ebene 25")}) {
        int n = w.next_number();
        std::string bytes = "From: anna@example.org\nTo: bruno@example.net\nSubject: Tief " +
                            std::to_string(n) +
                            "\nDate: Tue, 5 Mar 2024 10:00:00 +0100\nMessage-ID: <deep" +
                            std::to_string(n) + "@example.org>\n\nKurzer Text.\n";
        MailInfo& m = w.write_raw(f, "Tief " + std::to_string(n), bytes, "S");
        m.body = "Kurzer Text.\n";
    }
    // 9: damaged: a mail cut off in the middle of its attachment.
    {
        std::string pdf = w.document("kaputt", 4000);
        Part top = multipart_part("mixed", "b9-mixed",
                                  {text_part("Text vor der Anlage.\n", "us-ascii"),
                                   binary_part("application/pdf", named("Kaputt.pdf"), pdf)});
        int n = w.next_number();
        std::string full = w.headers("Abgeschnitten", n) + render(top);
        MailInfo& m =
            w.write_raw("Posteingang", "Abgeschnitten", full.substr(0, full.size() / 2), "S");
        m.damaged = true;
    }
    // 10: not a mail at all in cur/.
    {
        std::string junk = std::string("\x89PNG\r\n\x1a\n", 8) + w.random_bytes(300);
        MailInfo& m = w.write_raw("Posteingang", "", junk, "");
        m.damaged = true;
    }
    // 11: UTF-8 mail in a folder with umlauts, attachment in quoted-printable with a name that
    // has blanks, "@", "µ" and "€".
    {
        std::string txt = "Preisliste\n10 € pro Stück\n";
        Part att;
        att.headers =
            "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n"
            "Content-Disposition: attachment; filename*=UTF-8''" +
            pct_encode("Preise @ 5µ €.txt") + "\n";
        att.body = quoted_printable(txt);
        Part top = multipart_part("mixed", "b11-mixed", {text_part(body_utf8, "utf-8"), att});
        MailInfo& m = w.write_mail("Ärger", "Preise", "Preise", top, "S");
        m.body = body_utf8;
        m.charset = "utf-8";
        m.attachments = {{"Preise @ 5µ €.txt", txt}};
    }
    // 12: one plain mail in each of a few other folders.
    for (const char* f :
         {"Posteingang|Kunden", "Posteingang|Kunden alt", "Posteingang|Kunden|Müller", "Entwürfe",
          "0 Ablage", "Archiv|2023|März", "Posteingang"}) {
        std::string body = std::string("Notiz in ") + f + "\n";
        Part top = text_part(body, "utf-8");
        MailInfo& m = w.write_mail(f, "Notiz", "Notiz", top, "S");
        m.body = body;
        m.charset = "utf-8";
    }
}

}  // namespace

std::string encode_mutf7(const std::string& utf8) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += c == '&' ? "&-" : std::string(1, static_cast<char>(c));
            ++i;
            continue;
        }
        std::u16string units;
        while (i < utf8.size() && !(static_cast<unsigned char>(utf8[i]) >= 0x20 &&
                                    static_cast<unsigned char>(utf8[i]) < 0x7F)) {
            auto b = static_cast<unsigned char>(utf8[i]);
            int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            char32_t cp = len == 1 ? b : b & (0xFF >> (len + 1));
            for (int k = 1; k < len && i + k < utf8.size(); ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            i += static_cast<size_t>(len);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                units += static_cast<char16_t>(0xD800 | (cp >> 10));
                units += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
            } else {
                units += static_cast<char16_t>(cp);
            }
        }
        out += '&';
        std::string bytes;
        for (char16_t u : units) {
            bytes += static_cast<char>(u >> 8);
            bytes += static_cast<char>(u & 0xFF);
        }
        for (size_t k = 0; k < bytes.size(); k += 3) {
            std::uint32_t v = static_cast<unsigned char>(bytes[k]) << 16;
            size_t have = std::min<size_t>(3, bytes.size() - k);
            if (have > 1) v |= static_cast<unsigned char>(bytes[k + 1]) << 8;
            if (have > 2) v |= static_cast<unsigned char>(bytes[k + 2]);
            out += alphabet[(v >> 18) & 63];
            out += alphabet[(v >> 12) & 63];
            if (have > 1) out += alphabet[(v >> 6) & 63];
            if (have > 2) out += alphabet[v & 63];
        }
        out += '-';
    }
    return out;
}

std::uint64_t fnv1a64(const std::string& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

namespace {

// The mbox file of a folder's display path, as Thunderbird lays out local folders: the inbox
// is "Inbox", subfolders live in "NAME.sbd/" beside their parent's file.
std::string mbox_file_of(const std::string& display, bool inbox) {
    auto comps = split_path(display);
    if (inbox && comps[0] == "Posteingang") comps[0] = "Inbox";
    std::string rel;
    for (size_t k = 0; k < comps.size(); ++k)
        rel += comps[k] + (k + 1 < comps.size() ? ".sbd/" : "");
    return rel;
}

// Rewrites a generated nested Maildir as an mbox tree in `root`, with Thunderbird's status
// headers; mboxrd quotes ">*From " lines of a body, mboxo "From " lines.
void write_mbox_tree(const std::string& maildir, const std::string& root, Manifest& m, bool rd) {
    auto place = [&](const std::string& rel) {
        const size_t slash = rel.rfind('/');
        if (slash != std::string::npos) make_dirs(root + "/" + rel.substr(0, slash));
    };
    std::map<std::string, std::string> files = {{"Inbox", ""}};
    for (const auto& f : m.folders) files.emplace(mbox_file_of(f, f != "Posteingang"), "");
    for (auto& mail : m.mails) {
        std::ifstream in(maildir + "/" + mail.file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string rel = mbox_file_of(mail.folder, true);
        std::string& out = files[rel];
        out += "From anna@example.org Fri Mar  1 08:00:00 2024\n";
        if (!mail.damaged)
            out += std::string("X-Mozilla-Status: 000") +
                   (mail.flags.find('S') != std::string::npos ? "1" : "0") +
                   "\nX-Mozilla-Status2: 00000000\n";
        for (size_t i = 0; i < bytes.size();) {
            size_t nl = bytes.find('\n', i);
            size_t stop = nl == std::string::npos ? bytes.size() : nl + 1;
            size_t gt = i;
            while (rd && gt < stop && bytes[gt] == '>') ++gt;
            if (bytes.compare(gt, 5, "From ") == 0) out += '>';
            out.append(bytes, i, stop - i);
            i = stop;
        }
        if (out.back() != '\n') out += '\n';
        out += '\n';
        mail.file = rel;
    }
    for (const auto& [rel, bytes] : files) {
        place(rel);
        write_file(root + "/" + rel, bytes);
    }
}

}  // namespace

Manifest generate(const std::string& dir, const Options& options) {
    const bool mbox = options.layout == "mboxo" || options.layout == "mboxrd";
    if (options.layout != "maildir++" && options.layout != "nested" && options.layout != "kmail" &&
        !mbox)
        throw std::runtime_error("unknown layout " + options.layout);
    std::string root = dir;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (mbox) {
        make_dirs(root);
        Options nested = options;
        nested.layout = "nested";
        const std::string maildir = root + "/.mkmailstore-maildir";
        Manifest m = generate(maildir, nested);
        write_mbox_tree(maildir, root, m, options.layout == "mboxrd");
        std::filesystem::remove_all(maildir);
        return m;
    }
    Writer w(root, options);
    w.make_maildir(root);
    if (!options.bulk_only) write_sample(w);
    if (options.bulk_mails > 0 || options.bulk_only) write_bulk(w, options);
    return w.finish();
}

}  // namespace mkmailstore
