// Mail from anyone, filed for real: each mail of the table either leaves every attachment in
// one new storage file of its own bytes, linked from the mail, or stays byte for byte as it was.
// Nothing that was in the storage folder before is touched.

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "morvo/filing.h"
#include "morvo/journal.h"
#include "morvo/tests/hostile_mails.h"
#include "morvo/tests/outlook_test_util.h"
#include "platform/paths.h"

namespace morvo {
namespace {

namespace fs = std::filesystem;
using namespace hostile;
using outlook::test::links_of;
using outlook::test::read_bytes;
using outlook::test::TempDir;

std::map<std::string, std::string> folder_state(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out[e.path().filename().string()] = e.is_regular_file() ? read_bytes(e.path()) : "<dir>";
    return out;
}

bool valid_utf8(const std::string& s) {
    return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr);
}

struct Store {
    TempDir dir;
    std::string root = dir.path() + "/Maildir";
    std::string ablage = dir.path() + "/ablage";
    std::string ablage_win;
    Store() {
        for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(root + "/" + sub);
        fs::create_directories(ablage);
        ablage_win = platform::windows_path(ablage);
    }
    void add(const std::string& name, const std::string& bytes) const {
        std::ofstream(root + "/cur/" + name, std::ios::binary) << bytes;
    }
    // Files every mail of the inbox; returns the run's texts.
    std::string file_all(Journal* journal = nullptr) const {
        auto app = outlook::Application::with_stores(
            {outlook::test::store_config(outlook::test::store_name, root)});
        auto ns = app.GetNamespace("MAPI");
        auto folder = ns.Folders(outlook::test::store_name).Folders("Posteingang");
        FilingEnvironment env = default_filing_environment();
        env.clock = [] { return kStamp; };
        env.journal = journal;
        std::string texts;
        FilingSink sink;
        sink.add_text = [&](const std::string& t) { texts += t; };
        for (long i = 1; i <= folder.Items().Count(); ++i)
            file_mail_item(folder.Items(i), ablage_win, env, sink);
        EXPECT_TRUE(ns.flush_saves().complete);
        return texts;
    }
    outlook::MailItem first() const {
        auto app = outlook::Application::with_stores(
            {outlook::test::store_config(outlook::test::store_name, root)});
        return app.GetNamespace("MAPI")
            .Folders(outlook::test::store_name)
            .Folders("Posteingang")
            .Items(1);
    }
    std::vector<std::string> mail_files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(root + "/cur")) out.push_back(e.path());
        return out;
    }
};

TEST(HostileMail, EachIsFiledWholeOrLeftAsItWas) {
    for (const auto& row : hostile_mails()) {
        SCOPED_TRACE(row.what);
        Store s;
        if (row.prepare) row.prepare(s.ablage);
        const auto before = folder_state(s.ablage);
        s.add("1700000000.M1P1Q1.host:2,S", row.bytes);
        const std::string texts = s.file_all();
        // Whatever was there before is still there, as it was.
        const auto after = folder_state(s.ablage);
        for (const auto& [name, bytes] : before) {
            ASSERT_TRUE(after.count(name)) << name << " removed";
            EXPECT_EQ(after.at(name), bytes) << name << " replaced";
        }
        auto files = s.mail_files();
        ASSERT_EQ(files.size(), 1u) << "mail lost or doubled";
        if (row.outcome == Outcome::unchanged) {
            EXPECT_EQ(read_bytes(files[0]), row.bytes);
            EXPECT_EQ(after.size(), before.size());
            continue;
        }
        auto item = s.first();
        EXPECT_EQ(item.Attachments().Count(), 0);
        const std::string body = item.Body();
        EXPECT_TRUE(valid_utf8(body));
        if (!row.body_keeps.empty()) {
            EXPECT_NE(body.find(row.body_keeps), std::string::npos);
        }
        std::multiset<std::string> linked;
        for (const auto& link : links_of(body)) {
            EXPECT_TRUE(valid_utf8(link)) << link;
            const std::string host = platform::host_path(link);
            EXPECT_FALSE(before.count(fs::path(host).filename().string())) << link;
            linked.insert(read_bytes(host));
        }
        EXPECT_EQ(linked, std::multiset<std::string>(row.filed.begin(), row.filed.end()));
        EXPECT_EQ(after.size(), before.size() + row.filed.size()) << texts;
    }
}

TEST(HostileMail, SignedAndEncryptedMailsAreNamedOnceAndOfferNothing) {
    Store s;
    for (const auto& row : hostile_mails())
        if (std::string(row.what).find("signed") != std::string::npos)
            s.add("1700000000.M1P1Q1.host:2,S", row.bytes);
    EXPECT_EQ(s.first().Attachments().Count(), 0);
    const std::string texts = s.file_all();
    size_t first = texts.find("signiert oder verschlüsselt");
    ASSERT_NE(first, std::string::npos) << texts;
    EXPECT_EQ(texts.find("signiert oder verschlüsselt", first + 1), std::string::npos);
}

// Entries of cur/ that are no regular files are no mails and are never opened.
TEST(HostileMail, FifosAndDevicesInAMaildirAreSkipped) {
    Store s;
    s.add("1700000001.M1P1Q1.host:2,S",
          mail("real", kMixed, mixed({text_part("x"), file_part("filename=\"a.txt\"", b64("a"))})));
    ASSERT_EQ(::mkfifo((s.root + "/cur/1700000000.M1P1Q1.fifo:2,S").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", s.root + "/cur/1700000002.M1P1Q1.dev:2,S");
    s.file_all();  // a blocking open would hang here
    EXPECT_EQ(folder_state(s.ablage).size(), 1u);
    EXPECT_TRUE(fs::is_fifo(s.root + "/cur/1700000000.M1P1Q1.fifo:2,S"));
}

// A run killed after it created storage files but before the mails were stored: the next run
// links those files instead of filing the attachments again.
TEST(HostileMail, AKilledRunIsFinishedNotRepeated) {
    Store s;
    const std::string original =
        mail("kill", kMixed,
             mixed({text_part("x"), file_part("filename=\"a.txt\"", b64("eins")),
                    file_part("filename=\"a.txt\"", b64("eins")),
                    file_part("filename=\"b.txt\"", b64("zwei"))}));
    s.add("1700000000.M1P1Q1.host:2,S", original);
    {
        Journal journal(s.ablage_win);
        s.file_all(&journal);
    }
    ASSERT_EQ(folder_state(s.ablage).size(), 4u);  // three files and the journal
    // The kill: the changed mail never replaced the old one.
    for (const auto& f : s.mail_files()) fs::remove(f);
    s.add("1700000000.M1P1Q1.host:2,S", original);
    Journal journal(s.ablage_win);
    s.file_all(&journal);
    journal.clear();
    auto state = folder_state(s.ablage);
    EXPECT_EQ(state.size(), 3u);
    auto body = s.first().Body();
    std::multiset<std::string> linked;
    for (const auto& link : links_of(body)) linked.insert(read_bytes(platform::host_path(link)));
    EXPECT_EQ(linked, (std::multiset<std::string>{"eins", "eins", "zwei"}));
    // A damaged journal costs a duplicate, never an attachment.
    std::ofstream(s.ablage + "/.morvo-journal") << "F\tzz\tkaputt\n\xFF";
    Journal damaged(s.ablage_win);
    EXPECT_TRUE(damaged.problem().empty());
    EXPECT_FALSE(damaged.take_filed("kill", "a.txt", std::string(64, '0')));
}

const std::string kEins =
    mail("gleich", kMixed, mixed({text_part("x"), file_part("filename=\"a.txt\"", b64("eins"))}));

// A journal line for the first mail of the store, naming `target` (Windows path).
std::string planted_line(const Store& s, const std::string& target) {
    return journal_line({s.first().EntryID(), "a.txt", outlook::sha256_hex("eins"), target});
}

// Every link of every mail in the inbox, with the storage file it names.
std::multiset<std::string> all_links(const Store& s) {
    std::multiset<std::string> out;
    auto app = outlook::Application::with_stores(
        {outlook::test::store_config(outlook::test::store_name, s.root)});
    auto folder =
        app.GetNamespace("MAPI").Folders(outlook::test::store_name).Folders("Posteingang");
    for (long i = 1; i <= folder.Items().Count(); ++i)
        for (const auto& link : links_of(folder.Items(i).Body()))
            out.insert(platform::host_path(link));
    return out;
}

// A journal in a shared storage folder is input like any other: its records reach only files
// of this user directly in the folder.
TEST(FilingJournal, PlantedRecordsReachNoOtherFile) {
    const struct {
        const char* what;
        // Makes the file the planted line names; returns its Windows path.
        std::function<std::string(const Store&, const std::string& outside)> target;
    } table[] = {
        {"a file outside",
         [](const Store&, const std::string& o) { return platform::windows_path(o); }},
        {"a path leading out",
         [](const Store& s, const std::string& o) {
             return s.ablage_win + "\\..\\" + fs::path(o).parent_path().filename().string() + "\\" +
                    fs::path(o).filename().string();
         }},
        {"a symbolic link in the folder",
         [](const Store& s, const std::string& o) {
             fs::create_symlink(o, s.ablage + "/link.txt");
             return s.ablage_win + "\\link.txt";
         }},
        {"a hard link in the folder",
         [](const Store& s, const std::string& o) {
             fs::create_hard_link(o, s.ablage + "/hard.txt");
             return s.ablage_win + "\\hard.txt";
         }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        Store s;
        fs::create_directories(s.dir.path() + "/fremd");
        const std::string outside = s.dir.path() + "/fremd/a.txt";
        std::ofstream(outside) << "eins";
        s.add("1700000000.M1P1Q1.host:2,S", kEins);
        std::ofstream(s.ablage + "/.morvo-journal") << planted_line(s, row.target(s, outside));
        Journal journal(s.ablage_win);
        ASSERT_TRUE(journal.problem().empty());
        s.file_all(&journal);
        const auto links = all_links(s);
        ASSERT_EQ(links.size(), 1u);
        EXPECT_EQ(fs::path(*links.begin()).parent_path(), fs::path(s.ablage));
        EXPECT_EQ(fs::hard_link_count(*links.begin()), 1u);
        EXPECT_FALSE(fs::is_symlink(*links.begin()));
        EXPECT_EQ(read_bytes(outside), "eins");
    }
}

// Killed after the first of two like mails was stored: the second mail, with the same subject,
// name and bytes, gets a file of its own, and the record still serves its own mail.
TEST(FilingJournal, ARecordServesOnlyTheMailItWasWrittenFor) {
    Store s;
    s.add("1700000000.M1P1Q1.host:2,S", kEins);
    {
        Journal journal(s.ablage_win);
        s.file_all(&journal);  // stored, but the journal stays: the kill came before its end
    }
    s.add("1700000001.M2P1Q1.host:2,S", kEins);
    {
        Journal journal(s.ablage_win);
        s.file_all(&journal);
    }
    auto links = all_links(s);
    EXPECT_EQ(links.size(), 2u);
    EXPECT_EQ(std::set<std::string>(links.begin(), links.end()).size(), 2u)
        << "two mails link one storage file";
    // The record's own mail, unsaved after a kill, still finds its file.
    Store t;
    t.add("1700000000.M1P1Q1.host:2,S", kEins);
    {
        Journal journal(t.ablage_win);
        t.file_all(&journal);
    }
    for (const auto& f : t.mail_files()) fs::remove(f);
    t.add("1700000000.M1P1Q1.host:2,S", kEins);
    Journal journal(t.ablage_win);
    t.file_all(&journal);
    EXPECT_EQ(folder_state(t.ablage).size(), 2u);  // one file and the journal
}

TEST(FilingJournal, AnythingButARegularFileStopsTheRun) {
    const struct {
        const char* what;
        std::function<void(const std::string& journal)> make;
    } table[] = {
        {"a FIFO", [](const std::string& j) { ASSERT_EQ(::mkfifo(j.c_str(), 0600), 0); }},
        {"a folder", [](const std::string& j) { fs::create_directory(j); }},
        {"a link to a file",
         [](const std::string& j) {
             std::ofstream(j + ".ziel") << "";
             fs::create_symlink(j + ".ziel", j);
         }},
        {"a dangling link", [](const std::string& j) { fs::create_symlink("/nirgends", j); }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        Store s;
        row.make(s.ablage + "/.morvo-journal");
        Journal journal(s.ablage_win);  // a blocking open would hang here
        EXPECT_NE(journal.problem().find(".morvo-journal"), std::string::npos) << journal.problem();
        EXPECT_FALSE(journal.record({"id", "a.txt", std::string(64, 'a'), s.ablage_win + "\\x"}));
    }
}

// 200 MB, most of it one line without an end: read as a stream, in little memory, and the
// record after it still serves.
TEST(FilingJournal, ABigJournalIsReadInLittleMemory) {
    Store s;
    s.add("1700000000.M1P1Q1.host:2,S", kEins);
    std::ofstream(s.ablage + "/a_alt.txt") << "eins";
    const std::string line = planted_line(s, s.ablage_win + "\\a_alt.txt");
    const std::string journal = s.ablage + "/.morvo-journal";
    {
        std::ofstream(journal) << "F\t";
        fs::resize_file(journal, 200u << 20);  // a hole: no disk space spent
        std::ofstream(journal, std::ios::app) << "\n" << line;
    }
    const std::string id = s.first().EntryID(), sha = outlook::sha256_hex("eins");
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        struct rusage before {
        }, after{};
        ::getrusage(RUSAGE_SELF, &before);
        Journal j(s.ablage_win);
        const bool found = j.take_filed(id, "a.txt", sha) == s.ablage_win + "\\a_alt.txt";
        ::getrusage(RUSAGE_SELF, &after);
        const long grown_kb = after.ru_maxrss - before.ru_maxrss;
        const long report[2] = {found ? 1 : 0, grown_kb};
        (void)!::write(pipefd[1], report, sizeof report);
        ::_exit(0);
    }
    ::close(pipefd[1]);
    long report[2] = {0, -1};
    ASSERT_EQ(::read(pipefd[0], report, sizeof report), static_cast<ssize_t>(sizeof report));
    ::close(pipefd[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(report[0], 1) << "the record after the long line was lost";
    EXPECT_LT(report[1], 16 * 1024) << "KB grown while reading the journal";
}

}  // namespace
}  // namespace morvo
