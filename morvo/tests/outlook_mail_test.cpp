// Attachments, bodies and saving of mails, checked against what the generator wrote and against a
// second, independent parse of the written file.

#include <gmime/gmime.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>

#include "morvo/filing.h"
#include "morvo/outlook/mime.h"
#include "morvo/tests/outlook_test_util.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace morvo::outlook {
namespace {

using test::GeneratedStore;
using test::read_bytes;
using test::TempDir;

using testsupport::error_of;

// A reading of a mail file that does not go through the binding.
struct IndependentParse {
    explicit IndependentParse(const std::string& path) {
        g_mime_init();
        std::string bytes = read_bytes(path);
        GMimeStream* s = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
        GMimeParser* p = g_mime_parser_new_with_stream(s);
        GMimeMessage* m = g_mime_parser_construct_message(p, nullptr);
        g_object_unref(p);
        g_object_unref(s);
        if (!m) return;
        ok = true;
        walk(g_mime_message_get_mime_part(m));
        g_object_unref(m);
    }
    void walk(GMimeObject* o) {
        GMimeContentType* ct = g_mime_object_get_content_type(o);
        std::string type = std::string(g_mime_content_type_get_media_type(ct)) + "/" +
                           g_mime_content_type_get_media_subtype(ct);
        for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        types.push_back(type);
        if (GMIME_IS_MULTIPART(o)) {
            for (int i = 0; i < g_mime_multipart_get_count(GMIME_MULTIPART(o)); ++i)
                walk(g_mime_multipart_get_part(GMIME_MULTIPART(o), i));
            return;
        }
        if (!GMIME_IS_PART(o)) return;
        const char* disp = g_mime_object_get_disposition(o);
        bool attached =
            g_mime_part_get_filename(GMIME_PART(o)) || (disp && std::string(disp) == "attachment");
        GMimeStream* mem = g_mime_stream_mem_new();
        g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(o)), mem);
        GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
        std::string content(reinterpret_cast<const char*>(a->data), a->len);
        g_object_unref(mem);
        const char* cs = g_mime_object_get_content_type_parameter(o, "charset");
        if (!attached && type == "text/plain" && plain_charset.empty()) {
            plain_charset = cs ? cs : "";
            plain = content;
        } else if (!attached && type == "text/html" && html.empty()) {
            html = content;
        }
        if (attached) attachment_hashes.push_back(mkmailstore::fnv1a64(content));
    }
    bool ok = false;
    std::vector<std::string> types;
    std::string plain, plain_charset, html;
    std::vector<std::uint64_t> attachment_hashes;
};

// The only file of the mail whose unique name (before ":") is the given one... or, after a
// save, the one file of that folder that is not in `others`.
std::string file_of_saved_mail(const GeneratedStore& s, const std::string& folder_dir,
                               const std::vector<std::string>& before) {
    std::string found;
    for (const auto& f : s.mail_files(folder_dir))
        if (std::find(before.begin(), before.end(), f) == before.end()) found = f;
    return found;
}

std::string folder_dir_of(const GeneratedStore& s, const mkmailstore::MailInfo& m) {
    std::string rel = m.file.substr(0, m.file.rfind('/'));
    rel = rel.substr(0, rel.rfind('/'));  // strip cur/ or new/
    return rel == "cur" || rel == "new" || rel.empty() ? s.root : s.root + "/" + rel;
}

// A second, independent SHA-256 to hold the binding's digests against.
std::string glib_sha256(const std::string& bytes) {
    gchar* hex = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string out = hex;
    g_free(hex);
    return out;
}

TEST(OutlookMail, DigestsAreLowerCaseSha256) {
    for (const std::string& bytes : {std::string(), std::string("abc"), std::string(1000, '\0')})
        EXPECT_EQ(outlook::sha256_hex(bytes), glib_sha256(bytes));
    EXPECT_EQ(outlook::sha256_hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(OutlookMail, AttachmentsAreListedWithDecodedNamesAndExactBytes) {
    GeneratedStore s;
    NameSpace ns = s.ns();
    TempDir out;
    int checked = 0;
    for (const auto& m : s.manifest.mails) {
        if (m.damaged) continue;
        SCOPED_TRACE(m.file);
        MailItem item = s.item(ns, m);
        EXPECT_EQ(item.Subject(), m.subject);
        ASSERT_EQ(item.Attachments().Count(), static_cast<long>(m.attachments.size()));
        for (size_t i = 0; i < m.attachments.size(); ++i) {
            Attachment a = item.Attachments(static_cast<long>(i + 1));
            EXPECT_EQ(a.DisplayName(), m.attachments[i].display_name);
            std::string target = out.path() + "/a" + std::to_string(checked++);
            a.SaveAsFile(target);
            std::string saved = read_bytes(target);
            EXPECT_EQ(a.Size(), static_cast<long>(saved.size()));
            EXPECT_EQ(a.Sha256(), glib_sha256(saved));
            if (m.subject == "WG: Vertrag") {
                // A forwarded mail is written as the mail it is: same headers and parts.
                EXPECT_EQ(test::non_content_headers(saved),
                          test::non_content_headers(m.attachments[i].bytes));
                std::string original = out.path() + "/original.eml";
                std::ofstream(original, std::ios::binary) << m.attachments[i].bytes;
                IndependentParse a(target), b(original);
                EXPECT_TRUE(a.ok);
                EXPECT_EQ(a.types, b.types);
                EXPECT_EQ(a.plain, b.plain);
                EXPECT_EQ(a.attachment_hashes, b.attachment_hashes);
                EXPECT_EQ(a.attachment_hashes.size(), 1u);
            } else {
                EXPECT_EQ(saved.size(), m.attachments[i].bytes.size());
                EXPECT_EQ(mkmailstore::fnv1a64(saved),
                          mkmailstore::fnv1a64(m.attachments[i].bytes));
            }
        }
    }
    EXPECT_GE(checked, 10);
}

TEST(OutlookMail, TextValuesFollowTheNameOrTheType) {
    GeneratedStore s;
    NameSpace ns = s.ns();
    struct Case {
        const char* subject;
        long index;
        const char* display;
        const char* text;
    } cases[] = {
        {"Rechnung März", 1, "Rechnung März.pdf", "Rechnung März.pdf"},
        {"Grüße", 1, "Grüße an Jürgen~.txt", "Grüße an Jürgen~.txt"},
        {"WG: Vertrag", 1, "Vertrag", "Vertrag"},
        {"Unterlagen", 2, "", "Bild (Geräteunabhängige Bitmap)"},
        {"Unterlagen", 3, "Liste", "Liste"},
        {"Preise", 1, "Preise @ 5µ €.txt", "Preise @ 5µ €.txt"},
    };
    for (const auto& c : cases) {
        Attachment a = s.item(ns, s.mail(c.subject)).Attachments(c.index);
        EXPECT_EQ(a.DisplayName(), c.display) << c.subject;
        EXPECT_EQ(a.text(), c.text) << c.subject;
    }
}

TEST(OutlookMail, SaveAsFileTakesWindowsPathsAndReplacesTheTarget) {
    GeneratedStore s;
    NameSpace ns = s.ns();
    const auto& m = s.mail("Rechnung März");
    std::string target = s.dir.path() + "/Rechnung_Maerz_2024_3_7_9_5_12.pdf";
    std::ofstream(target) << "old content";
    std::string windows = "C:" + target;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    s.item(ns, m).Attachments(1).SaveAsFile(windows);
    EXPECT_EQ(read_bytes(target), m.attachments[0].bytes);
    // A folder that does not exist: an error, and no file appears anywhere.
    EXPECT_NE(
        error_of([&] { s.item(ns, m).Attachments(1).SaveAsFile(s.dir.path() + "/fehlt/x.pdf"); }),
        0);
    EXPECT_FALSE(std::filesystem::exists(s.dir.path() + "/fehlt"));
}

TEST(OutlookMail, DeleteRemovesExactlyThatAttachment) {
    // Every attachment of every mail with attachments, one at a time, each on a fresh store.
    GeneratedStore probe;
    for (const auto& pm : probe.manifest.mails) {
        for (size_t k = 0; k < pm.attachments.size(); ++k) {
            GeneratedStore s;
            const auto& m = s.mail(pm.subject);
            SCOPED_TRACE(m.subject + " #" + std::to_string(k + 1));
            std::string dir = folder_dir_of(s, m);
            auto files_before = s.mail_files(dir);
            auto snapshot = s.snapshot();
            {
                NameSpace ns = s.ns();
                MailItem item = s.item(ns, m);
                Attachment a = item.Attachments(static_cast<long>(k + 1));
                a.Delete();
                EXPECT_EQ(item.Attachments().Count(), static_cast<long>(m.attachments.size() - 1));
                EXPECT_NE(error_of([&] { a.DisplayName(); }), 0);  // the handle is dead
                // Later attachments moved up.
                if (k + 1 < m.attachments.size()) {
                    EXPECT_EQ(item.Attachments(static_cast<long>(k + 1)).DisplayName(),
                              m.attachments[k + 1].display_name);
                }
                item.Save();
            }
            std::string saved = file_of_saved_mail(s, dir, files_before);
            ASSERT_FALSE(saved.empty());
            EXPECT_EQ(s.mail_files(dir).size(), files_before.size());
            // Independent reading: the other attachments, byte for byte, in order.
            IndependentParse p(saved);
            ASSERT_TRUE(p.ok);
            std::vector<std::uint64_t> expected;
            for (size_t j = 0; j < m.attachments.size(); ++j)
                if (j != k && m.subject != "WG: Vertrag")
                    expected.push_back(mkmailstore::fnv1a64(m.attachments[j].bytes));
            if (m.subject != "WG: Vertrag") {
                EXPECT_EQ(p.attachment_hashes, expected);
            }
            if (m.subject == "Angebot mit Bild") {  // the unnamed inline picture stays
                EXPECT_EQ(std::count(p.types.begin(), p.types.end(), "image/gif"), 1);
            }
            if (m.subject == "WG: Vertrag") {
                EXPECT_EQ(std::count(p.types.begin(), p.types.end(), "message/rfc822"), 0);
            }
            // The binding reads the same back.
            NameSpace again = s.ns();
            MailItem back = s.item(again, m);
            ASSERT_EQ(back.Attachments().Count(), static_cast<long>(m.attachments.size() - 1));
            for (long j = 1, src = 0; j <= back.Attachments().Count(); ++j, ++src) {
                if (static_cast<size_t>(src) == k) ++src;
                EXPECT_EQ(back.Attachments(j).DisplayName(),
                          m.attachments[static_cast<size_t>(src)].display_name);
            }
            // No other file of the store changed.
            auto after = s.snapshot();
            for (const auto& [path, hash] : snapshot)
                if (path != s.root + "/" + m.file) {
                    EXPECT_EQ(after.count(path) ? after[path] : 0, hash) << path;
                }
        }
    }
}

struct BodyCase {
    const char* subject;
    const char* link;
    const char* charset_after;  // of the plain part
};

TEST(OutlookMail, BodyGetsTheLinkOnTopAndKeepsTheOldText) {
    BodyCase cases[] = {
        {"Rechnung März", "file:C:\\Ablage\\Rechnung_Maerz_2024_3_7_9_5_12.pdf", "iso-8859-1"},
        {"Rechnung März", "file:C:\\Ablage\\Kosten_5_eur_\xe2\x82\xac.pdf",
         "utf-8"},  // "€" not in Latin-1
        {"Grüße", "file:C:\\Ablage\\Gruesse_an_Juergen__2024_3_7_9_5_12.txt", "utf-8"},
        {"Angebot mit Bild", "file:C:\\Ablage\\Angebot_2024_3_7_9_5_12.pdf", "iso-8859-1"},
        {"Scan", "file:C:\\Ablage\\Scan_2024_3_7_9_5_12.pdf", "us-ascii"},
        {"Plan", "file:C:\\Ablage\\Plan_2024_3_7_9_5_12.pdf", "us-ascii"},
        {"WG: Vertrag", "file:C:\\Ablage\\Vertrag_2024_3_7_9_5_12", "us-ascii"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.subject) + " " + c.link);
        GeneratedStore s;
        const auto& m = s.mail(c.subject);
        std::string dir = folder_dir_of(s, m);
        auto files_before = s.mail_files(dir);
        std::string original = read_bytes(s.root + "/" + m.file);
        std::string old_body, new_body;
        {
            NameSpace ns = s.ns();
            MailItem item = s.item(ns, m);
            old_body = item.Body();
            std::string expected_old = m.body;
            for (size_t p = 0; (p = expected_old.find('\n', p)) != std::string::npos; p += 2)
                expected_old.insert(p, "\r");
            if (!m.has_html || !m.body.empty()) {
                EXPECT_EQ(old_body, expected_old);
            }
            new_body = std::string(c.link) + "\r\n\r\n" + old_body;
            item.Attachments(1).Delete();
            item.set_Body(new_body);
            EXPECT_EQ(item.Body(), new_body);
            item.Save();
        }
        EXPECT_EQ(s.item(s.ns(), m).Body(), new_body);
        std::string saved = file_of_saved_mail(s, dir, files_before);
        ASSERT_FALSE(saved.empty());
        IndependentParse p(saved);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.plain_charset, c.charset_after);
        gchar* utf8 = g_convert(p.plain.data(), static_cast<gssize>(p.plain.size()), "UTF-8",
                                c.charset_after, nullptr, nullptr, nullptr);
        ASSERT_NE(utf8, nullptr);
        std::string plain = utf8;
        g_free(utf8);
        EXPECT_EQ(plain.rfind(std::string(c.link) + "\n\n", 0), 0u) << plain;
        if (m.has_html) {
            EXPECT_NE(p.html.find("<a href=\"file:C:\\Ablage\\"), std::string::npos) << p.html;
            EXPECT_LT(p.html.find("<a href"), p.html.find("</body>"));
            EXPECT_GT(p.html.find("<a href"), p.html.find("<body"));
        }
        // The headers that are not about the content stay as they were, folding included.
        EXPECT_EQ(test::non_content_headers(read_bytes(saved)),
                  test::non_content_headers(original));
    }
}

// Filing puts all link lines of a mail on top in one change; the text and its HTML alternative
// must read as when each line came on its own (one HTML block per line, so each can go again).
TEST(OutlookMail, LinkLinesOnTopAtOnceReadAsOneByOne) {
    const std::string links[] = {"file:C:\\Ablage\\a_2024_3_7_9_5_12.pdf",
                                 "file:C:\\Ablage\\b_2024_3_7_9_5_12.pdf"};
    auto saved_parse = [&](bool at_once) {
        GeneratedStore s;
        const auto& m = s.mail("Angebot mit Bild");
        EXPECT_TRUE(m.has_html);
        std::string dir = folder_dir_of(s, m);
        auto before = s.mail_files(dir);
        {
            NameSpace ns = s.ns();
            MailItem item = s.item(ns, m);
            if (at_once) {
                item.set_Body(links[1] + "\r\n\r\n" + links[0] + "\r\n\r\n" + item.Body());
            } else {
                for (const auto& l : links) item.set_Body(l + "\r\n\r\n" + item.Body());
            }
            item.Save();
        }
        IndependentParse p(file_of_saved_mail(s, dir, before));
        EXPECT_TRUE(p.ok);
        return std::pair(p.plain, p.html);
    };
    const auto one_by_one = saved_parse(false);
    EXPECT_EQ(saved_parse(true), one_by_one);
    EXPECT_NE(one_by_one.second.find(links[0]), std::string::npos);
}

TEST(OutlookMail, SaveKeepsFlagsModeAndNeverOverwritesInPlace) {
    struct Case {
        const char* subject;
        const char* suffix;
    } cases[] = {{"Rechnung März", ":2,S"},
                 {"Grüße", ":2,RS"},
                 {"Angebot mit Bild", ":2,FS"},
                 {"WG: Vertrag", ":2,"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subject);
        GeneratedStore s;
        const auto& m = s.mail(c.subject);
        std::string dir = folder_dir_of(s, m);
        std::string old_path = s.root + "/" + m.file;
        ASSERT_EQ(::chmod(old_path.c_str(), 0640), 0);
        struct stat old_st {};
        ::stat(old_path.c_str(), &old_st);
        auto files_before = s.mail_files(dir);
        NameSpace ns = s.ns();
        long pos = s.position(m);
        {
            MailItem item = s.item(ns, m);
            item.Attachments(1).Delete();
            item.Save();
        }
        // Before the batch completes, the binding already reads the saved mail; the old file is
        // still in place.
        EXPECT_EQ(s.folder(ns, m.folder).Items(pos).Attachments().Count(),
                  static_cast<long>(m.attachments.size() - 1));
        EXPECT_TRUE(std::filesystem::exists(old_path));
        // A second save of the same mail before then replaces the first.
        {
            MailItem item = s.folder(ns, m.folder).Items(pos);
            item.set_Body("zweimal\r\n" + item.Body());
            item.Save();
        }
        ns.flush_saves();
        MailItem item = s.folder(ns, m.folder).Items(pos);
        EXPECT_EQ(item.Body().rfind("zweimal\r\n", 0), 0u);
        std::string saved = file_of_saved_mail(s, dir, files_before);
        EXPECT_FALSE(std::filesystem::exists(old_path));
        EXPECT_EQ(saved.substr(saved.size() - std::strlen(c.suffix)), c.suffix);
        EXPECT_EQ(saved.substr(dir.size(), 5), "/cur/");
        struct stat st {};
        ASSERT_EQ(::stat(saved.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(st.st_uid, old_st.st_uid);
        EXPECT_NE(st.st_ino, old_st.st_ino);
        EXPECT_TRUE(std::filesystem::is_empty(dir + "/tmp"));
        // Same namespace: same position, same count, and the change is there.
        EXPECT_EQ(s.folder(ns, m.folder).Items(pos).Attachments().Count(),
                  static_cast<long>(m.attachments.size() - 1));
        EXPECT_EQ(s.folder(ns, m.folder).Items().Count(),
                  static_cast<long>(s.mails_in(m.folder).size()));
        // Saving again without a change writes nothing.
        auto snap = s.snapshot();
        item.Save();
        EXPECT_EQ(s.snapshot(), snap);
    }
}

TEST(OutlookMail, ProgramEndingBeforeTheBatchCompletesLosesNothing) {
    GeneratedStore s;
    const auto& m = s.mail("Angebot mit Bild");
    auto snap = s.snapshot();
    pid_t pid = ::fork();
    if (pid == 0) {  // saves, then ends abruptly before the batch is complete
        NameSpace ns = s.ns();
        MailItem item = s.item(ns, m);
        item.Attachments(1).Delete();
        item.Save();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    // Every mail file is as it was; the unfinished new mail never reached the disk.
    auto after = s.snapshot();
    for (const auto& [path, hash] : snap) EXPECT_EQ(after[path], hash) << path;
    EXPECT_EQ(after.size(), snap.size());
    EXPECT_EQ(s.item(s.ns(), m).Attachments().Count(), 2);
}

// A mail loses an attachment on disk only after the saved copy has been forced onto the disk;
// when that fails, the old mail stays as it was beside the copy.
TEST(OutlookMail, SavedAttachmentIsDurableBeforeTheMailLosesIt) {
    GeneratedStore s;
    const auto& m = s.mail("Angebot mit Bild");
    const std::string storage = s.dir.path() + "/ablage";
    std::filesystem::create_directory(storage);
    std::vector<std::string> synced;
    bool sync_works = false;
    std::optional<testsupport::ScopedSeam> sync_seam;
    sync_seam.emplace(detail::set_file_system_sync, [&](const std::string& folder) {
        synced.push_back(folder);
        return sync_works;
    });
    auto file_first_attachment = [&](const std::string& name) {
        NameSpace ns = s.ns();
        MailItem item = s.item(ns, m);
        item.Attachments(1).SaveAsFile(storage + "/" + name);
        item.Attachments(1).Delete();
        item.Save();
        ns.flush_saves();
    };

    file_first_attachment("eins.bin");
    ASSERT_FALSE(synced.empty());
    EXPECT_EQ(synced.front(), storage + "/") << "the saved copies are synced first";
    EXPECT_EQ(s.item(s.ns(), m).Attachments().Count(), 2) << "failed sync: old mail kept";
    EXPECT_EQ(read_bytes(storage + "/eins.bin"), m.attachments[0].bytes);

    synced.clear();
    sync_works = true;
    file_first_attachment("zwei.bin");
    sync_seam.reset();
    ASSERT_FALSE(synced.empty());
    EXPECT_EQ(synced.front(), storage + "/");
    EXPECT_EQ(s.item(s.ns(), m).Attachments().Count(), 1);
    EXPECT_EQ(read_bytes(storage + "/zwei.bin"), m.attachments[0].bytes);
}

TEST(OutlookMail, OldFileLeftBesideItsSavedSuccessorIsDroppedOnTheNextListing) {
    GeneratedStore s;
    const auto& m = s.mail("Angebot mit Bild");
    std::string dir = folder_dir_of(s, m);
    std::string old_path = s.root + "/" + m.file;
    std::string old_bytes = read_bytes(old_path);
    const long count = static_cast<long>(s.mails_in(m.folder).size());
    {
        NameSpace ns = s.ns();
        MailItem item = s.item(ns, m);
        item.Attachments(1).Delete();
        item.Save();
    }  // the end of the namespace completes its saves
    ASSERT_FALSE(std::filesystem::exists(old_path));
    // A crash after the rename but before the removal leaves the old file beside the new one.
    std::ofstream(old_path, std::ios::binary) << old_bytes;
    // An unrelated mail that merely looks alike stays.
    std::string lookalike = dir + "/cur/1700000000.M1P1Q1R0123456789abcdef.host:2,S";
    std::ofstream(lookalike, std::ios::binary) << old_bytes;

    NameSpace ns = s.ns();
    EXPECT_EQ(s.folder(ns, m.folder).Items().Count(), count + 1);
    EXPECT_FALSE(std::filesystem::exists(old_path));
    EXPECT_TRUE(std::filesystem::exists(lookalike));
    EXPECT_EQ(s.item(ns, m).Attachments().Count(), 1);
}

TEST(OutlookMail, FlagChangeByAnotherProgramIsFollowed) {
    GeneratedStore s;
    const auto& m = s.mail("Rechnung März");
    NameSpace ns = s.ns();
    MailItem item = s.item(ns, m);
    item.Attachments(1).Delete();
    // Another mail program marks it answered meanwhile.
    std::string old_path = s.root + "/" + m.file;
    std::string renamed = old_path.substr(0, old_path.rfind(':')) + ":2,RS";
    ASSERT_EQ(std::rename(old_path.c_str(), renamed.c_str()), 0);
    item.Save();
    ns.flush_saves();
    EXPECT_FALSE(std::filesystem::exists(renamed));
    int with_rs = 0;
    for (const auto& f : s.mail_files(s.root))
        if (f.size() > 5 && f.substr(f.size() - 5) == ":2,RS") ++with_rs;
    EXPECT_EQ(with_rs, 2);  // the saved one and the sample mail "Grüße"
    // Gone altogether: the save fails and writes nothing.
    MailItem other = s.item(ns, s.mail("Angebot mit Bild"));
    other.Attachments(1).Delete();
    std::filesystem::remove(s.root + "/" + s.mail("Angebot mit Bild").file);
    auto snap = s.snapshot();
    EXPECT_NE(error_of([&] { other.Save(); }), 0);
    EXPECT_EQ(s.snapshot(), snap);
}

TEST(OutlookMail, DamagedAndForeignFilesFailWithoutHarm) {
    GeneratedStore s;
    auto snap = s.snapshot();
    NameSpace ns = s.ns();
    int damaged = 0;
    for (const auto& m : s.manifest.mails) {
        if (!m.damaged) continue;
        ++damaged;
        SCOPED_TRACE(m.file);
        MailItem item = s.item(ns, m);  // fetching works; reading does not
        std::function<void()> calls[] = {
            [&] { item.Attachments().Count(); },
            [&] { item.Attachments(1); },
            [&] { item.Body(); },
            [&] { item.Subject(); },
            [&] { item.set_Body("file:x\r\n"); },
        };
        for (auto& call : calls) {
            EXPECT_EQ(error_of(call), mapi_e_corrupt_data);
        }
        EXPECT_EQ(error_of([&] { item.Save(); }), 0);  // nothing changed, nothing written
    }
    EXPECT_EQ(damaged, 2);
    // The healthy mails of the same folder still work.
    EXPECT_EQ(s.item(ns, s.mail("Rechnung März")).Attachments().Count(), 1);
    EXPECT_EQ(s.snapshot(), snap);
}

TEST(OutlookMail, MailWithoutMimeAndEmptyBodies) {
    GeneratedStore s;
    NameSpace ns = s.ns();
    const auto& deep = s.manifest.mails[7];  // a plain mail without MIME headers
    ASSERT_EQ(deep.subject.rfind("Tief", 0), 0u);
    MailItem item = s.item(ns, deep);
    EXPECT_EQ(item.Body(), "Kurzer Text.\r\n");
    EXPECT_EQ(item.Attachments().Count(), 0);
    EXPECT_EQ(s.item(ns, s.mail("Scan")).Body(), "");
    // A mail whose only part was the attachment: after Delete and Save it is a valid text mail.
    std::string dir = folder_dir_of(s, s.mail("Scan"));
    auto before = s.mail_files(dir);
    MailItem scan = s.item(ns, s.mail("Scan"));
    scan.Attachments(1).Delete();
    scan.Save();
    ns.flush_saves();
    IndependentParse p(file_of_saved_mail(s, dir, before));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.types, std::vector<std::string>{"text/plain"});
    EXPECT_EQ(s.item(s.ns(), s.mail("Scan")).Attachments().Count(), 0);
}

// An archived mail's links, in the text and in the HTML href, are file URLs that resolve to the
// filed files, also for a storage folder whose names hold blanks, umlauts, "#" and "%".
TEST(OutlookMail, FiledLinksResolveToTheFiledFiles) {
    const bool have_gio = std::system("command -v gio >/dev/null 2>&1") == 0;
    for (const char* subject : {"Angebot mit Bild", "Rechnung März", "Plan"}) {
        SCOPED_TRACE(subject);
        GeneratedStore s;
        const std::string ablage = s.dir.path() + "/Ablage Grüße #1 100%";
        std::filesystem::create_directories(ablage);
        const auto& m = s.mail(subject);
        const std::string dir = folder_dir_of(s, m);
        const auto files_before = s.mail_files(dir);
        {
            NameSpace ns = s.ns();
            FilingEnvironment env = default_filing_environment();
            env.clock = [] { return Stamp{2024, 3, 7, 9, 5, 12}; };
            file_mail_item(s.item(ns, m), platform::windows_path(ablage), env, {});
        }
        IndependentParse p(file_of_saved_mail(s, dir, files_before));
        ASSERT_TRUE(p.ok);
        std::vector<std::string> links;
        for (size_t at = 0; p.plain.compare(at, 5, "file:") == 0;) {
            const size_t end = p.plain.find_first_of("\r\n", at);
            links.push_back(p.plain.substr(at, end - at));
            at = p.plain.find_first_not_of("\r\n", end);
        }
        std::set<std::string> filed;
        for (const auto& e : std::filesystem::directory_iterator(ablage))
            filed.insert(e.path().string());
        ASSERT_EQ(links.size(), filed.size());
        for (const auto& link : links) {
            SCOPED_TRACE(link);
            EXPECT_EQ(link.rfind("file:///", 0), 0u);
            EXPECT_EQ(link.find_first_of(" #%\xc3", 8), link.find('%', 8));  // only escapes
            const auto target = platform::file_link_target(link);
            ASSERT_TRUE(target);
            EXPECT_EQ(filed.count(platform::host_path(*target)), 1u);
            if (m.has_html) {
                EXPECT_NE(p.html.find("<a href=\"" + link + "\">"), std::string::npos);
            }
            if (have_gio) {
                const std::string cmd = "gio info -a standard::size '" + link + "' >/dev/null";
                EXPECT_EQ(std::system(cmd.c_str()), 0) << "gio cannot open the link";
            }
        }
    }
}

// Links written before file URLs (a Windows path after "file:") still name their file.
TEST(OutlookMail, BothLinkFormsNameTheFile) {
    const struct {
        const char* link;
        const char* host;  // "" for no file link
    } cases[] = {
        {"file:///srv/ablage/Rechnung_Maerz_2024_3_7_9_5_12.pdf",
         "/srv/ablage/Rechnung_Maerz_2024_3_7_9_5_12.pdf"},
        {"file:///srv/Ablage%20Gr%C3%BC%C3%9Fe%20%231%20100%25/a%2Cb.pdf",
         "/srv/Ablage Grüße #1 100%/a,b.pdf"},
        {"file://localhost/srv/x.pdf", "/srv/x.pdf"},
        {"FILE:/srv/x.pdf", "/srv/x.pdf"},
        {"file:C:\\srv\\ablage\\x.pdf", "/srv/ablage/x.pdf"},
        {"file://anderer-rechner/srv/x.pdf", ""},
        {"file:", ""},
        {"http://example.org/x.pdf", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const auto target = platform::file_link_target(c.link);
        EXPECT_EQ(target ? platform::host_path(*target) : std::string(), c.host);
        if (*c.host && std::string(c.link).rfind("file:///", 0) == 0) {
            EXPECT_EQ(platform::file_url(platform::windows_path(c.host)), c.link);
        }
    }
}

}  // namespace
}  // namespace morvo::outlook

namespace morvo::outlook {
namespace {

struct MemorySource : detail::MailSource {
    std::string bytes;
    Bytes load() override {
        Bytes b{static_cast<char*>(std::malloc(bytes.size() + 1)), bytes.size()};
        std::memcpy(b.data, bytes.data(), bytes.size());
        return b;
    }
    void store(std::string_view b) override { bytes = b; }
};

// Removing one attachment leaves the bytes of an unencoded one alone, whichever line ends the
// mail uses (found by the MIME fuzz harness: CR LF became LF).
TEST(OutlookMail, RemovingOnePartKeepsTheLineEndsOfTheOthers) {
    TempDir dir;
    for (const std::string eol : {"\r\n", "\n"}) {
        SCOPED_TRACE(eol.size());
        auto source = std::make_shared<MemorySource>();
        const std::string raw = "Zeile 1" + eol + "Zeile 2" + eol;
        for (const std::string line :
             {"Subject: x", "MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
              "--b", "Content-Type: application/octet-stream; name=a.bin",
              "Content-Transfer-Encoding: base64", "", "AAEC", "--b",
              "Content-Type: application/octet-stream; name=roh.txt", ""})
            source->bytes += line + eol;
        source->bytes += raw + "--b--" + eol;
        auto saved_part = [&](detail::MimeMail& mail, long index) {
            mail.save_part(*mail.attachment(index), dir.path() + "/p");
            return read_bytes(dir.path() + "/p");
        };
        auto mail = std::make_shared<detail::MimeMail>(source);
        const std::string before = saved_part(*mail, 2);
        ASSERT_EQ(before + eol, raw);  // the last line end belongs to the boundary
        mail->remove_part(*mail->attachment(1));
        mail->save();
        auto again = std::make_shared<detail::MimeMail>(source);
        ASSERT_EQ(again->attachment_count(), 1);
        EXPECT_EQ(saved_part(*again, 1), before);
    }
}

}  // namespace
}  // namespace morvo::outlook
