// Handing frames and status messages to the session's callback, and the two rules every
// transport applies: the format rule (kind 7) and the time-step rule (kind 12).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipcam.h"
#include "transport/encoded_frame.h"

namespace ipcam {

// Passes a block to the callback, which owns it from then on; without a callback it is freed.
void deliverFrame(IPCamSession *session, EncodedFrame *frame);

// Delivers a status message of kind with a copy of payload; false when memory ran out.
bool sendMessage(IPCamSession *session, int32_t kind, const void *payload, std::size_t length,
                 uint64_t time);

// A copy of the session's current format block.
StreamFormatBlock currentFormat(IPCamSession *session);

// Stores candidate when it differs from the session's format; sends it as a kind-7 message
// when it differed, when forced, or when a format is pending. Returns 1 when sent.
int formatRule(IPCamSession *session, const StreamFormatBlock &candidate, bool forced,
               uint64_t time);

// The same rule for readers that deliver the message later: the kind-7 message to deliver,
// or nullptr when none is due (or memory ran out).
EncodedFrame *formatMessage(IPCamSession *session, const StreamFormatBlock &candidate,
                            bool forced, uint64_t time);

// Sends a kind-12 message for the first frame after a connection and for a second step back
// in time in a row. Returns 1 when sent. The caller stores time as lastFrameTime afterwards.
int timeStepRule(IPCamSession *session, uint64_t time);

}  // namespace ipcam
