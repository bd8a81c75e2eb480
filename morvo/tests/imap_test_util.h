#pragma once

// Shared by the IMAP tests: an account of its own on the test server (scripts/imap-server),
// filled with a generated store, and a full description of what a reader of a store sees.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>

#include "morvo/outlook/imap_client.h"
#include "morvo/tests/outlook_test_util.h"

namespace morvo::outlook::test {

inline std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

#define REQUIRE_DOVECOT()                                         \
    if (::morvo::outlook::test::env("VELTRIN_IMAP_PORT").empty()) \
    GTEST_SKIP() << "no IMAP server (scripts/imap-server start sets VELTRIN_IMAP_*)"

// The server with its TLS side: the implicit-TLS port and the CA that signed its certificate.
#define REQUIRE_DOVECOT_TLS()                                        \
    if (::morvo::outlook::test::env("VELTRIN_IMAP_PORT").empty() ||  \
        ::morvo::outlook::test::env("VELTRIN_IMAPS_PORT").empty() || \
        ::morvo::outlook::test::env("VELTRIN_IMAP_CA").empty())      \
    GTEST_SKIP() << "no IMAP server with TLS (scripts/imap-server start sets VELTRIN_IMAPS_*)"

// An account of its own on the shared server, filled with a generated store.
struct DovecotAccount {
    explicit DovecotAccount(mkmailstore::Options opt = {}) {
        static int counter = 0;
        user = "t" + std::to_string(::getpid()) + "n" + std::to_string(++counter);
        dir = env("VELTRIN_IMAP_ROOT") + "/mail/" + user;
        manifest = mkmailstore::generate(dir, opt);
        passwd* nobody = ::getpwnam("nobody");
        if (nobody) {
            ::chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid);
            for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
                ::lchown(e.path().c_str(), nobody->pw_uid, nobody->pw_gid);
        }
    }
    ~DovecotAccount() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string location() const {
        return "imap://" + user + "@127.0.0.1:" + env("VELTRIN_IMAP_PORT");
    }
    StoreConfig config(std::string password = env("VELTRIN_IMAP_PASSWORD")) const {
        StoreConfig c = store_config(store_name, location());
        c.password = std::move(password);
        return c;
    }
    // Over TLS: "imaps" to the implicit-TLS port of `host`, or "starttls" to the plain port.
    StoreConfig tls_config(const std::string& how, const std::string& ca_file,
                           const std::string& host = "127.0.0.1") const {
        StoreConfig c = config();
        if (how == "imaps") {
            c.location = "imaps://" + user + "@" + host + ":" + env("VELTRIN_IMAPS_PORT");
        } else {
            c.location = "imap://" + user + "@" + host + ":" + env("VELTRIN_IMAP_PORT");
            c.tls = how;
        }
        c.ca_file = ca_file;
        return c;
    }
    NameSpace ns() const { return Application::with_stores({config()}).GetNamespace("MAPI"); }
    std::unique_ptr<imap::Connection> raw() const {
        auto c =
            std::make_unique<imap::Connection>("127.0.0.1", std::stoi(env("VELTRIN_IMAP_PORT")));
        c->login(user, env("VELTRIN_IMAP_PASSWORD"));
        return c;
    }
    // UID -> "flags | internal date" of every message of a mailbox.
    std::map<std::string, std::string> state(const std::string& mailbox) const {
        auto c = raw();
        c->command("EXAMINE \"" + mailbox + "\"", "examine");
        return fetched(c->command("UID FETCH 1:* (FLAGS INTERNALDATE)", "fetch"), "");
    }
    // Every message of every mailbox, "mailbox UID" -> flags, internal date and a hash of the
    // bytes: equal before and after means nothing was changed, lost or added.
    std::map<std::string, std::string> snapshot() const {
        auto c = raw();
        std::vector<std::string> mailboxes;
        for (const auto& u : c->command("LIST \"\" \"*\"", "list").untagged)
            if (u.values.size() >= 4 && u.values[0].is_atom("LIST")) {
                bool selectable = true;
                for (const auto& a : u.values[1].items)
                    if (a.is_atom("\\Noselect") || a.is_atom("\\NonExistent")) selectable = false;
                if (selectable) mailboxes.push_back(u.values[3].text);
            }
        std::map<std::string, std::string> out;
        for (const auto& mailbox : mailboxes) {
            std::vector<imap::Piece> examine{{false, "EXAMINE "}};
            for (auto& p : imap::astring(mailbox)) examine.push_back(p);
            c->command(examine, "examine");
            out.merge(fetched(c->command("UID FETCH 1:* (FLAGS INTERNALDATE BODY.PEEK[])", "fetch"),
                              mailbox + " "));
        }
        return out;
    }
    // prefix + UID -> "flags | internal date" (without \Recent) and, where the bytes were
    // fetched, " | " and their hash.
    template <class Reply>
    static std::map<std::string, std::string> fetched(const Reply& r, const std::string& prefix) {
        std::map<std::string, std::string> out;
        for (const auto& u : r.untagged) {
            if (u.values.size() < 3 || !u.values[1].is_atom("FETCH")) continue;
            std::string uid, text;
            const auto& items = u.values[2].items;
            for (size_t i = 0; i + 1 < items.size(); i += 2) {
                if (items[i].is_atom("UID")) uid = items[i + 1].text;
                if (items[i].is_atom("FLAGS"))
                    for (const auto& f : items[i + 1].items)
                        if (!f.is_atom("\\Recent")) text += f.text + " ";
                if (items[i].is_atom("INTERNALDATE")) text += "| " + items[i + 1].text;
                if (items[i].is_atom("BODY[]"))
                    text += " | " + std::to_string(mkmailstore::fnv1a64(items[i + 1].text));
            }
            out[prefix + uid] = text;
        }
        return out;
    }
    // The pid of the server process of this account's latest login (from the server's log).
    int server_pid() const {
        std::string log = read_bytes(env("VELTRIN_IMAP_ROOT") + "/dovecot.log");
        std::regex re("Login: user=<" + user + ">.*mpid=([0-9]+)");
        int pid = 0;
        for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it)
            pid = std::stoi((*it)[1]);
        return pid;
    }

    std::string user, dir;
    mkmailstore::Manifest manifest;
};

inline std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const platform::Error& e) {
        return "error " + std::to_string(e.number) + ": " + e.description;
    }
    return "";
}

// Everything a reader of the store sees: the tree with names and counts, and for each mail its
// subject, body and attachments (names, sizes, exact bytes written by SaveAsFile). Errors of
// damaged mails are kept as their numbers.
inline void describe(const MAPIFolder& f, const std::string& path, const std::string& tmp,
                     std::vector<std::string>& out) {
    long count = f.Items().Count();
    out.push_back(path + " items=" + std::to_string(count) +
                  " folders=" + std::to_string(f.Folders().Count()));
    for (long i = 1; i <= count; ++i) {
        std::string line = path + " #" + std::to_string(i) + ": ";
        try {
            MailItem m = f.Items(i);
            line += m.Subject() + " | " + std::to_string(mkmailstore::fnv1a64(m.Body()));
            for (long a = 1; a <= m.Attachments().Count(); ++a) {
                Attachment att = m.Attachments(a);
                att.SaveAsFile(tmp);
                line += " | " + att.DisplayName() + " " + std::to_string(att.Size()) + " " +
                        std::to_string(mkmailstore::fnv1a64(read_bytes(tmp)));
            }
        } catch (const platform::Error& e) {
            line += "error " + std::to_string(e.number);
        }
        out.push_back(line);
    }
    for (long k = 1; k <= f.Folders().Count(); ++k)
        describe(f.Folders(k), path + "|" + f.Folders(k).Name(), tmp, out);
}

inline std::vector<std::string> describe(const NameSpace& ns) {
    TempDir tmp;
    std::vector<std::string> out;
    describe(ns.Folders(store_name), "", tmp.path() + "/att", out);
    return out;
}

}  // namespace morvo::outlook::test
