// The reorder window under any order of arrival: nothing held is lost, invented or let out
// twice, the window never holds more than it may, and closing it lets everything go.
//
// Input layout: byte 0 is the window in milliseconds; then arrivals of two bytes each: how
// far the sequence number moves from the last (signed), and the milliseconds since the last
// arrival.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "transport/rtp_reorder.h"

namespace {

// Takes what is due and checks that it was held; false when the window let out a stranger.
bool releaseDue(ipcam::RtpReorder &window, std::map<uint16_t, int> &held, uint64_t now,
                uint32_t windowMs) {
    for (auto out = window.release(now, windowMs); !out.empty();
         out = window.release(now, windowMs)) {
        if (out.size() != 2) return false;
        const uint16_t sequence = static_cast<uint16_t>(out[0] << 8 | out[1]);
        auto it = held.find(sequence);
        if (it == held.end()) return false;
        held.erase(it);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const uint32_t windowMs = data[0];
    ipcam::RtpReorder window;
    std::map<uint16_t, int> held;  // what the window holds by our count
    uint16_t sequence = 0;
    uint64_t now = 1;
    for (size_t at = 1; at + 2 <= size; at += 2) {
        sequence = static_cast<uint16_t>(sequence + static_cast<int8_t>(data[at]));
        now += data[at + 1];
        const uint8_t bytes[] = {static_cast<uint8_t>(sequence >> 8),
                                 static_cast<uint8_t>(sequence)};
        const std::size_t before = window.held();
        if (!window.admit(bytes, sequence, now, windowMs) && window.held() > before)
            held[sequence] = 1;
        if (window.held() != held.size() || window.held() > ipcam::RtpReorder::kMaxHeld)
            std::abort();
        if (!held.empty() && window.dueAt(windowMs) > now + windowMs) std::abort();
        if (!releaseDue(window, held, now, windowMs)) std::abort();
    }
    if (!releaseDue(window, held, now, 0) || window.held() != 0 || !held.empty()) std::abort();
    return 0;
}
