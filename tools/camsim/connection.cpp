#include "tools/camsim/connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace camsim {

namespace {

bool transient(int err) {
    return err == EINTR || err == EAGAIN || err == EWOULDBLOCK;
}

// Position just past the first blank line in text, or npos.
std::size_t headEnd(std::string_view text) {
    std::size_t crlf = text.find("\r\n\r\n");
    std::size_t lf = text.find("\n\n");
    std::size_t end = std::string_view::npos;
    if (crlf != std::string_view::npos) end = crlf + 4;
    if (lf != std::string_view::npos) end = std::min(end, lf + 2);
    return end;
}

}  // namespace

Connection::Connection(int fd, const std::atomic<bool> &stopping) : fd_(fd), stopping_(stopping) {}

Connection::~Connection() {
    close();
}

void Connection::close() {
    if (fd_ < 0) return;
    shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
}

bool Connection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (fd_ < 0 || stopping()) return false;
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && !transient(errno)) return false;
        // The peer is not taking data: wait for room, a slice at a time.
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, kWaitSliceMs) < 0 && errno != EINTR) return false;
        if (p.revents & (POLLERR | POLLNVAL)) return false;
    }
    return true;
}

bool Connection::pause(int ms) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (stopping()) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return true;
        poll(nullptr, 0, static_cast<int>(std::min<long long>(left.count(), kWaitSliceMs)));
    }
}

bool Connection::peerClosed() const {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLRDHUP, 0};
    if (poll(&p, 1, 0) < 0) return false;
    return (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

Connection::Read Connection::fill() {
    for (;;) {
        if (fd_ < 0) return Read::Closed;
        if (stopping()) return Read::Stopped;
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, kWaitSliceMs);
        if (r < 0 && errno != EINTR) return Read::Closed;
        if (r <= 0) continue;
        char buffer[4096];
        ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            pending_.append(buffer, static_cast<std::size_t>(n));
            return Read::Done;
        }
        if (n == 0 || !transient(errno)) return Read::Closed;
    }
}

Connection::Read Connection::readHead(std::string &head, std::size_t limit) {
    for (;;) {
        std::size_t end = headEnd(pending_);
        if (end != std::string::npos && end <= limit) {
            head.assign(pending_, 0, end);
            pending_.erase(0, end);
            return Read::Done;
        }
        if (pending_.size() >= limit) return Read::TooLarge;
        if (Read r = fill(); r != Read::Done) return r;
    }
}

Connection::Read Connection::readExactly(std::string &out, std::size_t n) {
    while (pending_.size() < n) {
        if (Read r = fill(); r != Read::Done) return r;
    }
    out.assign(pending_, 0, n);
    pending_.erase(0, n);
    return Read::Done;
}

Connection::Read Connection::readAvailable(std::string &out, int waitMs) {
    if (pending_.empty()) {
        if (fd_ < 0) return Read::Closed;
        if (stopping()) return Read::Stopped;
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, std::clamp(waitMs, 0, kWaitSliceMs));
        if (r < 0 && errno != EINTR) return Read::Closed;
        if (r > 0) {
            char buffer[4096];
            ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && !transient(errno))) return Read::Closed;
            if (n > 0) pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    out += pending_;
    pending_.clear();
    return Read::Done;
}

void Connection::holdUntilClosed() {
    while (fill() == Read::Done) pending_.clear();
}

}  // namespace camsim
