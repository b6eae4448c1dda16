#include "transport/rtp_video.h"

#include "core/session.h"
#include "core/session_api.h"
#include "transport/delivery.h"
#include "transport/jpeg_assembler.h"
#include "transport/jpeg_header.h"
#include "transport/mpeg4_assembler.h"
#include "transport/nal_delivery.h"
#include "transport/rtcp_answer.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr uint8_t kEndMarker[] = {0xFF, 0xD9};

uint32_t fragmentOffset(std::span<const uint8_t> payload) {
    return static_cast<uint32_t>(payload[1] << 16 | payload[2] << 8 | payload[3]);
}

// The first fragment of a picture: its rebuilt header, then its data; the end-marker search
// starts after the header, whose tables may hold FF D9 or FF D8 pairs of their own.
void startPicture(RtpState &rtp, const uint8_t *header, std::size_t headerLength,
                  std::span<const uint8_t> data) {
    rtp.clearFrame();  // what an earlier picture left can no longer be completed
    FrameBuffer &buffer = rtp.frameBuffer;
    if (headerLength + data.size() > buffer.capacity()) return;
    if (!buffer.append(header, headerLength) || !buffer.append(data.data(), data.size())) {
        rtp.clearFrame();
        return;
    }
    rtp.jpeg = {true, headerLength};
    rtp.jpegFragments = {true, static_cast<uint32_t>(data.size())};
}

// A later fragment, taken only when it continues the picture being collected.
void continuePicture(RtpState &rtp, uint32_t offset, std::span<const uint8_t> data) {
    JpegFragments &fragments = rtp.jpegFragments;
    if (!fragments.collecting || offset != fragments.nextOffset ||
        !rtp.frameBuffer.append(data.data(), data.size())) {
        rtp.clearFrame();  // a fragment is missing, or the picture will not fit: drop it whole
        return;
    }
    fragments.nextOffset += static_cast<uint32_t>(data.size());
}

int takeJpegPayload(IPCamSession *session, const RtpPacket &packet) {
    RtpState &rtp = session->rtp;
    const std::span<const uint8_t> payload = packet.payload;
    uint8_t header[kJpegHeaderArea];
    const JpegHeaderResult r = makeJpegHeader(payload.data(), payload.size(), header);
    if (!r.ok) {
        rtp.clearFrame();
        return kVideoFailed;
    }
    const std::span<const uint8_t> data = payload.subspan(r.payloadHeaders);
    const uint32_t offset = fragmentOffset(payload);
    if (offset == 0)
        startPicture(rtp, header, r.headerLength, data);
    else
        continuePicture(rtp, offset, data);
    if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;

    int result = assembleJpeg(session);
    if (result != 0 || !packet.marker || !rtp.jpegFragments.collecting || !rtp.jpeg.inPicture)
        return result;
    // The marker bit ends the picture; packetisers that follow RFC 2435 to the letter leave
    // the end marker out.
    if (!rtp.frameBuffer.append(kEndMarker, sizeof kEndMarker)) {
        rtp.clearFrame();
        return 0;
    }
    return assembleJpeg(session);
}

// The frame the missing packets belonged to can no longer be whole: it is dropped. Strict
// delivery then waits for the next key frame, as older releases did; otherwise the frames
// after it go on, behind a damage message (H.264 and H.265 see the loss in their
// depacketisers). An MPEG-4 frame the marker bit ended before the gap is whole: it goes first.
void loseFrame(IPCamSession *session) {
    RtpState &rtp = session->rtp;
    if (session->options.strictFrames) {
        session->awaitingFirstFrame = 1;
    } else {
        if (rtp.videoMarker && currentFormat(session).videoCodec == IPCAM_VIDEO_MPEG4)
            endMpeg4Frame(session);
        rtp.pictureLost = true;
    }
    rtp.clearFrame();
}

}  // namespace

bool countVideoPacket(IPCamSession *session, const RtpPacket &packet, bool adoptSource) {
    const RtpChannels::Arrival arrival = session->rtp.channels.advance(
        RtpChannels::kVideo, packet.ssrcRaw, packet.sequence, adoptSource);
    if (arrival != RtpChannels::Arrival::Foreign)
        countReception(session, RtpChannels::kVideo, packet);
    switch (arrival) {
        case RtpChannels::Arrival::InOrder:
            return true;
        case RtpChannels::Arrival::Gap:
            loseFrame(session);
            return true;
        case RtpChannels::Arrival::Late:
        case RtpChannels::Arrival::Foreign:
        case RtpChannels::Arrival::Takeover:  // the UDP reader starts the stream over itself
            break;
    }
    return false;
}

int assembleVideoPacket(IPCamSession *session, const RtpPacket &packet) {
    const int32_t codec = currentFormat(session).videoCodec;
    if (codec == IPCAM_VIDEO_H264 || codec == IPCAM_VIDEO_H265)
        return takeNalPayload(session, packet);
    if (codec != IPCAM_VIDEO_MPEG4) return takeJpegPayload(session, packet);
    FrameBuffer &buffer = session->rtp.frameBuffer;
    if (buffer.freeSpace() < packet.payload.size()) session->rtp.clearFrame();
    buffer.append(packet.payload.data(), packet.payload.size());
    session->rtp.videoMarker = packet.marker;
    if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    return assembleMpeg4(session);
}

}  // namespace ipcam
