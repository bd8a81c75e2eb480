#pragma once

// A relay in front of the test server (scripts/imap-server) that injects one fault into the
// client's connection, or pauses it while another client acts. Shared by the IMAP tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "morvo/tests/imap_test_util.h"

namespace morvo::outlook::test {

// A relay in front of the test server that breaks the connection once, when the client sends
// `trigger`: the connection is closed before the trigger goes on, halfway into the literal that
// follows it, or at the client's next bytes; or the server's answers stop (all of them, or
// from halfway into the next one) while the connection stays open. Or it only pauses there
// while `act` runs (another client at that exact step).
class FaultRelay {
  public:
    enum class Fault { close_before, close_in_literal, close_after, no_answer, answer_cut, pause };

    FaultRelay(std::string trigger, Fault fault, std::function<void()> act = {})
        : trigger_(std::move(trigger)), fault_(fault), act_(std::move(act)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("relay");
        port = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~FaultRelay() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        acceptor_.join();
        for (auto& t : links_) t.join();
    }
    int port = 0;
    std::atomic<bool> fired{false};
    std::atomic<bool> hide_condstore{false};  // a server without CONDSTORE and QRESYNC

  private:
    void accept_loop() {
        for (;;) {
            int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            links_.emplace_back([this, client] { relay(client); });
        }
    }

    static bool send_all(int fd, std::string_view b) {
        while (!b.empty()) {
            ssize_t n = ::send(fd, b.data(), b.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            b.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    void relay(int client) {
        int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(std::stoi(env("VELTRIN_IMAP_PORT"))));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool open = ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        bool armed = false;     // the trigger went on; close at the client's next bytes
        bool muted = false;     // nothing more goes to the client
        bool cut_next = false;  // the next answer goes only half
        std::string held;       // client bytes from the trigger on (close_in_literal)
        char buf[65536];
        while (open && !stop_) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 100) <= 0) continue;
            if (p[1].revents) {
                ssize_t n = ::recv(server, buf, sizeof buf, 0);
                if (n <= 0) break;
                std::string text(buf, static_cast<size_t>(n));
                if (hide_condstore)
                    for (const char* cap : {" CONDSTORE", " QRESYNC"})
                        for (size_t at; (at = text.find(cap)) != std::string::npos;)
                            text.erase(at, std::strlen(cap));
                std::string_view b(text);
                if (cut_next) {
                    send_all(client, b.substr(0, b.size() / 2));
                    cut_next = false;
                    muted = true;
                }
                if (!muted && !send_all(client, b)) break;
            }
            if (p[0].revents) {
                ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0) break;
                std::string b(buf, static_cast<size_t>(n));
                if (armed) break;
                if (!held.empty() || fired) {
                    if (!held.empty()) held += b;
                    if (held.empty()) open = send_all(server, b);
                } else if (size_t at = b.find(trigger_); at != std::string::npos) {
                    fired = true;
                    std::string before = b.substr(0, at);
                    open = send_all(server, before);
                    switch (fault_) {
                        case Fault::close_before:
                            open = false;
                            break;
                        case Fault::close_in_literal:
                            held = b.substr(at);
                            break;
                        case Fault::pause:
                            act_();
                            open = open && send_all(server, b.substr(at));
                            break;
                        case Fault::close_after:
                            armed = true;
                            [[fallthrough]];
                        case Fault::no_answer:
                        case Fault::answer_cut:
                            open = open && send_all(server, b.substr(at));
                            muted = fault_ == Fault::no_answer;
                            cut_next = fault_ == Fault::answer_cut;
                            break;
                    }
                } else {
                    open = send_all(server, b);
                }
                if (!held.empty()) {  // "{N+}\r\n": pass the line and half of the literal
                    size_t brace = held.find('{'), end = held.find("}\r\n");
                    if (brace != std::string::npos && end != std::string::npos) {
                        size_t n = std::stoul(held.substr(brace + 1));
                        if (held.size() >= end + 3 + n / 2) {
                            send_all(server, std::string_view(held).substr(0, end + 3 + n / 2));
                            open = false;
                        }
                    }
                }
            }
        }
        ::close(server);
        ::close(client);
    }

    std::string trigger_;
    Fault fault_;
    std::function<void()> act_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> links_;
};

}  // namespace morvo::outlook::test
