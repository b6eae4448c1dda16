#include "transport/rtcp_answer.h"

#include <unistd.h>

#include <cstring>
#include <random>

#include "core/config.h"
#include "core/session.h"
#include "platform/clock.h"

namespace ipcam {

namespace {

constexpr uint8_t kSenderReport = 200, kApplication = 204;
constexpr uint64_t kReportIntervalMs = 5000;

std::mt19937 &randomBits() {
    thread_local std::mt19937 bits{std::random_device{}()};
    return bits;
}

// Chosen once per session; never 0, which reads as no source at all.
uint32_t ownSsrc(RtcpAnswerState &rtcp) {
    while (rtcp.ownSsrc == 0) rtcp.ownSsrc = static_cast<uint32_t>(randomBits()());
    return rtcp.ownSsrc;
}

uint64_t nextInterval() {
    std::uniform_int_distribution<uint64_t> spread(kReportIntervalMs / 2,
                                                   kReportIntervalMs * 3 / 2);
    return spread(randomBits());
}

void sendAnswer(IPCamSession *session, ByteSource &connection, uint8_t channel) {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    const std::size_t nameLength = strnlen(name, kHostNameLimit);
    RtcpAnswerState &rtcp = session->rtp.rtcp;
    const uint32_t own = ownSsrc(rtcp);
    const uint32_t sender = rtcp.senderKnown
                                ? rtcp.senderSsrc
                                : session->rtp.channels.ssrc(RtpChannels::kVideo);

    uint8_t block[3 + 46 + kHostNameLimit];
    std::size_t n = 0;
    auto put = [&](const void *p, std::size_t count) {
        std::memcpy(block + n, p, count);
        n += count;
    };
    const uint8_t ownBytes[] = {static_cast<uint8_t>(own >> 24), static_cast<uint8_t>(own >> 16),
                                static_cast<uint8_t>(own >> 8), static_cast<uint8_t>(own)};
    const uint8_t head[] = {channel, 0,   static_cast<uint8_t>(nameLength + 46), 0x81, 0xC9,
                            0x00,    0x07};
    put(head, sizeof head);
    put(ownBytes, 4);
    put(&sender, 4);
    std::memset(block + n, 0xFF, 24);
    n += 24;
    put(ownBytes, 4);
    const uint8_t cname[] = {1, static_cast<uint8_t>(nameLength)};
    put(cname, 2);
    put(name, nameLength);
    std::memset(block + n, 0, 4);
    n += 4;

    const uint32_t timeout = settings().setTimeout;
    if (connection.send("$", 1, timeout) == 1) connection.send(block, n, timeout);
}

}  // namespace

std::optional<uint32_t> rtcpSenderSsrc(std::span<const uint8_t> compound) {
    std::optional<uint32_t> first;
    std::size_t at = 0;
    while (compound.size() - at >= 4) {
        const uint8_t *p = compound.data() + at;
        if ((p[0] >> 6) != 2 || p[1] < kSenderReport || p[1] > kApplication) break;
        const std::size_t length = 4 * (static_cast<std::size_t>(p[2] << 8 | p[3]) + 1);
        if (length > compound.size() - at) break;
        if (length >= 8) {
            uint32_t ssrc;
            std::memcpy(&ssrc, p + 4, 4);  // kept in the byte order it arrived in
            if (p[1] == kSenderReport) return ssrc;
            if (!first) first = ssrc;
        }
        at += length;
    }
    return first;
}

void answerDeviceReport(IPCamSession *session, ByteSource &connection,
                        std::span<const uint8_t> compound, uint8_t channel) {
    RtcpAnswerState &rtcp = session->rtp.rtcp;
    if (std::optional<uint32_t> sender = rtcpSenderSsrc(compound)) {
        rtcp.senderSsrc = *sender;
        rtcp.senderKnown = true;
    }
    const uint64_t now = monotonicMs();
    if (rtcp.nextAnswerMs != 0 && now < rtcp.nextAnswerMs) return;
    rtcp.nextAnswerMs = now + nextInterval();
    sendAnswer(session, connection, channel);
}

}  // namespace ipcam
