// The binding over TLS against the test server (scripts/imap-server; skipped without its
// VELTRIN_IMAPS_PORT and VELTRIN_IMAP_CA): imaps:// and STARTTLS read what the Maildir backend
// reads, and every certificate problem fails with its own text before the login, touching
// nothing on the server.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "morvo/tests/imap_test_util.h"

namespace morvo::outlook {
namespace {

// The shared IMAP test helpers: accounts, stores, descriptions.
using namespace test;

TEST(ImapTls, ImapsAndStarttlsReadTheSameTreeMailsAndAttachments) {
    REQUIRE_DOVECOT_TLS();
    DovecotAccount account;
    GeneratedStore maildir;
    const auto expected = describe(maildir.ns());
    const auto before = account.snapshot();
    // By address and by name: the certificate names both.
    for (const auto& [how, host] : {std::pair<std::string, std::string>{"imaps", "127.0.0.1"},
                                    {"starttls", "127.0.0.1"},
                                    {"imaps", "localhost"}}) {
        SCOPED_TRACE(how + " " + host);
        StoreConfig config = account.tls_config(how, env("VELTRIN_IMAP_CA"), host);
        EXPECT_EQ(describe(Application::with_stores({config}).GetNamespace("MAPI")), expected);
    }
    EXPECT_EQ(account.snapshot(), before);
}

// A CA of its own that signed nothing the server shows.
std::string other_ca(const TempDir& dir) {
    const std::string cmd =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
        "-nodes -days 1 -subj /CN=Andere -keyout '" +
        dir.path() + "/other.key' -out '" + dir.path() + "/other.pem' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return "";
    return dir.path() + "/other.pem";
}

TEST(ImapTls, CertificateProblemsFailWithTheirReasonAndTouchNothing) {
    REQUIRE_DOVECOT_TLS();
    DovecotAccount account;
    TempDir dir;
    const std::string other = other_ca(dir);
    ASSERT_FALSE(other.empty()) << "openssl could not make a CA";
    const std::string ca = env("VELTRIN_IMAP_CA");
    const std::string untrusted =
        "das Zertifikat des Servers stammt von keiner "
        "vertrauenswürdigen Stelle.";
    StoreConfig tls_to_plain = account.config();
    tls_to_plain.location = "imaps://" + account.user + "@127.0.0.1:" + env("VELTRIN_IMAP_PORT");
    struct Case {
        const char* name;
        StoreConfig config;
        std::string expect;
    } cases[] = {
        {"system CAs, imaps", account.tls_config("imaps", ""), untrusted},
        {"system CAs, STARTTLS", account.tls_config("starttls", ""), untrusted},
        {"another CA", account.tls_config("imaps", other), untrusted},
        // The right CA, but an address the certificate does not name.
        {"other address", account.tls_config("imaps", ca, "127.0.0.2"),
         "das Zertifikat des Servers gilt nicht für 127.0.0.2."},
        {"plain server", tls_to_plain, "Spricht der Server an diesem Port TLS?"},
    };
    const auto before = account.snapshot();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto start = std::chrono::steady_clock::now();
        std::string err = error_of([&] {
            Application::with_stores({c.config}).GetNamespace("MAPI").Folders(1L).Folders().Count();
        });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_NE(err.find("Keine sichere Verbindung zum IMAP-Server "), std::string::npos) << err;
        EXPECT_NE(err.find(c.expect), std::string::npos) << err;
    }
    EXPECT_EQ(account.snapshot(), before);
}

TEST(ImapTls, ProfileWithStarttlsAndACaFileBesideIt) {
    REQUIRE_DOVECOT_TLS();
    DovecotAccount account;
    TempDir dir;
    std::filesystem::copy_file(env("VELTRIN_IMAP_CA"), dir.path() + "/server-ca.pem");
    const std::string profile = dir.path() + "/profile.ini";
    std::ofstream(profile) << "[Server]\nLocation=" << account.location()
                           << "\nTLS=starttls\nCAFile=server-ca.pem\nPassword="
                           << env("VELTRIN_IMAP_PASSWORD") << "\n";
    auto stores = read_profile(profile);
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_EQ(stores[0].ca_file, dir.path() + "/server-ca.pem");
    NameSpace ns = Application::with_stores(stores).GetNamespace("MAPI");
    EXPECT_EQ(ns.Folders("Server").Folders("Entwürfe").Name(), "Entwürfe");
    EXPECT_GT(ns.Folders("Server").Folders("Posteingang").Items().Count(), 0);
}

}  // namespace
}  // namespace morvo::outlook
