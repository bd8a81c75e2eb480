// A TCP relay on 127.0.0.1 that delays every byte by a fixed time in each direction, so that a
// server on loopback looks as far away as one on a real network (this machine has no kernel
// delay queue).
//
//   bench_relay DELAY_MS TARGET_PORT   listens on a free port, prints it on one line, and relays
//                                      every connection to 127.0.0.1:TARGET_PORT until killed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// One direction: a reader stamps each chunk as it arrives, a writer sends it once its delay has
// passed. Both directions run freely, as on a real link.
struct Pipe {
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::pair<Clock::time_point, std::string>> chunks;
    bool closed = false;
};

void read_side(int from, std::shared_ptr<Pipe> p, std::chrono::milliseconds delay) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::recv(from, buf, sizeof buf, 0);
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(p->m);
        p->chunks.emplace_back(Clock::now() + delay, std::string(buf, static_cast<size_t>(n)));
        p->cv.notify_one();
    }
    std::lock_guard<std::mutex> lock(p->m);
    p->closed = true;
    p->cv.notify_one();
}

void write_side(int to, std::shared_ptr<Pipe> p) {
    for (;;) {
        std::unique_lock<std::mutex> lock(p->m);
        p->cv.wait(lock, [&] { return p->closed || !p->chunks.empty(); });
        if (p->chunks.empty()) break;
        auto [due, bytes] = std::move(p->chunks.front());
        p->chunks.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(due);
        const char* at = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            ssize_t n = ::send(to, at, left, MSG_NOSIGNAL);
            if (n <= 0) {
                ::shutdown(to, SHUT_RDWR);
                return;
            }
            at += n;
            left -= static_cast<size_t>(n);
        }
    }
    ::shutdown(to, SHUT_WR);
}

void relay(int client, int target_port, std::chrono::milliseconds delay) {
    int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(target_port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(client);
        ::close(server);
        return;
    }
    int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto up = std::make_shared<Pipe>();
    auto down = std::make_shared<Pipe>();
    std::thread t1(read_side, client, up, delay), t2(write_side, server, up);
    std::thread t3(read_side, server, down, delay), t4(write_side, client, down);
    t1.join();
    t2.join();
    t3.join();
    t4.join();
    ::close(client);
    ::close(server);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_relay DELAY_MS TARGET_PORT\n");
        return 2;
    }
    const std::chrono::milliseconds delay(std::atoi(argv[1]));
    const int target = std::atoi(argv[2]);
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("bench_relay");
        return 1;
    }
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        std::thread(relay, client, target, delay).detach();
    }
}
