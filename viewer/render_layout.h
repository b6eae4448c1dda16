// The renderer's arithmetic, kept apart from its thread: the screen's geometry, the layout of a
// picture on it (destination rectangle, free rows, pan limits), the direct path's copy plan with
// its clamping, the codec marker, the turn of a picture for portrait screens and the clearing
// of the frame buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "viewer/display.h"

namespace kestrel {

// Pan steps are this many pixels.
inline constexpr int kPanStep = 32;

struct ScreenGeometry {
    int pixelPitch = 2, rowPitch = 0;     // bytes, from the locked frame buffer
    int screenWidth = 0, screenHeight = 0;
    int topRows = 0;     // rows above the main window
    int bottomRows = 0;  // rows below the main window (the soft-key bar)
    int infoRows = 0;    // rows of the main window the site-information window covers
    Rect mainWindow, desktop;
};

// The geometry as the renderer reads it once: pitches and size from the locked frame buffer
// (the display's screen size when it has none), the rows from the windows.
ScreenGeometry makeScreenGeometry(const FrameBufferView &frameBuffer, int screenWidth,
                                  int screenHeight, const Rect &mainWindow, const Rect &siteInfo,
                                  const Rect &desktop);

// Locks the display's frame buffer once and reads the rest of its geometry.
ScreenGeometry readScreenGeometry(Display &display);

struct LayoutInput {
    int width = 0, height = 0;  // the picture
    bool landscape = true;      // false: the screen is portrait and the picture is turned
    bool smartphone = false;    // the destination reaches over the soft-key bar
    bool fitToWidth = false;
    bool siteInfoVisible = false;
};

struct Layout {
    Rect destination;  // where the scaled paths draw
    int infoShown = 0; // infoRows when the site information shows, else 0
    int freeRows = 0;  // rows the direct path may draw on
    int panXLimit = 0, panYLimit = 0;
};

// Shrinks area to the picture's aspect ratio and centres it; on a portrait screen the picture
// is turned, so its width and height trade places.
Rect fitAspect(const Rect &area, int width, int height, bool landscape);

// max(0, ceil((extent - visible) / 32)): the pan steps that reach the picture's far edge.
int panLimit(int extent, int visible);

Layout computeLayout(const ScreenGeometry &geometry, const LayoutInput &input);

// The direct path's copy of an RGB 5-6-5 picture (rows width*2 bytes) into the frame buffer,
// everything clamped so that no byte outside either buffer is touched.
struct CopyPlan {
    std::size_t sourceOffset = 0;  // bytes into the picture
    std::size_t destOffset = 0;    // bytes into the frame buffer
    int rows = 0;                  // rows copied
    int pixels = 0;                // pixels copied per row
    int sourceStride = 0;          // bytes per picture row
    int markerRow = 0;             // frame-buffer row of the first marker row
};

// The source row and column the pan values select (before clamping).
int panSourceRow(const ScreenGeometry &geometry, const Layout &layout, int height, int panY);
int panSourceColumn(const ScreenGeometry &geometry, const Layout &layout, int width, int panX);

CopyPlan planDirectCopy(const ScreenGeometry &geometry, const Layout &layout, int width,
                        int height, int panX, int panY, const FrameBufferView &frameBuffer,
                        std::size_t pictureBytes);

void copyDirect(const CopyPlan &plan, const uint8_t *picture, const FrameBufferView &frameBuffer);

// Pixels 2 and 3 of rows firstRow and firstRow + 1: blue for MPEG-4, red for Motion JPEG,
// nothing for any other value. Rows or pixels outside the frame buffer are skipped.
void drawCodecMarker(const FrameBufferView &frameBuffer, int firstRow, uint16_t marker);

// Turns a 24-bit picture (width x height, top row first) into destination: destination row r,
// column c gets source row c, column r; destination rows are height*3 bytes.
void transposeBgr24(const uint8_t *source, int width, int height, uint8_t *destination);

// Rotation off: every byte of the free rows from topRows on becomes 0xFF; rotation on: every
// byte of the frame buffer.
void clearToWhite(const FrameBufferView &frameBuffer, int topRows, int freeRows, bool rotation);

// Where the fit-to-width path draws: from x 0 and the main window's top, as wide as the free
// rows allow (landscape) or as wide as the main window (portrait).
Rect fitToWidthRect(const ScreenGeometry &geometry, const Layout &layout, int width, int height,
                    bool landscape);

// RGB 5-6-5 of a B,G,R pixel.
inline uint16_t rgb565(uint8_t blue, uint8_t green, uint8_t red) {
    return static_cast<uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | blue >> 3);
}

}  // namespace kestrel
