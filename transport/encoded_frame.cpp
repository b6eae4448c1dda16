#include "transport/encoded_frame.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace ipcam {

EncodedFrame *allocateFrame(int32_t kind, std::size_t payloadSize, uint64_t time) {
    if (payloadSize > std::numeric_limits<uint32_t>::max() - kFrameHeadSize) return nullptr;
    auto *frame = static_cast<EncodedFrame *>(std::malloc(kFrameHeadSize + payloadSize));
    if (!frame) return nullptr;
    frame->totalSize = static_cast<uint32_t>(kFrameHeadSize + payloadSize);
    frame->kind = kind;
    frame->time = time;
    return frame;
}

EncodedFrame *makeFrame(int32_t kind, const void *payload, std::size_t payloadSize, uint64_t time) {
    EncodedFrame *frame = allocateFrame(kind, payloadSize, time);
    if (frame && payloadSize > 0) std::memcpy(framePayload(frame), payload, payloadSize);
    return frame;
}

}  // namespace ipcam

extern "C" IPCAM_API void IPCamFreeFrame(void *frame) {
    std::free(frame);
}
