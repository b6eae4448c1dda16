#include "tools/camsim/udp_pair.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace camsim {

namespace {

constexpr int kAttempts = 64;

// A socket bound to 127.0.0.1:port (0: any), or -1.
int bound(uint16_t port, uint16_t &actual) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t length = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) != 0) {
        close(fd);
        return -1;
    }
    actual = ntohs(a.sin_port);
    return fd;
}

void sendTo(int fd, uint16_t port, std::string_view datagram) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
           reinterpret_cast<sockaddr *>(&a), sizeof a);
}

// Empties the socket; each datagram goes to take.
void drainSocket(int fd, const std::function<void(std::string_view)> &take) {
    char buffer[2048];
    for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
        take(std::string_view(buffer, static_cast<std::size_t>(got)));
}

}  // namespace

std::unique_ptr<UdpPair> UdpPair::open() {
    for (int i = 0; i < kAttempts; ++i) {
        uint16_t rtpPort = 0, rtcpPort = 0;
        int rtp = bound(0, rtpPort);
        if (rtp < 0) return nullptr;
        if (rtpPort % 2 == 0 && rtpPort < 65535) {
            int rtcp = bound(static_cast<uint16_t>(rtpPort + 1), rtcpPort);
            if (rtcp >= 0) return std::make_unique<UdpPair>(Token{}, rtp, rtcp, rtpPort);
        }
        close(rtp);
    }
    return nullptr;
}

UdpPair::~UdpPair() {
    close(rtp_);
    close(rtcp_);
    if (rtpSender_ != -1) close(rtpSender_);
}

bool UdpPair::sendRtpFromAnotherPort() {
    uint16_t port = 0;
    if (rtpSender_ == -1) rtpSender_ = bound(0, port);
    return rtpSender_ != -1;
}

void UdpPair::sendRtp(uint16_t port, std::string_view datagram) const {
    sendTo(rtpSender_ != -1 ? rtpSender_ : rtp_, port, datagram);
}

void UdpPair::sendRtcp(uint16_t port, std::string_view datagram) const {
    sendTo(rtcp_, port, datagram);
}

void UdpPair::drain(const std::function<void(std::string_view)> &rtcp) const {
    drainSocket(rtp_, [](std::string_view) {});
    drainSocket(rtcp_, rtcp);
}

}  // namespace camsim
