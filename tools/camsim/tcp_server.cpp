#include "tools/camsim/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <system_error>

namespace camsim {

TcpServer::TcpServer(ConnectionHandler handler) : handler_(std::move(handler)) {}

TcpServer::~TcpServer() {
    stop();
}

bool TcpServer::start(uint16_t port) {
    std::lock_guard lock(lifecycle_);
    if (acceptor_.joinable()) return false;

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    // A test that restarts on the port it had must not wait out TIME_WAIT.
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        close(fd);
        return false;
    }
    listener_ = fd;
    port_ = ntohs(address.sin_port);
    stopping_ = false;
    try {
        acceptor_ = std::thread([this] { acceptLoop(); });
    } catch (const std::system_error &) {
        close(listener_);
        listener_ = -1;
        return false;
    }
    return true;
}

void TcpServer::stop() {
    std::lock_guard lock(lifecycle_);
    if (!acceptor_.joinable()) return;
    stopping_ = true;
    acceptor_.join();
    close(listener_);
    listener_ = -1;
    for (auto &worker : workers_) worker->thread.join();
    workers_.clear();
}

void TcpServer::acceptLoop() {
    while (!stopping_.load(std::memory_order_relaxed)) {
        joinFinishedWorkers();
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, kWaitSliceMs) <= 0) continue;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        ++accepted_;
        ++open_;
        auto worker = std::make_unique<Worker>();
        Worker *w = worker.get();
        try {
            w->thread = std::thread([this, fd, w] {
                serve(fd);
                w->finished = true;
            });
        } catch (const std::system_error &) {
            close(fd);
            connectionClosed();
            continue;
        }
        workers_.push_back(std::move(worker));
    }
}

void TcpServer::serve(int fd) {
    {
        Connection connection(fd, stopping_);
        try {
            handler_(connection);
        } catch (...) {
            // A handler that throws loses its connection, not the whole simulator.
        }
    }
    connectionClosed();
}

void TcpServer::connectionClosed() {
    {
        // Under the lock, so a waiter between its check and its wait cannot miss the change.
        std::lock_guard lock(idleLock_);
        --open_;
    }
    idle_.notify_all();
}

bool TcpServer::waitUntilIdle(int timeoutMs) const {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(idleLock_);
    while (open_.load() != 0) {
        auto now = Clock::now();
        if (now >= until) return false;
        idle_.wait_for(
            lock, std::min<Clock::duration>(until - now, std::chrono::milliseconds(kWaitSliceMs)));
    }
    return true;
}

void TcpServer::joinFinishedWorkers() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace camsim
