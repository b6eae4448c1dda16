// The display layer the renderer draws through: a 16-bit RGB 5-6-5 frame buffer to lock for
// the direct path, a stretch-blit of 24-bit B,G,R bitmaps for the scaled paths, and the
// geometry of the screen and the windows on it. MemoryDisplay keeps plain memory for tests;
// QtDisplay backs it with an image a window presents.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect &) const = default;
};

struct FrameBufferView {
    uint8_t *pixels = nullptr;  // null: no frame buffer this time
    int rowPitch = 0;           // bytes from one row to the next
    int pixelPitch = 0;         // bytes from one pixel to the next (2)
    int width = 0, height = 0;  // pixels
};

// A 24-bit B,G,R bitmap with tightly packed rows. A negative height describes a bottom-up
// bitmap (its first row in memory is the picture's bottom row).
struct BitmapView {
    const uint8_t *bits = nullptr;
    int width = 0, height = 0;
};

class Display {
  public:
    virtual ~Display() = default;

    // The whole screen's frame buffer; unlock after drawing so it can be presented.
    virtual FrameBufferView lockFrameBuffer() = 0;
    virtual void unlockFrameBuffer() = 0;

    // Copies the source rectangle of bitmap (origin srcX, srcY as the bitmap is described,
    // srcHeight negative for bottom-up) stretched into destination, in screen coordinates.
    virtual void stretchBlit(const BitmapView &bitmap, int srcX, int srcY, int srcWidth,
                             int srcHeight, const Rect &destination) = 0;

    virtual int screenWidth() const = 0;
    virtual int screenHeight() const = 0;
    virtual Rect mainWindowRect() const = 0;  // the main window's client area, screen coordinates
    virtual Rect desktopRect() const = 0;     // the whole screen as windows see it
    virtual Rect siteInfoRect() const = 0;    // the site-information window
    virtual bool siteInfoVisible() const = 0;
    virtual void setSiteInfoText(const std::u16string &text) = 0;
    // The main window shows what was drawn (invalidate and update a region of it).
    virtual void refresh(const Rect &area) = 0;

    // Blanks the picture and shows text (lines apart by '\n') in its place, so that nothing
    // stale stays on the screen: what the viewer is doing or what went wrong. An empty text
    // only blanks. Any thread.
    virtual void showState(const std::u16string &text) = 0;
    // A picture has been drawn: the state shown goes, the frame stays.
    virtual void clearState() = 0;

    // Moves on whenever the screen's or a window's geometry changes (a resized window); the
    // renderer reads the geometry again and lays out afresh on the next picture. A display
    // whose geometry never changes keeps 0.
    virtual uint64_t geometryGeneration() const { return 0; }
};

}  // namespace kestrel
