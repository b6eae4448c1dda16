// Which frames the frame callback lets into the queue, and how the video thread paces itself
// by the queue's length: the marks trade latency for smoothness by codec and picture width.
#pragma once

#include <cstddef>
#include <cstdint>

#include "viewer/pipeline_state.h"

namespace kestrel {

struct AdmissionMarks {
    int32_t lowMark, highMark, holdDelay, dropDelay;
    bool operator==(const AdmissionMarks &) const = default;
};

// The marks a stream format sets: by rotation mode, picture width and encoding standard
// (0 Motion-JPEG, anything else MPEG-4).
AdmissionMarks admissionFor(bool rotate, int32_t width, int32_t encoding);

// What the callback does with one frame other than a stream format. A loss message
// (IPCAM_MSG_DAMAGE) is dropped at no cost and leaves the state as it was.
struct AdmissionStep {
    int sleepFirst = 0;  // ms, before looking at the queue (pictures wider than the maximum)
    bool append = false;
    int holdLocked = 0;  // ms to sleep before releasing the queue lock after appending
    int sleepAfter = 0;  // ms after a drop
    bool setWaiting = false;
    bool clearWaiting = false;
};
AdmissionStep decideAdmission(bool waitingForKeyFrame, int32_t kind, std::size_t queueLength,
                              int32_t encoding, int32_t width, const FrameAdmission &marks);

// The video thread's pause after a frame: -1 none, 0 a yield, else milliseconds.
int pacingDelay(std::size_t queueLength, int32_t kind, int32_t lowMark, int32_t highMark);

// The session's frame callback: admits or drops frames; its sleeps slow the session's thread
// down when the viewer falls behind, and end early once the VideoThread given as context (may
// be null) is stopping. Returns 0.
int OnFrame(void *context, int channel, void *frame, int id);

}  // namespace kestrel
