#include "viewer/pipeline_state.h"

#include <chrono>
#include <thread>

namespace kestrel {

PipelineState &pipeline() {
    static PipelineState state;
    return state;
}

void PipelineState::sleep(int milliseconds) {
    if (sleepMs) {
        sleepMs(milliseconds);
        return;
    }
    if (milliseconds <= 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::size_t pictureBufferSize() {
    const FrameAdmission &a = pipeline().admission;
    return static_cast<std::size_t>(a.maxWidth.load()) * static_cast<std::size_t>(a.maxHeight.load()) * 3;
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
