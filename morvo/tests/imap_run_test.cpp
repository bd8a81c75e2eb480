// The archiving run over an IMAP account gives what it gives over the same store as Maildir:
// the same filed files, the same run text and counters, the same mails afterwards (bodies and
// attachments), the flags and internal dates kept, no mail lost or duplicated.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>

#include "morvo/run.h"
#include "morvo/settings.h"
#include "morvo/tests/imap_test_util.h"
#include "platform/msgbox.h"
#include "platform/paths.h"

namespace morvo {
namespace {

using outlook::test::DovecotAccount;
using outlook::test::GeneratedStore;
using outlook::test::store_name;
using outlook::test::TempDir;

class HeadlessView : public RunView {
  public:
    void focus_Textbox2() override {}
    void enable_run_buttons(bool) override {}
    void set_Text1(const std::string&) override {}
    void select_first_tab() override {}
    std::string Textbox2_text() override { return text; }
    void set_Textbox2(const std::string& t) override { text = t; }
    void Textbox2_caret_to_end() override {}
    void set_status(const std::string& t) override { status = t; }
    void show_log_button() override {}
    std::string text, status;
};

struct RunResult {
    RunOutcome outcome;
    std::string text;
    std::map<std::string, std::string> files;
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
    outlook::flush_saves();
    r.text = view.text;
    for (const auto& e : std::filesystem::directory_iterator(storage))
        r.files[e.path().filename().string()] = outlook::test::read_bytes(e.path().string());
    return r;
}

// What a reader sees, without positions: a saved IMAP message comes after the unsaved ones in
// a new listing (it has the highest UID).
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
    EXPECT_EQ(over_imap.outcome.counters.iordner, over_maildir.outcome.counters.iordner);
    EXPECT_EQ(over_imap.outcome.counters.imail, over_maildir.outcome.counters.imail);
    EXPECT_EQ(over_imap.outcome.counters.ianlage, over_maildir.outcome.counters.ianlage);
    EXPECT_GE(over_imap.outcome.counters.ianlage, 9);
    EXPECT_EQ(over_imap.outcome.closing_status, over_maildir.outcome.closing_status);
    EXPECT_EQ(over_imap.text, over_maildir.text);
    EXPECT_EQ(over_imap.files, over_maildir.files);
    EXPECT_EQ(over_imap.files.size(), static_cast<size_t>(over_imap.outcome.counters.ianlage));

    // Afterwards both stores hold the same mails (bodies with their links, the attachments
    // left), none lost, none twice; flags and internal dates are those of before.
    EXPECT_EQ(after_imap, contents(maildir.ns()));
    EXPECT_EQ(flag_states(account, "INBOX"), inbox_before);
    EXPECT_EQ(flag_states(account, "Massenpost"), bulk_before);

    // A second run finds nothing left to file.
    RunResult again = run_over(config_of(account), lines, storage);
    EXPECT_EQ(again.outcome.counters.ianlage, 0);
    EXPECT_EQ(again.outcome.counters.imail, over_imap.outcome.counters.imail);
    EXPECT_EQ(flag_states(account, "INBOX"), inbox_before);
}

// The run resumes past a failed creation of the application: no folder is processed, nothing
// is filed and the account is untouched; the run's text says why.
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
                         "Keine Verbindung zum Mailprogramm: Keine sichere Verbindung zum "
                         "IMAP-Server 127.0.0.1:"});
    auto before = flag_states(account, "INBOX");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        RunResult r =
            run_over(c.config, {store_name + std::string("|Posteingang")}, work.path() + "/ablage");
        EXPECT_TRUE(r.outcome.confirmed);
        EXPECT_EQ(r.outcome.counters.ianlage, 0);
        EXPECT_EQ(r.outcome.counters.imail, 0);
        EXPECT_TRUE(r.files.empty());
        EXPECT_NE(r.text.find("Ordner: 0"), std::string::npos) << r.text;
        EXPECT_NE(r.text.find(std::string("Keine Verbindung zum Mailprogramm: ")),
                  std::string::npos)
            << r.text;
        EXPECT_NE(r.text.find(c.why), std::string::npos) << r.text;
    }
    EXPECT_EQ(flag_states(account, "INBOX"), before);
}

}  // namespace
}  // namespace morvo
