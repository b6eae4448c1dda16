// H.264 and H.265 RTP packets through a session as the RTP readers hand them on: sequence
// counting, the assembler's NAL branch, the depacketiser, the frame clock and the format and
// time-step rules, up to the callback, which checks what it is handed.
//
// Input layout: byte 0 picks the codec (bit 0: H.265) and whether a stranger's SSRC is taken
// over (bit 1, as on the RTSP connection) or passed over (as over UDP); byte 1 is the length of the
// fmtp text that follows; then records, each a byte that moves the local clock on by that many 10
// ms (255: a new connection instead), a 16-bit big-endian length and the packet's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "fuzz_session.h"
#include "platform/clock.h"
#include "transport/h264_sps.h"
#include "transport/nal_units.h"
#include "transport/rtp_packet.h"
#include "transport/rtp_video.h"

namespace {

constexpr uint64_t kTick = 100'000;  // 10 ms in file time units
constexpr uint8_t kNewConnection = 255;

uint64_t now = 0;
uint64_t fakeNow() {
    return now;
}

// What the callback has seen since the last connection.
struct Seen {
    int32_t codec = 0;
    bool stepped = false;  // a time step came, and the format must follow before a picture
    bool formatted = false;
    bool key = false;
    bool damaged = false;  // a loss was said, and a dependent picture must follow
} seen;

int check(void *, int, void *frame, int) {
    const auto *f = static_cast<const EncodedFrame *>(frame);
    const unsigned char *payload = IPCAM_FRAME_PAYLOAD(frame);
    const std::size_t size = IPCAM_FRAME_PAYLOAD_SIZE(frame);
    // Frame times keep within a second of the arrival.
    if (f->totalSize < IPCAM_FRAME_HEAD_SIZE ||
        (f->time > now ? f->time - now : now - f->time) > ipcam::kFileTimeUnitsPerSecond)
        std::abort();
    switch (f->kind) {
        case IPCAM_MSG_TIME_STEP:
            seen.stepped = true, seen.formatted = false;
            break;
        case IPCAM_MSG_DAMAGE:
            // Only what depends on the lost picture is marked: never before the first key.
            if (size != 0 || !seen.key) std::abort();
            seen.damaged = true;
            break;
        case IPCAM_MSG_FORMAT: {
            StreamFormatBlock format;
            if (size != sizeof format) std::abort();
            std::copy(payload, payload + size, reinterpret_cast<unsigned char *>(&format));
            if (format.videoCodec != seen.codec || format.width < 0 || format.height < 0 ||
                format.width > ipcam::kMaxPictureSide || format.height > ipcam::kMaxPictureSide)
                std::abort();
            seen.formatted = true;
            break;
        }
        case IPCAM_FRAME_KEY:
        case IPCAM_FRAME_DEPENDENT:
        case IPCAM_FRAME_DROPPABLE:
            // A connection's pictures start at a key frame, after the time step and the format.
            if (size < 5 || !std::equal(std::begin(ipcam::kAnnexBStart),
                                        std::end(ipcam::kAnnexBStart), payload))
                std::abort();
            if (f->kind == IPCAM_FRAME_KEY && seen.stepped && !seen.formatted) std::abort();
            if (f->kind != IPCAM_FRAME_KEY && !seen.key) std::abort();
            if (f->kind == IPCAM_FRAME_KEY && seen.damaged) std::abort();
            seen.key = seen.key || f->kind == IPCAM_FRAME_KEY;
            seen.stepped = seen.damaged = false;
            break;
        default:
            std::abort();
    }
    IPCamFreeFrame(frame);
    return 0;
}

// What connecting does to the session's video side, as the video thread does it.
void connect(IPCamSession *s, std::string_view fmtp) {
    s->rtp.resetForConnection();
    s->awaitingFirstFrame = 1;
    s->format.width = s->format.height = 0;
    if (s->format.videoCodec == IPCAM_VIDEO_H265)
        s->rtp.h265.configure(fmtp);
    else
        s->rtp.h264.configure(fmtp);
    seen.key = false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const int32_t codec = data[0] & 1 ? IPCAM_VIDEO_H265 : IPCAM_VIDEO_H264;
    const size_t fmtpLength = std::min<size_t>(data[1], size - 2);
    const std::string_view fmtp(reinterpret_cast<const char *>(data + 2), fmtpLength);
    now = ipcam::fileTimeFromUnix(1'700'000'000);
    ipcam::setLocalTimeSource(fakeNow);
    seen = {codec};
    std::unique_ptr<IPCamSession> s(kestrel_fuzz::fuzzSession(codec));
    s->callback = check;
    connect(s.get(), fmtp);

    for (size_t at = 2 + fmtpLength; at + 3 <= size;) {
        const uint8_t step = data[at];
        const size_t length = std::min<size_t>(size - at - 3, data[at + 1] << 8 | data[at + 2]);
        const uint8_t *bytes = data + at + 3;
        at += 3 + length;
        if (step == kNewConnection) {
            connect(s.get(), fmtp);
            continue;
        }
        now += step * kTick;
        const std::optional<ipcam::RtpPacket> packet = ipcam::parseRtpPacket({bytes, length});
        if (!packet || !ipcam::countVideoPacket(s.get(), *packet, data[0] & 2)) continue;
        if (s->awaitingFirstFrame) seen.key = false;  // a new connection, or a packet lost
        if (ipcam::assembleVideoPacket(s.get(), *packet) != 0) std::abort();
    }
    ipcam::setLocalTimeSource(nullptr);
    return 0;
}
