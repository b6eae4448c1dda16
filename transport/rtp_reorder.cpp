#include "transport/rtp_reorder.h"

#include <algorithm>
#include <cstdint>

namespace ipcam {

namespace {

constexpr uint16_t kBehind = 0x8000;
// A packet this far behind is a straggler; further back, the numbering has jumped.
constexpr uint16_t kMaxMisorder = 100;

}  // namespace

void RtpReorder::reset() {
    for (Slot &slot : slots_) slot.used = false;
    count_ = 0;
    started_ = false;
}

RtpReorder::Slot *RtpReorder::find(uint16_t sequence) {
    for (Slot &slot : slots_)
        if (slot.used && slot.sequence == sequence) return &slot;
    return nullptr;
}

bool RtpReorder::admit(std::span<const uint8_t> datagram, uint16_t sequence, uint64_t nowMs,
                       uint32_t windowMs) {
    if (!started_ || (count_ == 0 && windowMs == 0)) {
        started_ = true;
        expected_ = static_cast<uint16_t>(sequence + 1);
        return true;
    }
    const uint16_t distance = ahead(sequence);
    if (distance >= kBehind) {
        // Far behind with nothing held: the numbers jumped back, and the stream goes on there.
        if (count_ == 0 && static_cast<uint16_t>(expected_ - sequence) > kMaxMisorder)
            expected_ = static_cast<uint16_t>(sequence + 1);
        return true;
    }
    if (distance == 0) {
        expected_ = static_cast<uint16_t>(sequence + 1);
        return true;
    }
    if (find(sequence)) return false;
    // Full: only when the caller failed to take what was due; order gives way to progress.
    if (count_ == kMaxHeld) return true;
    Slot &slot = *std::find_if(slots_.begin(), slots_.end(), [](const Slot &s) { return !s.used; });
    slot.used = true;
    slot.sequence = sequence;
    slot.arrival = nowMs;
    slot.bytes.assign(datagram.begin(), datagram.end());
    ++count_;
    return false;
}

std::span<const uint8_t> RtpReorder::release(uint64_t nowMs, uint32_t windowMs) {
    if (count_ == 0) return {};
    Slot *next = find(expected_);
    if (!next) {
        if (count_ < kMaxHeld && nowMs < dueAt(windowMs)) return {};
        for (Slot &slot : slots_)
            if (slot.used && (!next || ahead(slot.sequence) < ahead(next->sequence))) next = &slot;
    }
    next->used = false;
    --count_;
    expected_ = static_cast<uint16_t>(next->sequence + 1);
    return next->bytes;
}

uint64_t RtpReorder::dueAt(uint32_t windowMs) const {
    if (count_ == 0) return 0;
    uint64_t oldest = UINT64_MAX;
    for (const Slot &slot : slots_)
        if (slot.used) oldest = std::min(oldest, slot.arrival);
    return oldest + windowMs;
}

}  // namespace ipcam
