// A display in plain memory: an RGB 5-6-5 frame buffer, the stretch-blits drawn into it and
// recorded, and geometry a test sets. The renderer's thread and a test's thread may use it at
// the same time: the frame buffer stays locked from lockFrameBuffer to unlockFrameBuffer, and
// every reader waits for that.
//
// Stretch-blits never mirror. The source rectangle is in the picture's own rows, counted from
// its top edge (a bottom-up bitmap, height negative, has its picture row 0 last in memory); a
// negative srcHeight gives the rectangle from its bottom edge up (srcY names its bottom), a
// negative srcWidth from its right edge. The picture is scaled to the destination by nearest
// neighbour and clipped to the screen.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "viewer/display.h"

namespace kestrel {

// The source rectangle of a stretch-blit with its edges in order (see above).
Rect normalizedSource(int srcX, int srcY, int srcWidth, int srcHeight);

// Draws bitmap's source rectangle scaled into destination of frameBuffer (RGB 5-6-5, 16-bit
// little-endian pixels), nearest neighbour, clipped to the frame buffer.
void stretchBlitInto(const FrameBufferView &frameBuffer, const BitmapView &bitmap, int srcX,
                     int srcY, int srcWidth, int srcHeight, const Rect &destination);

class MemoryDisplay final : public Display {
  public:
    // A black width x height screen; the main window and the desktop cover it, the site
    // information window is empty at its bottom and hidden.
    MemoryDisplay(int width, int height);

    FrameBufferView lockFrameBuffer() override;
    void unlockFrameBuffer() override;
    void stretchBlit(const BitmapView &bitmap, int srcX, int srcY, int srcWidth, int srcHeight,
                     const Rect &destination) override;
    int screenWidth() const override;
    int screenHeight() const override;
    Rect mainWindowRect() const override;
    Rect desktopRect() const override;
    Rect siteInfoRect() const override;
    bool siteInfoVisible() const override;
    void setSiteInfoText(const std::u16string &text) override;
    void refresh(const Rect &area) override;
    void showState(const std::u16string &text) override;
    void clearState() override;
    uint64_t geometryGeneration() const override { return generation_.load(); }

    // Geometry; every change moves the geometry generation on.
    void setScreenSize(int width, int height);  // a new, black frame buffer
    void setMainWindowRect(const Rect &rect);
    void setDesktopRect(const Rect &rect);
    void setSiteInfoRect(const Rect &rect);
    void setSiteInfoVisible(bool visible);

    struct Blit {
        int bitmapWidth = 0, bitmapHeight = 0;  // as described (negative: bottom-up)
        int srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0;
        Rect destination;
        Rect source() const { return normalizedSource(srcX, srcY, srcWidth, srcHeight); }
    };
    std::vector<Blit> blits() const;
    std::vector<Rect> refreshes() const;
    std::vector<std::u16string> siteInfoTexts() const;
    std::size_t unlockCount() const;
    std::u16string state() const;  // the state shown, empty once a picture was drawn
    void clearRecords();

    // The frame buffer as it stands after the last unlock or blit.
    uint16_t pixel(int x, int y) const;    // 0 outside the screen
    std::vector<uint16_t> pixels() const;  // row by row, width x height

  private:
    mutable std::mutex frameLock_;  // held from lockFrameBuffer to unlockFrameBuffer
    std::vector<uint8_t> frame_;    // frameLock_
    int width_ = 0, height_ = 0;    // frameLock_ and stateLock_ to change
    bool locked_ = false;           // by the holder of frameLock_

    mutable std::mutex stateLock_;
    Rect mainWindow_, desktop_, siteInfo_;
    bool siteInfoVisible_ = false;
    std::vector<Blit> blits_;
    std::vector<Rect> refreshes_;
    std::vector<std::u16string> texts_;
    std::u16string state_;
    std::size_t unlocks_ = 0;
    std::atomic<uint64_t> generation_{0};
};

}  // namespace kestrel
