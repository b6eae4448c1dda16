#include "viewer/render_layout.h"

#include <algorithm>
#include <cstring>

#include "viewer/pipeline_state.h"

namespace kestrel {

namespace {

int clampInt(long long value, long long low, long long high) {
    if (high < low) high = low;
    return static_cast<int>(std::clamp(value, low, high));
}

}  // namespace

ScreenGeometry makeScreenGeometry(const FrameBufferView &frameBuffer, int screenWidth,
                                  int screenHeight, const Rect &mainWindow, const Rect &siteInfo,
                                  const Rect &desktop) {
    ScreenGeometry g;
    if (frameBuffer.pixels && frameBuffer.width > 0 && frameBuffer.height > 0) {
        g.pixelPitch = frameBuffer.pixelPitch;
        g.rowPitch = frameBuffer.rowPitch;
        g.screenWidth = frameBuffer.width;
        g.screenHeight = frameBuffer.height;
    } else {
        g.pixelPitch = 2;
        g.rowPitch = screenWidth * 2;
        g.screenWidth = screenWidth;
        g.screenHeight = screenHeight;
    }
    // The frame buffer is in window coordinates: the rows need no conversion.
    g.topRows = mainWindow.top;
    g.bottomRows = g.screenHeight - mainWindow.bottom;
    g.infoRows = mainWindow.bottom - siteInfo.top;
    g.mainWindow = mainWindow;
    g.desktop = desktop;
    return g;
}

ScreenGeometry readScreenGeometry(Display &display) {
    const FrameBufferView view = display.lockFrameBuffer();
    display.unlockFrameBuffer();
    return makeScreenGeometry(view, display.screenWidth(), display.screenHeight(),
                              display.mainWindowRect(), display.siteInfoRect(),
                              display.desktopRect());
}

Rect fitAspect(const Rect &area, int width, int height, bool landscape) {
    if (width <= 0 || height <= 0) return area;
    Rect r = area;
    const long long W = r.width(), H = r.height(), w = width, h = height;
    if (landscape) {
        if (H * w <= W * h) {
            const int margin = static_cast<int>((W - H * w / h) / 2);
            r.left += margin;
            r.right -= margin;
        } else {
            const int margin = static_cast<int>((H - W * h / w) / 2);
            r.top += margin;
            r.bottom -= margin;
        }
    } else {
        // The turned picture is h wide and w high.
        if (W * w > H * h) {
            const int margin = static_cast<int>((W - H * h / w) / 2);
            r.left += margin;
            r.right -= margin;
        } else {
            const int margin = static_cast<int>((H - W * w / h) / 2);
            r.top += margin;
            r.bottom -= margin;
        }
    }
    return r;
}

int panLimit(int extent, int visible) {
    const long long over = static_cast<long long>(extent) - visible;
    if (over <= 0) return 0;
    return static_cast<int>((over + kPanStep - 1) / kPanStep);
}

Layout computeLayout(const ScreenGeometry &g, const LayoutInput &in) {
    Layout l;
    Rect d = g.desktop;
    d.top = 0;
    if (in.smartphone) d.bottom += g.bottomRows;
    if (!in.fitToWidth) d = fitAspect(d, in.width, in.height, in.landscape);
    l.destination = d;
    l.infoShown = in.siteInfoVisible ? g.infoRows : 0;
    l.freeRows = g.screenHeight - l.infoShown - g.bottomRows - g.topRows;
    l.panXLimit = panLimit(in.width, g.screenWidth);
    l.panYLimit = panLimit(in.height, l.freeRows);
    return l;
}

int panSourceRow(const ScreenGeometry &g, const Layout &l, int height, int panY) {
    if (panY == 0) return 0;
    if (panY == l.panYLimit)
        return l.infoShown - g.screenHeight + height + g.bottomRows + g.topRows;
    return panY * kPanStep;
}

int panSourceColumn(const ScreenGeometry &g, const Layout &l, int width, int panX) {
    if (panX == 0) return 0;
    if (panX == l.panXLimit) return width - g.screenWidth;
    return panX * kPanStep;
}

CopyPlan planDirectCopy(const ScreenGeometry &g, const Layout &l, int width, int height, int panX,
                        int panY, const FrameBufferView &fb, std::size_t pictureBytes) {
    CopyPlan p;
    p.sourceStride = width > 0 ? width * 2 : 0;
    const int top = clampInt(g.topRows, 0, std::max(fb.height, 0));
    p.destOffset = fb.rowPitch > 0 ? static_cast<std::size_t>(top) * static_cast<std::size_t>(fb.rowPitch) : 0;
    p.markerRow = top + 4;
    if (!fb.pixels || fb.pixelPitch < 2 || fb.rowPitch <= 0 || width <= 0 || height <= 0)
        return p;

    // Only whole rows the picture buffer really holds are read.
    const long long bufferRows = static_cast<long long>(pictureBytes / static_cast<std::size_t>(p.sourceStride));
    const int rowsHeld = static_cast<int>(std::min<long long>(height, bufferRows));

    int rows = height > l.freeRows ? l.freeRows - 1 : height;
    rows = clampInt(rows, 0, std::min(rowsHeld, fb.height - top));
    int pixels = std::min(width, g.screenWidth);
    pixels = clampInt(pixels, 0, std::min(fb.width, fb.rowPitch / fb.pixelPitch));

    const int row = clampInt(panSourceRow(g, l, height, panY), 0, rowsHeld - rows);
    const int column = clampInt(panSourceColumn(g, l, width, panX), 0, width - pixels);

    p.rows = rows;
    p.pixels = pixels;
    p.sourceOffset = static_cast<std::size_t>(row) * static_cast<std::size_t>(p.sourceStride) +
                     static_cast<std::size_t>(column) * 2;
    p.markerRow = top + rows + 4;
    return p;
}

void copyDirect(const CopyPlan &plan, const uint8_t *picture, const FrameBufferView &fb) {
    if (!picture || !fb.pixels || plan.rows <= 0 || plan.pixels <= 0) return;
    const uint8_t *src = picture + plan.sourceOffset;
    uint8_t *dst = fb.pixels + plan.destOffset;
    const std::size_t rowBytes = static_cast<std::size_t>(plan.pixels) * 2;
    for (int i = 0; i < plan.rows; ++i) {
        if (fb.pixelPitch == 2) {
            std::memcpy(dst, src, rowBytes);
        } else {
            for (int x = 0; x < plan.pixels; ++x) std::memcpy(dst + x * fb.pixelPitch, src + x * 2, 2);
        }
        dst += fb.rowPitch;
        src += plan.sourceStride;
    }
}

void drawCodecMarker(const FrameBufferView &fb, int firstRow, uint16_t marker) {
    uint16_t colour;
    if (marker == kMarkerMpeg4)
        colour = 0x001F;
    else if (marker == kMarkerMotionJpeg)
        colour = 0xF800;
    else if (marker == kMarkerH264)
        colour = 0x07E0;
    else if (marker == kMarkerH265)
        colour = 0xF81F;
    else
        return;
    if (!fb.pixels || fb.pixelPitch < 2 || fb.rowPitch <= 0) return;
    for (int row = firstRow; row < firstRow + 2; ++row) {
        if (row < 0 || row >= fb.height) continue;
        for (int x = 2; x <= 3; ++x) {
            if (x >= fb.width || (x + 1) * fb.pixelPitch > fb.rowPitch) continue;
            uint8_t *p = fb.pixels + static_cast<std::size_t>(row) * static_cast<std::size_t>(fb.rowPitch) +
                         static_cast<std::size_t>(x) * static_cast<std::size_t>(fb.pixelPitch);
            p[0] = static_cast<uint8_t>(colour & 0xFF);
            p[1] = static_cast<uint8_t>(colour >> 8);
        }
    }
}

void transposeBgr24(const uint8_t *source, int width, int height, uint8_t *destination) {
    if (!source || !destination || width <= 0 || height <= 0) return;
    const std::size_t srcRow = static_cast<std::size_t>(width) * 3;
    const std::size_t dstRow = static_cast<std::size_t>(height) * 3;
    for (int r = 0; r < width; ++r) {
        uint8_t *d = destination + static_cast<std::size_t>(r) * dstRow;
        const uint8_t *s = source + static_cast<std::size_t>(r) * 3;
        for (int c = 0; c < height; ++c, d += 3, s += srcRow) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
}

void clearToWhite(const FrameBufferView &fb, int topRows, int freeRows, bool rotation) {
    if (!fb.pixels || fb.rowPitch <= 0 || fb.height <= 0) return;
    const std::size_t pitch = static_cast<std::size_t>(fb.rowPitch);
    if (rotation) {
        std::memset(fb.pixels, 0xFF, pitch * static_cast<std::size_t>(fb.height));
        return;
    }
    const int start = clampInt(topRows, 0, fb.height);
    const int rows = clampInt(freeRows, 0, fb.height - start);
    std::memset(fb.pixels + static_cast<std::size_t>(start) * pitch, 0xFF,
                static_cast<std::size_t>(rows) * pitch);
}

Rect fitToWidthRect(const ScreenGeometry &g, const Layout &l, int width, int height,
                    bool landscape) {
    Rect r;
    r.left = 0;
    r.top = g.mainWindow.top;
    if (width <= 0 || height <= 0) {
        r.right = 0;
        r.bottom = r.top;
        return r;
    }
    long long tw, th;
    if (landscape) {
        th = g.screenHeight - l.infoShown - g.bottomRows - g.topRows - 1;
        tw = th * width / height;
    } else {
        tw = g.mainWindow.width();
        th = tw * height / width;
    }
    r.right = static_cast<int>(tw);
    r.bottom = r.top + static_cast<int>(th);
    return r;
}

}  // namespace kestrel
