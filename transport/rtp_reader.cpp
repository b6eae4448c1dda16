#include "transport/rtp_reader.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "core/config.h"
#include "core/session.h"
#include "core/session_api.h"
#include "platform/clock.h"
#include "transport/delivery.h"
#include "transport/jpeg_assembler.h"
#include "transport/jpeg_header.h"
#include "transport/mpeg4_assembler.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr int kAudioFailed = -9;
constexpr uint8_t kVideoChannel = 0, kRtcpChannel = 1, kAudioChannel = 2;

uint16_t be16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t raw32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);  // kept in the byte order it arrived in
    return v;
}

bool isMpeg4(IPCamSession *session) {
    return currentFormat(session).videoCodec == 4;
}

// Adds a video payload to the frame being assembled; RTP/JPEG payloads get their JPEG header
// rebuilt first. False when the payload headers are damaged.
bool appendVideo(IPCamSession *session, const uint8_t *payload, std::size_t length, bool mpeg4) {
    FrameBuffer &buffer = session->rtp.frameBuffer;
    if (mpeg4) {
        buffer.append(payload, length);
        return true;
    }
    uint8_t header[kJpegHeaderArea];
    JpegHeaderResult r = makeJpegHeader(payload, length, header, sizeof header);
    if (!r.ok) return false;
    if (r.headerLength > 0) buffer.append(header, r.headerLength);
    buffer.append(payload + r.payloadHeaders, length - r.payloadHeaders);
    return true;
}

int assemble(IPCamSession *session, bool mpeg4) {
    return mpeg4 ? assembleMpeg4(session) : assembleJpeg(session);
}

// The receiver report our side answers the device's RTCP with: '$' alone, then the block.
void answerRtcp(IPCamSession *session, ByteSource &connection) {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    const std::size_t nameLength = strnlen(name, kHostNameLimit);
    const uint32_t device = session->rtp.channels.record(kRtcpChannel, 0).ssrc;
    const uint32_t video = session->rtp.channels.record(kVideoChannel, 0).ssrc;

    uint8_t block[3 + 46 + kHostNameLimit];
    std::size_t n = 0;
    auto put = [&](const void *p, std::size_t count) {
        std::memcpy(block + n, p, count);
        n += count;
    };
    const uint8_t head[] = {kRtcpChannel, 0,   static_cast<uint8_t>(nameLength + 46), 0x81, 0xC9,
                            0x00,         0x07};
    put(head, sizeof head);
    put(&device, 4);
    put(&video, 4);
    std::memset(block + n, 0xFF, 24);
    n += 24;
    put(&device, 4);
    const uint8_t cname[] = {1, static_cast<uint8_t>(nameLength)};
    put(cname, 2);
    put(name, nameLength);
    std::memset(block + n, 0, 4);
    n += 4;

    const uint32_t timeout = settings().setTimeout;
    if (connection.send("$", 1, timeout) == 1) connection.send(block, n, timeout);
}

// Sends the 32-byte keep-alive report when the receive time-out has passed since the last.
void keepAlive(ByteSource *rtcp, uint64_t &lastReportMs) {
    if (!rtcp) return;
    const uint64_t now = monotonicMs();
    if (lastReportMs != 0 && now - lastReportMs < settings().getTimeout) return;
    uint8_t report[32];
    std::memset(report, 0xFF, sizeof report);
    report[0] = 0x81;
    report[1] = 201;
    report[2] = 0x00;
    report[3] = 0x07;
    rtcp->send(report, sizeof report, settings().setTimeout);
    lastReportMs = now;
}

// A packet went missing: delivery waits for the next key frame, and the frame it belonged
// to, which can no longer be whole, is dropped before the new packet goes in.
void lost(IPCamSession *session, uint8_t channel) {
    session->awaitingFirstFrame = 1;
    if (channel == kVideoChannel) session->rtp.clearFrame();
}

int videoFailure(IPCamSession *session) {
    session->rtp.clearFrame();
    return kVideoFailed;
}

}  // namespace

int readInterleaved(IPCamSession *session, ByteSource &connection) {
    const uint32_t timeout = settings().getTimeout;
    uint8_t head[16];
    if (receiveExactly(connection, head, sizeof head, timeout) != 16 || head[0] != '$')
        return videoFailure(session);

    const uint8_t channel = head[1];
    const int csrcBytes = 4 * (head[4] & 0x0F);
    const int payloadLength = be16(head + 2) - 12 - csrcBytes;
    if (payloadLength < 0) return videoFailure(session);
    uint8_t csrc[60];
    if (csrcBytes > 0 &&
        receiveExactly(connection, csrc, static_cast<std::size_t>(csrcBytes), timeout) != csrcBytes)
        return videoFailure(session);

    if (session->rtp.frameBuffer.freeSpace() < static_cast<std::size_t>(payloadLength))
        session->rtp.clearFrame();
    const std::span<uint8_t> packet = session->rtp.packet.get();
    if (packet.empty()) return videoFailure(session);
    uint8_t *payload = packet.data();
    if (payloadLength > 0 &&
        receiveExactly(connection, payload, static_cast<std::size_t>(payloadLength), timeout) !=
            payloadLength)
        return videoFailure(session);

    // RTP streams sit on even channels; the RTCP of odd ones carries no packet numbers.
    const uint32_t ssrc = raw32(head + 12);
    if (channel % 2 == 0) {
        if (!session->rtp.channels.advance(channel, ssrc, be16(head + 6))) lost(session, channel);
    } else {
        session->rtp.channels.record(channel, ssrc);
    }

    const bool mpeg4 = isMpeg4(session);
    switch (channel) {
        case kVideoChannel:
            if (!appendVideo(session, payload, static_cast<std::size_t>(payloadLength), mpeg4))
                return videoFailure(session);
            break;
        case kRtcpChannel:
            answerRtcp(session, connection);
            break;
        case kAudioChannel:
            if (!session->awaitingFirstFrame)
                sendMessage(session, IPCAM_FRAME_AUDIO, payload,
                            static_cast<std::size_t>(payloadLength), localFileTimeNow());
            return 0;
        default:
            break;
    }
    if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    return assemble(session, mpeg4);
}

int readUdpVideo(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp) {
    const std::span<uint8_t> packet = session->rtp.packet.get();
    if (packet.empty()) return videoFailure(session);
    uint8_t *datagram = packet.data();
    const bool mpeg4 = isMpeg4(session);
    for (;;) {
        int n = receiveSome(rtp, datagram, packet.size(), settings().getTimeout);
        if (n <= 12) return videoFailure(session);
        const std::size_t start = 12 + 4 * static_cast<std::size_t>(datagram[0] & 0x0F);
        if (start > static_cast<std::size_t>(n)) return videoFailure(session);
        if (!session->rtp.channels.advance(kVideoChannel, raw32(datagram + 8), be16(datagram + 2)))
            lost(session, kVideoChannel);
        keepAlive(rtcp, session->rtp.videoReportMs);

        const std::size_t length = static_cast<std::size_t>(n) - start;
        if (session->rtp.frameBuffer.freeSpace() < length) session->rtp.clearFrame();
        if (!appendVideo(session, datagram + start, length, mpeg4)) return videoFailure(session);
        const bool marker = datagram[1] & 0x80;
        if (marker || !mpeg4) {
            int r = assemble(session, mpeg4);
            if (marker || r != 0) return r;
        }
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    }
}

int readUdpAudio(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp) {
    const std::span<uint8_t> packet = session->rtp.audioPacket.get();
    if (packet.empty()) return kAudioFailed;
    uint8_t *datagram = packet.data();
    int n = receiveSome(rtp, datagram, packet.size(), settings().getTimeout);
    if (n < 13) return kAudioFailed;
    const std::size_t start = 12 + 4 * static_cast<std::size_t>(datagram[0] & 0x0F);
    if (start > static_cast<std::size_t>(n)) return kAudioFailed;
    if (session->rtp.channels.advance(kAudioChannel, raw32(datagram + 8), be16(datagram + 2)) &&
        !session->awaitingFirstFrame) {
        keepAlive(rtcp, session->rtp.audioReportMs);
        sendMessage(session, IPCAM_FRAME_AUDIO, datagram + start,
                    static_cast<std::size_t>(n) - start, localFileTimeNow());
    }
    return 0;
}

int rtpRunVideo(IPCamSession *session) {
    if (!session->rtpOverUdp) {
        SocketSource connection(session->sockets[kRtspSocket]);
        return readInterleaved(session, connection);
    }
    SocketSource rtp(session->sockets[kVideoSocket]);
    SocketSource rtcp(session->sockets[kSixthSocket]);
    return readUdpVideo(session, rtp, session->sockets[kSixthSocket] != -1 ? &rtcp : nullptr);
}

int rtpRunAudio(IPCamSession *session) {
    if (!session->rtpOverUdp || session->sockets[kAudioSocket] == -1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return 0;
    }
    SocketSource rtp(session->sockets[kAudioSocket]);
    SocketSource rtcp(session->sockets[kSeventhSocket]);
    return readUdpAudio(session, rtp, session->sockets[kSeventhSocket] != -1 ? &rtcp : nullptr);
}

}  // namespace ipcam
