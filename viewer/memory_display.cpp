#include "viewer/memory_display.h"

#include <algorithm>
#include <cstdlib>

#include "viewer/render_layout.h"

namespace kestrel {

Rect normalizedSource(int srcX, int srcY, int srcWidth, int srcHeight) {
    Rect r{srcX, srcY, srcX + srcWidth, srcY + srcHeight};
    if (r.right < r.left) std::swap(r.left, r.right);
    if (r.bottom < r.top) std::swap(r.top, r.bottom);
    return r;
}

void stretchBlitInto(const FrameBufferView &fb, const BitmapView &bitmap, int srcX, int srcY,
                     int srcWidth, int srcHeight, const Rect &destination) {
    const int bitmapHeight = std::abs(bitmap.height);
    if (!fb.pixels || !bitmap.bits || bitmap.width <= 0 || bitmapHeight == 0 || fb.pixelPitch < 2)
        return;
    const Rect src = normalizedSource(srcX, srcY, srcWidth, srcHeight);
    Rect dst = destination;
    if (dst.right < dst.left) std::swap(dst.left, dst.right);
    if (dst.bottom < dst.top) std::swap(dst.top, dst.bottom);
    const long long sw = src.width(), sh = src.height(), dw = dst.width(), dh = dst.height();
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;

    const std::size_t bitmapRow = static_cast<std::size_t>(bitmap.width) * 3;
    const int y0 = std::max(dst.top, 0), y1 = std::min(dst.bottom, fb.height);
    const int x0 = std::max(dst.left, 0), x1 = std::min(dst.right, fb.width);
    for (int y = y0; y < y1; ++y) {
        // Sample at the centre of each destination pixel.
        long long sy = src.top + ((2LL * (y - dst.top) + 1) * sh) / (2 * dh);
        sy = std::clamp<long long>(sy, 0, bitmapHeight - 1);
        const long long memoryRow = bitmap.height > 0 ? sy : bitmapHeight - 1 - sy;
        const uint8_t *row = bitmap.bits + static_cast<std::size_t>(memoryRow) * bitmapRow;
        uint8_t *out =
            fb.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(fb.rowPitch);
        for (int x = x0; x < x1; ++x) {
            long long sx = src.left + ((2LL * (x - dst.left) + 1) * sw) / (2 * dw);
            sx = std::clamp<long long>(sx, 0, bitmap.width - 1);
            const uint8_t *bgr = row + sx * 3;
            const uint16_t value = rgb565(bgr[0], bgr[1], bgr[2]);
            uint8_t *p =
                out + static_cast<std::size_t>(x) * static_cast<std::size_t>(fb.pixelPitch);
            p[0] = static_cast<uint8_t>(value & 0xFF);
            p[1] = static_cast<uint8_t>(value >> 8);
        }
    }
}

MemoryDisplay::MemoryDisplay(int width, int height)
    : frame_(static_cast<std::size_t>(std::max(width, 0)) *
                 static_cast<std::size_t>(std::max(height, 0)) * 2,
             0),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      mainWindow_{0, 0, width_, height_},
      desktop_{0, 0, width_, height_},
      siteInfo_{0, height_, width_, height_} {}

FrameBufferView MemoryDisplay::lockFrameBuffer() {
    frameLock_.lock();
    locked_ = true;
    return FrameBufferView{frame_.empty() ? nullptr : frame_.data(), width_ * 2, 2, width_,
                           height_};
}

void MemoryDisplay::unlockFrameBuffer() {
    // Only the thread that locked may unlock; it alone sees locked_ set.
    if (!locked_) return;
    locked_ = false;
    {
        std::lock_guard state(stateLock_);
        ++unlocks_;
    }
    frameLock_.unlock();
}

void MemoryDisplay::stretchBlit(const BitmapView &bitmap, int srcX, int srcY, int srcWidth,
                                int srcHeight, const Rect &destination) {
    std::lock_guard frame(frameLock_);
    stretchBlitInto(
        FrameBufferView{frame_.empty() ? nullptr : frame_.data(), width_ * 2, 2, width_, height_},
        bitmap, srcX, srcY, srcWidth, srcHeight, destination);
    std::lock_guard state(stateLock_);
    blits_.push_back(
        Blit{bitmap.width, bitmap.height, srcX, srcY, srcWidth, srcHeight, destination});
}

int MemoryDisplay::screenWidth() const {
    std::lock_guard state(stateLock_);
    return width_;
}

int MemoryDisplay::screenHeight() const {
    std::lock_guard state(stateLock_);
    return height_;
}

Rect MemoryDisplay::mainWindowRect() const {
    std::lock_guard state(stateLock_);
    return mainWindow_;
}

Rect MemoryDisplay::desktopRect() const {
    std::lock_guard state(stateLock_);
    return desktop_;
}

Rect MemoryDisplay::siteInfoRect() const {
    std::lock_guard state(stateLock_);
    return siteInfo_;
}

bool MemoryDisplay::siteInfoVisible() const {
    std::lock_guard state(stateLock_);
    return siteInfoVisible_;
}

void MemoryDisplay::setSiteInfoText(const std::u16string &text) {
    std::lock_guard state(stateLock_);
    texts_.push_back(text);
}

void MemoryDisplay::refresh(const Rect &area) {
    std::lock_guard state(stateLock_);
    refreshes_.push_back(area);
}

void MemoryDisplay::showState(const std::u16string &text) {
    std::lock_guard frame(frameLock_);
    std::fill(frame_.begin(), frame_.end(), uint8_t{0});
    std::lock_guard state(stateLock_);
    state_ = text;
}

void MemoryDisplay::clearState() {
    std::lock_guard state(stateLock_);
    state_.clear();
}

std::u16string MemoryDisplay::state() const {
    std::lock_guard state(stateLock_);
    return state_;
}

void MemoryDisplay::setScreenSize(int width, int height) {
    std::lock_guard frame(frameLock_);
    std::lock_guard state(stateLock_);
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    frame_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 2, 0);
    ++generation_;
}

void MemoryDisplay::setMainWindowRect(const Rect &rect) {
    std::lock_guard state(stateLock_);
    mainWindow_ = rect;
    ++generation_;
}

void MemoryDisplay::setDesktopRect(const Rect &rect) {
    std::lock_guard state(stateLock_);
    desktop_ = rect;
    ++generation_;
}

void MemoryDisplay::setSiteInfoRect(const Rect &rect) {
    std::lock_guard state(stateLock_);
    siteInfo_ = rect;
    ++generation_;
}

void MemoryDisplay::setSiteInfoVisible(bool visible) {
    std::lock_guard state(stateLock_);
    siteInfoVisible_ = visible;
    ++generation_;
}

std::vector<MemoryDisplay::Blit> MemoryDisplay::blits() const {
    std::lock_guard state(stateLock_);
    return blits_;
}

std::vector<Rect> MemoryDisplay::refreshes() const {
    std::lock_guard state(stateLock_);
    return refreshes_;
}

std::vector<std::u16string> MemoryDisplay::siteInfoTexts() const {
    std::lock_guard state(stateLock_);
    return texts_;
}

std::size_t MemoryDisplay::unlockCount() const {
    std::lock_guard state(stateLock_);
    return unlocks_;
}

void MemoryDisplay::clearRecords() {
    std::lock_guard state(stateLock_);
    blits_.clear();
    refreshes_.clear();
    texts_.clear();
    unlocks_ = 0;
}

uint16_t MemoryDisplay::pixel(int x, int y) const {
    std::lock_guard frame(frameLock_);
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                            static_cast<std::size_t>(x)) *
                           2;
    return static_cast<uint16_t>(frame_[at] | frame_[at + 1] << 8);
}

std::vector<uint16_t> MemoryDisplay::pixels() const {
    std::lock_guard frame(frameLock_);
    std::vector<uint16_t> out(frame_.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint16_t>(frame_[2 * i] | frame_[2 * i + 1] << 8);
    return out;
}

}  // namespace kestrel
