#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <set>

#include "morvo/filing.h"
#include "morvo/run.h"
#include "morvo/tests/gui/morvo_gui_util.h"
#include "morvo/tests/imap_test_util.h"
#include "platform/codepage.h"

namespace morvo::test {
namespace {

const std::string kStore = outlook::test::store_name;

using outlook::test::with_bulk;

void write_ini(const std::string& host, const std::string& storage,
               const std::vector<std::string>& lines) {
    std::string text = "[Pfad Ablage]\r\n" + storage + "\r\n\r\n[Pfad MS Outlook]\r\n";
    for (const auto& l : lines) text += l + "\r\n";
    std::ofstream(host, std::ios::binary) << platform::utf8_to_cp1252(text);
}

std::string textbox2(frmMorvo& f) {
    return f.Textbox2->toPlainText().toStdString();
}

// Every file of a folder, name -> bytes.
std::map<std::string, std::string> files_in(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out[e.path().filename().string()] = outlook::test::read_bytes(e.path().string());
    return out;
}

// Where the run's mails live: the generated store as a Maildir folder, or the same store (same
// generator, same seed) as an account on the test IMAP server.
enum class Backend { maildir, imap };

void PrintTo(Backend b, std::ostream* os) {
    *os << (b == Backend::imap ? "imap" : "maildir");
}

struct RunFixture : MorvoFixture {
    TempDir ablage;
    std::string ablage_win;
    std::unique_ptr<outlook::test::DovecotAccount> account;  // over IMAP only
    explicit RunFixture(Backend backend = Backend::maildir) : MorvoFixture(with_bulk(3)) {
        ablage_win = platform::windows_path(ablage.path());
        if (backend == Backend::imap) {
            account = std::make_unique<outlook::test::DovecotAccount>(with_bulk(3));
            outlook::set_store_override(std::vector<outlook::StoreConfig>{account->config()});
        }
    }

    outlook::NameSpace ns() const { return account ? account->ns() : store.ns(); }

    // A manifest mail in a fresh namespace. In a Maildir store by its position, which a save
    // keeps; over IMAP by its subject (unique within a folder of the sample): a saved message
    // gets a new UID and so comes after the unsaved ones of the same received time.
    outlook::MailItem item(const outlook::NameSpace& n, const mkmailstore::MailInfo& mail) const {
        if (!account) return store.item(n, mail);
        outlook::MAPIFolder folder = store.folder(n, mail.folder);
        outlook::MailItem found;
        for (long i = 1; i <= folder.Items().Count(); ++i)
            if (subject_or_error(folder.Items(i)) == mail.subject) {
                EXPECT_TRUE(found.is_nothing()) << "twice: " << mail.subject;
                found = folder.Items(i);
            }
        EXPECT_FALSE(found.is_nothing()) << "missing: " << mail.subject;
        return found;
    }

    static std::string subject_or_error(const outlook::MailItem& m) {
        try {
            return m.Subject();
        } catch (const platform::Error& e) {
            return "error " + std::to_string(e.number);  // a damaged mail
        }
    }

    // The subjects of a folder's mails in a fresh namespace, sorted: a mail lost or doubled by
    // the run shows here.
    std::vector<std::string> subjects(const std::string& folder_path) const {
        auto n = ns();
        outlook::MAPIFolder folder = store.folder(n, folder_path);
        std::vector<std::string> out;
        for (long i = 1; i <= folder.Items().Count(); ++i)
            out.push_back(subject_or_error(folder.Items(i)));
        std::sort(out.begin(), out.end());
        return out;
    }

    // The flags of a folder's mails (over IMAP with the received time): the run keeps them.
    std::multiset<std::string> flags(const std::string& folder_path) const {
        std::multiset<std::string> out;
        if (account) {
            for (const auto& [uid, state] :
                 account->state(folder_path == "Posteingang" ? "INBOX" : folder_path))
                out.insert(state);
            return out;
        }
        std::string dir =
            folder_path == "Posteingang" ? store.root : store.root + "/." + folder_path;
        for (const auto& file : store.mail_files(dir)) {
            size_t info = file.rfind(":2,");
            out.insert(info == std::string::npos ? "" : file.substr(info + 3));
        }
        return out;
    }

    // Every mail with its bytes (and over IMAP its flags and received time).
    std::map<std::string, std::string> snapshot() const {
        if (account) return account->snapshot();
        std::map<std::string, std::string> out;
        for (const auto& [file, hash] : store.snapshot()) out[file] = std::to_string(hash);
        return out;
    }
};

class RunOver : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        if (GetParam() == Backend::imap) REQUIRE_DOVECOT();
        fixture = std::make_unique<RunFixture>(GetParam());
    }
    void TearDown() override { fixture.reset(); }
    std::unique_ptr<RunFixture> fixture;
};

INSTANTIATE_TEST_SUITE_P(Stores, RunOver, ::testing::Values(Backend::maildir, Backend::imap),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return info.param == Backend::imap ? "imap" : "maildir";
                         });

TEST_P(RunOver, FilesEveryQualifyingAttachment) {
    RunFixture& fx = *fixture;
    write_ini(fx.ini_host(), fx.ablage_win, {kStore + "|Posteingang", kStore + "|Massenpost"});
    long expected_mails = 0;
    {
        auto ns = fx.ns();
        expected_mails = fx.store.folder(ns, "Posteingang").Items().Count() +
                         fx.store.folder(ns, "Massenpost").Items().Count();
    }
    const auto subjects_before = fx.subjects("Posteingang");
    const auto bulk_subjects_before = fx.subjects("Massenpost");
    const auto flags_before = fx.flags("Posteingang");
    const auto bulk_flags_before = fx.flags("Massenpost");
    auto f = fx.start_form();
    fx.boxes.shown.clear();
    fx.boxes.answers = {platform::Result::Yes};
    f->comB_start_Click();
    ASSERT_FALSE(fx.boxes.shown.empty());
    EXPECT_EQ(fx.boxes.shown[0].title, kRunWarningTitle);
    EXPECT_EQ(fx.boxes.shown[0].buttons, platform::Buttons::YesNo);

    // Every qualifying attachment is a file with the original bytes; the others stay.
    auto stored = files_in(fx.ablage.path());
    std::multiset<std::string> stored_bytes;
    for (auto& [name, bytes] : stored) stored_bytes.insert(bytes);
    // No mail lost or doubled, every flag kept.
    EXPECT_EQ(fx.subjects("Posteingang"), subjects_before);
    EXPECT_EQ(fx.subjects("Massenpost"), bulk_subjects_before);
    EXPECT_EQ(fx.flags("Posteingang"), flags_before);
    EXPECT_EQ(fx.flags("Massenpost"), bulk_flags_before);
    auto ns = fx.ns();
    int filed = 0;
    for (const auto& mail : fx.store.manifest.mails) {
        if (mail.folder != "Posteingang" && mail.folder != "Massenpost") continue;
        if (mail.damaged) continue;
        SCOPED_TRACE(mail.subject);
        auto item = fx.item(ns, mail);
        std::vector<std::string> left;
        for (long i = 1; i <= item.Attachments().Count(); ++i)
            left.push_back(item.Attachments(i).DisplayName());
        std::vector<std::string> links;
        for (const auto& a : mail.attachments) {
            bool q = passes_filter(a.display_name, a.display_name);
            bool still = std::find(left.begin(), left.end(), a.display_name) != left.end();
            EXPECT_EQ(still, !q) << a.display_name;
            if (!q) continue;
            ++filed;
            auto it = stored_bytes.find(a.bytes);
            ASSERT_NE(it, stored_bytes.end()) << a.display_name;
            stored_bytes.erase(it);
            links.push_back(platform::file_url(fx.ablage_win) + "/");
        }
        // The body begins with one link per filed attachment, the last filed first.
        std::string body = item.Body();
        size_t at = 0;
        for (size_t k = links.size(); k-- > 0;) {
            ASSERT_EQ(body.compare(at, links[k].size(), links[k]), 0) << body.substr(0, 200);
            at = body.find("\r\n\r\n", at);
            ASSERT_NE(at, std::string::npos);
            at += 4;
        }
    }
    EXPECT_TRUE(stored_bytes.empty());
    EXPECT_EQ(filed, 3 + 2 * 3);
    const std::string bulk_body = fx.item(ns, *fx.store.mails_in("Massenpost")[0]).Body();
    EXPECT_NE(bulk_body.find("Notiz_"), std::string::npos);
    EXPECT_LT(bulk_body.find("Notiz_"), bulk_body.find("Anlage_"));

    const std::string t = textbox2(*f);
    EXPECT_EQ(t.rfind("Willkommen zum Morvo", 0), 0u);
    EXPECT_NE(t.find("Bearbeitet wurden insgesamt:\nOrdner: 2\nEmail:    " +
                     std::to_string(expected_mails) + "\nAnlage: " + std::to_string(filed) +
                     "\n\nFERTIG --- KEINE WEITERE DATEN VORHANDEN!"),
              std::string::npos);
    EXPECT_NE(t.find("Bearbeitet wird Email: Rechnung März\nmit Anhang: file:" + fx.ablage.path() +
                     "/Rechnung_Maerz_"),
              std::string::npos);
    EXPECT_EQ(status_of(*f), fx.ablage.path() + "/ ist eine lokale Festplatte! Pfad gespeichert!");
    EXPECT_TRUE(f->comB_log->isVisible());
    EXPECT_TRUE(f->comB_start->isEnabled());
    EXPECT_TRUE(f->comB_schliessen->isEnabled());

    // The log: the text box in UTF-8 with LF under the time-stamped name; the button hides.
    f->comB_log_Click();
    EXPECT_FALSE(f->comB_log->isVisible());
    const std::string st = status_of(*f);
    ASSERT_EQ(st.rfind("log gespeichert unter: ", 0), 0u);
    const std::string log_host = st.substr(std::string("log gespeichert unter: ").size());
    EXPECT_EQ(log_host.rfind(fx.program.path() + "/morvo_", 0), 0u);
    const std::string log = outlook::test::read_bytes(log_host);
    EXPECT_EQ(log, t + "\n");
}

TEST_P(RunOver, NoTouchesNothing) {
    RunFixture& fx = *fixture;
    write_ini(fx.ini_host(), fx.ablage_win, {kStore + "|Posteingang"});
    auto before = fx.snapshot();
    auto f = fx.start_form();
    fx.boxes.answers = {platform::Result::No};
    f->comB_start_Click();
    EXPECT_EQ(fx.snapshot(), before);
    EXPECT_TRUE(files_in(fx.ablage.path()).empty());
    EXPECT_EQ(textbox2(*f), "Willkommen zum Morvo");
    EXPECT_EQ(status_of(*f), "Abbruch nach Benutzerwunsch!");
    EXPECT_TRUE(f->comB_log->isVisible());
}

TEST_P(RunOver, MissingFolderLineReportsItsOrdinal) {
    RunFixture& fx = *fixture;
    write_ini(fx.ini_host(), fx.ablage_win,
              {kStore + "|Leer", kStore + "|Gibt es nicht", kStore + "|Projekt #1"});
    auto f = fx.start_form();
    fx.boxes.answers = {platform::Result::Yes};
    f->comB_start_Click();
    const std::string t = textbox2(*f);
    EXPECT_NE(t.find("\n\n\nDer angegebene Ordner in der: 2 Zeile ist nicht vorhanden.\nBitte "
                     "überprüfen!\n\n"),
              std::string::npos);
    // The third line is still handled: "#" turns into "," and that folder is missing too.
    EXPECT_NE(t.find("in der: 3 Zeile"), std::string::npos);
    EXPECT_NE(t.find("Bearbeitet wird Ordner: Leer\nmit insgesamt: 0 Emails!"), std::string::npos);
    EXPECT_NE(t.find("Ordner: 1\nEmail:    0\nAnlage: 0"), std::string::npos);
}

TEST_P(RunOver, StoragePathsThatEndTheRun) {
    RunFixture& fx = *fixture;
    std::string shm = "/dev/shm/morvo_run_" + std::to_string(::getpid());
    std::filesystem::create_directories(shm);
    const std::string shm_win = platform::windows_path(shm);
    struct Case {
        std::string path;
        const char* box;
        std::string closing;
    };
    // Settings in the Windows form (written before) and in the host form end the same way.
    const Case cases[] = {
        {"C:\\Mit Blank", "Überprüfung Pfad",
         "/Mit Blank enthält Leerstellen! Vorgang abgebrochen!"},
        {"/Mit Blank", "Überprüfung Pfad", "/Mit Blank enthält Leerstellen! Vorgang abgebrochen!"},
        {fx.ablage_win + "\\fehlt", nullptr,
         fx.ablage.path() + "/fehlt kann nicht erreicht werden! Vorgang abgebrochen!"},
        {shm_win, "Überprüfung RAM-Disk",
         shm + "/ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
        {shm + "/", "Überprüfung RAM-Disk",
         shm + "/ ist ein RAM-Disk! Pfad wurde nicht gespeichert!"},
    };
    auto before = fx.snapshot();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        write_ini(fx.ini_host(), c.path, {kStore + "|Posteingang"});
        auto f = fx.start_form();
        fx.boxes.shown.clear();
        fx.boxes.answers = {platform::Result::Yes};
        f->comB_start_Click();
        if (c.box) {
            ASSERT_EQ(fx.boxes.shown.size(), 2u);
            EXPECT_EQ(fx.boxes.shown[1].title, c.box);
        } else {
            EXPECT_EQ(fx.boxes.shown.size(), 1u);
        }
        EXPECT_EQ(status_of(*f), c.closing);
        EXPECT_EQ(textbox2(*f), "Willkommen zum Morvo");
    }
    EXPECT_EQ(fx.snapshot(), before);
    std::filesystem::remove_all(shm);
}

TEST(Run, LogThatCannotBeWrittenLeavesButtonAndStatus) {
    RunFixture fx;
    write_ini(fx.ini_host(), fx.ablage_win, {});
    auto f = fx.start_form();
    fx.boxes.answers = {platform::Result::Yes};
    f->comB_start_Click();
    ASSERT_TRUE(f->comB_log->isVisible());
    const std::string status = status_of(*f);
    // Neither the program's folder nor the user's state folder can take it.
    platform::set_app_path(platform::windows_path(fx.program.path() + "/fehlt"));
    const std::string blocked = fx.program.path() + "/blockiert";
    std::ofstream(blocked) << "x";
    const testsupport::ScopedEnv state("XDG_STATE_HOME", blocked);
    fx.boxes.shown.clear();
    f->comB_log_Click();
    platform::set_app_path(platform::windows_path(fx.program.path()));
    EXPECT_TRUE(f->comB_log->isVisible());
    EXPECT_EQ(status_of(*f), status);
    ASSERT_EQ(fx.boxes.shown.size(), 1u);
    EXPECT_NE(fx.boxes.shown[0].text.find("konnte nicht geschrieben werden"), std::string::npos);
}

TEST_P(RunOver, FailedSaveKeepsTheAttachment) {
    RunFixture& fx = *fixture;
    write_ini(fx.ini_host(), fx.ablage_win, {kStore + "|Massenpost"});
    // A folder in the way of every file name: saving fails, nothing may be deleted.
    auto f = fx.start_form();
    FilingEnvironment env = default_filing_environment();
    auto ns = fx.ns();
    auto item = fx.item(ns, *fx.store.mails_in("Massenpost")[0]);
    const long before = item.Attachments().Count();
    std::vector<std::string> texts;
    FilingSink sink;
    sink.add_text = [&](const std::string& t) { texts.push_back(t); };
    const std::string missing = fx.ablage_win + "\\nicht da";
    file_mail_item(item, missing, env, sink);
    auto again = fx.item(fx.ns(), *fx.store.mails_in("Massenpost")[0]);
    EXPECT_EQ(again.Attachments().Count(), before);
    EXPECT_EQ(again.Body().find("file:"), std::string::npos);
    ASSERT_EQ(texts.size(), static_cast<size_t>(before));
    EXPECT_NE(texts[0].find("konnte nicht gespeichert werden"), std::string::npos);
}

// A long run keeps its window painted and can be closed: it stops after the mail at hand with
// every save complete, the box shows the text's end and the log still holds all of it.
TEST(Run, ClosedDuringALongRunStopsWithEverythingSaved) {
    RunFixture fx;
    outlook::test::GeneratedStore big("maildir++", with_bulk(800, 200));
    outlook::set_store_override(
        std::vector{outlook::test::store_config(outlook::test::store_name, big.root)});
    write_ini(fx.ini_host(), fx.ablage_win, {kStore + "|Massenpost"});
    auto f = fx.start_form();
    f->shown_bytes_limit = 600;
    fx.boxes.answers = {platform::Result::Yes};
    QTimer::singleShot(0, f.get(), [&] { f->close(); });
    f->comB_start_Click();
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(status_of(*f), kStoppedStatus);

    const std::string shown = textbox2(*f);
    EXPECT_EQ(shown.rfind("[Ältere Zeilen", 0), 0u) << shown.substr(0, 100);
    EXPECT_TRUE(f->Textbox2->isReadOnly());
    f->comB_log_Click();
    const std::string st = status_of(*f);
    const std::string log = outlook::test::read_bytes(st.substr(st.find(fx.program.path())));
    EXPECT_EQ(log.rfind("Willkommen zum Morvo", 0), 0u);
    const std::string end = "\n\n" + std::string(kStoppedStatus) + "\n";
    EXPECT_EQ(log.substr(log.size() - end.size()), end);
    EXPECT_NE(log.find(shown.substr(shown.find('\n') + 1)), std::string::npos);

    // Fewer than all, and each filed file named in the log and linked from its saved mail.
    const auto files = files_in(fx.ablage.path());
    long lines = 0;
    for (size_t at = 0; (at = log.find("mit Anhang: ", at)) != std::string::npos; ++at) ++lines;
    EXPECT_GT(files.size(), 0u);
    EXPECT_LT(files.size(), 1600u);
    EXPECT_EQ(static_cast<long>(files.size()), lines);
    long records = 0;
    auto ns = big.ns();
    auto folder = big.folder(ns, "Massenpost");
    for (long i = 1; i <= folder.Items().Count(); ++i)
        records += static_cast<long>(folder.Items(i).FilingRecords().size());
    EXPECT_EQ(records, lines);
}

}  // namespace
}  // namespace morvo::test
