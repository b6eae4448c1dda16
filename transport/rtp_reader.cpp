#include "transport/rtp_reader.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "core/config.h"
#include "core/session.h"
#include "core/session_api.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "transport/delivery.h"
#include "transport/interleaved_unit.h"
#include "transport/rtcp_answer.h"
#include "transport/rtp_packet.h"
#include "transport/rtp_video.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr int kAudioFailed = -9;
// Datagrams between two looks at the RTSP connection while video flows over UDP.
constexpr unsigned kControlLookEvery = 16;

int videoFailure(IPCamSession *session) {
    session->rtp.clearFrame();
    return kVideoFailed;
}

// Our receiver report when due, and the device's reports taken, on the stream's RTCP socket.
void keepAlive(IPCamSession *session, ByteSource *rtcp, uint8_t stream) {
    if (rtcp) serviceRtcpSocket(session, *rtcp, stream);
}

// An audio packet counts unless it comes late or from a stranger; a lost one costs only
// itself, the video goes on.
bool countAudioPacket(IPCamSession *session, const RtpPacket &packet, bool adoptSource) {
    const RtpChannels::Arrival arrival = session->rtp.channels.advance(
        RtpChannels::kAudio, packet.ssrcRaw, packet.sequence, adoptSource);
    if (arrival != RtpChannels::Arrival::Foreign)
        countReception(session, RtpChannels::kAudio, packet);
    return arrival == RtpChannels::Arrival::InOrder || arrival == RtpChannels::Arrival::Gap;
}

void deliverAudio(IPCamSession *session, const RtpPacket &packet) {
    sendMessage(session, IPCAM_FRAME_AUDIO, packet.payload.data(), packet.payload.size(),
                localFileTimeNow());
}

int takeBlock(IPCamSession *session, ByteSource &connection, uint8_t channel,
              std::span<const uint8_t> bytes) {
    const InterleavedChannels &assigned = session->rtp.interleaved;
    if (channel == assigned.videoRtp) {
        std::optional<RtpPacket> packet = parseRtpPacket(bytes);
        if (!packet || !countVideoPacket(session, *packet, true)) return 0;
        return assembleVideoPacket(session, *packet);
    }
    if (channel == assigned.videoRtcp) {
        answerDeviceReport(session, connection, bytes, channel, RtpChannels::kVideo);
    } else if (channel == assigned.audioRtcp) {
        answerDeviceReport(session, connection, bytes, channel, RtpChannels::kAudio);
    } else if (channel == assigned.audioRtp) {
        std::optional<RtpPacket> packet = parseRtpPacket(bytes);
        if (packet && countAudioPacket(session, *packet, true) && !session->awaitingFirstFrame)
            deliverAudio(session, *packet);
    }
    return 0;  // channels nobody assigned are passed over
}

}  // namespace

int readInterleaved(IPCamSession *session, ByteSource &connection) {
    PendingBlocks::Block queued;
    if (session->rtp.pending.pop(queued))
        return takeBlock(session, connection, queued.channel, queued.bytes);

    const std::span<uint8_t> area = session->rtp.packet.get();
    if (area.empty()) return videoFailure(session);
    InterleavedUnit unit;
    const int r = readInterleavedUnit(connection, area, unit, settings().getTimeout,
                                      session->rtp.interleaved);
    session->rtp.strayBytes += unit.skipped;
    if (r != 0) return videoFailure(session);
    if (unit.kind == InterleavedUnit::Kind::Message)
        return takeRtspMessage(session, connection, unit.message) == 0 ? 0 : videoFailure(session);
    return takeBlock(session, connection, unit.channel, unit.block);
}

int readUdpVideo(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp, ByteSource *control) {
    const std::span<uint8_t> buffer = session->rtp.packet.get();
    if (buffer.empty()) return videoFailure(session);
    const uint32_t timeout = settings().getTimeout;
    const uint32_t idleLimit = waitsFor(timeout);
    uint32_t idle = 0;
    unsigned sinceLook = 0;
    uint64_t lastTaken = monotonicMs();
    if (control && watchRtspConnection(session, *control) != 0) return videoFailure(session);
    for (;;) {
        const int n = rtp.read(buffer.data(), buffer.size());
        if (n == ByteSource::kNothingYet) {
            if (control && watchRtspConnection(session, *control) != 0)
                return videoFailure(session);
            if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
            const WaitResult w = rtp.waitReadable();
            if (w == WaitResult::Error || w == WaitResult::Exception ||
                (w == WaitResult::Idle && ++idle >= idleLimit))
                return videoFailure(session);
            continue;
        }
        if (n <= 12) return videoFailure(session);
        if (control && ++sinceLook >= kControlLookEvery) {
            sinceLook = 0;
            if (watchRtspConnection(session, *control) != 0) return videoFailure(session);
        }
        std::optional<RtpPacket> packet =
            parseRtpPacket(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
        if (!packet || !countVideoPacket(session, *packet, false)) {
            // Strangers keep the socket busy but are no sign of life of the stream.
            if (monotonicMs() - lastTaken > timeout + kWaitSliceMs) return videoFailure(session);
            continue;
        }
        idle = 0;
        lastTaken = monotonicMs();
        keepAlive(session, rtcp, RtpChannels::kVideo);
        if (int r = assembleVideoPacket(session, *packet); r != 0 || packet->marker) return r;
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    }
}

int readUdpAudio(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp) {
    const std::span<uint8_t> buffer = session->rtp.audioPacket.get();
    if (buffer.empty()) return kAudioFailed;
    int n = receiveSome(rtp, buffer.data(), buffer.size(), settings().getTimeout);
    if (n < 13) return kAudioFailed;
    std::optional<RtpPacket> packet =
        parseRtpPacket(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
    if (packet && countAudioPacket(session, *packet, false) && !session->awaitingFirstFrame) {
        keepAlive(session, rtcp, RtpChannels::kAudio);
        deliverAudio(session, *packet);
    }
    return 0;
}

int rtpRunVideo(IPCamSession *session) {
    // While the stream runs every read of the RTSP connection is made here, read ahead.
    SocketSource socket(session->sockets[kRtspSocket]);
    BufferedSource connection(socket, session->rtp.connectionAhead);
    if (!session->rtpOverUdp) return readInterleaved(session, connection);
    SocketSource rtp(session->sockets[kVideoSocket]);
    SocketSource rtcp(session->sockets[kSixthSocket]);
    return readUdpVideo(session, rtp, session->sockets[kSixthSocket] != -1 ? &rtcp : nullptr,
                        session->sockets[kRtspSocket] != -1 ? &connection : nullptr);
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
