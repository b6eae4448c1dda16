// Raw client sockets for the simulator's tests: byte-exact requests, byte-exact replies.
#pragma once

#include "support/tcp_states.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "support/loopback.h"

namespace kestrel_test {

// Basic credentials of admin:secret, written out so the simulator's own coder is not trusted.
inline constexpr const char *kAdminSecret = "YWRtaW46c2VjcmV0";

class Client {
  public:
    explicit Client(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) close();
    }
    ~Client() { close(); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void send(const std::string &bytes) { sendText(fd_, bytes); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // Everything until the server closes (or timeoutMs of silence).
    std::string readToEnd(int timeoutMs = 5000) { return readAll(fd_, timeoutMs); }

    // Reads until n bytes are in, the server closes or timeoutMs of silence pass.
    std::string read(std::size_t n, int timeoutMs = 5000) {
        std::string out;
        char buf[4096];
        while (out.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0) break;
            out.append(buf, static_cast<std::size_t>(got));
        }
        return out;
    }

    // True when the server ends the connection within timeoutMs; what it sends is dropped.
    bool endedByServer(int timeoutMs = 2000) {
        char buf[4096];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return false;
            if (recv(fd_, buf, sizeof buf, 0) <= 0) return true;
        }
    }

    // True once the server has closed its side, whatever data is still unread.
    bool peerClosed() const {
        pollfd p{fd_, POLLRDHUP, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }

    // True when nothing at all (neither data nor the end of the stream) comes for ms.
    bool silentFor(int ms) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, ms) == 0;
    }

  private:
    int fd_ = -1;
};

// One request on a fresh connection; the whole reply, read until the server closes.
inline std::string exchange(uint16_t port, const std::string &request) {
    Client c(port);
    c.send(request);
    return c.readToEnd();
}

// The byte at `at`, as a number.
inline int u8(const std::string &s, std::size_t at) {
    return static_cast<uint8_t>(s.at(at));
}

inline std::string get(const std::string &target, const std::string &headers = "") {
    return "GET " + target + " HTTP/1.1\r\nHost:127.0.0.1\r\n" + headers + "\r\n";
}

// Polls cond every 10 ms until it holds or timeoutMs pass.
template <typename Cond>
bool eventually(Cond cond, int timeoutMs = 3000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Descriptors the process holds, to catch sockets that outlive the server.
}  // namespace kestrel_test
