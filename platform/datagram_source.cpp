#include "platform/datagram_source.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "platform/sockets.h"

namespace ipcam {

namespace {

// Datagrams of strangers read in one call before the reader gets a word in.
constexpr int kStrangersPerRead = 64;

}  // namespace

uint32_t ipv4Address(const char *dotted) {
    in_addr address{};
    if (!dotted || inet_aton(dotted, &address) == 0) return 0;
    return address.s_addr;
}

WaitResult DatagramSource::waitReadableFor(uint32_t ms) {
    pollfd p{lease_.descriptor(), POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(std::min<uint32_t>(ms, kWaitSliceMs)));
    if (r == 0) return WaitResult::Idle;
    if (r < 0) return errno == EINTR ? WaitResult::Idle : WaitResult::Error;
    // A socket without a connection hangs up only when its slot was closed under the reader,
    // and then has nothing more to read, ever.
    if (p.revents & (POLLNVAL | POLLHUP)) return WaitResult::Error;
    return WaitResult::Ready;
}

int DatagramSource::read(void *buffer, std::size_t capacity) {
    for (int strangers = 0; strangers < kStrangersPerRead; ++strangers) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(lease_.descriptor(), buffer, capacity, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0)
            return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? kNothingYet : -1;
        if (n == 0 || length < sizeof from || from.sin_family != AF_INET ||
            from.sin_addr.s_addr != peer_.address)
            continue;
        if (peer_.replyPort == 0) peer_.replyPort = ntohs(from.sin_port);
        return static_cast<int>(n);
    }
    return kNothingYet;
}

int DatagramSource::send(const void *data, std::size_t length, uint32_t) {
    const uint16_t port = peer_.replyPort;
    if (port == 0 || !data) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = peer_.address;
    to.sin_port = htons(port);
    const ssize_t n = sendto(lease_.descriptor(), data, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr *>(&to), sizeof to);
    return n == static_cast<ssize_t>(length) ? static_cast<int>(n) : -11;
}

std::size_t DatagramSource::askReceiveBuffer(std::size_t bytes) {
    const int socket = lease_.descriptor();
    return socket == -1 ? 0 : ipcam::askReceiveBuffer(socket, bytes);
}

}  // namespace ipcam
