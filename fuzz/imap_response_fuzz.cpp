// The IMAP client's response parser, through its public face: a loopback server thread sends
// the input as everything the server says (greeting included) and closes; the client logs in,
// lists, selects and fetches. Any reply may fail, but only with the client's own error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>

#include "fuzz/fuzz_util.h"
#include "morvo/outlook/imap_client.h"
#include "platform/error.h"

namespace {

int listener = -1;
int port = 0;
std::mutex mutex;
std::string reply;

void serve() {
    for (;;) {
        const int c = ::accept(listener, nullptr, nullptr);
        if (c < 0) continue;
        std::string bytes;
        {
            std::lock_guard<std::mutex> lock(mutex);
            bytes = reply;
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(c, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::shutdown(c, SHUT_WR);
        char sink[4096];
        while (::recv(c, sink, sizeof sink, 0) > 0) {
        }
        ::close(c);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        std::abort();
    port = ntohs(a.sin_port);
    std::thread(serve).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        reply.assign(reinterpret_cast<const char*>(data), size);
    }
    try {
        morvo::outlook::imap::Connection c("127.0.0.1", port, {}, 2000);
        c.login("anna", "geheim");
        c.command("LIST \"\" \"*\"", "list");
        c.command("SELECT INBOX", "select");
        auto r = c.command("UID FETCH 1:* (UID FLAGS RFC822.SIZE BODY.PEEK[])", "fetch");
        for (const auto& u : r.untagged) {
            for (const auto& v : u.values) v.is_nil();
        }
    } catch (const platform::Error&) {
    }
    return 0;
}
