#include "viewer/frame_admission.h"

#include <cstring>

#include "viewer/video_thread.h"

namespace kestrel {

namespace {

constexpr int32_t kKindKey = IPCAM_FRAME_KEY;
constexpr int32_t kKindOther = IPCAM_FRAME_DEPENDENT;
constexpr int32_t kKindFormat = IPCAM_MSG_FORMAT;
constexpr int32_t kKindDamage = IPCAM_MSG_DAMAGE;
constexpr int32_t kMotionJpeg = 0;
constexpr int kWideFrameSleep = 300;
constexpr int kWaitingRefusal = 1000;

struct AdmissionRow {
    bool rotate;
    int32_t widthBelow;  // the row holds for widths below this (and at least the previous row's)
    bool motionJpeg;
    AdmissionMarks marks;
};

constexpr int32_t kAnyWidth = INT32_MAX;
constexpr AdmissionRow kAdmission[] = {
    {false, 200, true, {10, 20, 1, 5}},        {false, 200, false, {30, 120, 1, 500}},
    {false, 400, true, {5, 10, 1, 100}},       {false, 400, false, {30, 90, 1, 500}},
    {false, 800, true, {3, 5, 1, 5}},          {false, 800, false, {30, 60, 1, 100}},
    {false, kAnyWidth, true, {3, 5, 1, 5}},    {false, kAnyWidth, false, {10, 30, 1, 100}},
    {true, 200, true, {8, 12, 50, 100}},       {true, 200, false, {120, 121, 1, 1000}},
    {true, 400, true, {4, 10, 200, 400}},      {true, 400, false, {60, 61, 1, 1000}},
    {true, kAnyWidth, true, {2, 3, 300, 500}}, {true, kAnyWidth, false, {30, 31, 1, 6000}},
};

bool isVideo(int32_t kind) {
    return kind == kKindKey || kind == kKindOther;
}

// Pictures wider than the maximum cost the producer a pause before anything else; in the
// normal state only video frames are looked at at all.
int widePause(bool waitingForKeyFrame, int32_t kind, int32_t width, int32_t maxWidth) {
    return width > maxWidth && (waitingForKeyFrame || isVideo(kind)) ? kWideFrameSleep : 0;
}

}  // namespace

AdmissionMarks admissionFor(bool rotate, int32_t width, int32_t encoding) {
    const bool motionJpeg = encoding == kMotionJpeg;
    for (const AdmissionRow &row : kAdmission)
        if (row.rotate == rotate && row.motionJpeg == motionJpeg && width < row.widthBelow)
            return row.marks;
    return kAdmission[0].marks;  // not reached: the last rows take every width
}

AdmissionStep decideAdmission(bool waitingForKeyFrame, int32_t kind, std::size_t queueLength,
                              int32_t encoding, int32_t width, const FrameAdmission &marks) {
    AdmissionStep step;
    // A loss changes nothing: the frames after it go on to the decoder, which conceals the
    // damage, and the message itself costs the producer no pause.
    if (kind == kKindDamage) return step;
    const auto q = static_cast<int64_t>(queueLength);
    const int64_t low = marks.lowMark, high = marks.highMark;
    step.sleepFirst = widePause(waitingForKeyFrame, kind, width, marks.maxWidth);
    if (!waitingForKeyFrame) {
        if (!isVideo(kind)) return step;  // dropped
        if (q < low) {
            step.append = true;
        } else if (q < high) {
            step.append = true;
            if (encoding == kMotionJpeg) step.holdLocked = marks.holdDelay;
        } else {
            step.setWaiting = encoding != kMotionJpeg;
            step.sleepAfter = marks.dropDelay;
        }
        return step;
    }
    if (q >= low) {
        step.sleepAfter = kWaitingRefusal;
        return step;
    }
    if (kind == kKindKey) {
        step.append = true;
        step.clearWaiting = true;
    }
    return step;
}

int pacingDelay(std::size_t queueLength, int32_t kind, int32_t lowMark, int32_t highMark) {
    const auto q = static_cast<int64_t>(queueLength);
    if (q < lowMark) return 33;
    if (q < highMark) {
        const int64_t s = (30 * (highMark - q)) / (highMark - lowMark + 5);
        if (s >= 1) return static_cast<int>(s);
        return kind == kKindKey ? 1 : 0;
    }
    return kind == kKindKey ? 1 : -1;
}

int OnFrame(void *context, int, void *frame, int) {
    if (!frame) return 0;
    PipelineState &p = pipeline();
    // The pauses below hold the session's thread; they end when the video thread stops, so
    // that deleting the session never waits them out.
    const std::atomic<bool> *stop =
        context ? &static_cast<const VideoThread *>(context)->stopFlag() : nullptr;
    auto *f = static_cast<EncodedFrame *>(frame);
    FrameAdmission &a = p.admission;

    if (f->kind == kKindFormat) {
        if (IPCAM_FRAME_PAYLOAD_SIZE(f) >= sizeof(StreamFormatBlock))
            std::memcpy(&p.callbackFormat, IPCAM_FRAME_PAYLOAD(f), sizeof(StreamFormatBlock));
        const AdmissionMarks m =
            admissionFor(p.rotateMode != 0, p.callbackFormat.width, p.callbackFormat.videoCodec);
        a.lowMark = m.lowMark;
        a.highMark = m.highMark;
        a.holdDelay = m.holdDelay;
        a.dropDelay = m.dropDelay;
        LockHolder hold(p.queueLock);
        p.queue.push_back(f);
        a.waitingForKeyFrame = 1;
        return 0;
    }

    if (f->kind == kKindDamage) ++p.losses;
    const int32_t width = p.callbackFormat.width, encoding = p.callbackFormat.videoCodec;
    const bool waiting = a.waitingForKeyFrame != 0;
    // The wide-picture pause comes before the queue is looked at.
    if (const int pause = widePause(waiting, f->kind, width, a.maxWidth)) p.sleep(pause, stop);
    AdmissionStep step;
    {
        LockHolder hold(p.queueLock);
        step = decideAdmission(waiting, f->kind, p.queue.size(), encoding, width, a);
        if (step.append) {
            p.queue.push_back(f);
            if (step.holdLocked > 0 && !p.lowLatency) p.sleep(step.holdLocked, stop);
        }
    }
    if (step.clearWaiting) a.waitingForKeyFrame = 0;
    if (step.setWaiting) a.waitingForKeyFrame = 1;
    if (!step.append) IPCamFreeFrame(f);
    if (step.sleepAfter > 0) p.sleep(step.sleepAfter, stop);
    return 0;
}

}  // namespace kestrel
