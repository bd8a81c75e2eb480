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
        return {store_name, location(), "", std::move(password), ""};
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
        auto r = c->command("UID FETCH 1:* (FLAGS INTERNALDATE)", "fetch");
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
            }
            out[uid] = text;
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
