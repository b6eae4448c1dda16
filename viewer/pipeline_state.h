// What the live pipeline's threads share: the frame queue and its lock, the decoder lock, the
// admission values, the picture buffers and the flags between the user interface, the video
// thread and the renderer. One instance for the process.
//
// Flags and marks are single atomic words read and written without locks; a stale read costs
// at most one pacing or drawing decision.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "ipcam.h"
#include "viewer/lockable.h"

namespace kestrel {

// The largest picture the viewer decodes (a 4K main stream), and the one it keeps to when the
// memory check finds too little for that.
inline constexpr int32_t kLargestPictureWidth = 3840, kLargestPictureHeight = 2160;
inline constexpr int32_t kSmallMemoryPictureWidth = 720, kSmallMemoryPictureHeight = 576;

struct FrameAdmission {
    std::atomic<uint8_t> waitingForKeyFrame{1};
    std::atomic<int32_t> lowMark{10};     // frames
    std::atomic<int32_t> highMark{20};    // frames
    std::atomic<int32_t> maxWidth{kLargestPictureWidth};  // pixels
    std::atomic<int32_t> maxHeight{kLargestPictureHeight};
    std::atomic<int32_t> holdDelay{1};    // ms
    std::atomic<int32_t> dropDelay{500};  // ms
};

// Codec markers the renderer draws beside the picture.
inline constexpr uint16_t kMarkerMpeg4 = 52;       // blue dot
inline constexpr uint16_t kMarkerMotionJpeg = 74;  // red dot
inline constexpr uint16_t kMarkerH264 = 82;        // green dot
inline constexpr uint16_t kMarkerH265 = 90;        // magenta dot

struct PipelineState {
    // The frame queue: frames waiting for the video thread, owned by the viewer.
    CriticalSectionLock queueLock;
    std::deque<EncodedFrame *> queue;  // queueLock

    // Held whenever the decoder is opened, closed, fed or converted from.
    CriticalSectionLock decoderLock;

    FrameAdmission admission;
    StreamFormatBlock callbackFormat{};  // the frame callback's copy, used by it alone

    std::atomic<uint8_t> newPicture{0};  // set by the video thread, cleared by the renderer
    // Losses the library announced (IPCAM_MSG_DAMAGE): counted by the frame callback, shown
    // and cleared at a new format by the video thread.
    std::atomic<uint32_t> losses{0};
    std::atomic<uint8_t> inputBusy{0};   // set and cleared by the user interface
    std::atomic<uint8_t> rotateMode{0};  // the mode last chosen with the Enter key
    std::atomic<uint16_t> codecMarker{0};
    // Each picture is drawn as soon as it is decoded: the video thread does not pace itself by
    // the queue, and the frame callback never holds the queue.
    std::atomic<uint8_t> lowLatency{0};
    std::atomic<int16_t> panX{0}, panY{0};              // in 32-pixel steps
    std::atomic<int16_t> panXLimit{15}, panYLimit{15};  // recomputed at every layout

    // Fixed at start-up (the main window sets them).
    std::atomic<uint8_t> landscape{1};
    std::atomic<uint8_t> smartphone{0};

    // maxWidth x maxHeight x 3 bytes each; the renderer converts into the first and turns
    // pictures into the second.
    std::vector<uint8_t> pictureBuffer, rotationBuffer;

    // The arrival time (the frame's stamp) of the frame whose decoding gave the picture that
    // newPicture announces; and, when set, what the renderer calls with it once that picture
    // is drawn (benchmarks measure the pipeline's delay with it).
    std::atomic<uint64_t> pictureArrival{0};
    void (*pictureDrawn)(uint64_t arrival) = nullptr;

    // The pauses of the frame callback and the video thread; tests replace it to see them.
    // A pause given a stop flag is slept in short slices and ends as soon as the flag is set,
    // so that Stop never waits for a pause to run out.
    void (*sleepMs)(int milliseconds) = nullptr;
    void sleep(int milliseconds, const std::atomic<bool> *stop = nullptr);
};

PipelineState &pipeline();

// Sizes both picture buffers from the admission's maximum picture size.
void allocatePictureBuffers();
std::size_t pictureBufferSize();

// Releases every frame still queued.
void releaseQueuedFrames();

}  // namespace kestrel
