// The archiving run over an IMAP account gives what it gives over the same store as Maildir:
// the same filed files, the same run text and counters, the same mails afterwards (bodies and
// attachments), the flags and internal dates kept, no mail lost or duplicated.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <regex>
#include <thread>

#include "morvo/outlook/imap_store.h"

#include "morvo/run.h"
#include "morvo/settings.h"
#include "morvo/tests/fault_relay.h"
#include "morvo/tests/imap_test_util.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "testsupport/headless_run_view.h"

namespace morvo {
namespace {

using outlook::test::DovecotAccount;
using outlook::test::FaultRelay;
using outlook::test::GeneratedStore;
using outlook::test::store_name;
using outlook::test::TempDir;

// Counts what the command line turns into its exit status.
struct HeadlessView : testsupport::HeadlessRunView {
    void something_stayed() override { ++stayed; }
    long stayed = 0;
};

struct RunResult {
    RunOutcome outcome;
    std::string text;
    std::map<std::string, std::string> files;
    long stayed = 0;
};

// Runs in the storage folder `storage` (emptied first), so that links in bodies and the run
// text are the same for every store.
RunResult run_over(const outlook::StoreConfig& store, const std::vector<std::string>& lines,
                   const std::string& storage) {
    std::filesystem::remove_all(storage);
    std::filesystem::create_directories(storage);
    std::string storage_win = platform::windows_path(storage);
    std::string ini = platform::windows_path(storage + "/../morvo.ini");
    write_text_file(ini, settings_file_text(storage_win + "\\", lines));
    RunEnvironment env = default_run_environment(ini);
    env.clock = [] { return Stamp{2024, 3, 1, 8, 30, 15}; };
    env.create_application = [&] { return outlook::Application::with_stores({store}); };
    platform::ScopedMsgBoxHandler yes(
        [](const platform::MsgBoxRequest&) { return platform::Result::Yes; });
    HeadlessView view;
    RunResult r;
    r.outcome = run_archive(view, env);
    r.text = view.text;
    r.stayed = view.stayed;
    for (const auto& e : std::filesystem::directory_iterator(storage))
        r.files[e.path().filename().string()] = outlook::test::read_bytes(e.path().string());
    return r;
}

// What a reader sees, without positions: a saved IMAP message keeps its received time but gets
// a new UID, so mails received in the same second may change places.
std::vector<std::string> contents(const outlook::NameSpace& ns) {
    std::vector<std::string> out;
    for (auto line : outlook::test::describe(ns)) {
        out.push_back(std::regex_replace(line, std::regex(" #[0-9]+: "), ": "));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::multiset<std::string> flag_states(const DovecotAccount& a, const std::string& mailbox) {
    std::multiset<std::string> out;
    for (const auto& [uid, text] : a.state(mailbox)) out.insert(text);
    return out;
}

// How the run reaches the account: plain IMAP, imaps:// or STARTTLS (with the server's CA).
class ImapRunOver : public ::testing::TestWithParam<std::string> {
  protected:
    outlook::StoreConfig config_of(const DovecotAccount& account) const {
        if (GetParam() == "plain") return account.config();
        return account.tls_config(GetParam(), outlook::test::env("VELTRIN_IMAP_CA"));
    }
};

INSTANTIATE_TEST_SUITE_P(Connections, ImapRunOver, ::testing::Values("plain", "imaps", "starttls"),
                         [](const auto& info) { return info.param; });

TEST_P(ImapRunOver, ArchivingOverImapEqualsArchivingOverMaildir) {
    REQUIRE_DOVECOT();
    if (GetParam() != "plain") REQUIRE_DOVECOT_TLS();
    mkmailstore::Options opt;
    opt.bulk_mails = 3;
    opt.attachment_size = 4096;
    DovecotAccount account(opt);
    GeneratedStore maildir("maildir++", opt);
    const std::vector<std::string> lines = {
        store_name + std::string("|Posteingang"), store_name + std::string("|Massenpost"),
        store_name + std::string("|Entwürfe"), store_name + std::string("|Archiv|2023|März")};
    auto inbox_before = flag_states(account, "INBOX");
    auto bulk_before = flag_states(account, "Massenpost");

    TempDir work;
    const std::string storage = work.path() + "/ablage";
    RunResult over_imap = run_over(config_of(account), lines, storage);
    auto after_imap = contents(account.ns());
    RunResult over_maildir =
        run_over(outlook::test::store_config(store_name, maildir.root), lines, storage);

    EXPECT_TRUE(over_imap.outcome.confirmed);
    EXPECT_EQ(over_imap.outcome.counters.folders, over_maildir.outcome.counters.folders);
    EXPECT_EQ(over_imap.outcome.counters.mails, over_maildir.outcome.counters.mails);
    EXPECT_EQ(over_imap.outcome.counters.attachments, over_maildir.outcome.counters.attachments);
    EXPECT_GE(over_imap.outcome.counters.attachments, 9);
    EXPECT_EQ(over_imap.outcome.closing_status, over_maildir.outcome.closing_status);
    EXPECT_EQ(over_imap.text, over_maildir.text);
    EXPECT_EQ(over_imap.files, over_maildir.files);
    EXPECT_EQ(over_imap.files.size(), static_cast<size_t>(over_imap.outcome.counters.attachments));

    // Afterwards both stores hold the same mails (bodies with their links, the attachments
    // left), none lost, none twice; flags and internal dates are those of before.
    EXPECT_EQ(after_imap, contents(maildir.ns()));
    EXPECT_EQ(flag_states(account, "INBOX"), inbox_before);
    EXPECT_EQ(flag_states(account, "Massenpost"), bulk_before);

    // A second run finds nothing left to file.
    RunResult again = run_over(config_of(account), lines, storage);
    EXPECT_EQ(again.outcome.counters.attachments, 0);
    EXPECT_EQ(again.outcome.counters.mails, over_imap.outcome.counters.mails);
    EXPECT_EQ(flag_states(account, "INBOX"), inbox_before);
}

// An account that cannot be opened: its folder line stays undone, nothing is filed and the
// account is untouched; the run's text names the line and why.
TEST(ImapRun, ServerThatRefusesTheLoginOrAnUntrustedCertificateFilesNothingAndLosesNothing) {
    REQUIRE_DOVECOT();
    DovecotAccount account;
    struct Case {
        const char* name;
        outlook::StoreConfig config;
        const char* why;
    };
    std::vector<Case> cases = {{"wrong password", account.config("wrong"), "Kennwort"}};
    if (!outlook::test::env("VELTRIN_IMAPS_PORT").empty())  // checked against the system's CAs
        cases.push_back({"untrusted certificate", account.tls_config("imaps", ""),
                         "Keine sichere Verbindung zum IMAP-Server 127.0.0.1:"});
    auto before = flag_states(account, "INBOX");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        RunResult r =
            run_over(c.config, {store_name + std::string("|Posteingang")}, work.path() + "/ablage");
        EXPECT_TRUE(r.outcome.confirmed);
        EXPECT_EQ(r.outcome.counters.attachments, 0);
        EXPECT_EQ(r.outcome.counters.mails, 0);
        EXPECT_TRUE(r.files.empty());
        EXPECT_NE(r.text.find("Ordner: 0"), std::string::npos) << r.text;
        EXPECT_NE(r.text.find("Der Ordner in der: 1 Zeile kann nicht gelesen werden: "),
                  std::string::npos)
            << r.text;
        EXPECT_GT(r.stayed, 0);
        EXPECT_NE(r.text.find(c.why), std::string::npos) << r.text;
    }
    EXPECT_EQ(flag_states(account, "INBOX"), before);
}

// Per folder its counts, per mail its subject and the attachments it still has; sorted.
std::vector<std::string> mails_of(const outlook::NameSpace& ns) {
    std::vector<std::string> out;
    for (auto line : outlook::test::describe(ns)) {
        line = std::regex_replace(line, std::regex(" #[0-9]+: "), ": ");
        size_t bar = line.find(" | ");  // the body's hash: its links name files of this run
        size_t body_end = bar == std::string::npos ? bar : line.find(" | ", bar + 3);
        if (bar != std::string::npos)
            line =
                line.substr(0, bar) + (body_end == std::string::npos ? "" : line.substr(body_end));
        out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::multiset<std::uint64_t> hashes(const RunResult& r) {
    std::multiset<std::uint64_t> out;
    for (const auto& [name, bytes] : r.files) out.insert(mkmailstore::fnv1a64(bytes));
    return out;
}

// A save that breaks at any step is reported by its run, and the next run completes it: every
// mail is there once, every attachment filed, no copy left by the broken save.
TEST(ImapRun, SaveBrokenAtEachStepIsReportedAndCompletedByTheNextRunWithoutLossOrDuplicate) {
    REQUIRE_DOVECOT();
    using F = FaultRelay::Fault;
    struct Case {
        const char* step;
        const char* trigger;
        F fault;
        const char* says;    // what the run tells of the state it left
        bool read = false;   // broken while reading, saves maybe complete
        bool plain = false;  // no CONDSTORE: the flags are read again at the save
    };
    const char* const unchanged = "bleiben unverändert";
    const char* const copies = "Neue Kopien können neben den unveränderten Emails liegen";
    const char* const marked = "als gelöscht markiert sein können";
    const Case cases[] = {
        {"after the FETCH", "BODY.PEEK[]", F::close_after, "unterbrochen", true},
        {"in the APPEND literal", "APPEND ", F::close_in_literal, copies},
        {"after the APPEND, before the STORE", "UID STORE", F::close_before, marked},
        {"after the STORE, before the EXPUNGE", "UID EXPUNGE", F::close_before, marked},
        {"APPEND answers never sent", "APPEND ", F::no_answer, copies},
        {"FETCH answer cut short", "BODY.PEEK[]", F::answer_cut, "unterbrochen", true},
        {"flags read, server silent", "(FLAGS INTERNALDATE", F::no_answer, unchanged, false, true},
    };
    mkmailstore::Options opt;
    opt.bulk_only = true;
    opt.bulk_mails = 4;
    opt.attachment_size = 4096;
    const std::vector<std::string> lines = {store_name + std::string("|Massenpost")};
    TempDir work;
    const std::string storage = work.path() + "/ablage";
    GeneratedStore maildir("maildir++", opt);
    RunResult reference =
        run_over(outlook::test::store_config(store_name, maildir.root), lines, storage);
    const auto expected = mails_of(maildir.ns());
    ASSERT_GE(reference.outcome.counters.attachments, 4);
    outlook::detail::set_imap_timeout(2000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        DovecotAccount account(opt);
        RunResult broken, next;
        {
            FaultRelay relay(c.trigger, c.fault);
            relay.hide_condstore = c.plain;
            outlook::StoreConfig config = account.config();
            config.location = "imap://" + account.user + "@127.0.0.1:" + std::to_string(relay.port);
            broken = run_over(config, lines, storage);
            EXPECT_TRUE(relay.fired);
        }
        EXPECT_NE(broken.text.find("Beim IMAP-Server ging nicht alles gut"), std::string::npos)
            << broken.text;
        EXPECT_NE(broken.text.find(c.says), std::string::npos) << broken.text;
        if (c.says != unchanged && !c.read) {
            EXPECT_EQ(broken.text.find(unchanged), std::string::npos);
        }
        EXPECT_GT(broken.stayed, 0);  // the exit status says it too
        next = run_over(account.config(), lines, storage);
        EXPECT_EQ(next.text.find("Beim IMAP-Server"), std::string::npos) << next.text;
        EXPECT_EQ(next.outcome.closing_status, reference.outcome.closing_status);
        EXPECT_EQ(mails_of(account.ns()), expected);
        auto filed = hashes(broken);
        for (auto h : hashes(next)) filed.insert(h);
        for (auto h : hashes(reference)) EXPECT_EQ(filed.count(h) > 0, true) << h;
    }
    outlook::detail::set_imap_timeout(60000);
}

// Another client acts on the mails at an exact step of their save: what it did stays done, no
// mail comes back or is doubled, and a save that could not complete is counted.
class AnotherClient : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Server, AnotherClient, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "condstore" : "plain"; });

TEST_P(AnotherClient, ChangeAtEachStepOfASaveIsNeverUndone) {
    REQUIRE_DOVECOT();
    using Conn = outlook::imap::Connection;
    const std::string box = "Massenpost";
    struct Case {
        const char* what;
        const char* trigger;
        std::function<void(Conn&)> act;
        long left;    // messages in the folder afterwards; -1: the folder is gone
        long moved;   // messages added to INBOX
        bool failed;  // the run reports a save that did not complete
    };
    // The four originals are UIDs 1 to 4; new copies come after them.
    auto flag = [&](Conn& c) {
        c.command("SELECT " + box, "select");
        c.command("UID STORE 1:4 +FLAGS (\\Flagged $Client)", "flag");
        c.command("UID STORE 1:4 -FLAGS (\\Seen)", "flag");
    };
    auto remove = [&](Conn& c) {
        c.command("SELECT " + box, "select");
        c.command("UID STORE 1:4 +FLAGS (\\Deleted)", "delete");
        c.command("UID EXPUNGE 1:4", "delete");
    };
    auto move = [&](Conn& c) {
        c.command("SELECT " + box, "select");
        c.command("UID MOVE 1:4 INBOX", "move");
    };
    auto drop_folder = [&](Conn& c) { c.command("DELETE " + box, "delete folder"); };
    const Case cases[] = {
        {"flags before the APPEND", "APPEND ", flag, 4, 0, false},
        {"flags before the STORE", "UID STORE", flag, 4, 0, false},
        {"deleted before the APPEND", "APPEND ", remove, 0, 0, true},
        {"deleted before the STORE", "UID STORE", remove, 0, 0, true},
        {"moved before the APPEND", "APPEND ", move, 0, 4, true},
        {"moved before the STORE", "UID STORE", move, 0, 4, true},
        {"folder deleted before the APPEND", "APPEND ", drop_folder, -1, 0, true},
    };
    mkmailstore::Options opt;
    opt.bulk_only = true;
    opt.bulk_mails = 4;
    opt.attachment_size = 4096;
    const std::vector<std::string> lines = {store_name + std::string("|") + box};
    TempDir work;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DovecotAccount account(opt);
        const size_t inbox = account.state("INBOX").size();
        RunResult r;
        {
            auto other = account.raw();
            FaultRelay relay(c.trigger, FaultRelay::Fault::pause, [&] { c.act(*other); });
            relay.hide_condstore = !GetParam();
            outlook::StoreConfig config = account.config();
            config.location = "imap://" + account.user + "@127.0.0.1:" + std::to_string(relay.port);
            r = run_over(config, lines, work.path() + "/ablage");
            EXPECT_TRUE(relay.fired);
        }
        EXPECT_EQ(r.stayed > 0, c.failed) << r.text;
        EXPECT_EQ(r.text.find("Beim IMAP-Server") != std::string::npos, c.failed) << r.text;
        EXPECT_EQ(account.state("INBOX").size(), inbox + c.moved);
        if (c.left < 0) {
            EXPECT_NE(outlook::test::error_of([&] { account.state(box); }), "");
            continue;
        }
        const auto after = account.state(box);
        EXPECT_EQ(static_cast<long>(after.size()), c.left);
        for (const auto& [uid, flags] : after) {  // only the flag cases keep mails here
            EXPECT_NE(flags.find("\\Flagged"), std::string::npos) << flags;
            EXPECT_NE(flags.find("$Client"), std::string::npos) << flags;
            EXPECT_EQ(flags.find("\\Seen"), std::string::npos) << flags;
        }
    }
}

}  // namespace
}  // namespace morvo
