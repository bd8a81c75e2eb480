#include "morvo/outlook/imap_tls.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "morvo/outlook/outlook.h"

namespace morvo::outlook::imap {

namespace {

[[noreturn]] void fail(std::string description) {
    throw platform::Error(e_fail, std::move(description));
}

bool is_ip_address(const std::string& host) {
    unsigned char addr[16];
    return ::inet_pton(AF_INET, host.c_str(), addr) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), addr) == 1;
}

// The most telling reason first: a certificate from an unknown issuer is untrusted whatever
// names it holds.
std::string certificate_problem(unsigned status, const std::string& host) {
    if (status & (GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA))
        return "das Zertifikat des Servers stammt von keiner vertrauenswürdigen Stelle.";
    if (status & GNUTLS_CERT_REVOKED) return "das Zertifikat des Servers wurde widerrufen.";
    if (status & GNUTLS_CERT_EXPIRED) return "das Zertifikat des Servers ist abgelaufen.";
    if (status & GNUTLS_CERT_NOT_ACTIVATED)
        return "das Zertifikat des Servers ist noch nicht gültig.";
    if (status & GNUTLS_CERT_INSECURE_ALGORITHM)
        return "das Zertifikat des Servers ist mit einem unsicheren Verfahren unterschrieben.";
    if (status & GNUTLS_CERT_UNEXPECTED_OWNER)
        return "das Zertifikat des Servers gilt nicht für " + host + ".";
    std::string detail;
    gnutls_datum_t out{};
    if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &out, 0) == 0) {
        detail = " (" + std::string(reinterpret_cast<const char*>(out.data), out.size) + ")";
        gnutls_free(out.data);
    }
    return "das Zertifikat des Servers wurde nicht anerkannt" + detail + ".";
}

}  // namespace

struct TlsChannel::State {
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_session_t session = nullptr;
    ~State() {
        if (session) gnutls_deinit(session);
        if (credentials) gnutls_certificate_free_credentials(credentials);
    }
};

TlsChannel::TlsChannel(const std::string& ca_file) : state_(std::make_unique<State>()) {
    if (gnutls_certificate_allocate_credentials(&state_->credentials) < 0)
        fail("Zu wenig Speicher für die Verschlüsselung.");
    if (!ca_file.empty()) {
        if (::access(ca_file.c_str(), R_OK) != 0)
            fail("Die Zertifikatsdatei " + ca_file +
                 " kann nicht gelesen werden: " + std::strerror(errno));
        int n = gnutls_certificate_set_x509_trust_file(state_->credentials, ca_file.c_str(),
                                                       GNUTLS_X509_FMT_PEM);
        if (n < 0)
            fail("Die Zertifikatsdatei " + ca_file +
                 " kann nicht gelesen werden: " + gnutls_strerror(n));
        if (n == 0) fail("Die Zertifikatsdatei " + ca_file + " enthält kein Zertifikat.");
    } else {
        int n = gnutls_certificate_set_x509_system_trust(state_->credentials);
        if (n <= 0)
            fail(
                "Keine Stammzertifikate des Systems gefunden (Paket ca-certificates); "
                "eine Zertifikatsdatei kann mit CAFile= angegeben werden.");
    }
}

TlsChannel::~TlsChannel() = default;

void TlsChannel::handshake(int fd, const std::string& host, const std::string& peer,
                           int timeout_ms) {
    const std::string prefix = "Keine sichere Verbindung zum IMAP-Server " + peer + ": ";
    gnutls_session_t& s = state_->session;
    if (gnutls_init(&s, GNUTLS_CLIENT | GNUTLS_NO_SIGNAL) < 0) fail(prefix + "zu wenig Speicher.");
    // The system's choice of algorithms, but nothing older than TLS 1.2.
    const char* const versions = "-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
    if (gnutls_set_default_priority_append(s, versions, nullptr, 0) < 0 ||
        gnutls_credentials_set(s, GNUTLS_CRD_CERTIFICATE, state_->credentials) < 0)
        fail(prefix + "die Verschlüsselung kann nicht eingerichtet werden.");
    if (!is_ip_address(host))  // the server name indication carries names only
        gnutls_server_name_set(s, GNUTLS_NAME_DNS, host.data(), host.size());
    // Checks the chain and that the certificate names `host` (an address against its IP
    // entries) during the handshake, before a byte of the session is used.
    gnutls_session_set_verify_cert(s, host.c_str(), 0);
    gnutls_transport_set_int(s, fd);
    gnutls_handshake_set_timeout(s, static_cast<unsigned>(timeout_ms));
    gnutls_record_set_timeout(s, static_cast<unsigned>(timeout_ms));
    // GnuTLS bounds the handshake itself; the deadline only keeps a retry from going on.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms + 1000);
    int rc;
    do {
        rc = gnutls_handshake(s);
    } while (rc < 0 && gnutls_error_is_fatal(rc) == 0 && rc != GNUTLS_E_TIMEDOUT &&
             std::chrono::steady_clock::now() < deadline);
    if (rc == 0) return;
    if (rc == GNUTLS_E_CERTIFICATE_VERIFICATION_ERROR)
        fail(prefix + certificate_problem(gnutls_session_get_verify_cert_status(s), host));
    if (rc == GNUTLS_E_TIMEDOUT || rc == GNUTLS_E_AGAIN)
        fail(prefix + "keine Antwort beim Aufbau der Verschlüsselung.");
    fail(prefix + "der Aufbau der Verschlüsselung ist gescheitert (" + gnutls_strerror(rc) +
         "). Spricht der Server an diesem Port TLS?");
}

long TlsChannel::recv(char* buf, std::size_t size) {
    for (;;) {
        ssize_t n = gnutls_record_recv(state_->session, buf, size);
        if (n >= 0) return static_cast<long>(n);
        // A close without TLS's own goodbye is still just a close for a reader of responses:
        // each response is complete only with its terminating line.
        if (n == GNUTLS_E_PREMATURE_TERMINATION) return 0;
        // A message of TLS's own (a session ticket, say) came instead of data; the record
        // layer's timeout still bounds the wait for the next one.
        if (n == GNUTLS_E_INTERRUPTED || n == GNUTLS_E_AGAIN) continue;
        if (n == GNUTLS_E_TIMEDOUT)
            why_ = "keine Antwort";
        else
            why_ = std::string("TLS: ") + gnutls_strerror(static_cast<int>(n));
        return -1;
    }
}

long TlsChannel::send(const char* data, std::size_t size) {
    for (;;) {
        ssize_t n = gnutls_record_send(state_->session, data, size);
        if (n >= 0) return static_cast<long>(n);
        if (n == GNUTLS_E_INTERRUPTED) continue;  // same arguments again, as GnuTLS requires
        if (n == GNUTLS_E_AGAIN)
            why_ = "keine Antwort";
        else
            why_ = std::string("TLS: ") + gnutls_strerror(static_cast<int>(n));
        return -1;
    }
}

}  // namespace morvo::outlook::imap
