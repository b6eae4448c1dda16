#include "transport/nal_delivery.h"

#include <optional>
#include <vector>

#include "core/session.h"
#include "core/session_api.h"
#include "platform/clock.h"
#include "transport/delivery.h"
#include "transport/encoded_frame.h"
#include "transport/nal_units.h"

namespace ipcam {

namespace {

// A key frame sends the format first when it changed: the size (and rate) its sequence
// parameter set gives; the first picture after a loss the damage message. Pictures are timed
// by the stream's clock.
void deliverUnit(IPCamSession *session, const AccessUnit &unit,
                 const std::optional<VideoParameters> &parameters) {
    if (unit.kind != IPCAM_FRAME_KEY && session->awaitingFirstFrame) return;
    RtpClock &clock = session->rtp.videoClock;
    const uint64_t time = clock.frameTime(unit.timestamp, localFileTimeNow());
    // A stall or a restarted camera clock (drift never jumps) steps the time whatever the
    // picture; the first one after a loss says so anyway.
    const bool jumped = clock.jumped() && !session->awaitingFirstFrame;
    if (jumped) {
        session->lastFrameTime = time;  // later pictures step from here
        sendMessage(session, IPCAM_MSG_TIME_STEP, nullptr, 0, time);
    }
    EncodedFrame *frame = makeFrame(unit.kind, unit.data.data(), unit.data.size(), time);
    if (!frame) return;
    if (unit.kind != IPCAM_FRAME_KEY) {
        if (unit.afterLoss) sendMessage(session, IPCAM_MSG_DAMAGE, nullptr, 0, time);
        deliverFrame(session, frame);
        return;
    }
    StreamFormatBlock format = currentFormat(session);
    if (parameters) {
        format.width = parameters->width;
        format.height = parameters->height;
        if (parameters->frameRate > 0) format.frameRate = parameters->frameRate;
    }
    const bool stepped = jumped || timeStepRule(session, frame->time) == 1;
    session->lastFrameTime = frame->time;
    formatRule(session, format, stepped, frame->time);
    deliverFrame(session, frame);
}

}  // namespace

int takeNalPayload(IPCamSession *session, const RtpPacket &packet) {
    RtpState &rtp = session->rtp;
    std::vector<AccessUnit> &units = rtp.accessUnits;
    units.clear();
    std::optional<VideoParameters> parameters;
    const bool strict = session->options.strictFrames != 0;
    if (currentFormat(session).videoCodec == IPCAM_VIDEO_H265) {
        rtp.h265.setStrict(strict);
        rtp.h265.push(packet, units);
        parameters = rtp.h265.parameters();
    } else {
        rtp.h264.setStrict(strict);
        rtp.h264.push(packet, units);
        parameters = rtp.h264.parameters();
    }
    for (const AccessUnit &unit : units) {
        deliverUnit(session, unit, parameters);
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    }
    return 0;
}

}  // namespace ipcam
