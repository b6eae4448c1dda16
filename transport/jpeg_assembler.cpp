#include "transport/jpeg_assembler.h"

#include <algorithm>

#include "core/session.h"
#include "core/session_api.h"
#include "platform/clock.h"
#include "transport/delivery.h"
#include "transport/jpeg_header.h"

namespace ipcam {

namespace {

void deliverPicture(IPCamSession *session, std::size_t size) {
    FrameBuffer &buffer = session->rtp.frameBuffer;
    const uint64_t now = localFileTimeNow();
    EncodedFrame *frame = allocateFrame(IPCAM_FRAME_KEY, size, now);
    if (frame) {
        buffer.take(framePayload(frame), size);
        session->rtp.largestFrame = static_cast<uint32_t>(size + 512);
    }
    buffer.remove(size);
    if (session->awaitingFirstFrame) {
        // The description announces the picture's own size: RTSP set only placeholders.
        int32_t width = 0, height = 0;
        if (frame && jpegPictureSize(framePayload(frame), size, width, height) && width > 0 &&
            height > 0) {
            std::lock_guard guard(session->formatLock);
            session->format.width = width;
            session->format.height = height;
        }
        StreamFormatBlock format = currentFormat(session);
        sendMessage(session, IPCAM_MSG_FORMAT, &format, sizeof format, now);
        session->awaitingFirstFrame = 0;
    }
    deliverFrame(session, frame);
}

}  // namespace

int assembleJpeg(IPCamSession *session) {
    FrameBuffer &buffer = session->rtp.frameBuffer;
    JpegScan &scan = session->rtp.jpeg;
    for (;;) {
        const std::size_t count = buffer.count();
        // A picture that fills the buffer up to its end marker is complete as it stands, unless
        // another picture starts in the part not scanned yet.
        static constexpr uint8_t kStart[] = {0xFF, 0xD8};
        if (scan.inPicture && count >= 4 && buffer.at(count - 2) == 0xFF &&
            buffer.at(count - 1) == 0xD9 &&
            buffer.find(kStart, std::max<std::size_t>(scan.position, 2)) == count) {
            scan = JpegScan{};
            deliverPicture(session, count);
            if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
            continue;
        }
        std::size_t at = std::min(buffer.findByte(0xFF, scan.position), count > 0 ? count - 1 : 0);
        if (at + 1 >= count) {
            if (!scan.inPicture) {
                // Nothing before a picture's start is kept; a trailing FF may begin a marker.
                buffer.remove(at < count && buffer.at(at) == 0xFF ? at : count);
                at = 0;
            }
            scan.position = at;
            return 0;
        }
        const uint8_t marker = buffer.at(at + 1);
        if (!scan.inPicture) {
            buffer.remove(at);
            if (marker == 0xD8) {
                scan.inPicture = true;
                scan.position = 2;
            } else if (marker == 0xD9) {
                buffer.remove(2);
                scan.position = 0;
            } else {
                buffer.remove(1);
                scan.position = 0;
            }
            continue;
        }
        if (marker == 0xD8) {
            buffer.remove(at);  // a new start: what came before it is lost
            scan.position = 2;
        } else if (marker == 0xD9) {
            scan = JpegScan{};
            deliverPicture(session, at + 2);
            if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
        } else {
            scan.position = at + 1;
        }
    }
}

}  // namespace ipcam
