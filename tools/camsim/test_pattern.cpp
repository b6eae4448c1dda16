#include "tools/camsim/test_pattern.h"

#include <algorithm>
#include <array>

namespace camsim {

namespace {

struct Colour {
    uint8_t y, cb, cr;
};

// 75 % bars in BT.601 studio range, left to right.
constexpr Colour kBars[] = {
    {180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
    {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128},
};
constexpr Colour kBlack = {16, 128, 128};
constexpr Colour kWhite = {235, 128, 128};

// Segments a..g of a seven-segment digit, as bits 0..6.
constexpr std::array<uint8_t, 10> kSegments = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                               0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// Studio range (16..235, 16..240) stretched to the full 0..255 that JPEG pictures use.
Colour fullRange(Colour c) {
    auto luma = [](int v) {
        return static_cast<uint8_t>(std::clamp((v - 16) * 255 / 219, 0, 255));
    };
    auto chroma = [](int v) {
        return static_cast<uint8_t>(std::clamp(128 + (v - 128) * 255 / 224, 0, 255));
    };
    return {luma(c.y), chroma(c.cb), chroma(c.cr)};
}

class Canvas {
  public:
    Canvas(Picture &p, bool full) : p_(p), full_(full) {}

    // Fills the rectangle, clipped to the picture; chroma covers the luma pixels it shares.
    void fill(int x, int y, int w, int h, Colour c) {
        if (full_) c = fullRange(c);
        int x0 = std::clamp(x, 0, p_.width), x1 = std::clamp(x + w, 0, p_.width);
        int y0 = std::clamp(y, 0, p_.height), y1 = std::clamp(y + h, 0, p_.height);
        for (int row = y0; row < y1; ++row)
            std::fill_n(&p_.y[static_cast<std::size_t>(row) * p_.width + x0], x1 - x0, c.y);
        const int sy = p_.chroma == Chroma::Yuv420 ? 2 : 1;
        const int cw = p_.chromaWidth();
        for (int row = y0 / sy; row < (y1 + sy - 1) / sy; ++row) {
            std::size_t at = static_cast<std::size_t>(row) * cw + x0 / 2;
            int n = (x1 + 1) / 2 - x0 / 2;
            std::fill_n(&p_.cb[at], n, c.cb);
            std::fill_n(&p_.cr[at], n, c.cr);
        }
    }

    void digit(int x, int y, int w, int h, int value) {
        const int t = std::max(2, w / 5);  // stroke
        const int mid = (h - t) / 2;
        const struct {
            int x, y, w, h;
        } segments[7] = {
            {t, 0, w - 2 * t, t},
            {w - t, t, t, mid - t},
            {w - t, mid + t, t, h - mid - 2 * t},
            {t, h - t, w - 2 * t, t},
            {0, mid + t, t, h - mid - 2 * t},
            {0, t, t, mid - t},
            {t, mid, w - 2 * t, t},
        };
        for (int s = 0; s < 7; ++s)
            if (kSegments[value] & (1 << s))
                fill(x + segments[s].x, y + segments[s].y, segments[s].w, segments[s].h, kWhite);
    }

  private:
    Picture &p_;
    bool full_;
};

}  // namespace

Picture drawTestPattern(int width, int height, Chroma chroma, uint64_t frame, bool full) {
    Picture p;
    p.width = width;
    p.height = height;
    p.chroma = chroma;
    p.y.resize(static_cast<std::size_t>(width) * height);
    p.cb.resize(static_cast<std::size_t>(p.chromaWidth()) * p.chromaHeight());
    p.cr.resize(p.cb.size());
    Canvas canvas(p, full);

    const int barsHeight = height * 2 / 3;
    const int bars = static_cast<int>(std::size(kBars));
    for (int i = 0; i < bars; ++i) {
        int x0 = width * i / bars, x1 = width * (i + 1) / bars;
        canvas.fill(x0, 0, x1 - x0, barsHeight, kBars[i]);
    }
    for (int x = 0; x < width; x += 2) {
        auto level = static_cast<uint8_t>(16 + 219 * x / std::max(1, width - 1));
        canvas.fill(x, barsHeight, 2, height - barsHeight, {level, 128, 128});
    }

    // One square crosses the ramp in two seconds at 30 frames a second.
    const int side = std::max(4, height / 12) & ~1;
    const int travel = std::max(1, width - side);
    const int pos = static_cast<int>(frame % 60 * travel / 59);
    canvas.fill(pos, height - side, side, side, kWhite);

    constexpr int kDigits = 5;
    const int dh = height / 3, dw = dh / 2, gap = std::max(2, dw / 4);
    const int boxW = kDigits * (dw + gap) + gap, boxH = dh + 2 * gap;
    const int bx = (width - boxW) / 2, by = (barsHeight - boxH) / 2;
    canvas.fill(bx, by, boxW, boxH, kBlack);
    uint64_t n = frame % 100000;
    for (int i = kDigits - 1; i >= 0; --i, n /= 10)
        canvas.digit(bx + gap + i * (dw + gap), by + gap, dw, dh, static_cast<int>(n % 10));
    return p;
}

void addGrain(Picture &picture, uint64_t frame, int amplitude) {
    if (amplitude <= 0) return;
    // A cheap generator is plenty: the grain only has to defeat prediction.
    uint64_t state = frame * 0x9E3779B97F4A7C15ULL + 1;
    const int span = 2 * amplitude + 1;
    for (uint8_t &y : picture.y) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const int noise = static_cast<int>(state % static_cast<uint64_t>(span)) - amplitude;
        y = static_cast<uint8_t>(std::clamp(y + noise, 0, 255));
    }
}

}  // namespace camsim
