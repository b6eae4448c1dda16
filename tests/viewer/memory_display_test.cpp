#include "viewer/memory_display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/rgb565.h"
#include "viewer/render_layout.h"

namespace kestrel {
namespace {

using kestrel_test::kBlue565;
using kestrel_test::kGreen565;
using kestrel_test::kRed565;
using kestrel_test::kWhite565;

// A width x height B,G,R bitmap, one colour per memory row, taken from colours in turn.
std::vector<uint8_t> stripes(int width, int height, const std::vector<uint16_t> &colours) {
    std::vector<uint8_t> bits(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const uint16_t c = colours[static_cast<std::size_t>(y) % colours.size()];
        const uint8_t b = static_cast<uint8_t>((c & 0x1F) << 3),
                      g = static_cast<uint8_t>(((c >> 5) & 0x3F) << 2),
                      r = static_cast<uint8_t>((c >> 11) << 3);
        for (int x = 0; x < width; ++x) {
            bits[(y * width + x) * 3] = b;
            bits[(y * width + x) * 3 + 1] = g;
            bits[(y * width + x) * 3 + 2] = r;
        }
    }
    return bits;
}

TEST(MemoryDisplay, BlitOrientationFollowsTheDescription) {
    // Memory rows: red, green, blue. 37 pixels wide: rows of 111 bytes, not a multiple of 4.
    const std::vector<uint8_t> bits = stripes(37, 3, {kRed565, kGreen565, kBlue565});
    const struct {
        int bitmapHeight, srcY, srcHeight;
        uint16_t top, bottom;  // colour of screen rows 0 and 2
    } cases[] = {
        {3, 0, 3, kRed565, kBlue565},   // top-down, rectangle from its top
        {3, 3, -3, kRed565, kBlue565},  // top-down, rectangle from its bottom: still upright
        {-3, 0, 3, kBlue565, kRed565},  // bottom-up: memory row 0 is the picture's bottom
        {-3, 3, -3, kBlue565, kRed565},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.bitmapHeight << " " << c.srcY << " " << c.srcHeight);
        MemoryDisplay d(40, 4);
        d.stretchBlit(BitmapView{bits.data(), 37, c.bitmapHeight}, 0, c.srcY, 37, c.srcHeight,
                      Rect{0, 0, 37, 3});
        for (int x = 0; x < 37; ++x) {
            ASSERT_EQ(d.pixel(x, 0), c.top) << x;
            ASSERT_EQ(d.pixel(x, 1), kGreen565) << x;
            ASSERT_EQ(d.pixel(x, 2), c.bottom) << x;
        }
        EXPECT_EQ(d.pixel(37, 0), 0);  // right of the destination
        EXPECT_EQ(d.pixel(0, 3), 0);   // below it
        ASSERT_EQ(d.blits().size(), 1u);
        EXPECT_EQ(d.blits()[0].destination, (Rect{0, 0, 37, 3}));
        EXPECT_EQ(d.blits()[0].source(), (Rect{0, 0, 37, 3}));
        EXPECT_EQ(d.blits()[0].bitmapHeight, c.bitmapHeight);
    }
}

TEST(MemoryDisplay, BlitScalesAndClipsToTheScreen) {
    // Two rows, red over blue, doubled into a destination that runs off the screen.
    const std::vector<uint8_t> bits = stripes(3, 2, {kRed565, kBlue565});
    MemoryDisplay d(8, 6);
    d.stretchBlit(BitmapView{bits.data(), 3, 2}, 0, 0, 3, 2, Rect{4, 2, 10, 6});
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint16_t expected = x < 4 || y < 2 ? 0 : y < 4 ? kRed565 : kBlue565;
            ASSERT_EQ(d.pixel(x, y), expected) << x << "," << y;
        }
}

TEST(MemoryDisplay, ReadersWaitForTheRendererToUnlock) {
    MemoryDisplay d(16, 16);
    const uint64_t before = d.geometryGeneration();
    std::atomic<bool> locked{false}, released{false};
    std::thread renderer([&] {
        FrameBufferView fb = d.lockFrameBuffer();
        locked = true;
        for (int i = 0; i < fb.width; ++i) fb.pixels[i * 2] = 0xFF, fb.pixels[i * 2 + 1] = 0xFF;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        released = true;
        d.unlockFrameBuffer();
    });
    while (!locked) std::this_thread::yield();
    // The read comes after the whole row was drawn, never half of it.
    EXPECT_EQ(d.pixel(15, 0), kWhite565);
    EXPECT_TRUE(released);
    renderer.join();
    EXPECT_EQ(d.unlockCount(), 1u);

    d.setScreenSize(20, 10);
    EXPECT_GT(d.geometryGeneration(), before);
    const FrameBufferView fb = d.lockFrameBuffer();
    EXPECT_EQ(fb.width, 20);
    EXPECT_EQ(fb.rowPitch, 40);
    d.unlockFrameBuffer();
    EXPECT_EQ(d.pixel(15, 0), 0);  // a new, black frame
}

}  // namespace
}  // namespace kestrel
