// The binding over IMAP against a real Dovecot server on loopback (scripts/imap-server; the
// tests skip when VELTRIN_IMAP_PORT is not set). Every account is a generated store, so the
// IMAP view can be compared with the Maildir view of the same store.

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "morvo/tests/imap_test_util.h"

namespace morvo::outlook {
namespace {

// The shared IMAP test helpers: accounts, stores, descriptions.
using namespace test;

TEST(ImapStore, ReadingMarksNothingAsRead) {
    REQUIRE_DOVECOT();
    DovecotAccount account;
    auto before = account.state("INBOX");
    EXPECT_GT(describe(account.ns()).size(), 40u);
    EXPECT_EQ(account.state("INBOX"), before);
    bool some_unread = false;
    for (const auto& [uid, text] : before)
        if (text.find("\\Seen") == std::string::npos) some_unread = true;
    EXPECT_TRUE(some_unread);
}

TEST(ImapStore, SaveKeepsFlagsAndDateAndLeavesExactlyOneCopy) {
    REQUIRE_DOVECOT();
    GeneratedStore reference;
    for (const char* subject : {"Angebot mit Bild", "WG: Vertrag"}) {
        SCOPED_TRACE(subject);
        DovecotAccount account;
        const auto& m = reference.mail(subject);
        ASSERT_FALSE(m.attachments.empty());
        std::string mailbox = "INBOX";
        NameSpace ns = account.ns();
        MAPIFolder folder = reference.folder(ns, m.folder);
        long pos = reference.position(m);
        ASSERT_EQ(folder.Items(pos).Subject(), m.subject);
        // The mailbox of the folder: found through the state of INBOX only when it lives there.
        ASSERT_EQ(m.folder, "Posteingang") << "test expects inbox mails";
        auto before = account.state(mailbox);
        {
            MailItem item = folder.Items(pos);
            item.Attachments(1).Delete();
            item.Save();
        }
        {
            MailItem item = folder.Items(pos);  // same position, now the new message
            item.set_Body("zweimal\r\n" + item.Body());
            item.Save();
        }
        ns.flush_saves();  // both saves in one batch: one new message
        auto after = account.state(mailbox);
        ASSERT_EQ(after.size(), before.size());
        std::vector<std::string> gone, added;
        for (const auto& [uid, text] : before)
            if (!after.count(uid)) gone.push_back(uid);
        for (const auto& [uid, text] : after)
            if (!before.count(uid)) added.push_back(uid);
        ASSERT_EQ(gone.size(), 1u);
        ASSERT_EQ(added.size(), 1u);
        EXPECT_EQ(after[added[0]], before[gone[0]]);  // flags and internal date
        // A fresh namespace reads the changed mail; every other mail is untouched.
        NameSpace fresh = account.ns();
        MAPIFolder again = reference.folder(fresh, m.folder);
        EXPECT_EQ(again.Items().Count(), static_cast<long>(reference.mails_in(m.folder).size()));
        // Mails are listed by received time, which the save keeps; mails received in the same
        // second may stand either side of it, so it is found by its subject.
        // The folder holds damaged mails on purpose; they cannot be the saved one.
        std::vector<MailItem> saved;
        for (long i = 1; i <= again.Items().Count(); ++i) {
            try {
                MailItem item = again.Items(i);
                if (item.Subject() == m.subject) saved.push_back(item);
            } catch (const std::exception&) {
            }
        }
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(saved[0].Attachments().Count(), static_cast<long>(m.attachments.size() - 1));
        EXPECT_EQ(saved[0].Body().rfind("zweimal\r\n", 0), 0u);
        // Same namespace: the position still holds the mail.
        EXPECT_EQ(folder.Items(pos).Subject(), m.subject);
    }
}

TEST(ImapStore, MailsAreListedInReceivedOrderThenByUid) {
    REQUIRE_DOVECOT();
    DovecotAccount account;
    {
        auto c = account.raw();
        struct Mail {
            const char* subject;
            const char* date;
        } mails[] = {{"spaet", "01-Mar-2024 08:00:00 +0000"},
                     {"frueh", "01-Mar-2020 08:00:00 +0000"},
                     {"gleich zwei", "01-Mar-2022 09:00:00 +0100"},
                     {"gleich eins", "01-Mar-2022 08:00:00 +0000"}};
        for (const auto& m : mails)
            c->command({{false, "APPEND \"Leer\" () \"" + std::string(m.date) + "\" "},
                        {true, "Subject: " + std::string(m.subject) + "\r\n\r\nText\r\n"}},
                       "append");
    }
    NameSpace ns = account.ns();
    MAPIFolder leer = ns.Folders(store_name).Folders("Leer");
    std::vector<std::string> subjects;
    for (long i = 1; i <= leer.Items().Count(); ++i) subjects.push_back(leer.Items(i).Subject());
    EXPECT_EQ(subjects, (std::vector<std::string>{"frueh", "gleich zwei", "gleich eins", "spaet"}));
}

// A folder read in several FETCHes: saves in the first and the last, and a mail another client
// deletes before the run reaches it. Every other position keeps its mail, a saved one shows its
// new bytes at once and after the batch, and the server holds each mail once.
TEST(ImapStore, PositionsHoldAcrossReadingsSavesAndAnotherClient) {
    REQUIRE_DOVECOT();
    mkmailstore::Options opt;
    opt.bulk_only = true;
    opt.bulk_mails = 150;  // more than two readings ahead
    opt.attachment_size = 100;
    DovecotAccount account(opt);
    std::vector<std::string> subjects;
    {
        NameSpace first = account.ns();
        MAPIFolder f = first.Folders(store_name).Folders("Massenpost");
        for (long i = 1; i <= f.Items().Count(); ++i) subjects.push_back(f.Items(i).Subject());
    }
    ASSERT_EQ(subjects.size(), 150u);
    NameSpace ns = account.ns();
    MAPIFolder f = ns.Folders(store_name).Folders("Massenpost");
    const long gone = 140;
    const std::string entry = f.Items(gone).EntryID();  // listed, not read
    const std::string uid = entry.substr(entry.rfind('=') + 1);
    auto save = [&](long pos) {
        MailItem m = f.Items(pos);
        m.Attachments(1).Delete();
        m.Save();
    };
    save(1);
    EXPECT_EQ(f.Items(1).Attachments().Count(), 1);  // pending: the new bytes
    {
        auto other = account.raw();
        other->command("SELECT Massenpost", "select");
        other->command("UID STORE " + uid + " +FLAGS (\\Deleted)", "delete");
        other->command("UID EXPUNGE " + uid, "delete");
    }
    for (long i = 1; i <= 150; ++i) {
        SCOPED_TRACE(i);
        std::string err = error_of([&] { EXPECT_EQ(f.Items(i).Subject(), subjects[i - 1]); });
        EXPECT_EQ(err.empty(), i != gone) << err;
    }
    save(150);
    flush_or_throw(ns);
    for (long pos : {1L, 150L}) {
        EXPECT_EQ(f.Items(pos).Subject(), subjects[pos - 1]);
        EXPECT_EQ(f.Items(pos).Attachments().Count(), 1);
    }
    std::multiset<std::string> left;
    NameSpace fresh = account.ns();
    MAPIFolder again = fresh.Folders(store_name).Folders("Massenpost");
    for (long i = 1; i <= again.Items().Count(); ++i) left.insert(again.Items(i).Subject());
    std::multiset<std::string> expected(subjects.begin(), subjects.end());
    expected.erase(expected.find(subjects[gone - 1]));
    EXPECT_EQ(left, expected);
}

TEST(ImapStore, RefusedConnectionWrongPasswordAndPasswordCommand) {
    REQUIRE_DOVECOT();
    DovecotAccount account;
    struct Case {
        StoreConfig config;
        std::string expect;  // "" = opens
    } cases[] = {
        {account.config("wrong"), "wurde abgelehnt (Benutzername oder Kennwort falsch?)"},
        {{store_name, account.location(), "", "", "printf '%s\\nrest' secret", "", ""}, ""},
        {{store_name, account.location(), "", "", "exit 3", "", ""}, "Kennwort-Befehl"},
        {{store_name, "imap://" + account.user + "@127.0.0.1:1", "", "secret", "", "", ""},
         "Die Verbindung zum IMAP-Server 127.0.0.1:1 wurde abgelehnt."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config.location + " " + c.config.password_command);
        Application app = Application::with_stores({c.config});
        std::string err = error_of([&] {
            NameSpace ns = app.GetNamespace("MAPI");
            EXPECT_GT(ns.Folders(store_name).Folders("Posteingang").Items().Count(), 0);
        });
        if (c.expect.empty())
            EXPECT_EQ(err, "");
        else
            EXPECT_NE(err.find(c.expect), std::string::npos) << err;
    }
}

TEST(ImapStore, DroppedConnectionFailsTheCallThenReconnectsAndNothingIsLost) {
    REQUIRE_DOVECOT();
    DovecotAccount account;
    GeneratedStore reference;
    auto before = account.state("INBOX");
    NameSpace ns = account.ns();
    MAPIFolder inbox = ns.Folders(store_name).Folders("Posteingang");
    long count = inbox.Items().Count();
    ASSERT_GT(count, 1);
    EXPECT_FALSE(inbox.Items(1).Subject().empty());
    int pid = account.server_pid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) ::usleep(20000);
    // The next mails were read ahead; saving one needs the server.
    std::string err = error_of([&] {
        MailItem m = inbox.Items(2);
        m.Attachments(1).Delete();
        m.Save();
        flush_or_throw(ns);
    });
    EXPECT_NE(err.find("unterbrochen"), std::string::npos) << err;
    // The next call connects again.
    MailItem m = inbox.Items(2);
    EXPECT_EQ(m.Subject(), reference.mails_in("Posteingang")[1]->subject);
    EXPECT_EQ(account.state("INBOX"), before);
}

TEST(ImapStore, ProfileEntryOpensTheAccount) {
    REQUIRE_DOVECOT();
    DovecotAccount account;
    TempDir dir;
    std::string profile = dir.path() + "/profile.ini";
    std::ofstream(profile) << "[Server]\nName=Server\nLocation=" << account.location()
                           << "\nPasswordCommand=echo " << env("VELTRIN_IMAP_PASSWORD") << "\n";
    auto stores = read_profile(profile);
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_EQ(stores[0].location, account.location());
    EXPECT_EQ(stores[0].password_command, "echo " + env("VELTRIN_IMAP_PASSWORD"));
    NameSpace ns = Application::with_stores(stores).GetNamespace("MAPI");
    EXPECT_EQ(ns.Folders(1).Name(), "Server");
    EXPECT_EQ(ns.Folders("Server").Folders("Entwürfe").Name(), "Entwürfe");
}

}  // namespace
}  // namespace morvo::outlook
