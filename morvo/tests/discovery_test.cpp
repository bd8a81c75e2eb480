// Which stores the archiver sees: the profile reader's rules, and the stores of a made-up home's
// mail programs as --list-stores names them and the tree shows them.

#include "morvo/outlook/discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "morvo/cli.h"
#include "morvo/tests/imap_test_util.h"

namespace morvo::outlook {
namespace {

using test::env;
using test::TempDir;
namespace fs = std::filesystem;

void write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void maildir(const std::string& path) {
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(path + "/" + sub);
}

std::vector<std::string> names_of(const Folders& folders) {
    std::vector<std::string> names;
    for (long i = 1; i <= folders.Count(); ++i) names.push_back(folders.Item(i).Name());
    return names;
}

TEST(ProfileReader, CommentsUnknownKeysAndBadLines) {
    const std::string file = "/p/profile.ini";
    const struct {
        std::string text;
        std::string field;  // "Name" of the one store, or the named key's value
        std::string value;
        std::string fault;  // "" = none; else what the one fault says, line included
    } table[] = {
        {"[A]\nLocation=/m ; the folder\n", "location", "/m", ""},
        {"[A]\nLocation=/m\nName = Post Firma\t; shown\n", "name", "Post Firma", ""},
        {"[A]\nLocation=/m\nPassword=a;b\n", "password", "a;b", ""},
        {"[A]\nLocation=/m\nPassword=\" ;x\"\"y\" ; quoted\n", "password", " ;x\"y", ""},
        {"[A] ; section\r\nLocation=/m\r\n", "name", "A", ""},
        {"\xEF\xBB\xBF[A]\nLocation=/m\n", "name", "A", ""},
        {"[A]\nLocaton=/m\n", "", "", "/p/profile.ini:2: unbekannter Schlüssel „Locaton“"},
        {"[A]\nLocation=/m\nnur Text\n", "", "", "/p/profile.ini:3: unlesbare Zeile"},
        {"Name=x\n[A]\nLocation=/m\n", "", "", "/p/profile.ini:1: „Name“ steht vor"},
        {"[A\nLocation=/m\n", "", "", "/p/profile.ini:1: unlesbare Abschnittszeile"},
        {"[A]\nLocation=/m\nLayout=flach\n", "", "", "/p/profile.ini:3: unbekanntes Layout"},
        {"[A]\nLocation=/m\nKind=pst\n", "", "", "/p/profile.ini:3: unbekannte Art"},
        {"[A]\nKind=IMAP\nLocation=/m\n", "", "", "/p/profile.ini:2: Kind=imap passt nicht"},
        {"[A]\nLocation=/m\nPassword=\"ab\n", "", "", "/p/profile.ini:3: unlesbarer Wert"},
    };
    for (const auto& row : table) {
        ProfileFile p = parse_profile(row.text, file, "/home/a");
        if (!row.fault.empty()) {
            ASSERT_EQ(p.faults.size(), 1u) << row.text;
            EXPECT_EQ(p.faults[0].rfind(row.fault, 0), 0u) << p.faults[0];
            continue;
        }
        ASSERT_TRUE(p.faults.empty()) << row.text << p.faults[0];
        ASSERT_EQ(p.stores.size(), 1u) << row.text;
        const StoreConfig& s = p.stores[0];
        const std::string got = row.field == "name"       ? s.name
                                : row.field == "location" ? s.location
                                                          : s.password;
        EXPECT_EQ(got, row.value) << row.text;
    }
}

TEST(ProfileReader, TheReadmeExampleAsWritten) {
    std::string readme = test::read_bytes(std::string(VELTRIN_SOURCE_DIR) + "/README.md");
    size_t start = readme.find("```ini\n", readme.find("**The mail profile**"));
    ASSERT_NE(start, std::string::npos);
    start += 7;
    std::string example = readme.substr(start, readme.find("```", start) - start);
    ProfileFile p = parse_profile(example, "/cfg/morvolan/profile.ini", "/home/anna");
    EXPECT_TRUE(p.faults.empty()) << (p.faults.empty() ? "" : p.faults[0]);
    ASSERT_EQ(p.stores.size(), 3u);
    EXPECT_EQ(p.stores[0].name, "Postfach Firma");
    EXPECT_EQ(p.stores[0].location, "/srv/mail/anna");
    EXPECT_EQ(p.stores[0].layout, "maildir++");
    EXPECT_EQ(p.stores[1].location, "/home/anna/Maildir");
    EXPECT_EQ(p.stores[2].kind, "imap");
    EXPECT_EQ(p.stores[2].ca_file, "/cfg/morvolan/certs/firma-ca.pem");
}

// A made-up home: Thunderbird with local folders (mbox), a POP account kept as Maildir and an
// IMAP account; KMail's local folders; $MAIL an mbox file; a misspelt profile key.
struct MadeUpHome {
    TempDir t;
    std::string home = t.path() + "/home";
    std::string tb = home + "/.thunderbird/x1.default";
    std::string kmail = home + "/.local/share/local-mail";
    testsupport::ScopedEnv e1{"HOME", home}, e2{"XDG_CONFIG_HOME", std::nullopt},
        e3{"XDG_DATA_HOME", std::nullopt}, e4{"MAIL", home + "/spool"};
    std::string imap_user = "anna@example.org";
    std::string imap_port = "143";

    MadeUpHome() {
        write(home + "/.thunderbird/profiles.ini",
              "[Profile1]\nName=alt\nIsRelative=1\nPath=gone.alt\n\n"
              "[Profile0]\nName=default\nIsRelative=1\nPath=x1.default\n\n"
              "[InstallABC]\nDefault=x1.default\nLocked=1\n");
        write(tb + "/Mail/Local Folders/Inbox", "From a\n\n");
        maildir(tb + "/Mail/pop.example/Inbox");
        maildir(tb + "/Mail/pop.example/Inbox.sbd/Rechnungen");
        maildir(kmail + "/inbox");
        maildir(kmail + "/.inbox.directory/Kunden");
        maildir(kmail + "/sent-mail");
        write(home + "/spool", "From a\n\n");
    }
    void prefs() const {
        write(
            tb + "/prefs.js",
            "// Mozilla User Preferences\n"
            "user_pref(\"mail.accountmanager.accounts\", "
            "\"account1,account2,account3,account4\");\n"
            "user_pref(\"mail.account.account1.server\", \"server1\");\n"
            "user_pref(\"mail.account.account2.server\", \"server2\");\n"
            "user_pref(\"mail.account.account3.server\", \"server3\");\n"
            "user_pref(\"mail.account.account4.server\", \"server5\");\n"
            "user_pref(\"mail.server.server5.type\", \"imap\");\n"
            "user_pref(\"mail.server.server5.hostname\", \"mail.example.org\");\n"
            "user_pref(\"mail.server.server5.socketType\", 3);\n"
            "user_pref(\"mail.server.server5.userName\", \"b\");\n"
            "user_pref(\"mail.server.server1.type\", \"imap\");\n"
            "user_pref(\"mail.server.server1.hostname\", \"127.0.0.1\");\n"
            "user_pref(\"mail.server.server1.port\", " +
                imap_port +
                ");\n"
                "user_pref(\"mail.server.server1.socketType\", 0);\n"
                "user_pref(\"mail.server.server1.userName\", \"" +
                imap_user +
                "\");\n"
                "user_pref(\"mail.server.server1.name\", \"Firma\");\n"
                "user_pref(\"mail.server.server2.type\", \"none\");\n"
                "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
                "user_pref(\"mail.server.server2.name\", \"Lokale Ordner\");\n"
                "user_pref(\"mail.server.server3.type\", \"pop3\");\n"
                "user_pref(\"mail.server.server3.hostname\", \"pop.example\");\n"
                "user_pref(\"mail.server.server3.name\", \"P\\u00f6p\");\n"
                "user_pref(\"mail.server.server3.storeContractID\", "
                "\"@mozilla.org/msgstore/maildirstore;1\");\n"
                "user_pref(\"mail.server.server4.type\", \"imap\");\n");  // no account: left out
    }
    int list(std::string& out, std::string& err) const {
        std::ostringstream o, e;
        int rc = run_command_line({"--list-stores"}, o, e, false);
        out = o.str();
        err = e.str();
        return rc;
    }
};

TEST(Discovery, MadeUpHomeListedAndShown) {
    MadeUpHome h;
    std::optional<test::DovecotAccount> account;
    if (!env("VELTRIN_IMAP_PORT").empty()) {
        account.emplace();
        h.imap_user = account->user;
        h.imap_port = env("VELTRIN_IMAP_PORT");
    }
    h.prefs();
    const std::string prefs = h.tb + "/prefs.js";
    std::string out, err;
    // The profile's misspelt key is named with its line; nothing is silently used instead.
    write(h.home + "/.config/morvolan/profile.ini", "[Firma]\nPasswort=x\n");
    EXPECT_EQ(h.list(out, err), kExitCannotRun);
    EXPECT_NE(err.find("profile.ini:2: unbekannter Schlüssel „Passwort“"), std::string::npos)
        << err;
    try {
        Application::create();
        ADD_FAILURE() << "a faulty profile opened stores";
    } catch (const platform::Error& e) {
        EXPECT_NE(std::string(e.what()).find("profile.ini:2:"), std::string::npos) << e.what();
    }

    // A section without a Location gives keys to the found store of its name.
    write(
        h.home + "/.config/morvolan/profile.ini",
        account ? "[Firma]\nPassword=" + env("VELTRIN_IMAP_PASSWORD") + " ; for the server\n" : "");
    EXPECT_EQ(h.list(out, err), kExitDone) << err;
    const std::string user = h.imap_user == "anna@example.org" ? "anna%40example.org" : h.imap_user;
    const std::string imap_line = "Firma\timap\timap://" + user + "@127.0.0.1:" + h.imap_port +
                                  "\t" + prefs + (account ? "" : "\t(bleibt aus: braucht ein");
    const std::vector<std::string> expected = {
        "Lokale Ordner\tmbox\t" + h.tb + "/Mail/Local Folders\t" + prefs + "\n",
        "Pöp\tmaildir\t" + h.tb + "/Mail/pop.example\t" + prefs + "\n",
        "KMail\tmaildir\t" + h.kmail + "\t" + h.kmail + "\n",
        "Systempostfach\tmbox\t" + h.home + "/spool\t$MAIL\n",
        imap_line,
        "b@mail.example.org\timap\timaps://b@mail.example.org:993\t" + prefs +
            "\t(bleibt aus: braucht ein Passwort",
    };
    for (const auto& line : expected) EXPECT_NE(out.find(line), std::string::npos) << line << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6) << out;
    EXPECT_NE(err.find("Profil alt"), std::string::npos) << err;  // the missing profile

    // The tree: the Maildir and mbox stores with their subfolders, the IMAP account when it has
    // a server.
    NameSpace ns = Application::create().GetNamespace("MAPI");
    std::vector<std::string> stores = {"Lokale Ordner", "Pöp", "KMail", "Systempostfach"};
    if (account) stores.insert(stores.begin(), "Firma");
    EXPECT_EQ(names_of(ns.Folders()), stores);
    for (const char* mbox : {"Lokale Ordner", "Systempostfach"})
        EXPECT_EQ(ns.Folders(mbox).Folders("Posteingang").Items().Count(), 1) << mbox;
    EXPECT_EQ(names_of(ns.Folders("KMail").Folders()),
              (std::vector<std::string>{"Posteingang", "sent-mail"}));
    EXPECT_EQ(names_of(ns.Folders("KMail").Folders("Posteingang").Folders()),
              std::vector<std::string>{"Kunden"});
    EXPECT_EQ(names_of(ns.Folders("Pöp").Folders("Posteingang").Folders()),
              std::vector<std::string>{"Rechnungen"});
    if (account) {
        EXPECT_GT(ns.Folders("Firma").Folders().Count(), 1);
    }
}

}  // namespace
}  // namespace morvo::outlook
