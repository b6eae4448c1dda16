#include "platform/icmp_echo.h"

#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/stop_scope.h"

namespace ipcam {

namespace {

constexpr std::size_t kMaxEchoData = 64;
std::atomic<uint16_t> g_sequence{0};

uint16_t internetChecksum(const uint8_t *data, std::size_t length) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length & 1) sum += static_cast<uint32_t>(data[length - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

int openDatagram() {
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
}
int openRaw() {
    return socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}
void closeHandle(int handle) {
    ::close(handle);
}

// Sends the request and waits for the matching reply in 100 ms slices. On a datagram socket
// the system fills in the identifier and hands back only our replies, without the IP header;
// on a raw socket every ICMP packet arrives behind its IP header and we match the identifier.
bool echoOn(int handle, bool raw, in_addr_t address, const void *data, std::size_t length,
            uint32_t timeoutMs) {
    if (length > kMaxEchoData) return false;
    const uint16_t sequence = g_sequence.fetch_add(1, std::memory_order_relaxed);
    const uint16_t identifier = static_cast<uint16_t>(getpid() & 0xFFFF);

    uint8_t packet[8 + kMaxEchoData] = {};
    packet[0] = ICMP_ECHO;
    packet[4] = static_cast<uint8_t>(identifier >> 8);
    packet[5] = static_cast<uint8_t>(identifier);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
    std::memcpy(packet + 8, data, length);
    uint16_t sum = internetChecksum(packet, 8 + length);
    packet[2] = static_cast<uint8_t>(sum >> 8);
    packet[3] = static_cast<uint8_t>(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    if (sendto(handle, packet, 8 + length, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0)
        return false;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t reply[1024];
    while (!stopRequested()) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{handle, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left < 100 ? left : 100));
        if (r < 0 && errno != EINTR) return false;
        if (r <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(handle, reply, sizeof reply, MSG_DONTWAIT,
                             reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n <= 0 || from.sin_addr.s_addr != address) continue;
        std::size_t at = 0;
        if (raw) {
            at = static_cast<std::size_t>(reply[0] & 0x0F) * 4;
            if (static_cast<std::size_t>(n) < at + 8) continue;
            if (reply[at + 4] != packet[4] || reply[at + 5] != packet[5]) continue;
        }
        if (static_cast<std::size_t>(n) < at + 8) continue;
        if (reply[at] == ICMP_ECHOREPLY && reply[at + 6] == packet[6] && reply[at + 7] == packet[7])
            return true;
    }
    return false;
}

bool echoDatagram(int handle, in_addr_t address, const void *data, std::size_t length,
                  uint32_t timeoutMs) {
    return echoOn(handle, false, address, data, length, timeoutMs);
}
bool echoRaw(int handle, in_addr_t address, const void *data, std::size_t length,
             uint32_t timeoutMs) {
    return echoOn(handle, true, address, data, length, timeoutMs);
}

constexpr EchoMethod kMethods[] = {
    {"ICMP datagram socket", openDatagram, echoDatagram, closeHandle},
    {"raw ICMP socket", openRaw, echoRaw, closeHandle},
};

}  // namespace

std::span<const EchoMethod> systemEchoMethods() {
    return kMethods;
}

}  // namespace ipcam
