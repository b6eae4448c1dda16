#include "viewer/occlusion.h"

namespace kestrel {

void OcclusionProbe::point(const Rect &w, int &x, int &y) const {
    switch (corner & 3) {
        case 0: x = w.left + 1, y = w.top + 1; break;
        case 1: x = w.right - 10, y = w.top + 10; break;
        case 2: x = w.left + 10, y = w.bottom - 10; break;
        default: x = w.right - 10, y = w.bottom - 10; break;
    }
}

uint16_t OcclusionProbe::step(bool covered) {
    if (covered) {
        if (counter < UINT16_MAX) ++counter;
    } else {
        counter = 0;
    }
    if (counter == 0) corner = static_cast<uint16_t>((corner + 1) & 3);
    return counter;
}

}  // namespace kestrel
