#pragma once
// Mail from anyone, as a table: the filing test files each alone, the kill test puts them into
// the store it kills the run over.

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "morvo/filing.h"

namespace morvo::hostile {

namespace fs = std::filesystem;

inline std::string mail(const std::string& subject, const std::string& content_type,
                        const std::string& body) {
    return "From: a@example.org\r\nTo: b@example.org\r\nSubject: " + subject + "\r\nMessage-Id: <" +
           subject + "@example.org>\r\nMIME-Version: 1.0\r\nContent-Type: " + content_type +
           "\r\n\r\n" + body;
}

inline std::string text_part(const std::string& text) {
    return "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
           text + "\r\n";
}

// An attachment part; `disposition` holds the parameters of its disposition.
inline std::string file_part(const std::string& disposition, const std::string& base64) {
    return "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; " +
           disposition + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64 + "\r\n";
}

inline std::string mixed(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += "--b1\r\n" + p;
    return out + "--b1--\r\n";
}

inline const std::string kMixed = "multipart/mixed; boundary=\"b1\"";

inline std::string b64(const std::string& bytes) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 3; k >= 0; --k) out += abc[(v >> (6 * k)) & 63];
        if (out.size() % 78 == 76) out += "\r\n";
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += abc[(v >> 18) & 63];
        out += abc[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? abc[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

enum class Outcome { filed, unchanged };

struct HostileMail {
    const char* what;
    std::string bytes;
    Outcome outcome;
    std::vector<std::string> filed = {};  // the attachments' bytes, for Outcome::filed
    // Entries put into the storage folder (host path) before the run.
    std::function<void(const std::string& ablage)> prepare = {};
    std::string body_keeps = {};  // text that must read back unchanged
};

inline const Stamp kStamp{2024, 3, 7, 10, 20, 30};

inline std::vector<HostileMail> hostile_mails() {
    std::vector<HostileMail> t;
    t.push_back({"dot names twice, a hidden file and a folder in the way",
                 mail("dots", kMixed,
                      mixed({text_part("Hallo"), file_part("filename=\".profil.txt\"", b64("eins")),
                             file_part("filename=\".profil.txt\"", b64("zwei")),
                             file_part("filename=\"..\\\\..\\\\x.pdf\"", b64("drei")),
                             file_part("filename=\"../../x.pdf\"", b64("vier"))})),
                 Outcome::filed,
                 {"eins", "zwei", "drei", "vier"},
                 [](const std::string& ablage) {
                     std::ofstream(ablage + "/.profil_2024_3_7_10_20_30.txt") << "alt";
                     fs::create_directories(ablage + "/.profil_2024_3_7_10_20_31.txt");
                     fs::create_directories(ablage + "/.._.._x_2024_3_7_10_20_30.pdf");
                 }});
    t.push_back({"name that is no UTF-8 after its charset",
                 mail("utf8", kMixed,
                      mixed({text_part("Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
                                       "e"),
                             file_part("filename*=x-unknown''%FF%FEbad.txt", b64("roh")),
                             file_part("filename=\"\xFF\xFE"
                                       "b.txt\"",
                                       b64("roh2"))})),
                 Outcome::filed,
                 {"roh", "roh2"},
                 {},
                 "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
                 "e"});
    // Written again, one of the two line ends would change inside the raw attachment.
    t.push_back({"CR LF mail with an unencoded attachment holding lone LFs",
                 mail("zeilenenden", kMixed,
                      mixed({text_part("Hallo"),
                             "Content-Type: application/octet-stream\r\nContent-Disposition: "
                             "attachment; filename=\"roh.bin\"\r\n\r\neins\nzwei\n\r\n"})),
                 Outcome::unchanged});
    t.push_back({"a NUL byte in an attachment's header",
                 mail("nullbyte", kMixed,
                      mixed({text_part("Hallo"), file_part("filename=\"a.bin\"", b64("eins")),
                             file_part(std::string("filename=\"b\0c.bin\"", 18), b64("zwei"))})),
                 Outcome::unchanged});
    t.push_back({"S/MIME signed",
                 mail("signed",
                      "multipart/signed; protocol=\"application/pkcs7-signature\"; "
                      "micalg=sha-256; boundary=\"b1\"",
                      mixed({"Content-Type: multipart/mixed; boundary=\"b2\"\r\n\r\n--b2\r\n" +
                                 text_part("Hallo") + "--b2\r\n" +
                                 file_part("filename=\"rechnung.pdf\"", b64("pdf")) + "--b2--\r\n",
                             "Content-Type: application/pkcs7-signature; name=smime.p7s\r\n"
                             "Content-Disposition: attachment; filename=smime.p7s\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\n" +
                                 b64("sig") + "\r\n"})),
                 Outcome::unchanged});
    t.push_back({"S/MIME encrypted",
                 mail("encrypted",
                      "application/pkcs7-mime; smime-type=enveloped-data; "
                      "name=smime.p7m",
                      "Content-Disposition: attachment; filename=smime.p7m\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n" +
                          b64("geheim") + "\r\n"),
                 Outcome::unchanged});
    // (The disposition above lands in the body: the mail's only part has no name of its own
    // then, which is fine; it must stay unchanged either way.)
    t.push_back({"PGP encrypted",
                 mail("pgp",
                      "multipart/encrypted; protocol=\"application/pgp-encrypted\"; "
                      "boundary=\"b1\"",
                      mixed({"Content-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n",
                             "Content-Type: application/octet-stream; name=encrypted.asc\r\n"
                             "Content-Disposition: inline; filename=encrypted.asc\r\n\r\n"
                             "-----BEGIN PGP MESSAGE-----\r\nx\r\n-----END PGP MESSAGE-----\r\n"})),
                 Outcome::unchanged});
    t.push_back(
        {"base64 padded on every line",
         mail("padded", kMixed,
              mixed({text_part("x"), file_part("filename=\"p.bin\"", "QQ==\r\nQg==\r\nQ0Q=\r\n")})),
         Outcome::filed,
         {"ABCD"}});
    t.push_back({"base64 cut short",
                 mail("cut", kMixed,
                      mixed({text_part("x"), file_part("filename=\"c.bin\"", "QUJD\r\nRA\r\nR")})),
                 Outcome::unchanged});
    std::string big(3 * 1024 * 1024, 'x');
    std::string cut = b64(big);
    cut.resize(cut.size() / 2 + 1);
    t.push_back(
        {"3 MB base64 part truncated with its mail",
         mail("truncated", kMixed,
              "--b1\r\n" + text_part("x") + "--b1\r\n" + file_part("filename=\"big.bin\"", cut)),
         Outcome::unchanged});
    std::string nested = "--b0\r\n";
    std::string tail;
    for (int i = 1; i < 10000; ++i) {
        nested += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) +
                  "\"\r\n\r\n--b" + std::to_string(i) + "\r\n";
        tail = "--b" + std::to_string(i) + "--\r\n" + tail;
    }
    nested += file_part("filename=\"tief.txt\"", b64("tief")) + tail + "--b0--\r\n";
    t.push_back({"10,000 nested multiparts",
                 mail("nested", "multipart/mixed; boundary=\"b0\"", nested), Outcome::unchanged});
    t.push_back(
        {"240-character name",
         mail("long", kMixed,
              mixed({text_part("x"),
                     file_part("filename=\"" + std::string(236, 'l') + ".pdf\"", b64("lang"))})),
         Outcome::unchanged});
    t.push_back({"name that cleans to nothing but dots",
                 mail("dotsonly", kMixed,
                      mixed({text_part("x"), file_part("filename=\"...\"", b64("punkte"))})),
                 Outcome::filed,
                 {"punkte"}});
    return t;
}

}  // namespace morvo::hostile
