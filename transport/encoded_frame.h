// The block in which every frame and status message travels to the session callback.
//
// One allocation: the 16-byte EncodedFrame head (total size, kind, file time) followed by the
// payload. It belongs to the transport until handed to the callback, and to the receiver from
// then on, which frees it with IPCamFreeFrame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipcam.h"

namespace ipcam {

inline constexpr std::size_t kFrameHeadSize = IPCAM_FRAME_HEAD_SIZE;

// A block with room for payloadSize bytes, its head filled in; nullptr when memory is short
// or the size does not fit the 32-bit total.
EncodedFrame *allocateFrame(int32_t kind, std::size_t payloadSize, uint64_t time);

// A block holding a copy of payload.
EncodedFrame *makeFrame(int32_t kind, const void *payload, std::size_t payloadSize, uint64_t time);

inline uint8_t *framePayload(EncodedFrame *frame) {
    return reinterpret_cast<uint8_t *>(frame) + kFrameHeadSize;
}

}  // namespace ipcam
