#include "viewer/pipeline_state.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kSleepSlice{20};

}  // namespace

PipelineState &pipeline() {
    static PipelineState state;
    return state;
}

void PipelineState::sleep(int milliseconds, const std::atomic<bool> *stop) {
    if (sleepMs) {
        sleepMs(milliseconds);
        return;
    }
    if (milliseconds <= 0) {
        std::this_thread::yield();
        return;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (Clock::time_point now = Clock::now(); now < until; now = Clock::now()) {
        if (stop && stop->load()) return;
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, kSleepSlice));
    }
}

std::size_t pictureBufferSize() {
    const FrameAdmission &a = pipeline().admission;
    return static_cast<std::size_t>(a.maxWidth.load()) *
           static_cast<std::size_t>(a.maxHeight.load()) * 3;
}

void allocatePictureBuffers() {
    PipelineState &p = pipeline();
    p.pictureBuffer.assign(pictureBufferSize(), 0);
    p.rotationBuffer.assign(pictureBufferSize(), 0);
}

void releaseQueuedFrames() {
    PipelineState &p = pipeline();
    LockHolder hold(p.queueLock);
    for (EncodedFrame *frame : p.queue) IPCamFreeFrame(frame);
    p.queue.clear();
}

}  // namespace kestrel
