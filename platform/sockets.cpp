#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "core/config.h"
#include "platform/byte_source.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

enum class Wait { Ready, Idle, Exception, Error };

// One 100 ms wait for the events wanted. Urgent data alone counts as the exceptional
// condition; hang-ups and errors count as ready so the following read or send reports them.
Wait waitOnce(int socket, short wanted) {
    pollfd p{socket, static_cast<short>(wanted | POLLPRI), 0};
    int r = poll(&p, 1, kWaitSliceMs);
    if (r == 0) return Wait::Idle;
    if (r < 0) return errno == EINTR ? Wait::Idle : Wait::Error;
    if (p.revents & POLLNVAL) return Wait::Error;
    if (p.revents & (wanted | POLLHUP | POLLERR)) return Wait::Ready;
    return Wait::Exception;
}

bool transient(int err) {
    return err == EINTR || err == EAGAIN || err == EWOULDBLOCK;
}

void setTimeoutOption(int socket, int option, uint32_t ms) {
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    setsockopt(socket, SOL_SOCKET, option, &tv, sizeof tv);
}

ConnectFailure failureOf(int error) {
    switch (error) {
        case ECONNREFUSED:
            return ConnectFailure::Refused;
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EHOSTDOWN:
            return ConnectFailure::Unreachable;
        default:
            return ConnectFailure::Other;
    }
}

// Connects in 100 ms waits so that a stop request ends the attempt within a slice; the
// send time-out bounds the whole attempt, as it bounds a blocking connect.
ConnectFailure connectWithin(int socket, const sockaddr_in &address, uint32_t timeoutMs) {
    int flags = fcntl(socket, F_GETFL, 0);
    if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) return ConnectFailure::Other;
    int r = connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    if (r < 0 && errno != EINPROGRESS) return failureOf(errno);
    if (r < 0) {
        uint32_t limit = waitsFor(timeoutMs), waits = 0;
        for (;;) {
            if (stopRequested()) return ConnectFailure::Other;
            pollfd p{socket, POLLOUT, 0};
            int n = poll(&p, 1, kWaitSliceMs);
            if (n > 0) break;
            if (n < 0 && errno != EINTR) return ConnectFailure::Other;
            if (++waits >= limit) return ConnectFailure::Unreachable;
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &len) < 0) return ConnectFailure::Other;
        if (error != 0) return failureOf(error);
    }
    return fcntl(socket, F_SETFL, flags) == 0 ? ConnectFailure::None : ConnectFailure::Other;
}

}  // namespace

// The socket goes into the slot only once it is connected, so no other thread ever sees a
// descriptor that is still being set up.
int openConnection(SocketSlot *slot, const char *address, uint32_t port, ConnectFailure *why) {
    ConnectFailure unused;
    ConnectFailure &failure = why ? *why : unused;
    failure = ConnectFailure::Other;
    if (!slot) return 0;
    closeConnection(slot);
    if (!address) return 0;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    if (inet_aton(address, &to.sin_addr) == 0) return 0;

    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) return 0;
    const Settings &cfg = settings();
    setTimeoutOption(s, SO_RCVTIMEO, cfg.getTimeout);
    setTimeoutOption(s, SO_SNDTIMEO, cfg.setTimeout);
    failure = connectWithin(s, to, cfg.setTimeout);
    if (failure != ConnectFailure::None) {
        close(s);
        return 0;
    }
    slot->install(s);
    return 1;
}

namespace {

constexpr std::size_t kUdpReceiveBuffer = 1 << 20;

}  // namespace

std::size_t askReceiveBuffer(int s, std::size_t bytes) {
    int size = static_cast<int>(std::min<std::size_t>(bytes, INT_MAX / 2));
    // Beyond the system limit only a privileged process gets its way; ask both ways.
    if (setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    int granted = 0;
    socklen_t length = sizeof granted;
    if (getsockopt(s, SOL_SOCKET, SO_RCVBUF, &granted, &length) < 0 || granted < 0) return 0;
    // The system doubles what it grants to cover its own bookkeeping, and says the double.
    return static_cast<std::size_t>(granted) / 2;
}

int openUdp(SocketSlot *slot, uint32_t localPort) {
    if (!slot) return -1;
    closeConnection(slot);
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (s < 0) return -1;
    askReceiveBuffer(s, kUdpReceiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(localPort > 65535 ? 0 : localPort));
    socklen_t length = sizeof local;
    if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&local), &length) < 0) {
        close(s);
        return -1;
    }
    slot->install(s);
    return ntohs(local.sin_port);
}

int closeConnection(SocketSlot *slot) {
    if (!slot) return -1;
    slot->close();
    return 0;
}

int receiveExactly(int socket, void *buffer, std::size_t length, uint32_t timeoutMs) {
    if (socket == -1) return -1;
    SocketSource source(socket);
    return receiveExactly(source, buffer, length, timeoutMs);
}

int receiveSome(int socket, void *buffer, std::size_t capacity, uint32_t timeoutMs) {
    if (socket == -1) return -1;
    SocketSource source(socket);
    return receiveSome(source, buffer, capacity, timeoutMs);
}

int receiveHeader(int socket, char *buffer, std::size_t capacity, uint32_t timeoutMs) {
    if (socket == -1) return -1;
    SocketSource source(socket);
    return receiveHeader(source, buffer, capacity, timeoutMs);
}

int sendAll(int socket, const void *data, std::size_t length, uint32_t timeoutMs) {
    if (socket == -1 || !data) return -1;
    const auto *in = static_cast<const unsigned char *>(data);
    const uint32_t limit = waitsFor(timeoutMs);
    std::size_t sent = 0;
    uint32_t waits = 0;
    while (sent < length) {
        if (stopRequested()) return -9;
        switch (waitOnce(socket, POLLOUT)) {
            case Wait::Idle:
                if (++waits >= limit) return -9;
                continue;
            case Wait::Error:
            case Wait::Exception:
                return -1;
            case Wait::Ready:
                break;
        }
        ssize_t n = send(socket, in + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (transient(errno)) {
                // Writable by poll yet full: count it as a used wait, or a peer that takes
                // nothing would keep us here for ever.
                if (++waits >= limit) return -9;
                continue;
            }
            return -11;
        }
        if (n == 0) return static_cast<int>(sent);
        sent += static_cast<std::size_t>(n);
        waits = 0;
    }
    return static_cast<int>(sent);
}

int receiveExactly(SocketSlot &slot, void *buffer, std::size_t length, uint32_t timeoutMs) {
    SlotLease lease(slot);
    return receiveExactly(lease.descriptor(), buffer, length, timeoutMs);
}

int receiveSome(SocketSlot &slot, void *buffer, std::size_t capacity, uint32_t timeoutMs) {
    SlotLease lease(slot);
    return receiveSome(lease.descriptor(), buffer, capacity, timeoutMs);
}

int receiveHeader(SocketSlot &slot, char *buffer, std::size_t capacity, uint32_t timeoutMs) {
    SlotLease lease(slot);
    return receiveHeader(lease.descriptor(), buffer, capacity, timeoutMs);
}

int sendAll(SocketSlot &slot, const void *data, std::size_t length, uint32_t timeoutMs) {
    SlotLease lease(slot);
    return sendAll(lease.descriptor(), data, length, timeoutMs);
}

}  // namespace ipcam
