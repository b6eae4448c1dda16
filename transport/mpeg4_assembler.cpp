#include "transport/mpeg4_assembler.h"

#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "core/session.h"
#include "core/session_api.h"
#include "core/stream_bits.h"
#include "platform/clock.h"
#include "transport/delivery.h"

namespace ipcam {

namespace {

constexpr uint8_t kPicture = 0xB6;
constexpr uint8_t kSequence = 0xB0;
constexpr uint8_t kGroup = 0xB3;

bool isConfiguration(uint8_t code) {
    return code == kSequence || code == 0x00 || code == 0x20;
}

// Position of the first 00 00 01 at or after from in data, or npos.
std::size_t findStartCode(std::span<const uint8_t> data, std::size_t from, uint8_t code) {
    for (std::size_t i = from; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == code) return i;
    return std::span<const uint8_t>::extent;
}

// Position of the next 00 00 01 at or after from whose code byte has arrived. Without one,
// the position a later search resumes from, since a prefix may still be arriving.
std::size_t nextStartCode(const FrameBuffer &buffer, std::size_t from, bool &found) {
    const std::size_t count = buffer.count();
    for (std::size_t i = buffer.findByte(0x01, from + 2); i + 1 < count;
         i = buffer.findByte(0x01, i + 1)) {
        if (buffer.at(i - 1) == 0 && buffer.at(i - 2) == 0) {
            found = true;
            return i - 2;
        }
    }
    found = false;
    return count >= 3 && count - 3 > from ? count - 3 : from;
}

// Delivers a key frame: the size from its layer header, then the time-step and format rules,
// and the decoder configuration when the format was sent: the headers the description gave
// (described) when they were put in front, else the frame's own.
void deliverKeyFrame(IPCamSession *session, EncodedFrame *frame,
                     const std::vector<uint8_t> *described) {
    std::span<const uint8_t> payload(framePayload(frame), frame->totalSize - kFrameHeadSize);
    StreamFormatBlock format = currentFormat(session);
    readVideoObjectLayerSize(payload.data(), payload.size(), format.width, format.height);
    bool stepped = timeStepRule(session, frame->time) == 1;
    session->lastFrameTime = frame->time;
    if (formatRule(session, format, stepped, frame->time) != 1) {
        deliverFrame(session, frame);
        return;
    }
    if (described) {
        session->rtp.decoderConfig = *described;
    } else {
        std::size_t start = findStartCode(payload, 0, kSequence);
        std::size_t end = start == std::span<const uint8_t>::extent
                              ? start
                              : findStartCode(payload, start + 4, kGroup);
        auto &config = session->rtp.decoderConfig;
        if (end != std::span<const uint8_t>::extent)
            config.assign(payload.begin() + static_cast<long>(start),
                          payload.begin() + static_cast<long>(end));
        else
            config.clear();
    }
    deliverFrame(session, frame);
}

// The configuration headers from the description, when the frame about to be dropped while
// waiting for a key frame can start decoding with them in front: an intra picture
// (vop_coding_type 0, the two bits after 00 00 01 B6) of a stream that sends no headers of
// its own. Otherwise nullptr.
const std::vector<uint8_t> *describedKeyPicture(IPCamSession *session, std::size_t length) {
    const RtpState &rtp = session->rtp;
    if (rtp.sdpConfig.empty() || rtp.inBandConfig || length <= 4) return nullptr;
    return rtp.frameBuffer.at(4) >> 6 == 0 ? &rtp.sdpConfig : nullptr;
}

// Cuts the frame of kind (2 or 3) that ends at `at` out of the buffer and delivers it: a
// picture that cannot start decoding is dropped while a key frame is awaited; the first
// picture after a loss goes behind the damage message.
void cutFrame(IPCamSession *session, std::size_t at, int kind) {
    RtpState &rtp = session->rtp;
    FrameBuffer &buffer = rtp.frameBuffer;
    if (kind == 2) rtp.inBandConfig = true;
    const std::vector<uint8_t> *described = nullptr;
    if (session->awaitingFirstFrame && kind == 3) {
        described = describedKeyPicture(session, at);
        if (!described) {
            buffer.remove(at);
            return;
        }
    }
    const std::size_t front = described ? described->size() : 0;
    EncodedFrame *frame =
        allocateFrame(described ? IPCAM_FRAME_KEY : kind, front + at, localFileTimeNow());
    if (frame) {
        if (described) std::memcpy(framePayload(frame), described->data(), front);
        buffer.take(framePayload(frame) + front, at);
    }
    buffer.remove(at);
    if (!frame) return;
    if (kind == 2 || described) {
        rtp.pictureLost = false;
        deliverKeyFrame(session, frame, described);
        return;
    }
    if (std::exchange(rtp.pictureLost, false))
        sendMessage(session, IPCAM_MSG_DAMAGE, nullptr, 0, frame->time);
    deliverFrame(session, frame);
}

}  // namespace

bool readVideoObjectLayerSize(const uint8_t *data, std::size_t size, int32_t &width,
                              int32_t &height) {
    std::size_t at = findStartCode(std::span<const uint8_t>(data, size), 0, 0x20);
    if (at == std::span<const uint8_t>::extent) return false;
    BitReader bits(data + at + 4, size - at - 4);
    bits.skip(1);  // random_accessible_vol
    bits.skip(8);  // video_object_type_indication
    uint32_t verid = 1;
    if (bits.read(1)) {  // is_object_layer_identifier
        verid = bits.read(4);
        bits.skip(3);
    }
    if (bits.read(4) == 0xF) bits.skip(16);  // extended pixel aspect ratio
    if (bits.read(1)) {                      // vol_control_parameters
        bits.skip(3);                        // chroma_format, low_delay
        if (bits.read(1)) bits.skip(79);     // vbv_parameters
    }
    uint32_t shape = bits.read(2);
    if (shape == 3 && verid != 1) bits.skip(4);
    bits.skip(1);  // marker
    uint32_t resolution = bits.read(16);
    bits.skip(1);        // marker
    if (bits.read(1)) {  // fixed_vop_rate
        uint32_t increment = 1;
        while (increment < 16 && (1u << increment) < resolution) ++increment;
        bits.skip(increment);
    }
    if (shape != 0) return false;
    bits.skip(1);
    uint32_t w = bits.read(13);
    bits.skip(1);
    uint32_t h = bits.read(13);
    if (!bits.ok()) return false;
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

int assembleMpeg4(IPCamSession *session) {
    FrameBuffer &buffer = session->rtp.frameBuffer;
    Mpeg4Scan &scan = session->rtp.mpeg4;
    for (;;) {
        // Find the next start code whose code byte has arrived.
        bool found = false;
        std::size_t at = nextStartCode(buffer, scan.position, found);
        if (!found) {
            scan.position = at;
            if (scan.state == 0 && at > 0) {
                buffer.remove(at);  // nothing before a frame's first start code is kept
                scan.position = 0;
            }
            return 0;
        }
        if (scan.state == 0 && at > 0) {
            buffer.remove(at);
            at = 0;
        }

        const uint8_t code = buffer.at(at + 3);
        bool ends = false;
        if (code == kPicture) {
            if (scan.state == 0)
                scan.state = 3;
            else if (scan.state == 3 || scan.endsAtNext)
                ends = true;
            else
                scan.endsAtNext = true;
        } else if (isConfiguration(code)) {
            if (scan.state == 0)
                scan.state = 2;
            else if (scan.state == 3 || scan.endsAtNext)
                ends = true;
        }
        if (!ends) {
            scan.position = at + 4;
            continue;
        }

        const int kind = scan.state;
        scan = Mpeg4Scan{};
        cutFrame(session, at, kind);
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    }
}

void endMpeg4Frame(IPCamSession *session) {
    // The scan has passed every start code in the buffer: what it holds is the frame.
    const Mpeg4Scan scan = session->rtp.mpeg4;
    if (scan.state == 3 || (scan.state == 2 && scan.endsAtNext)) {
        session->rtp.mpeg4 = Mpeg4Scan{};
        cutFrame(session, session->rtp.frameBuffer.count(), scan.state);
    }
}

}  // namespace ipcam
