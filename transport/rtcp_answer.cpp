#include "transport/rtcp_answer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/session.h"
#include "platform/clock.h"
#include "transport/delivery.h"
#include "transport/rtcp_packet.h"

namespace ipcam {

namespace {

constexpr uint64_t kReportIntervalMs = 5000;
constexpr uint32_t kVideoClockRate = 90'000;  // every video payload format's
constexpr uint32_t kDefaultAudioRate = 8'000;
constexpr std::size_t kLargestDatagram = 2048;  // a longer report is read cut short
constexpr int kDatagramsPerLook = 16;

RtcpAnswerState::Stream which(uint8_t stream) {
    return stream == RtpChannels::kAudio ? RtcpAnswerState::kAudio : RtcpAnswerState::kVideo;
}

// The design's own device types keep the reports they were built against.
bool designReports(IPCamSession *session) {
    return !playsRtspAddress(session->protocolType);
}

uint64_t nextInterval() {
    thread_local std::mt19937 bits{std::random_device{}()};
    std::uniform_int_distribution<uint64_t> spread(kReportIntervalMs / 2,
                                                   kReportIntervalMs * 3 / 2);
    return spread(bits);
}

std::string hostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

void putWord(uint8_t *to, uint32_t value) {
    const uint8_t bytes[] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                             static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    std::memcpy(to, bytes, 4);
}

// The design's answer on the RTSP connection: '$' alone, then the channel, the length and a
// receiver report from our SSRC about the sender's, with our host name.
void sendDesignAnswer(IPCamSession *session, ByteSource &connection, uint8_t channel) {
    const std::string name = hostName();
    const std::size_t nameLength = strnlen(name.c_str(), kHostNameLimit);
    RtcpAnswerState &rtcp = session->rtp.rtcp;
    const uint32_t own = rtcp.ownSsrc();

    uint8_t block[3 + 46 + kHostNameLimit];
    std::size_t n = 0;
    const uint8_t head[] = {channel, 0,   static_cast<uint8_t>(nameLength + 46), 0x81, 0xC9,
                            0x00,    0x07};
    std::memcpy(block, head, sizeof head);
    n += sizeof head;
    putWord(block + n, own);
    putWord(block + n + 4, rtcp.reportedSource(RtcpAnswerState::kVideo));
    n += 8;
    std::memset(block + n, 0xFF, 24);
    n += 24;
    putWord(block + n, own);
    n += 4;
    block[n++] = 1;
    block[n++] = static_cast<uint8_t>(nameLength);
    std::memcpy(block + n, name.data(), nameLength);
    n += nameLength;
    std::memset(block + n, 0, 4);
    n += 4;

    const uint32_t timeout = settings().setTimeout;
    if (connection.send("$", 1, timeout) == 1) connection.send(block, n, timeout);
}

// The design's keep-alive report over UDP: a receiver report of 0xFF bytes.
void sendDesignKeepAlive(ByteSource &rtcp) {
    uint8_t report[32];
    std::memset(report, 0xFF, sizeof report);
    const uint8_t head[] = {0x81, 201, 0x00, 0x07};
    std::memcpy(report, head, sizeof head);
    rtcp.send(report, sizeof report, settings().setTimeout);
}

std::vector<uint8_t> ourReport(IPCamSession *session, RtcpAnswerState::Stream stream) {
    RtcpAnswerState &rtcp = session->rtp.rtcp;
    std::string name = hostName();
    if (name.empty()) name = "kestrel";
    return receiverReport(rtcp.ownSsrc(), rtcp.report(stream, monotonicUs()), name);
}

}  // namespace

void countReception(IPCamSession *session, uint8_t stream, const RtpPacket &packet) {
    uint32_t rate = kVideoClockRate;
    if (stream == RtpChannels::kAudio) {
        const int32_t audioRate = currentFormat(session).sampleRate;
        rate = audioRate > 0 ? static_cast<uint32_t>(audioRate) : kDefaultAudioRate;
    }
    session->rtp.rtcp.packet(which(stream), packet.ssrc, packet.sequence, packet.timestamp,
                             monotonicUs(), rate);
}

void takeDeviceReport(IPCamSession *session, std::span<const uint8_t> compound, uint8_t stream) {
    session->rtp.rtcp.deviceReport(which(stream), readRtcpCompound(compound), monotonicUs());
}

void answerDeviceReport(IPCamSession *session, ByteSource &connection,
                        std::span<const uint8_t> compound, uint8_t channel, uint8_t stream) {
    const bool design = designReports(session);
    if (design && stream == RtpChannels::kAudio) return;  // never answered there
    takeDeviceReport(session, compound, stream);
    if (!session->rtp.rtcp.due(which(stream), monotonicMs(), nextInterval())) return;
    if (design) {
        sendDesignAnswer(session, connection, channel);
        return;
    }
    const std::vector<uint8_t> report = ourReport(session, which(stream));
    std::vector<uint8_t> frame(4 + report.size());
    frame[0] = '$';
    frame[1] = channel;
    frame[2] = static_cast<uint8_t>(report.size() >> 8);
    frame[3] = static_cast<uint8_t>(report.size());
    std::copy(report.begin(), report.end(), frame.begin() + 4);
    connection.send(frame.data(), frame.size(), settings().setTimeout);
}

void serviceRtcpSocket(IPCamSession *session, ByteSource &rtcp, uint8_t stream) {
    // Read for every type, so that nothing piles up on the socket.
    uint8_t datagram[kLargestDatagram];
    for (int i = 0; i < kDatagramsPerLook; ++i) {
        const int n = rtcp.read(datagram, sizeof datagram);
        if (n <= 0) break;  // nothing more; a failed RTCP socket leaves the media alone
        takeDeviceReport(session, {datagram, static_cast<std::size_t>(n)}, stream);
    }
    const bool design = designReports(session);
    const uint64_t interval = design ? settings().getTimeout : nextInterval();
    if (!session->rtp.rtcp.due(which(stream), monotonicMs(), interval)) return;
    if (design) {
        sendDesignKeepAlive(rtcp);
        return;
    }
    const std::vector<uint8_t> report = ourReport(session, which(stream));
    rtcp.send(report.data(), report.size(), settings().setTimeout);
}

}  // namespace ipcam
