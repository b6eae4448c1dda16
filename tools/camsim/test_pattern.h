// The simulator's pictures: colour bars over a grey ramp, a square that moves and a large
// frame counter, so a viewer shows at a glance that frames arrive in order and none repeat.
#pragma once

#include <cstdint>
#include <vector>

namespace camsim {

enum class Chroma { Yuv420, Yuv422 };

// Planar YCbCr, 8 bits, rows without padding. Chroma planes are half as wide as luma, and
// half as high too for 4:2:0.
struct Picture {
    int width = 0, height = 0;
    Chroma chroma = Chroma::Yuv420;
    std::vector<uint8_t> y, cb, cr;

    int chromaWidth() const { return width / 2; }
    int chromaHeight() const { return chroma == Chroma::Yuv420 ? height / 2 : height; }
};

// Width and height must be even. The counter shows frame modulo 100000. Studio range as video
// codecs expect, or the full range of JPEG pictures.
Picture drawTestPattern(int width, int height, Chroma chroma, uint64_t frame,
                        bool fullRange = false);

// Adds film grain of up to +-amplitude to the luma, different in every frame (the same for the
// same frame number), so that a stream has detail to spend a bit rate on.
void addGrain(Picture &picture, uint64_t frame, int amplitude);

}  // namespace camsim
