#include "transport/encoded_frame.h"

#include <malloc.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace ipcam {

namespace {

// Large blocks that come back through IPCamFreeFrame go out again for the next pictures. A
// stream of large pictures would otherwise take fresh pages from the system for each one
// (which the system clears first) and hand them back after it: for a Motion-JPEG stream of
// 100 kB pictures that costs more than receiving them.
class Recycler {
  public:
    static constexpr std::size_t kFrom = 64 * 1024;  // smaller blocks come cheap from the heap
    static constexpr std::size_t kBlocks = 8;
    static constexpr std::size_t kMostBytes = 32 * 1024 * 1024;

    // A kept block of at least bytes (and at most twice that, so that a small picture does not
    // hold a large block), or nullptr.
    void *take(std::size_t bytes) {
        if (bytes < kFrom) return nullptr;
        std::lock_guard guard(lock_);
        for (std::size_t i = 0; i < count_; ++i) {
            if (kept_[i].size < bytes || kept_[i].size / 2 > bytes) continue;
            void *block = kept_[i].block;
            held_ -= kept_[i].size;
            kept_[i] = kept_[--count_];
            return block;
        }
        return nullptr;
    }

    // Keeps a block for later; false when it is small or there is no room for it.
    bool keep(void *block) {
        const std::size_t size = malloc_usable_size(block);
        if (size < kFrom) return false;
        std::lock_guard guard(lock_);
        if (count_ == kBlocks || held_ + size > kMostBytes) return false;
        kept_[count_++] = {block, size};
        held_ += size;
        return true;
    }

  private:
    struct Kept {
        void *block;
        std::size_t size;
    };
    std::mutex lock_;
    std::array<Kept, kBlocks> kept_{};  // lock_
    std::size_t count_ = 0, held_ = 0;  // lock_
};

// Never destroyed: a receiver may free its last frames while the program ends.
Recycler &recycler() {
    static Recycler *const kept = new Recycler;
    return *kept;
}

}  // namespace

EncodedFrame *allocateFrame(int32_t kind, std::size_t payloadSize, uint64_t time) {
    if (payloadSize > std::numeric_limits<uint32_t>::max() - kFrameHeadSize) return nullptr;
    const std::size_t bytes = kFrameHeadSize + payloadSize;
    void *block = recycler().take(bytes);
    if (!block) block = std::malloc(bytes);
    auto *frame = static_cast<EncodedFrame *>(block);
    if (!frame) return nullptr;
    frame->totalSize = static_cast<uint32_t>(bytes);
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
    if (frame && !ipcam::recycler().keep(frame)) std::free(frame);
}
