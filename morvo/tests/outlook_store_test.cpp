// Folder walk, lookups, profile and application creation of the mail binding.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "morvo/outlook/mutf7.h"
#include "morvo/tests/outlook_test_util.h"
#include "testsupport/testsupport.h"

namespace morvo::outlook {
namespace {

using test::GeneratedStore;
using test::store_name;
using test::TempDir;

using testsupport::error_of;

std::vector<std::string> names_of(const Folders& fs) {
    std::vector<std::string> out;
    for (long i = 1; i <= fs.Count(); ++i) out.push_back(fs.Item(i).Name());
    return out;
}

// What every backend must do is in store_conformance_test.cpp; here what only a Maildir does.
class LayoutTest : public ::testing::TestWithParam<std::string> {};

TEST_P(LayoutTest, PositionsStayWhileTheNamespaceLives) {
    GeneratedStore s(GetParam());
    NameSpace ns = s.ns();
    MAPIFolder inbox = s.folder(ns, "Posteingang");
    long n = inbox.Items().Count();
    std::vector<std::string> before;
    for (long i = 1; i <= n; ++i) before.push_back(s.mails_in("Posteingang")[i - 1]->file);
    // A mail delivered now shows only in a new namespace.
    std::ofstream(s.root + "/new/1.M1P1Q1.late") << "From: a@b\nSubject: spät\n\nx\n";
    EXPECT_EQ(s.folder(ns, "Posteingang").Items().Count(), n);
    EXPECT_EQ(s.folder(s.ns(), "Posteingang").Items().Count(), n + 1);
    // ... sorted by delivery name, so the early name comes first.
    EXPECT_EQ(s.folder(s.ns(), "Posteingang").Items(1).Subject(), "spät");
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutTest, ::testing::Values("maildir++", "nested"),
                         [](const auto& info) {
                             return info.param == "nested" ? "nested" : "maildirpp";
                         });

TEST(OutlookStore, DovecotStyleNamesAndOddDirectoriesAreHandled) {
    TempDir t;
    std::string root = t.path() + "/md";
    auto mk = [&](const std::string& d) {
        std::filesystem::create_directories(root + "/" + d + "/cur");
        std::filesystem::create_directories(root + "/" + d + "/new");
    };
    mk("");
    mk(".Caf&AOk-");             // Café
    mk(".Caf&AOk-.Rechnungen");  // child of Café
    mk(".INBOX.Kunden");         // child of the inbox
    mk(".Roh\xc3\xa4");          // raw UTF-8 written by another program
    mk("..kaputt");              // empty component: not a folder
    std::ofstream(root + "/.datei") << "not a folder";
    Application app = Application::with_stores({test::store_config("S", root)});
    MAPIFolder st = app.GetNamespace("MAPI").Folders("S");
    EXPECT_EQ(names_of(st.Folders()), (std::vector<std::string>{"Café", "Posteingang", "Rohä"}));
    EXPECT_EQ(st.Folders("Café").Folders(1).Name(), "Rechnungen");
    EXPECT_EQ(st.Folders("Posteingang").Folders(1).Name(), "Kunden");
}

TEST(OutlookStore, StoreWithoutFolderHasNoFolders) {
    TempDir t;
    Application app =
        Application::with_stores({test::store_config("Weg", t.path() + "/gibt-es-nicht")});
    NameSpace ns = app.GetNamespace("MAPI");
    EXPECT_EQ(ns.Folders("Weg").Folders().Count(), 0);
    EXPECT_EQ(error_of([&] { ns.Folders("Weg").Folders("Posteingang"); }), mapi_e_not_found);
}

// Runs f as an unprivileged user when we are root (root reads everything); 0 = f returned true.
int run_unprivileged(const std::function<bool()>& f) {
    if (::geteuid() != 0) return f() ? 0 : 1;
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        bool ok = false;
        try {
            ok = f();
        } catch (...) {
            ok = false;
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

TEST(OutlookStore, UnreadableFolderFailsAndOthersStillWork) {
    for (const std::string layout : {"maildir++", "nested"}) {
        SCOPED_TRACE(layout);
        GeneratedStore s(layout);
        std::string locked =
            layout == "nested" ? s.root + "/INBOX/Kunden" : s.root + "/.INBOX.Kunden";
        ASSERT_EQ(::chmod(locked.c_str(), 0700), 0);
        auto before = s.snapshot();
        int rc = run_unprivileged([&] {
            NameSpace ns = s.ns();
            MAPIFolder kunden = s.folder(ns, "Posteingang|Kunden");
            long code = error_of([&] { kunden.Items().Count(); });
            bool others = s.folder(ns, "Entwürfe").Items().Count() == 1 &&
                          s.folder(ns, "Entwürfe").Items(1).Subject() == "Notiz";
            return code == e_access_denied && others;
        });
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(s.snapshot(), before);
    }
}

TEST(OutlookStore, ProfileListsStoresInOrder) {
    TempDir t;
    std::filesystem::create_directories(t.path() + "/cfg/morvolan");
    std::ofstream(t.path() + "/cfg/morvolan/profile.ini") << "; stores of the archiver\n"
                                                             "[Store 1]\n"
                                                             "Name = Firma\n"
                                                             "Location = ../../firma\n"
                                                             "Layout = nested\n"
                                                             "\n"
                                                             "[Privat]\n"
                                                             "Location=~/Maildir\n"
                                                             "[Ohne Ort]\n"
                                                             "Name=nichts\n"
                                                             "[Server]\n"
                                                             "Location=imap://a@mail.example\n"
                                                             "TLS = starttls\n"
                                                             "CAFile = certs/ca.pem\n"
                                                             "[Server 2]\n"
                                                             "Location=imaps://b@mail.example\n"
                                                             "CAFile=~/ca.pem\n";
    auto stores = read_profile(t.path() + "/cfg/morvolan/profile.ini");
    ASSERT_EQ(stores.size(), 4u);
    EXPECT_EQ(stores[0].name, "Firma");
    EXPECT_EQ(stores[0].location, t.path() + "/cfg/morvolan/../../firma");
    EXPECT_EQ(stores[0].layout, "nested");
    EXPECT_EQ(stores[1].name, "Privat");
    const char* home = std::getenv("HOME");
    EXPECT_EQ(stores[1].location, std::string(home ? home : "/") + "/Maildir");
    EXPECT_EQ(stores[1].tls, "");
    EXPECT_EQ(stores[1].ca_file, "");
    // A CA file is found like a store folder; a URL location stays as written.
    EXPECT_EQ(stores[2].location, "imap://a@mail.example");
    EXPECT_EQ(stores[2].tls, "starttls");
    EXPECT_EQ(stores[2].ca_file, t.path() + "/cfg/morvolan/certs/ca.pem");
    EXPECT_EQ(stores[3].ca_file, std::string(home ? home : "/") + "/ca.pem");
}

using EnvGuard = testsupport::ScopedEnv;

TEST(OutlookStore, ApplicationNeedsAProfileOrAMaildir) {
    TempDir t;
    EnvGuard home("HOME", t.path());
    EnvGuard cfg("XDG_CONFIG_HOME", t.path() + "/cfg");
    EnvGuard data("XDG_DATA_HOME", std::nullopt), mail("MAIL", std::nullopt);
    EXPECT_EQ(profile_path(), t.path() + "/cfg/morvolan/profile.ini");
    // Neither: as when the mail program is missing.
    EXPECT_EQ(error_of([] { Application::create(); }), cannot_create_object);
    EXPECT_EQ(error_of([] { CreateObject("Outlook.Application"); }), cannot_create_object);
    // ~/Maildir alone.
    std::filesystem::create_directories(t.path() + "/Maildir/cur");
    NameSpace ns = CreateObject("Outlook.Application").GetNamespace("MAPI");
    EXPECT_EQ(names_of(ns.Folders()), std::vector<std::string>{"Persönliche Ordner"});
    EXPECT_EQ(error_of([] { CreateObject("Word.Application"); }), cannot_create_object);
    EXPECT_EQ(error_of([] { CreateObject("Outlook.Application").GetNamespace("XYZ"); }),
              e_invalidarg);
    EXPECT_FALSE(CreateObject("outlook.application").GetNamespace("mapi").is_nothing());
    // A profile wins over ~/Maildir.
    std::filesystem::create_directories(t.path() + "/cfg/morvolan");
    std::ofstream(t.path() + "/cfg/morvolan/profile.ini")
        << "[A]\nLocation=/nirgends\n[B]\nName=Zwei\nPath=/auch-nicht\n";
    EXPECT_EQ(names_of(Application::create().GetNamespace("MAPI").Folders()),
              (std::vector<std::string>{"A", "Zwei"}));
    // The test override replaces both.
    const testsupport::ScopedSeam stores(
        set_store_override,
        std::vector<StoreConfig>{test::store_config("Test", t.path() + "/Maildir")});
    EXPECT_EQ(names_of(Application::create().GetNamespace("MAPI").Folders()),
              std::vector<std::string>{"Test"});
}

TEST(OutlookMutf7, DecodesAndEncodesTable) {
    struct Case {
        const char* encoded;
        const char* decoded;
    } cases[] = {
        {"INBOX", "INBOX"},
        {"Entw&APw-rfe", "Entwürfe"},
        {"&AMQ-rger", "Ärger"},
        {"M&APw-ller, Schmidt &- Co", "Müller, Schmidt & Co"},
        {"Projekt #1", "Projekt #1"},
        {"&ZeVnLIqe-", "日本語"},
        {"&2D3eAA-", "\xf0\x9f\x98\x80"},  // a character outside the basic plane
        {"&AOQA9gD8-", "äöü"},
        {"&-&-", "&&"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mutf7_decode(c.encoded).value_or("<invalid>"), c.decoded) << c.encoded;
        EXPECT_EQ(mutf7_encode(c.decoded), c.encoded) << c.decoded;
        EXPECT_EQ(mkmailstore::encode_mutf7(c.decoded), c.encoded) << c.decoded;
    }
    for (const char* bad : {"&", "&AOQ", "&A-", "&AOQ=-", "\xc3\xa4", "&2D0-", "&3gA-", "a\tb"})
        EXPECT_FALSE(mutf7_decode(bad).has_value()) << bad;
}

}  // namespace
}  // namespace morvo::outlook
