#include "transport/delivery.h"

#include <cstring>
#include <mutex>

#include "core/session.h"
#include "transport/encoded_frame.h"

namespace ipcam {

void deliverFrame(IPCamSession *session, EncodedFrame *frame) {
    if (!frame) return;
    // Counted from before the callback is read until it returned: deletion clears the
    // callback and then waits for this count, so a delivery that read the callback just
    // before it was cleared still ends inside the deletion, not after it.
    session->callbacksInFlight.fetch_add(1);
    if (IPCamFrameCallback callback = session->callback.load())
        callback(session->callbackContext, session->id & 0xFF, frame, session->id);
    else
        IPCamFreeFrame(frame);
    session->callbacksInFlight.fetch_sub(1);
}

bool sendMessage(IPCamSession *session, int32_t kind, const void *payload, std::size_t length,
                 uint64_t time) {
    EncodedFrame *frame = makeFrame(kind, payload, length, time);
    if (!frame) return false;
    deliverFrame(session, frame);
    return true;
}

StreamFormatBlock currentFormat(IPCamSession *session) {
    std::lock_guard guard(session->formatLock);
    return session->format;
}

EncodedFrame *formatMessage(IPCamSession *session, const StreamFormatBlock &candidate,
                            bool forced, uint64_t time) {
    StreamFormatBlock stored;
    bool changed;
    {
        std::lock_guard guard(session->formatLock);
        changed = std::memcmp(&session->format, &candidate, sizeof candidate) != 0;
        if (changed) session->format = candidate;
        stored = session->format;
    }
    if (!changed && !forced && !session->formatPending) return nullptr;
    EncodedFrame *message = makeFrame(IPCAM_MSG_FORMAT, &stored, sizeof stored, time);
    // Out of memory: the format is stored, its message is due again with the next frame.
    session->formatPending = message ? 0 : 1;
    return message;
}

int formatRule(IPCamSession *session, const StreamFormatBlock &candidate, bool forced,
               uint64_t time) {
    EncodedFrame *message = formatMessage(session, candidate, forced, time);
    if (!message) return 0;
    deliverFrame(session, message);
    return 1;
}

int timeStepRule(IPCamSession *session, uint64_t time) {
    if (session->awaitingFirstFrame) {
        session->awaitingFirstFrame = 0;
        session->timeStepFlag = 1;
        sendMessage(session, IPCAM_MSG_TIME_STEP, nullptr, 0, time);
        return 1;
    }
    if (session->lastFrameTime > time) {
        if (session->timeStepFlag) {
            sendMessage(session, IPCAM_MSG_TIME_STEP, nullptr, 0, time);
            return 1;
        }
        session->timeStepFlag = 1;
        return 0;
    }
    session->timeStepFlag = 0;
    return 0;
}

}  // namespace ipcam
