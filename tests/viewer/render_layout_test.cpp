#include "viewer/render_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "viewer/pipeline_state.h"

namespace kestrel {
namespace {

// A phone in portrait: 240 x 320, a 26-row bar above the main window, a 26-row soft-key bar
// below it, a 20-row site-information window over the main window's bottom.
ScreenGeometry phone() {
    FrameBufferView fb{reinterpret_cast<uint8_t *>(1), 480, 2, 240, 320};
    return makeScreenGeometry(fb, 0, 0, Rect{0, 26, 240, 294}, Rect{0, 274, 240, 294},
                              Rect{0, 26, 240, 294});
}

struct AspectCase {
    Rect area;
    int width, height;
    bool landscape;
    Rect expected;
};

TEST(RenderLayout, FitAspectCentresThePicture) {
    const AspectCase cases[] = {
        // Landscape, height-limited: margins left and right.
        {{0, 0, 320, 240}, 352, 288, true, {13, 0, 307, 240}},
        {{10, 0, 330, 240}, 352, 288, true, {23, 0, 317, 240}},
        // Landscape, width-limited: margins top and bottom.
        {{0, 0, 320, 240}, 640, 360, true, {0, 30, 320, 210}},
        // Same aspect ratio: no margin.
        {{0, 0, 320, 240}, 640, 480, true, {0, 0, 320, 240}},
        // Portrait: the turned picture is 288 wide and 352 high.
        {{0, 0, 240, 320}, 352, 288, false, {0, 13, 240, 307}},
        {{0, 0, 240, 300}, 160, 120, false, {7, 0, 233, 300}},
        {{0, 0, 240, 320}, 640, 480, false, {0, 0, 240, 320}},
    };
    for (const AspectCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << (c.landscape ? " L" : " P"));
        EXPECT_EQ(fitAspect(c.area, c.width, c.height, c.landscape), c.expected);
    }
}

TEST(RenderLayout, PanLimitRoundsUpToWholeSteps) {
    const struct {
        int extent, visible, expected;
    } cases[] = {{640, 240, 13}, {304, 240, 2}, {241, 240, 1}, {240, 240, 0}, {100, 240, 0}, {0, 240, 0}};
    for (const auto &c : cases) EXPECT_EQ(panLimit(c.extent, c.visible), c.expected) << c.extent;
}

TEST(RenderLayout, LayoutFreeRowsPanLimitsAndDestination) {
    const ScreenGeometry g = phone();
    LayoutInput in;
    in.width = 352;
    in.height = 288;

    Layout l = computeLayout(g, in);
    EXPECT_EQ(l.infoShown, 0);
    EXPECT_EQ(l.freeRows, 268);
    EXPECT_EQ(l.panXLimit, 4);  // 112 pixels over
    EXPECT_EQ(l.panYLimit, 1);  // 20 rows over
    EXPECT_EQ(l.destination, (Rect{0, 49, 240, 245}));

    in.siteInfoVisible = true;
    l = computeLayout(g, in);
    EXPECT_EQ(l.infoShown, 20);
    EXPECT_EQ(l.freeRows, 248);
    EXPECT_EQ(l.panYLimit, 2);  // 40 rows over

    in.smartphone = true;  // the destination reaches over the soft-key bar
    l = computeLayout(g, in);
    EXPECT_EQ(l.destination, (Rect{0, 62, 240, 258}));

    in.fitToWidth = true;  // no shrinking to the aspect ratio
    l = computeLayout(g, in);
    EXPECT_EQ(l.destination, (Rect{0, 0, 240, 320}));
}

struct PanCase {
    int panX, panY;
    int row, column;  // expected source position
};

TEST(RenderLayout, DirectCopyFollowsPanValues) {
    const ScreenGeometry g = phone();
    const Layout l = computeLayout(g, LayoutInput{352, 288, true, false, false, false});
    ASSERT_EQ(l.panXLimit, 4);
    ASSERT_EQ(l.panYLimit, 1);
    FrameBufferView fb{reinterpret_cast<uint8_t *>(1), 480, 2, 240, 320};
    const std::size_t pictureBytes = 352 * 288 * 2;
    const PanCase cases[] = {
        {0, 0, 0, 0},
        {2, 0, 0, 64},
        {3, 0, 0, 96},
        {4, 1, 20, 112},    // at the limits: the far edges, 288 - 268 rows and 352 - 240 pixels
        {100, -5, 0, 112},  // left by the user interface out of range: clamped
        {-1, 7, 21, 0},     // 7 * 32 rows would read past the picture: 288 - 267
    };
    for (const PanCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "pan " << c.panX << "," << c.panY);
        const CopyPlan p = planDirectCopy(g, l, 352, 288, c.panX, c.panY, fb, pictureBytes);
        EXPECT_EQ(p.rows, 267);  // taller than the free rows: one row less than they hold
        EXPECT_EQ(p.pixels, 240);
        EXPECT_EQ(p.sourceStride, 704);
        EXPECT_EQ(p.destOffset, 26u * 480);
        EXPECT_EQ(p.sourceOffset, static_cast<std::size_t>(c.row) * 704 + c.column * 2);
        EXPECT_EQ(p.markerRow, 26 + 267 + 4);
    }

    // A picture that fits is copied whole from its origin.
    const Layout small = computeLayout(g, LayoutInput{160, 120, true, false, false, false});
    const CopyPlan p = planDirectCopy(g, small, 160, 120, 3, 3, fb, 160 * 120 * 2);
    EXPECT_EQ(p.rows, 120);
    EXPECT_EQ(p.pixels, 160);
    EXPECT_EQ(p.sourceOffset, 0u);
    EXPECT_EQ(p.markerRow, 26 + 120 + 4);
}

TEST(RenderLayout, DirectCopyStaysInsideBothBuffersWhateverThePan) {
    struct Screen {
        int width, height, pitch, top, bottom, info;
    };
    const Screen screens[] = {{240, 320, 480, 26, 26, 20}, {320, 240, 648, 0, 0, 0}, {37, 29, 76, 3, 2, 5},
                              {64, 10, 128, 8, 4, 0}};
    const int pictures[][2] = {{352, 288}, {37, 29}, {640, 480}, {1, 1}, {500, 7}};
    for (const Screen &s : screens) {
        const std::size_t fbBytes = static_cast<std::size_t>(s.pitch) * s.height;
        const FrameBufferView fb{reinterpret_cast<uint8_t *>(1), s.pitch, 2, s.width, s.height};
        const ScreenGeometry g =
            makeScreenGeometry(fb, 0, 0, Rect{0, s.top, s.width, s.height - s.bottom},
                               Rect{0, s.height - s.bottom - s.info, s.width, s.height - s.bottom},
                               Rect{0, 0, s.width, s.height});
        for (const auto &pic : pictures) {
            for (bool info : {false, true}) {
                const Layout l = computeLayout(g, LayoutInput{pic[0], pic[1], true, false, false, info});
                for (std::size_t bytes : {static_cast<std::size_t>(pic[0]) * pic[1] * 2,
                                          static_cast<std::size_t>(pic[0]) * pic[1]}) {
                    for (int panX = -40; panX <= 40; panX += 3) {
                        for (int panY = -40; panY <= 40; panY += 3) {
                            const CopyPlan p = planDirectCopy(g, l, pic[0], pic[1], panX, panY, fb, bytes);
                            if (p.rows == 0) continue;
                            SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " picture "
                                                            << pic[0] << "x" << pic[1] << " pan " << panX
                                                            << "," << panY);
                            ASSERT_GE(p.pixels, 0);
                            ASSERT_LE(p.sourceOffset + static_cast<std::size_t>(p.rows - 1) * p.sourceStride +
                                          static_cast<std::size_t>(p.pixels) * 2,
                                      bytes);
                            ASSERT_LE(p.destOffset + static_cast<std::size_t>(p.rows - 1) * s.pitch +
                                          static_cast<std::size_t>(p.pixels) * 2,
                                      fbBytes);
                            // Whole pixels of whole rows only.
                            ASSERT_EQ(p.sourceOffset % 2, 0u);
                            ASSERT_LE((p.sourceOffset % p.sourceStride) / 2 + p.pixels,
                                      static_cast<std::size_t>(pic[0]));
                        }
                    }
                }
            }
        }
    }
}

// A padded frame buffer (the pitch is wider than the rows) around a picture whose pixel at x,
// y holds y * 256 + x, so every copied pixel tells where it came from.
struct CopyFixture {
    static constexpr int kWidth = 64, kHeight = 50, kPitch = kWidth * 2 + 8;
    static constexpr int kPicWidth = 80, kPicHeight = 50;
    std::vector<uint8_t> frame = std::vector<uint8_t>(kPitch * kHeight, 0xAA);
    std::vector<uint8_t> picture = std::vector<uint8_t>(kPicWidth * kPicHeight * 2);
    FrameBufferView fb{frame.data(), kPitch, 2, kWidth, kHeight};
    ScreenGeometry g;

    CopyFixture() {
        for (int y = 0; y < kPicHeight; ++y)
            for (int x = 0; x < kPicWidth; ++x) {
                const uint16_t v = static_cast<uint16_t>(y * 256 + x);
                picture[(y * kPicWidth + x) * 2] = static_cast<uint8_t>(v & 0xFF);
                picture[(y * kPicWidth + x) * 2 + 1] = static_cast<uint8_t>(v >> 8);
            }
        // 3 rows above the main window, 10 below it.
        g = makeScreenGeometry(fb, 0, 0, Rect{0, 3, kWidth, 40}, Rect{0, 40, kWidth, 40},
                               Rect{0, 0, kWidth, kHeight});
    }
    uint16_t at(int x, int y) const {
        const std::size_t i = static_cast<std::size_t>(y) * kPitch + static_cast<std::size_t>(x) * 2;
        return static_cast<uint16_t>(frame[i] | frame[i + 1] << 8);
    }
};

TEST(RenderLayout, DirectCopyPlacesRowsAndLeavesTheRestAlone) {
    CopyFixture f;
    const Layout l = computeLayout(f.g, LayoutInput{CopyFixture::kPicWidth, CopyFixture::kPicHeight});
    ASSERT_EQ(l.freeRows, 37);
    ASSERT_EQ(l.panXLimit, 1);
    ASSERT_EQ(l.panYLimit, 1);
    const CopyPlan p = planDirectCopy(f.g, l, CopyFixture::kPicWidth, CopyFixture::kPicHeight, 1, 1, f.fb,
                                      f.picture.size());
    copyDirect(p, f.picture.data(), f.fb);
    ASSERT_EQ(p.rows, 36);
    // At the limits the copy shows the picture's right and bottom part: from column 16, row 13.
    for (int y = 0; y < CopyFixture::kHeight; ++y) {
        for (int x = 0; x < CopyFixture::kWidth; ++x) {
            if (y >= 3 && y < 3 + 36)
                ASSERT_EQ(f.at(x, y), (13 + y - 3) * 256 + 16 + x) << x << "," << y;
            else
                ASSERT_EQ(f.at(x, y), 0xAAAA) << x << "," << y;
        }
        for (int b = CopyFixture::kWidth * 2; b < CopyFixture::kPitch; ++b)
            ASSERT_EQ(f.frame[y * CopyFixture::kPitch + b], 0xAA) << "padding of row " << y;
    }
}

TEST(RenderLayout, CodecMarkerColoursTwoPixelsOfTwoRows) {
    const struct {
        uint16_t marker;
        bool drawn;
        uint16_t colour;
    } cases[] = {{kMarkerMpeg4, true, 0x001F}, {kMarkerMotionJpeg, true, 0xF800}, {0, false, 0}, {53, false, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.marker);
        CopyFixture f;
        const Layout l = computeLayout(f.g, LayoutInput{CopyFixture::kPicWidth, CopyFixture::kPicHeight});
        const CopyPlan p = planDirectCopy(f.g, l, CopyFixture::kPicWidth, CopyFixture::kPicHeight, 0, 0,
                                          f.fb, f.picture.size());
        ASSERT_EQ(p.markerRow, 3 + 36 + 4);
        drawCodecMarker(f.fb, p.markerRow, c.marker);
        for (int y = 0; y < CopyFixture::kHeight; ++y)
            for (int x = 0; x < CopyFixture::kWidth; ++x) {
                const bool marked = c.drawn && (y == 43 || y == 44) && (x == 2 || x == 3);
                ASSERT_EQ(f.at(x, y), marked ? c.colour : 0xAAAA) << x << "," << y;
            }
        if (c.drawn) {  // little-endian in memory
            EXPECT_EQ(f.frame[43 * CopyFixture::kPitch + 4], c.colour & 0xFF);
            EXPECT_EQ(f.frame[43 * CopyFixture::kPitch + 5], c.colour >> 8);
        }
    }
}

TEST(RenderLayout, CodecMarkerOffTheScreenIsSkipped) {
    CopyFixture f;
    drawCodecMarker(f.fb, CopyFixture::kHeight - 1, kMarkerMpeg4);  // its second row is off the screen
    drawCodecMarker(f.fb, -2, kMarkerMpeg4);
    drawCodecMarker(FrameBufferView{f.frame.data(), CopyFixture::kPitch, 2, 3, 4}, 0, kMarkerMotionJpeg);
    EXPECT_EQ(f.at(2, CopyFixture::kHeight - 1), 0x001F);
    EXPECT_EQ(f.at(2, 0), 0xF800);
    EXPECT_EQ(f.at(3, 0), 0xAAAA);  // pixel 3 is beyond a 3-pixel screen
}

TEST(RenderLayout, TransposeTurnsRowsIntoColumns) {
    // 3 wide, 2 high; every byte its own index.
    std::vector<uint8_t> src(18);
    for (int i = 0; i < 18; ++i) src[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> dst(18, 0xEE);
    transposeBgr24(src.data(), 3, 2, dst.data());
    const std::vector<uint8_t> expected = {0, 1, 2, 9,  10, 11, 3, 4,  5,
                                           12, 13, 14, 6, 7, 8, 15, 16, 17};
    EXPECT_EQ(dst, expected);

    // Odd sizes: turning twice gives the picture back.
    std::vector<uint8_t> pic(37 * 29 * 3), once(pic.size()), twice(pic.size());
    for (std::size_t i = 0; i < pic.size(); ++i) pic[i] = static_cast<uint8_t>(i * 7 + i / 3);
    transposeBgr24(pic.data(), 37, 29, once.data());
    EXPECT_NE(once, pic);
    transposeBgr24(once.data(), 29, 37, twice.data());
    EXPECT_EQ(twice, pic);
}

TEST(RenderLayout, ClearToWhiteCoversTheFreeRowsOrEverything) {
    const int pitch = 24, height = 8;  // 10 pixels and 4 bytes of padding per row
    const struct {
        int top, free;
        bool rotation;
        int first, last;  // rows expected white
    } cases[] = {{2, 4, false, 2, 5}, {6, 10, false, 6, 7}, {-3, 2, false, 0, 1}, {9, 3, false, 0, -1},
                 {2, 4, true, 0, 7}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.top << "+" << c.free << (c.rotation ? " turned" : ""));
        std::vector<uint8_t> frame(pitch * height, 0);
        clearToWhite(FrameBufferView{frame.data(), pitch, 2, 10, height}, c.top, c.free, c.rotation);
        for (int y = 0; y < height; ++y)
            for (int b = 0; b < pitch; ++b)
                ASSERT_EQ(frame[y * pitch + b], y >= c.first && y <= c.last ? 0xFF : 0x00) << y << "/" << b;
    }
}

}  // namespace
}  // namespace kestrel
