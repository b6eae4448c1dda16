// The occlusion watchdog of the viewer's windows: every 100 ms a window probes one of its
// corners in turn; a window of another program there counts one more tick, the window itself
// or one of ours sets the count back to 0. Each window decides what a count means.
#pragma once

#include <cstdint>

#include "viewer/display.h"

namespace kestrel {

struct OcclusionProbe {
    uint16_t counter = 0;
    uint16_t corner = 0;  // 0 to 3

    void reset() { counter = 0, corner = 0; }

    // The point to look at this tick in window (screen coordinates): top-left (L+1, T+1),
    // top-right (R-10, T+10), bottom-left (L+10, B-10), bottom-right (R-10, B-10).
    void point(const Rect &window, int &x, int &y) const;

    // Counts one probe; returns the new counter. The corner moves on while nothing covers.
    uint16_t step(bool covered);
};

}  // namespace kestrel
