#pragma once

// TLS for the IMAP client's socket, by GnuTLS. The server's certificate must chain to a trusted
// CA (the system's CAs, or only those of one PEM file) and name the host that was asked for;
// there is no way to switch either check off. TLS 1.2 is the oldest version accepted.
//
// Failures throw platform::Error (e_fail) with a German description that says what went wrong
// ("Keine sichere Verbindung zum IMAP-Server host:port: das Zertifikat ...").

#include <cstddef>
#include <memory>
#include <string>

namespace morvo::outlook::imap {

class TlsChannel {
  public:
    // Loads the trusted CAs: those of ca_file (PEM) when given, else the system's. Fails here,
    // before any connection, when they cannot be read.
    explicit TlsChannel(const std::string& ca_file);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Runs the handshake on a connected socket and checks the certificate for `host`; `peer`
    // ("host:port") names the server in failure texts. timeout_ms bounds every wait.
    void handshake(int fd, const std::string& host, const std::string& peer, int timeout_ms);

    // Bytes read (> 0), 0 when the server closed the connection, -1 on a failure (why() says
    // what happened).
    long recv(char* buf, std::size_t size);
    // Bytes sent (> 0) or -1 on a failure.
    long send(const char* data, std::size_t size);
    const std::string& why() const { return why_; }

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::string why_;
};

}  // namespace morvo::outlook::imap
