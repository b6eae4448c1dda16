#include "transport/rtp_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/config.h"
#include "core/session.h"
#include "core/session_api.h"
#include "platform/clock.h"
#include "platform/datagram_source.h"
#include "platform/sockets.h"
#include "platform/stop_scope.h"
#include "transport/delivery.h"
#include "transport/interleaved_unit.h"
#include "transport/rtcp_answer.h"
#include "transport/rtp_packet.h"
#include "transport/rtp_udp_buffer.h"
#include "transport/rtp_video.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr int kAudioFailed = -9;
// Datagrams between two looks at the RTSP connection and the RTCP socket while video flows
// over UDP.
constexpr unsigned kControlLookEvery = 16;
constexpr int kFrameGoesOn = 1;  // a packet taken that did not end a frame

int videoFailure(IPCamSession *session) {
    session->rtp.clearFrame();
    return kVideoFailed;
}

// The device's reports read, and our receiver report when due, on the stream's RTCP socket:
// read every time, so that what the device sends never piles up there.
void keepAlive(IPCamSession *session, ByteSource *rtcp, uint8_t stream) {
    if (rtcp) serviceRtcpSocket(session, *rtcp, stream);
}

// RTCP rather than RTP: packet types 192 to 223 stand where RTP payload types 64 to 95 with
// the marker bit would (RFC 5761), so reports a device sends to the RTP port are told apart.
bool isRtcp(std::span<const uint8_t> datagram) {
    return datagram.size() >= 8 && (datagram[0] >> 6) == 2 && datagram[1] >= 192 &&
           datagram[1] <= 223;
}

// An audio packet counts unless it comes late or from a stranger; a lost one costs only
// itself, the video goes on.
bool countAudioPacket(IPCamSession *session, const RtpPacket &packet, bool adoptSource) {
    const RtpChannels::Arrival arrival = session->rtp.channels.advance(
        RtpChannels::kAudio, packet.ssrcRaw, packet.sequence, adoptSource);
    if (arrival != RtpChannels::Arrival::Foreign)
        countReception(session, RtpChannels::kAudio, packet);
    return arrival == RtpChannels::Arrival::InOrder || arrival == RtpChannels::Arrival::Gap ||
           arrival == RtpChannels::Arrival::Takeover;
}

void deliverAudio(IPCamSession *session, const RtpPacket &packet) {
    sendMessage(session, IPCAM_FRAME_AUDIO, packet.payload.data(), packet.payload.size(),
                localFileTimeNow());
}

// The video started over under a new source: what belonged to the old one goes, and delivery
// waits for a key frame, which comes behind a time step.
void restartVideo(IPCamSession *session) {
    RtpState &rtp = session->rtp;
    session->awaitingFirstFrame = 1;
    rtp.clearFrame();
    rtp.h264.restart();
    rtp.h265.restart();
    rtp.videoClock.reset();
    rtp.udp.reorder.reset();
    rtp.channels.forget(RtpChannels::kVideo);
}

// A video packet of the stream, in sequence order: counted and assembled. 0 when it ended a
// frame, kFrameGoesOn, or the call's failure.
int takeInOrder(IPCamSession *session, const RtpPacket &packet) {
    if (!countVideoPacket(session, packet, false)) return kFrameGoesOn;
    noteUdpFrameBytes(session->rtp.udp.buffer, packet.timestamp, packet.payload.size());
    if (int r = assembleVideoPacket(session, packet); r != 0) return r;
    if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    return packet.marker ? 0 : kFrameGoesOn;
}

int takeVideoDatagram(IPCamSession *session, std::span<const uint8_t> datagram, uint64_t now);

// A packet of another source than the stream's: a stranger, passed over; or the stream itself
// started over under a new SSRC, once that source keeps coming in sequence while the old one
// is silent (RtpChannels::Takeover). The latest such packets are kept, and taken at once then
// (the run is the last of them), so that the key frame a restarted encoder begins with comes
// whole.
int takeNewcomer(IPCamSession *session, std::span<const uint8_t> datagram, const RtpPacket &packet,
                 uint64_t now) {
    RtpState &rtp = session->rtp;
    std::vector<std::vector<uint8_t>> &kept = rtp.udp.newcomer;
    if (kept.size() >= RtpChannels::kTakeoverRun) kept.erase(kept.begin());
    kept.emplace_back(datagram.begin(), datagram.end());
    if (rtp.channels.advance(RtpChannels::kVideo, packet.ssrcRaw, packet.sequence, false) !=
        RtpChannels::Arrival::Takeover)
        return kFrameGoesOn;
    restartVideo(session);
    const std::vector<std::vector<uint8_t>> run = std::move(kept);
    kept.clear();
    int result = kFrameGoesOn;
    for (const std::vector<uint8_t> &one : run) {
        const int r = takeVideoDatagram(session, one, now);
        if (r < 0) return r;
        if (r == 0) result = 0;
    }
    return result;
}

// A datagram of the video socket, as takeInOrder answers. Packets of the stream go through
// the reorder window.
int takeVideoDatagram(IPCamSession *session, std::span<const uint8_t> datagram, uint64_t now) {
    if (isRtcp(datagram)) {
        takeDeviceReport(session, datagram, RtpChannels::kVideo);
        return kFrameGoesOn;
    }
    const std::optional<RtpPacket> packet = parseRtpPacket(datagram);
    if (!packet) return kFrameGoesOn;
    RtpState &rtp = session->rtp;
    const uint32_t own = rtp.channels.ssrc(RtpChannels::kVideo);
    if (own != 0 && packet->ssrcRaw != own) return takeNewcomer(session, datagram, *packet, now);
    UdpVideoState &udp = rtp.udp;
    udp.lastTakenMs = now;
    udp.idleMs = 0;
    if (!udp.reorder.admit(datagram, packet->sequence, now, session->options.reorderWindowMs))
        return kFrameGoesOn;
    return takeInOrder(session, *packet);
}

// Takes the held packets that are due by now, as takeInOrder answers; a frame they end stops
// the round.
int releaseDue(IPCamSession *session, uint64_t now) {
    RtpReorder &reorder = session->rtp.udp.reorder;
    for (;;) {
        const std::span<const uint8_t> held =
            reorder.release(now, session->options.reorderWindowMs);
        if (held.empty()) return kFrameGoesOn;
        const std::optional<RtpPacket> packet = parseRtpPacket(held);
        if (!packet) continue;
        if (int r = takeInOrder(session, *packet); r != kFrameGoesOn) return r;
    }
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
    UdpVideoState &udp = session->rtp.udp;
    const uint32_t timeout = settings().getTimeout;
    const uint32_t silenceLimit = waitsFor(timeout) * kWaitSliceMs;
    if (udp.lastTakenMs == 0) udp.lastTakenMs = monotonicMs();
    fitUdpBuffer(session, rtp);
    uint64_t waitedUntil = 0;  // an idle wait ran to the reorder window's deadline
    // The RTSP connection and the RTCP socket are looked at when the call begins, every few
    // datagrams and in every idle wait.
    const auto look = [&] {
        if (control && watchRtspConnection(session, *control) != 0) return false;
        keepAlive(session, rtcp, RtpChannels::kVideo);
        return true;
    };
    for (unsigned turn = 0;; ++turn) {
        const uint64_t now = monotonicMs();
        if (turn % kControlLookEvery == 0 && !look()) return videoFailure(session);
        if (int r = releaseDue(session, std::max(now, waitedUntil)); r != kFrameGoesOn) return r;
        // The caller keeps the RTSP session alive, whatever the stream carries.
        const uint64_t keepAliveDue = session->rtsp.nextKeepAliveMs;
        if (keepAliveDue != 0 && now >= keepAliveDue) return 0;
        const int n = rtp.read(buffer.data(), buffer.size());
        if (n == ByteSource::kNothingYet) {
            if (!look()) return videoFailure(session);
            if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
            // The wait ends by the next deadline: held packets due, the keep-alive.
            const uint64_t released =
                udp.reorder.held() ? udp.reorder.dueAt(session->options.reorderWindowMs) : 0;
            uint64_t slice = kWaitSliceMs;
            for (uint64_t due : {released, keepAliveDue})
                if (due > now) slice = std::min(slice, due - now);
            const WaitResult w = rtp.waitReadableFor(static_cast<uint32_t>(slice));
            if (w == WaitResult::Error || w == WaitResult::Exception) return videoFailure(session);
            if (w == WaitResult::Idle) {
                udp.idleMs += static_cast<uint32_t>(slice);
                if (udp.idleMs >= silenceLimit) return videoFailure(session);
                // A source that cannot wait (recorded bytes) has had the time all the same.
                if (released > now && slice == released - now) waitedUntil = released;
            }
            continue;
        }
        if (n <= 0) return videoFailure(session);
        const std::span<const uint8_t> datagram(buffer.data(), static_cast<std::size_t>(n));
        const int r = takeVideoDatagram(session, datagram, now);
        if (udpBufferOutgrown(udp.buffer)) fitUdpBuffer(session, rtp);
        if (r != kFrameGoesOn) return r;
        // Strangers keep the socket busy but are no sign of life of the stream.
        if (monotonicMs() - udp.lastTakenMs > timeout + kWaitSliceMs) return videoFailure(session);
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    }
}

int readUdpAudio(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp) {
    const std::span<uint8_t> buffer = session->rtp.audioPacket.get();
    if (buffer.empty()) return kAudioFailed;
    const uint32_t limit = waitsFor(settings().getTimeout);
    for (uint32_t idle = 0;;) {
        keepAlive(session, rtcp, RtpChannels::kAudio);
        const int n = rtp.read(buffer.data(), buffer.size());
        if (n == ByteSource::kNothingYet) {
            if (stopRequested()) return kAudioFailed;
            const WaitResult w = rtp.waitReadable();
            if (w == WaitResult::Error || w == WaitResult::Exception ||
                (w == WaitResult::Idle && ++idle >= limit))
                return kAudioFailed;
            continue;
        }
        if (n <= 0) return kAudioFailed;
        const std::span<const uint8_t> datagram(buffer.data(), static_cast<std::size_t>(n));
        if (isRtcp(datagram)) {
            takeDeviceReport(session, datagram, RtpChannels::kAudio);
            continue;
        }
        std::optional<RtpPacket> packet = parseRtpPacket(datagram);
        if (packet && countAudioPacket(session, *packet, false) && !session->awaitingFirstFrame)
            deliverAudio(session, *packet);
        return 0;
    }
}

int rtpRunVideo(IPCamSession *session) {
    // While the stream runs every read of the RTSP connection is made here, read ahead.
    SocketSource socket(session->sockets[kRtspSocket]);
    BufferedSource connection(socket, session->rtp.connectionAhead);
    if (!session->rtpOverUdp) return readInterleaved(session, connection);
    UdpPeers &peers = session->rtp.peers;
    DatagramSource rtp(session->sockets[kVideoSocket], peers.videoRtp);
    DatagramSource rtcp(session->sockets[kSixthSocket], peers.videoRtcp);
    return readUdpVideo(session, rtp, session->sockets[kSixthSocket] != -1 ? &rtcp : nullptr,
                        session->sockets[kRtspSocket] != -1 ? &connection : nullptr);
}

int rtpRunAudio(IPCamSession *session) {
    if (!session->rtpOverUdp || session->sockets[kAudioSocket] == -1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return 0;
    }
    UdpPeers &peers = session->rtp.peers;
    DatagramSource rtp(session->sockets[kAudioSocket], peers.audioRtp);
    DatagramSource rtcp(session->sockets[kSeventhSocket], peers.audioRtcp);
    return readUdpAudio(session, rtp, session->sockets[kSeventhSocket] != -1 ? &rtcp : nullptr);
}

}  // namespace ipcam
