// The command lines: filing records, links read back, a dry run that changes nothing, archive
// then reattach over Maildir and IMAP, and the reasons a mode cannot run.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "morvo/cli.h"
#include "morvo/filing.h"
#include "morvo/settings.h"
#include "morvo/tests/fault_relay.h"
#include "morvo/tests/hostile_mails.h"
#include "morvo/tests/imap_test_util.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace morvo {
namespace {

using outlook::FilingRecord;
using outlook::test::DovecotAccount;
using outlook::test::GeneratedStore;
using outlook::test::read_bytes;
using outlook::test::store_name;
using outlook::test::TempDir;

const std::string kStore = store_name;
const std::string kSha(64, 'a');

TEST(FilingRecord, ReadsBackWhatWasWrittenAndNothingElse) {
    const FilingRecord r{"file:C:\\srv\\ablage\\Bericht ä; \"x\"_2024_1_1_1_1_1.pdf",
                         "Bericht ä; \"x\".pdf", "application/pdf", 1234, kSha};
    auto back = outlook::parse_filing_record(outlook::format_filing_record(r));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->link, r.link);
    EXPECT_EQ(back->name, r.name);
    EXPECT_EQ(back->type, r.type);
    EXPECT_EQ(back->size, r.size);
    EXPECT_EQ(back->sha256, r.sha256);
    for (char c : outlook::format_filing_record(r))
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "not plain ASCII: " << int(c);

    const std::string good_tail = "; type=text/plain; size=3; sha256=" + kSha;
    const std::string link = "link*=UTF-8''file%3AC%3A%5Cx.txt; ";
    const struct {
        std::string value;
        bool valid;
    } table[] = {
        {link + "name*=UTF-8''x.txt" + good_tail, true},
        {" " + link + "\tname*=UTF-8''x.txt" + good_tail, true},  // folded
        {link + good_tail, false},                                // no name
        {link + "name*=UTF-8''" + good_tail, false},              // empty name
        {link + "name*=UTF-8''a%0Ab" + good_tail, true},          // a line break in it
        {link + "name*=UTF-8''a%00b" + good_tail, false},         // a NUL in it
        {"link*=UTF-8''file%3AC%3A%5Cx%0A.txt; name*=UTF-8''x" + good_tail, false},
        {link + "name*=UTF-8''a%zz" + good_tail, false},  // broken escape
        {link + "name*=UTF-8''a%4" + good_tail, false},   // cut escape
        {link + "name=x.txt" + good_tail, false},         // not an extended value
        {link + "name*=UTF-8''x.txt; type=text; size=3; sha256=" + kSha, false},
        {link + "name*=UTF-8''x.txt; type=text/plain\r\nBcc: a; size=3; sha256=" + kSha, false},
        {link + "name*=UTF-8''x.txt; type=text/plain; size=-3; sha256=" + kSha, false},
        {link + "name*=UTF-8''x.txt; type=text/plain; size=99999999999999999999; sha256=" + kSha,
         false},
        {link + "name*=UTF-8''x.txt; type=text/plain; size=3; sha256=" + kSha.substr(1), false},
        {link + "name*=UTF-8''x.txt; type=text/plain; size=3; sha256=" + std::string(64, 'G'),
         false},
        {"", false},
        {";;;==;", false},
    };
    for (const auto& row : table)
        EXPECT_EQ(outlook::parse_filing_record(row.value).has_value(), row.valid) << row.value;
}

TEST(LinkFilePath, BothFormsAndNothingElse) {
    const struct {
        std::string link;
        std::optional<std::string> path;
    } table[] = {
        {"file:C:\\srv\\ablage\\x.pdf", "C:\\srv\\ablage\\x.pdf"},
        {"file:\\\\srv\\share\\x.pdf", "\\\\srv\\share\\x.pdf"},
        {"file:///srv/ablage/x.pdf", platform::windows_path("/srv/ablage/x.pdf")},
        {"file:///srv/ablage/B%C3%A4r%20x.pdf", platform::windows_path("/srv/ablage/Bär x.pdf")},
        {"file:///srv/ablage/x%2", std::nullopt},
        {"file:///srv/ablage/x%GG", std::nullopt},
        {"file:///srv/a%00b", std::nullopt},
        {"file:ablage\\x.pdf", std::nullopt},
        {"file://host/x.pdf", std::nullopt},
        {"http://host/x.pdf", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : table)
        EXPECT_EQ(platform::file_link_target(row.link), row.path) << row.link;
}

// A program folder with its settings, a storage folder and a store behind the binding; the
// command lines run in this process.
struct CommandLine {
    TempDir program, ablage;
    std::string ablage_win;
    CommandLine(const outlook::StoreConfig& store, const std::vector<std::string>& lines) {
        ablage_win = platform::windows_path(ablage.path());
        platform::set_app_path(platform::windows_path(program.path()));
        outlook::set_store_override(std::vector{store});
        write_text_file(platform::windows_path(ini()), settings_file_text(ablage_win, lines));
    }
    ~CommandLine() {
        outlook::set_store_override(std::nullopt);
        platform::set_app_path("");
    }
    std::string ini() const { return program.path() + "/morvo.ini"; }
    int run(std::vector<std::string> args) {
        std::ostringstream o, e;
        int rc = run_command_line(args, o, e, false);
        out = o.str();
        err = e.str();
        return rc;
    }
    std::map<std::string, std::string> stored() const {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(ablage.path()))
            files[e.path().filename().string()] = read_bytes(e.path().string());
        return files;
    }
    std::string out, err;
};

// Per mail (by subject): its attachments as name, type and bytes, sorted; the body.
struct MailView {
    std::multiset<std::string> attachments;
    std::string body;
    bool operator==(const MailView&) const = default;
};
std::map<std::string, MailView> mails(const outlook::NameSpace& ns, const std::string& folder) {
    std::map<std::string, MailView> out;
    outlook::MAPIFolder f = ns.Folders(kStore).Folders(folder);
    TempDir tmp;
    for (long i = 1; i <= f.Items().Count(); ++i) {
        outlook::MailItem m;
        try {
            m = f.Items(i);
            m.Subject();
        } catch (const platform::Error&) {
            continue;  // damaged sample mails stay as they are
        }
        MailView v;
        v.body = m.Body();
        for (long a = 1; a <= m.Attachments().Count(); ++a) {
            outlook::Attachment att = m.Attachments(a);
            att.SaveAsFile(tmp.path() + "/a");
            v.attachments.insert(
                att.DisplayName() + " " + att.ContentType() + " " +
                std::to_string(mkmailstore::fnv1a64(read_bytes(tmp.path() + "/a"))));
        }
        out[m.Subject()] = v;
    }
    return out;
}

enum class Backend { maildir, imap, mbox };

class ArchiveThenReattach : public ::testing::TestWithParam<Backend> {};

INSTANTIATE_TEST_SUITE_P(Stores, ArchiveThenReattach,
                         ::testing::Values(Backend::maildir, Backend::imap, Backend::mbox),
                         [](const auto& info) {
                             return info.param == Backend::imap   ? "imap"
                                    : info.param == Backend::mbox ? "mbox"
                                                                  : "maildir";
                         });

// Every mail of an mbox file as another reader (Python's mailbox) reads it: a hash of its "From "
// line and bytes, and whether it carries a filing record.
std::vector<std::string> python_mbox_view(const std::string& file) {
    const std::string script =
        "import hashlib, mailbox, sys\n"
        "box = mailbox.mbox(sys.argv[1], create=False)\n"
        "for key in box.keys():\n"
        "    m = box.get_message(key)\n"
        "    raw = m.get_from().encode('latin-1') + b'\\n' + box.get_bytes(key)\n"
        "    print(hashlib.sha256(raw).hexdigest(), int('X-Morvolan-Filed' in m))\n";
    TempDir dir;
    testsupport::spit(dir.path() + "/view.py", script);
    FILE* p = ::popen(("python3 " + testsupport::shell_quoted(dir.path() + "/view.py") + " " +
                       testsupport::shell_quoted(file))
                          .c_str(),
                      "r");
    std::vector<std::string> lines;
    if (!p) return lines;
    std::string line;
    for (int c; (c = std::fgetc(p)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        lines.push_back(std::exchange(line, {}));
    }
    EXPECT_EQ(::pclose(p), 0) << file;
    return lines;
}

TEST_P(ArchiveThenReattach, GivesBackTheOriginals) {
    if (GetParam() == Backend::imap) REQUIRE_DOVECOT();
    mkmailstore::Options opt;
    opt.bulk_mails = 3;
    GeneratedStore store(GetParam() == Backend::mbox ? "mboxrd" : "maildir++", opt);
    std::unique_ptr<DovecotAccount> account;
    if (GetParam() == Backend::imap) account = std::make_unique<DovecotAccount>(opt);
    auto config = account ? account->config() : store.config();
    auto ns = [&] { return outlook::Application::with_stores({config}).GetNamespace("MAPI"); };
    CommandLine cl(config, {kStore + "|Posteingang", kStore + "|Massenpost"});
    const auto inbox = mails(ns(), "Posteingang");
    const auto bulk = mails(ns(), "Massenpost");
    std::map<std::string, std::vector<std::string>> mbox_before;
    if (store.mbox)
        for (const char* f : {"/Inbox", "/Massenpost"})
            mbox_before[f] = python_mbox_view(store.root + f);

    ASSERT_EQ(cl.run({"--run"}), kExitDone) << cl.out << cl.err;
    const auto files = cl.stored();
    ASSERT_FALSE(files.empty());
    EXPECT_NE(mails(ns(), "Posteingang"), inbox);
    // Another reader reads every mail; those the run did not change are the same bytes.
    for (const auto& [f, before] : mbox_before) {
        SCOPED_TRACE(f);
        const auto after = python_mbox_view(store.root + f);
        ASSERT_EQ(after.size(), before.size());
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i)
            if (after[i] != before[i]) {
                ++changed;
                EXPECT_EQ(after[i].back(), '1');
            }
        EXPECT_GT(changed, 0u);
    }
    // One record per storage file, each naming its file by its link and bytes.
    size_t records = 0;
    {
        auto n = ns();
        for (const char* folder : {"Posteingang", "Massenpost"}) {
            auto f = n.Folders(kStore).Folders(folder);
            for (long i = 1; i <= f.Items().Count(); ++i) {
                try {
                    for (const auto& r : f.Items(i).FilingRecords()) {
                        ++records;
                        auto path = platform::file_link_target(r.link);
                        ASSERT_TRUE(path);
                        EXPECT_EQ(outlook::sha256_hex(read_bytes(platform::host_path(*path))),
                                  r.sha256);
                    }
                } catch (const platform::Error&) {
                }
            }
        }
    }
    EXPECT_EQ(records, files.size());

    // A file changed since: it stays, its mail keeps the link, the rest comes back.
    const std::string changed = files.begin()->first;
    std::ofstream(cl.ablage.path() + "/" + changed, std::ios::app) << "x";
    EXPECT_EQ(cl.run({"--reattach"}), kExitStayed) << cl.out << cl.err;
    EXPECT_NE(cl.out.find("bleibt verlinkt"), std::string::npos) << cl.out;
    EXPECT_EQ(cl.stored().size(), 1u);

    // Put right, a second reattach finishes the job: every mail as it was before the run.
    std::filesystem::resize_file(cl.ablage.path() + "/" + changed, files.at(changed).size());
    EXPECT_EQ(cl.run({"--reattach"}), kExitDone) << cl.out << cl.err;
    EXPECT_TRUE(cl.stored().empty());
    const auto inbox_after = mails(ns(), "Posteingang");
    const auto bulk_after = mails(ns(), "Massenpost");
    for (const auto* before : {&inbox, &bulk}) {
        const auto& after = before == &inbox ? inbox_after : bulk_after;
        ASSERT_EQ(after.size(), before->size());
        for (const auto& [subject, view] : *before) {
            SCOPED_TRACE(subject);
            ASSERT_TRUE(after.count(subject));
            EXPECT_EQ(after.at(subject).attachments, view.attachments);
            EXPECT_EQ(after.at(subject).body, view.body);
        }
    }
}

// While the mail program holds its profile (a live lock link above the local folders), a run
// changes no byte there and says why; a later run, once it is gone, files from the journal.
TEST(CommandLineModes, MailProgramRunningLeavesItsLocalFoldersAlone) {
    GeneratedStore store("mboxrd", outlook::test::with_bulk(3, 600));
    CommandLine cl(store.config(), {kStore + "|Posteingang", kStore + "|Massenpost"});
    const std::string link = store.root + "/lock";
    std::filesystem::create_symlink("127.0.0.1:+" + std::to_string(::getpid()), link);
    const auto before = store.snapshot();
    EXPECT_EQ(cl.run({"--run"}), kExitStayed) << cl.out << cl.err;
    EXPECT_EQ(store.snapshot(), before);
    EXPECT_NE(cl.out.find("das Mailprogramm läuft"), std::string::npos) << cl.out;
    std::filesystem::remove(link);
    auto filed = cl.stored();
    EXPECT_EQ(filed.erase(".morvo-journal"), 1u);  // kept: the mails still hold their parts
    EXPECT_EQ(cl.run({"--run"}), kExitDone) << cl.out << cl.err;
    EXPECT_NE(store.snapshot(), before);
    EXPECT_EQ(cl.stored(), filed) << cl.out;  // the files of the first run, linked now
}

TEST(DryRun, ChangesNoByteAndListsWhatARunFiles) {
    mkmailstore::Options opt;
    opt.bulk_mails = 3;
    GeneratedStore store("maildir++", opt);
    CommandLine cl(outlook::test::store_config(store_name, store.root),
                   {kStore + "|Posteingang", kStore + "|Massenpost"});
    const auto store_before = store.snapshot();
    const std::string ini_before = read_bytes(cl.ini());
    ASSERT_EQ(cl.run({"--dry-run"}), kExitDone) << cl.err;
    EXPECT_EQ(store.snapshot(), store_before);
    EXPECT_EQ(read_bytes(cl.ini()), ini_before);
    EXPECT_TRUE(cl.stored().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cl.program.path()),
                            std::filesystem::directory_iterator()),
              1);  // no log either
    const std::string preview = cl.out;

    // A real run files exactly as many attachments and bytes as the preview said.
    ASSERT_EQ(cl.run({"--run"}), kExitDone) << cl.err;
    long long bytes = 0;
    for (const auto& [name, content] : cl.stored()) bytes += static_cast<long long>(content.size());
    EXPECT_NE(preview.find("Abzulegen: " + std::to_string(cl.stored().size()) + " Anlagen, " +
                           std::to_string(bytes) + " Bytes"),
              std::string::npos)
        << preview;
}

// The log of a run over the sample store, with the places and times of this run taken out,
// is the one kept beside this test: a change in how the text is kept or written changes no
// line of it. MORVO_WRITE_RUN_LOG=1 writes it anew (review the difference before keeping it).
TEST(RunLog, TheWholeTextOfARunIsAsBefore) {
    GeneratedStore store("maildir++", outlook::test::with_bulk(40, 600));
    std::vector<std::string> lines;
    for (const auto& m : store.manifest.mails)
        if (std::find(lines.begin(), lines.end(), kStore + "|" + m.folder) == lines.end())
            lines.push_back(kStore + "|" + m.folder);
    lines.push_back(kStore + "|Gibt es nicht");
    CommandLine cl(outlook::test::store_config(store_name, store.root), lines);
    cl.run({"--run"});
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(cl.program.path()))
        if (e.path().extension() == ".log") log = read_bytes(e.path().string());
    ASSERT_FALSE(log.empty()) << cl.err;
    for (const auto& [from, to] : {std::pair{cl.ablage.path(), std::string("<Ablage>")},
                                   std::pair{store.root, std::string("<Store>")}})
        for (size_t at; (at = log.find(from)) != std::string::npos;)
            log.replace(at, from.size(), to);
    log = std::regex_replace(log, std::regex("_[0-9]{4}(_[0-9]{1,2}){5}"), "_<Zeit>");
    const std::string kept = std::string(VELTRIN_SOURCE_DIR) + "/morvo/tests/data/run_log.txt";
    if (std::getenv("MORVO_WRITE_RUN_LOG")) std::ofstream(kept, std::ios::binary) << log;
    EXPECT_EQ(log, read_bytes(kept));
}

// The settings file as a person's editor saves it, and as the program wrote it before it wrote
// UTF-8: each finds the folders with umlauts and files the same attachments.
TEST(SettingsFile, EveryCodePageFilesTheSame) {
    const std::vector<std::string> lines = {
        kStore + "|Posteingang", kStore + "|Posteingang|Kunden|M\u00FCller", kStore + "|\u00C4rger",
        kStore + "|Archiv|2023|M\u00E4rz"};
    const struct {
        const char* what;
        std::string (*bytes)(const std::string& crlf_text);
    } forms[] = {
        {"Windows-1252, CR LF", [](const std::string& t) { return platform::utf8_to_cp1252(t); }},
        {"UTF-8, LF",
         [](const std::string& t) { return platform::text_to_file(t, platform::TextForm{}); }},
        {"UTF-8 with mark", [](const std::string& t) { return "\xEF\xBB\xBF" + t; }},
    };
    std::optional<std::multiset<std::string>>
        first;  // the filed files' bytes (names hold the time)
    for (const auto& f : forms) {
        GeneratedStore store;
        CommandLine cl(outlook::test::store_config(store_name, store.root), {});
        const std::string bytes = f.bytes(settings_file_text(cl.ablage_win, lines));
        std::ofstream(cl.ini(), std::ios::binary) << bytes;
        ASSERT_EQ(cl.run({"--run"}), kExitDone) << f.what << cl.err << cl.out;
        EXPECT_EQ(cl.out.find("nicht vorhanden"), std::string::npos) << f.what << cl.out;
        EXPECT_EQ(read_bytes(cl.ini()), bytes) << f.what;
        std::multiset<std::string> filed;
        for (const auto& [name, content] : cl.stored()) filed.insert(content);
        if (!first) first = filed;
        EXPECT_EQ(filed, *first) << f.what;
    }
    EXPECT_FALSE(first->empty());
}

// An account whose server does not answer leaves the other stores usable: their folders are
// filed, its folder line is named as unreadable with the reason, and the run counts it.
TEST(CommandLineModes, AnAccountThatDoesNotAnswerLeavesTheOtherStores) {
    GeneratedStore store;
    outlook::StoreConfig gone;
    gone.name = "Firma";
    gone.location = "imap://anna@127.0.0.1:1";
    gone.password = "x";
    CommandLine cl(outlook::test::store_config(store_name, store.root),
                   {"Firma|Posteingang", kStore + "|Posteingang"});
    outlook::set_store_override(
        std::vector{gone, outlook::test::store_config(store_name, store.root)});
    EXPECT_EQ(cl.run({"--run"}), kExitStayed) << cl.out << cl.err;
    EXPECT_NE(cl.out.find("Der Ordner in der: 1 Zeile kann nicht gelesen werden: "),
              std::string::npos)
        << cl.out;
    EXPECT_NE(cl.out.find("Ordner: 1\nEmail:"), std::string::npos) << cl.out;
    EXPECT_FALSE(cl.stored().empty());
}

TEST(CommandLineModes, CannotRunGivesStatusTwoAndTheReason) {
    GeneratedStore store;
    const auto config = outlook::test::store_config(store_name, store.root);
    const struct {
        const char* what;
        std::function<void(CommandLine&)> spoil;
        std::vector<std::string> args;
        std::string reason;
    } table[] = {
        {"no settings",
         [](CommandLine& c) { std::filesystem::remove(c.ini()); },
         {"--run"},
         "/morvo.ini kann nicht gelesen werden. Bitte im Fenster Einstellungen speichern oder "
         "mit --settings DATEI"},
        {"damaged settings",
         [](CommandLine& c) { std::ofstream(c.ini()) << "\x01\x02garbage"; },
         {"--dry-run"},
         "nennt keinen Ablageordner"},
        {"storage folder gone",
         [](CommandLine& c) { std::filesystem::remove_all(c.ablage.path()); },
         {"--reattach"},
         "kann nicht erreicht werden"},
        {"no store",
         [](CommandLine&) { outlook::set_store_override(std::vector<outlook::StoreConfig>{}); },
         {"--run"},
         "Keine Verbindung zum Mailprogramm"},
        {"unknown option", [](CommandLine&) {}, {"--run", "--fast"}, "--fast"},
        {"two modes", [](CommandLine&) {}, {"--run", "--reattach"}, "Nur eine Betriebsart"},
        {"folder without reattach", [](CommandLine&) {}, {"--run", "--folder", "x"}, "--folder"},
        {"journal is a FIFO",
         [](CommandLine& c) { ::mkfifo((c.ablage.path() + "/.morvo-journal").c_str(), 0600); },
         {"--run"},
         ".morvo-journal"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        const auto before = store.snapshot();
        CommandLine cl(config, {kStore + "|Posteingang"});
        row.spoil(cl);
        EXPECT_EQ(cl.run(row.args), kExitCannotRun);
        EXPECT_NE(cl.err.find(row.reason), std::string::npos) << cl.err;
        EXPECT_EQ(store.snapshot(), before);
    }
    if (::geteuid() != 0) {  // root writes anywhere
        CommandLine cl(config, {kStore + "|Posteingang"});
        std::filesystem::permissions(cl.ablage.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        EXPECT_EQ(cl.run({"--run"}), kExitCannotRun);
        EXPECT_NE(cl.err.find("nicht beschreibbar"), std::string::npos) << cl.err;
        std::filesystem::permissions(cl.ablage.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
}

// A mail client at work for the whole of a run: it moves mails from new/ to cur/, sets flags
// and deletes a few. Every mail is saved once, keeps every flag the client set, and a deleted
// one does not come back. MORVO_MOVER_ROUNDS sets the rounds (20 for the full test).
TEST(ClientDuringRun, MovedFlaggedAndDeletedMailsAreSavedOnce) {
    const char* rounds_env = std::getenv("MORVO_MOVER_ROUNDS");
    const int rounds = rounds_env && std::atoi(rounds_env) > 0 ? std::atoi(rounds_env) : 2;
    mkmailstore::Options opt = outlook::test::with_bulk(1000, 1024);
    opt.bulk_only = true;
    GeneratedStore pristine("maildir++", opt);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir work;
        const std::string root = work.path() + "/Maildir";
        std::filesystem::copy(pristine.root, root, std::filesystem::copy_options::recursive);
        const std::string folder = root + "/.Massenpost";
        // Every mail as just delivered, in new/; a file name leads back to its original mail
        // by its unique part, or by the mark a saved mail carries of the one it replaces.
        std::set<std::string> originals;
        std::map<std::string, std::string> by_mark;
        for (const auto& e : std::filesystem::directory_iterator(folder + "/cur")) {
            const std::string name = e.path().filename().string();
            const std::string unique = name.substr(0, name.find(':'));
            std::filesystem::rename(e.path(), folder + "/new/" + unique);
            originals.insert(unique);
            char mark[17];
            std::snprintf(mark, sizeof mark, "%016llx",
                          static_cast<unsigned long long>(mkmailstore::fnv1a64(unique)));
            by_mark[mark] = unique;
        }
        ASSERT_EQ(originals.size(), 1000u);
        const std::regex mark_re("R([0-9a-f]{16})\\.");
        auto origin = [&](const std::string& name) -> std::string {
            const std::string unique = name.substr(0, name.find(':'));
            if (originals.count(unique)) return unique;
            std::smatch m;
            if (std::regex_search(unique, m, mark_re) && by_mark.count(m[1])) return by_mark[m[1]];
            return {};
        };

        std::map<std::string, std::string> flags_set;  // original -> flags the client set
        std::set<std::string> deleted;
        std::atomic<bool> stop{false};
        std::thread client([&] {
            std::mt19937 rng(static_cast<unsigned>(round));
            while (!stop) {
                for (const char* sub : {"new", "cur"}) {
                    std::error_code ec;
                    for (const auto& e :
                         std::filesystem::directory_iterator(folder + "/" + sub, ec)) {
                        if (stop) break;
                        const std::string name = e.path().filename().string();
                        const std::string from = origin(name);
                        if (from.empty() || rng() % 4 != 0) continue;
                        if (rng() % 100 == 0) {
                            if (::unlink(e.path().c_str()) == 0) deleted.insert(from);
                            continue;
                        }
                        const size_t colon = name.find(":2,");
                        std::string flags =
                            colon == std::string::npos ? "" : name.substr(colon + 3);
                        const char add = std::string(sub) == "new" ? 'S' : "FRST"[rng() % 4];
                        if (flags.find(add) != std::string::npos) continue;
                        flags += add;
                        std::sort(flags.begin(), flags.end());
                        const std::string to =
                            folder + "/cur/" + name.substr(0, name.find(':')) + ":2," + flags;
                        if (::rename(e.path().c_str(), to.c_str()) == 0) flags_set[from] += add;
                        std::this_thread::sleep_for(std::chrono::microseconds(50));
                    }
                }
            }
        });
        int rc = 0;
        {
            CommandLine cl(outlook::test::store_config(store_name, root), {kStore + "|Massenpost"});
            rc = cl.run({"--run"});
            stop = true;
            client.join();
            EXPECT_NE(rc, kExitCannotRun) << cl.err;

            // Each mail once, with every flag the client set; the deleted ones stay deleted.
            std::map<std::string, std::vector<std::string>> files;
            for (const char* sub : {"new", "cur"})
                for (const auto& e : std::filesystem::directory_iterator(folder + "/" + sub)) {
                    const std::string name = e.path().filename().string();
                    files[origin(name)].push_back(name);
                }
            EXPECT_EQ(files.count(""), 0u) << "a file of no mail";
            for (const auto& u : originals) {
                SCOPED_TRACE(u);
                if (deleted.count(u)) {
                    EXPECT_EQ(files.count(u), 0u) << "a deleted mail came back";
                    continue;
                }
                ASSERT_EQ(files[u].size(), 1u) << "mail lost or doubled";
                const std::string& name = files[u][0];
                const std::string have =
                    name.find(":2,") == std::string::npos ? "" : name.substr(name.find(":2,") + 3);
                for (char f : flags_set[u]) EXPECT_NE(have.find(f), std::string::npos) << name;
            }

            // Every attachment in its mail or in exactly one linked file.
            std::map<std::string, int> links;
            auto n =
                outlook::Application::with_stores({outlook::test::store_config(store_name, root)})
                    .GetNamespace("MAPI");
            auto f = n.Folders(kStore).Folders("Massenpost");
            std::map<std::string, outlook::MailItem> by_subject;
            for (long i = 1; i <= f.Items().Count(); ++i) {
                outlook::MailItem m = f.Items(i);
                EXPECT_TRUE(by_subject.emplace(m.Subject(), m).second) << m.Subject();
            }
            size_t kept = 0;
            for (const auto* m : pristine.mails_in("Massenpost")) {
                if (!by_subject.count(m->subject)) continue;  // deleted by the client
                ++kept;
                outlook::MailItem item = by_subject.at(m->subject);
                std::vector<std::string> names, linked;
                for (long k = 1; k <= item.Attachments().Count(); ++k)
                    names.push_back(item.Attachments(k).DisplayName());
                for (const auto& link : outlook::test::links_of(item.Body())) {
                    ++links[link];
                    linked.push_back(read_bytes(platform::host_path(link)));
                }
                for (const auto& a : m->attachments)
                    EXPECT_TRUE(std::count(names.begin(), names.end(), a.display_name) ||
                                std::count(linked.begin(), linked.end(), a.bytes))
                        << m->subject << ": " << a.display_name << " lost";
            }
            EXPECT_EQ(kept + deleted.size(), originals.size());
            for (const auto& [link, count] : links) EXPECT_EQ(count, 1) << link << " linked twice";
        }
        if (::testing::Test::HasFailure()) return;
    }
}

// A program folder this user may not write (root may write anywhere, so the check is replaced):
// the settings and the run log live in the user's XDG folders, and --run finds them there. A
// log that cannot be written is reported and makes the status 1.
TEST(CommandLineModes, ReadOnlyProgramFolderKeepsItsDataInTheUsersFolders) {
    GeneratedStore store;
    CommandLine cl(outlook::test::store_config(store_name, store.root), {kStore + "|Posteingang"});
    std::filesystem::remove(cl.ini());
    const std::string program = cl.program.path();
    const testsupport::ScopedSeam probe{
        platform::set_folder_writable_probe,
        [program](const std::string& folder) { return folder != program; }};
    TempDir user;
    const testsupport::ScopedEnv config("XDG_CONFIG_HOME", user.path() + "/config"),
        state("XDG_STATE_HOME", user.path() + "/state");
    EXPECT_EQ(settings_file_path(settings_folder()),
              platform::windows_path(user.path() + "/config/morvolan/morvo.ini"));
    write_text_file(settings_file_path(settings_folder()),
                    settings_file_text(cl.ablage_win, {kStore + "|Posteingang"}));

    ASSERT_EQ(cl.run({"--run"}), kExitDone) << cl.err;
    EXPECT_FALSE(cl.stored().empty());
    EXPECT_TRUE(std::filesystem::is_empty(program));
    const auto logs = testsupport::tree_listing(user.path() + "/state/morvolan", {});
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(logs.begin()->first.starts_with("morvo")) << logs.begin()->first;

    // The state folder cannot be made: a file stands where it would go.
    std::ofstream(user.path() + "/blocked") << "x";
    const testsupport::ScopedEnv blocked("XDG_STATE_HOME", user.path() + "/blocked");
    EXPECT_EQ(cl.run({"--run"}), kExitStayed);
    EXPECT_NE(cl.err.find("Die Protokolldatei"), std::string::npos) << cl.err;
}

TEST(Reattach, RecordsOutsideTheStorageFolderAreNeverFollowed) {
    GeneratedStore store;
    const auto config = outlook::test::store_config(store_name, store.root);
    CommandLine cl(config, {kStore + "|Posteingang"});
    // A mail from outside may carry a record of its own, naming a file it knows the bytes of.
    TempDir elsewhere;
    const std::string victim = elsewhere.path() + "/victim.txt";
    std::ofstream(victim) << "known bytes";
    {
        auto ns = outlook::Application::with_stores({config}).GetNamespace("MAPI");
        auto item = ns.Folders(kStore).Folders("Posteingang").Items(1);
        item.add_FilingRecord({"file:" + platform::windows_path(victim), "victim.txt", "text/plain",
                               11, outlook::sha256_hex("known bytes")});
        item.add_FilingRecord({"file:" + cl.ablage_win + "\\..\\" +
                                   std::filesystem::path(elsewhere.path()).filename().string() +
                                   "\\victim.txt",
                               "victim.txt", "text/plain", 11, outlook::sha256_hex("known bytes")});
        item.Save();
        ns.flush_saves();
    }
    EXPECT_EQ(cl.run({"--reattach", "--folder", kStore + "|Posteingang"}), kExitStayed) << cl.out;
    EXPECT_EQ(read_bytes(victim), "known bytes");
    EXPECT_NE(cl.out.find("nicht im Ablageordner"), std::string::npos) << cl.out;
}

// A Maildir of hand-made mails: the inbox and one more folder.
struct HandMadeStore {
    TempDir dir;
    std::string root = dir.path() + "/Maildir";
    HandMadeStore() {
        for (const char* f : {"", "/.Zweiter"})
            for (const char* sub : {"cur", "new", "tmp"})
                std::filesystem::create_directories(root + f + "/" + sub);
    }
    // The one mail file of a folder ("" the inbox).
    std::string mail_file(const std::string& folder = "") const {
        for (const auto& e : std::filesystem::directory_iterator(root + folder + "/cur"))
            return e.path().string();
        return {};
    }
    outlook::StoreConfig config() const { return outlook::test::store_config(store_name, root); }
};

// What a reattach cannot put back is named and gives status 1; a storage file stays while any
// mail links it; a name of any characters comes back as it was.
TEST(Reattach, NamesWhatItSkipsAndDeletesNoFileAMailLinks) {
    using namespace hostile;
    const struct {
        const char* what;
        std::string disposition;
        std::function<void(const HandMadeStore&)> spoil;  // after the run
        int status;
        std::string says;
        size_t files_left;
    } table[] = {
        {"a line break in the name", "filename*=UTF-8''a%0Ab.txt", nullptr, kExitDone, "ist zurück",
         0},
        {"a record nobody can read", "filename=\"a.txt\"",
         [](const HandMadeStore& s) {
             const std::string f = s.mail_file();
             const std::string bytes = read_bytes(f);
             std::ofstream(f, std::ios::binary) << "X-Morvolan-Filed: link=kaputt\r\n" << bytes;
         },
         kExitStayed, "unlesbar", 0},
        {"a copy in another folder links the file", "filename=\"a.txt\"",
         [](const HandMadeStore& s) {
             const std::string f = s.mail_file();
             std::filesystem::copy_file(
                 f, s.root + "/.Zweiter/cur/" + std::filesystem::path(f).filename().string());
         },
         kExitDone, "eine andere Email sie verlinkt", 1},
        {"cut short", "filename=\"a.txt\"",
         [](const HandMadeStore& s) {
             const std::string f = s.mail_file();
             const std::string bytes = read_bytes(f);
             std::filesystem::resize_file(f, bytes.find("\r\n\r\n") + 2);
         },
         kExitStayed, "kann nicht gelesen werden", 1},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        HandMadeStore s;
        std::ofstream(s.root + "/cur/1700000000.M1P1Q1.host:2,S", std::ios::binary) << mail(
            "eins", kMixed, mixed({text_part("x"), file_part(row.disposition, b64("eins"))}));
        CommandLine cl(s.config(), {kStore + "|Posteingang", kStore + "|Zweiter"});
        ASSERT_EQ(cl.run({"--run"}), kExitDone) << cl.out << cl.err;
        ASSERT_EQ(cl.stored().size(), 1u);
        if (row.spoil) row.spoil(s);
        EXPECT_EQ(cl.run({"--reattach", "--folder", kStore + "|Posteingang"}), row.status)
            << cl.out << cl.err;
        EXPECT_NE(cl.out.find(row.says), std::string::npos) << cl.out;
        EXPECT_EQ(cl.stored().size(), row.files_left) << cl.out;
    }
    // The name with its line break is the attachment's name again.
    HandMadeStore s;
    std::ofstream(s.root + "/cur/1700000000.M1P1Q1.host:2,S", std::ios::binary)
        << mail("eins", kMixed,
                mixed({text_part("x"), file_part("filename*=UTF-8''a%0Ab.txt", b64("eins"))}));
    CommandLine cl(s.config(), {kStore + "|Posteingang"});
    ASSERT_EQ(cl.run({"--run"}), kExitDone);
    ASSERT_EQ(cl.run({"--reattach"}), kExitDone) << cl.out;
    auto item = outlook::Application::with_stores({s.config()})
                    .GetNamespace("MAPI")
                    .Folders(kStore)
                    .Folders("Posteingang")
                    .Items(1);
    ASSERT_EQ(item.Attachments().Count(), 1);
    EXPECT_EQ(item.Attachments(1).DisplayName(), "a\nb.txt");
}

// The preview names every attachment a run leaves, with the run's own reason; the longer
// extensions setting files what the naming rule left before.
TEST(DryRun, NamesWhatStaysAndWhy) {
    using namespace hostile;
    HandMadeStore s;
    std::ofstream(s.root + "/cur/1700000000.M1P1Q1.host:2,S", std::ios::binary)
        << mail("eins", kMixed,
                mixed({text_part("x"), file_part("filename=\"Angebot.docx\"", b64("docx")),
                       file_part("filename=\"Rechnung.pdf\"", b64("pdf")),
                       file_part("filename=\"kaputt.pdf\"", "QUJD\r\nRA\r\nR")}));
    std::ofstream(s.root + "/cur/1700000001.M2P1Q1.host:2,S", std::ios::binary) << mail(
        "zwei", "multipart/signed; protocol=\"application/pgp-signature\"; boundary=\"b1\"",
        mixed({text_part("Hallo"), "Content-Type: application/pgp-signature\r\n\r\nsig\r\n"}));
    const std::vector<std::string> lines{kStore + "|Posteingang"};
    CommandLine cl(s.config(), lines);
    EXPECT_EQ(cl.run({"--dry-run"}), kExitStayed) << cl.err;  // the damaged part
    for (const char* says :
         {"Angebot.docx bleibt in der Email: der Name hat keine Endung aus drei Zeichen",
          "kaputt.pdf bleibt in der Email: Teil beschädigt oder nicht lesbar",
          "Email: zwei\n  bleibt unverändert: die Email ist signiert oder verschlüsselt",
          "Rechnung.pdf -> ", "In den Emails bleiben: 2 Anlagen, 1 Emails unverändert"})
        EXPECT_NE(cl.out.find(says), std::string::npos) << says << "\n" << cl.out;

    write_text_file(platform::windows_path(cl.ini()),
                    settings_file_text(cl.ablage_win, lines, true));
    EXPECT_EQ(cl.run({"--dry-run"}), kExitStayed) << cl.err;
    EXPECT_NE(cl.out.find("Angebot.docx -> " + platform::shown_path(cl.ablage_win)),
              std::string::npos)
        << cl.out;
    EXPECT_EQ(cl.run({"--run"}), kExitStayed) << cl.out;
    std::set<std::string> names;
    for (const auto& [name, bytes] : cl.stored()) names.insert(name.substr(name.rfind('.')));
    EXPECT_EQ(names, (std::set<std::string>{".docx", ".pdf"})) << cl.out;
}

// Every message of the account's inbox and "Massenpost" as the server holds it: folder, UID,
// Message-ID and flags (without \Recent).
struct ServerMail {
    std::string folder, uid, id;
    std::set<std::string> flags;
};
std::vector<ServerMail> server_mails(outlook::imap::Connection& c) {
    std::vector<ServerMail> out;
    for (const std::string folder : {"INBOX", "Massenpost"}) {
        c.command("EXAMINE " + folder, "examine");
        auto r = c.command("UID FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])", "fetch");
        for (const auto& u : r.untagged) {
            if (u.values.size() < 3 || !u.values[1].is_atom("FETCH")) continue;
            ServerMail m{folder, "", "", {}};
            const auto& items = u.values[2].items;
            for (size_t i = 0; i + 1 < items.size(); i += 2) {
                if (items[i].is_atom("UID")) m.uid = items[i + 1].text;
                if (items[i].is_atom("FLAGS"))
                    for (const auto& f : items[i + 1].items)
                        if (!f.is_atom("\\Recent")) m.flags.insert(f.text);
                if (items[i].text.rfind("BODY[", 0) == 0) {
                    std::smatch id;
                    if (std::regex_search(items[i + 1].text, id, std::regex("<[^>]*>")))
                        m.id = id.str();
                }
            }
            if (!m.uid.empty()) out.push_back(std::move(m));
        }
    }
    return out;
}

// The host paths of the storage files that the mails of a folder link.
std::set<std::string> linked_files(const outlook::StoreConfig& config, const std::string& folder) {
    std::set<std::string> out;
    auto f =
        outlook::Application::with_stores({config}).GetNamespace("MAPI").Folders(kStore).Folders(
            folder);
    for (long i = 1; i <= f.Items().Count(); ++i)
        for (const auto& r : f.Items(i).FilingRecords())
            if (auto path = platform::file_link_target(r.link))
                out.insert(platform::host_path(*path));
    return out;
}

// A mail program on the same account, acting on "Massenpost" from a thread of its own until
// stopped: it sets and clears flags and keywords, deletes mails and moves them to the inbox,
// a few hundred times a second. It notes what the server answered: the flags each mail (by
// Message-ID) was given last, and the mails it deleted or moved.
class MailProgram {
  public:
    explicit MailProgram(const DovecotAccount& account) : conn_(account.raw()) {
        conn_->command("SELECT Massenpost", "select");
        thread_ = std::thread([this] { act(); });
    }
    ~MailProgram() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::map<std::string, std::set<std::string>> flags;  // by Message-ID
    std::set<std::string> deleted, moved;
    std::set<std::string> in_save;  // acted on while the archiver was replacing it
    long operations = 0;
    std::string failure;

  private:
    void act() {
        std::mt19937 random(7);
        std::map<std::string, std::string> ids;  // UID -> Message-ID, refreshed now and then
        try {
            while (!stop_) {
                if (ids.empty() || operations % 25 == 0) ids = current_ids();
                if (ids.empty()) break;
                auto at = ids.begin();
                std::advance(at, static_cast<long>(random() % ids.size()));
                const auto [uid, id] = *at;
                const unsigned what = random() % 20;
                ++operations;
                // Both copies listed: the archiver is between its APPEND and its EXPUNGE, and
                // gives the new copy the old one's changes after the fact.
                if (std::count_if(ids.begin(), ids.end(),
                                  [&](const auto& e) { return e.second == id; }) > 1)
                    in_save.insert(id);
                if (what < 4 && deleted_already(uid, id)) {
                    ids.erase(uid);     // being saved, or gone: nothing to do
                } else if (what < 2) {  // moved: COPYUID (untagged, or in the OK) says it was
                    std::vector<outlook::imap::Response> r;
                    r.push_back(ask("UID MOVE " + uid + " INBOX", &r));
                    for (const auto& u : r)
                        if (u.text.find("[COPYUID ") != std::string::npos) moved.insert(id);
                    ids.erase(uid);
                } else if (what < 4) {  // deleted: only while unchanged since the look above
                    std::vector<outlook::imap::Response> r;
                    if (ask("UID STORE " + uid + " (UNCHANGEDSINCE " + std::to_string(modseq_) +
                                ") +FLAGS (\\Deleted)",
                            &r)
                            .text.find("[MODIFIED") == std::string::npos) {
                        ask("UID EXPUNGE " + uid);
                        deleted.insert(id);
                        flags.erase(id);
                    }
                    ids.erase(uid);
                } else {
                    static const char* const changes[] = {
                        "+FLAGS (\\Flagged)", "-FLAGS (\\Flagged)", "+FLAGS ($Kunde)",
                        "-FLAGS ($Kunde)",    "-FLAGS (\\Seen)",    "+FLAGS (\\Seen $Erledigt)"};
                    if (!store(uid, id, changes[random() % 6])) ids.erase(uid);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    // A message that carries \Deleted now is being replaced by the archiver (or is gone): what
    // this program does to it in that one round trip is the one thing a save cannot see, so it
    // is noted apart. Else its MODSEQ is kept for the delete that follows.
    bool deleted_already(const std::string& uid, const std::string& id) {
        std::vector<outlook::imap::Response> r;
        ask("UID FETCH " + uid + " (FLAGS MODSEQ)", &r);
        for (const auto& u : r) {
            if (u.values.size() < 3 || !u.values[1].is_atom("FETCH")) continue;
            const auto& items = u.values[2].items;
            bool mine = false, marked = false;
            for (size_t i = 0; i + 1 < items.size(); i += 2) {
                if (items[i].is_atom("UID")) mine = items[i + 1].text == uid;
                if (items[i].is_atom("MODSEQ") && !items[i + 1].items.empty())
                    modseq_ = std::stoull(items[i + 1].items[0].text);
                if (items[i].is_atom("FLAGS"))
                    for (const auto& f : items[i + 1].items)
                        marked = marked || f.is_atom("\\Deleted");
            }
            if (!mine) continue;
            if (marked) in_save.insert(id);
            return marked;
        }
        return true;
    }
    // Changes a message's flags and notes those the server reports; false when the UID is gone
    // (the mail was saved under a new one, or removed).
    bool store(const std::string& uid, const std::string& id, const std::string& change) {
        outlook::imap::Connection::Result r;
        if (ask("UID STORE " + uid + " " + change, &r.untagged).status != "OK") return false;
        for (const auto& [u, text] : DovecotAccount::fetched(r, "")) {  // "flags " w/o \Recent
            if (u != uid) continue;
            std::set<std::string> now;
            std::istringstream in(text);
            for (std::string f; in >> f && f != "|";)
                if (f != "\\Deleted") now.insert(f);
            if (text.find("\\Deleted") != std::string::npos) in_save.insert(id);
            flags[id] = now;
            return true;
        }
        return false;
    }
    std::map<std::string, std::string> current_ids() {
        std::map<std::string, std::string> out;
        std::vector<outlook::imap::Response> r;
        ask("UID FETCH 1:* (BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])", &r);
        for (const auto& u : r) {
            if (u.values.size() < 3 || !u.values[1].is_atom("FETCH")) continue;
            std::string uid, id;
            const auto& items = u.values[2].items;
            for (size_t i = 0; i + 1 < items.size(); i += 2) {
                if (items[i].is_atom("UID")) uid = items[i + 1].text;
                std::smatch m;
                if (items[i].text.rfind("BODY[", 0) == 0 &&
                    std::regex_search(items[i + 1].text, m, std::regex("<[^>]*>")))
                    id = m.str();
            }
            if (!uid.empty() && !id.empty()) out[uid] = id;
        }
        return out;
    }

    // A command whose NO (a message expunged meanwhile) is an answer like any other.
    outlook::imap::Response ask(const std::string& command,
                                std::vector<outlook::imap::Response>* untagged = nullptr) {
        return conn_->wait(conn_->send({{false, command}}), untagged);
    }

    std::unique_ptr<outlook::imap::Connection> conn_;
    std::uint64_t modseq_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A mail program acts on the account all through a run: afterwards every mail carries the flags
// the program gave it last, no deleted mail is back, none is in two folders or twice, the run
// counts what it could not save; a reattach of "Massenpost" then removes no storage file that a
// mail moved to the inbox still links. It runs when MORVO_IMAP_STRESS_MAILS gives the number of
// mails (400 is the usual): the few changes that land inside the server's own steps (see the
// counts below) make its outcome a matter of timing, which a suite run must not be.
TEST(ImapWithAnotherClient, ActingThroughoutARunIsNeverUndone) {
    REQUIRE_DOVECOT();
    mkmailstore::Options opt;
    opt.bulk_only = true;
    const std::string count = outlook::test::env("MORVO_IMAP_STRESS_MAILS");
    if (count.empty()) GTEST_SKIP() << "MORVO_IMAP_STRESS_MAILS=400 runs it";
    opt.bulk_mails = std::stol(count);
    opt.attachment_size = 1024;
    DovecotAccount account(opt);
    CommandLine cl(account.config(), {kStore + "|Massenpost", kStore + "|Posteingang"});
    auto check = account.raw();
    std::map<std::string, std::set<std::string>> before;  // flags by Message-ID
    for (const auto& m : server_mails(*check)) before[m.id] = m.flags;
    ASSERT_EQ(before.size(), static_cast<size_t>(opt.bulk_mails));

    MailProgram program(account);
    const int status = cl.run({"--run"});
    program.stop();
    ASSERT_EQ(program.failure, "");
    EXPECT_GT(program.operations, 20);
    EXPECT_FALSE(program.deleted.empty());
    EXPECT_FALSE(program.moved.empty());
    // A mail deleted or moved while it was saved is a save that did not complete.
    EXPECT_TRUE(status == kExitDone ||
                (status == kExitStayed && cl.out.find("Beim IMAP-Server") != std::string::npos))
        << status << "\n"
        << cl.out;

    long unseen = 0, moved_in_store = 0;
    std::map<std::string, std::vector<ServerMail>> after;
    for (auto& m : server_mails(*check)) after[m.id].push_back(m);
    for (const auto& [id, flags] : before) {
        SCOPED_TRACE(id);
        const auto found = after.find(id);
        if (program.deleted.count(id)) {  // gone, or still marked deleted by the program
            if (found != after.end()) {
                ASSERT_EQ(found->second.size(), 1u);
                EXPECT_TRUE(found->second[0].flags.count("\\Deleted"));
            }
            continue;
        }
        ASSERT_NE(found, after.end()) << "lost; moved: " << program.moved.count(id) << "\n"
                                      << cl.out;
        // Acted on in the round trip between the archiver's STORE and EXPUNGE (moved there, the
        // copy carries that \Deleted): not seen by the save, so only "not lost" holds.
        bool in_save = program.in_save.count(id) > 0;
        for (const auto& m : found->second)
            in_save = in_save || (m.folder == "INBOX" && m.flags.count("\\Deleted"));
        if (in_save) {
            ++unseen;
            continue;
        }
        // Moved by the program just before the archiver's STORE reached the server: the server
        // still confirms the STORE for the mail it has moved away, and nothing a client can ask
        // tells that expunge from the archiver's own, so the new copy stays beside the moved
        // one. Counted apart; any other double fails.
        if (found->second.size() == 2 && program.moved.count(id) &&
            found->second[0].folder != found->second[1].folder) {
            ++moved_in_store;
            continue;
        }
        ASSERT_EQ(found->second.size(), 1u)
            << "doubled: " << found->second[0].folder << " " << found->second[0].uid << ", "
            << found->second[1].folder << " " << found->second[1].uid << "\n"
            << cl.out;
        const ServerMail& m = found->second[0];
        EXPECT_EQ(m.folder, program.moved.count(id) ? "INBOX" : "Massenpost");
        auto want = program.flags.count(id) ? program.flags.at(id) : flags;
        EXPECT_EQ(m.flags, want);
    }

    // Every mail the program left alone was saved with its links.
    long untouched = 0, saved = 0;
    for (const auto& [id, flags] : before)
        untouched += !program.flags.count(id) && !program.deleted.count(id) &&
                     !program.moved.count(id) && !program.in_save.count(id);
    {
        auto f = outlook::Application::with_stores({account.config()})
                     .GetNamespace("MAPI")
                     .Folders(kStore)
                     .Folders("Massenpost");
        for (long i = 1; i <= f.Items().Count(); ++i) saved += !f.Items(i).FilingRecords().empty();
    }
    EXPECT_GE(saved, untouched);
    RecordProperty("operations", std::to_string(program.operations));
    RecordProperty("acted_on_in_the_unseen_round_trip", std::to_string(unseen));
    RecordProperty("moved_while_the_store_ran", std::to_string(moved_in_store));
    EXPECT_LE(moved_in_store, 2) << "more than the rare race";

    // The inbox now holds moved mails whose attachments were filed in "Massenpost".
    const auto moved_links = linked_files(account.config(), "Posteingang");
    std::map<std::string, std::string> linked;
    for (const auto& f : moved_links) linked[f] = read_bytes(f);
    EXPECT_EQ(cl.run({"--reattach", "--folder", kStore + "|Massenpost"}), kExitDone) << cl.out;
    for (const auto& [f, bytes] : linked) {
        ASSERT_TRUE(std::filesystem::exists(f)) << f;
        EXPECT_EQ(read_bytes(f), bytes);
    }
    EXPECT_EQ(linked_files(account.config(), "Massenpost"), std::set<std::string>{});
}

// Another client moves one mail of ten while reattach saves them: the nine given back are
// counted and their files removed; the moved one stays linked with its files, and counts.
TEST(ImapWithAnotherClient, ReattachCountsAMailMovedWhileItWasSaved) {
    REQUIRE_DOVECOT();
    mkmailstore::Options opt;
    opt.bulk_only = true;
    opt.bulk_mails = 10;
    opt.attachment_size = 1024;
    DovecotAccount account(opt);
    CommandLine cl(account.config(), {kStore + "|Massenpost", kStore + "|Posteingang"});
    ASSERT_EQ(cl.run({"--run"}), kExitDone) << cl.out;
    const size_t files = cl.stored().size();
    ASSERT_EQ(files % 10, 0u);
    ASSERT_GT(files, 0u);
    const size_t each = files / 10;
    {
        auto other = account.raw();
        outlook::test::FaultRelay relay("APPEND ", outlook::test::FaultRelay::Fault::pause, [&] {
            other->command("SELECT Massenpost", "select");
            other->command("MOVE 1 INBOX", "move");
        });
        outlook::StoreConfig config = account.config();
        config.location = "imap://" + account.user + "@127.0.0.1:" + std::to_string(relay.port);
        outlook::set_store_override(std::vector{config});
        EXPECT_EQ(cl.run({"--reattach", "--folder", kStore + "|Massenpost"}), kExitStayed)
            << cl.out;
        EXPECT_TRUE(relay.fired);
        outlook::set_store_override(std::vector{account.config()});
    }
    EXPECT_NE(cl.out.find("Zurückgelegt: " + std::to_string(9 * each) +
                          " Anlagen, geblieben: " + std::to_string(each) + "\n"),
              std::string::npos)
        << cl.out;
    const auto moved = linked_files(account.config(), "Posteingang");
    EXPECT_EQ(moved.size(), each);
    EXPECT_EQ(cl.stored().size(), each);
    for (const auto& f : moved) EXPECT_TRUE(std::filesystem::exists(f)) << f;
    // The moved mail gets its attachments back where it is now.
    EXPECT_EQ(cl.run({"--reattach"}), kExitDone) << cl.out;
    EXPECT_TRUE(cl.stored().empty());
}

}  // namespace
}  // namespace morvo
