#include "viewer/render_thread.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/media.h"
#include "support/rgb565.h"
#include "support/temp_dir.h"
#include "viewer/data_directory.h"
#include "viewer/memory_display.h"
#include "viewer/pipeline_fixture.h"
#include "viewer/pipeline_state.h"
#include "viewer/render_layout.h"
#include "viewer/video_decoder.h"

namespace kestrel {
namespace {

using kestrel_test::kWhite565;

using Clock = std::chrono::steady_clock;

using kestrel_test::readFile;

using kestrel_test::filesIn;

// The renderer against a display in memory, with real pictures decoded by the pipeline's
// decoder. The picture is 37 x 29: rows of odd byte counts in both pixel formats.
class RenderThreadTest : public kestrel_test::PipelineFixture {
  protected:
    static constexpr int kW = 37, kH = 29;

    void SetUp() override {
        PipelineFixture::SetUp();  // flags and marks as at start-up
        PipelineState &p = pipeline();
        p.admission.maxWidth = 640;
        p.admission.maxHeight = 480;
        allocatePictureBuffers();
        p.landscape = 1;
        p.smartphone = 0;
        decoder_.open(VideoDecoder::Codec::MotionJpeg);
        feed(kestrel_test::encodeJpeg({kW, kH, 95}));
    }

    void TearDown() override {
        renderer_.reset();
        PipelineState &p = pipeline();
        p.landscape = 1;
        p.pictureBuffer.clear();
        p.rotationBuffer.clear();
        setDataDirectory("");
        PipelineFixture::TearDown();
    }

    void feed(const std::string &jpeg) {
        LockHolder hold(pipeline().decoderLock);
        ASSERT_TRUE(
            decoder_.decode(reinterpret_cast<const uint8_t *>(jpeg.data()), jpeg.size()).picture);
    }

    // The decoder's current picture as the test converts it itself.
    std::vector<uint8_t> reference(PixelFormat format) {
        std::vector<uint8_t> out(640 * 480 * 3);
        int w = 640, h = 480;
        LockHolder hold(pipeline().decoderLock);
        EXPECT_TRUE(decoder_.convert(out.data(), w, h, format));
        out.resize(static_cast<std::size_t>(w) * h * (format == PixelFormat::Bgr24 ? 3 : 2));
        return out;
    }
    static uint16_t rgb565At(const std::vector<uint8_t> &pic, int width, int x, int y) {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 2;
        return static_cast<uint16_t>(pic[i] | pic[i + 1] << 8);
    }
    static uint16_t bgrAt(const std::vector<uint8_t> &pic, int width, int x, int y) {
        const uint8_t *p = pic.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        return rgb565(p[0], p[1], p[2]);
    }

    // The display outlives the renderer: a fixture member, destroyed after it.
    MemoryDisplay &makeDisplay(int width, int height) {
        renderer_.reset();
        display_ = std::make_unique<MemoryDisplay>(width, height);
        return *display_;
    }

    void start(Display &display, bool rotation, bool fitToWidth) {
        renderer_ = std::make_unique<RenderThread>();
        renderer_->display = &display;
        renderer_->rotation = rotation;
        renderer_->fitToWidth = fitToWidth;
        renderer_->decoder = &decoder_;
        renderer_->Resume();
    }

    // Marks a new picture and waits until the renderer has drawn it.
    void show() {
        PipelineState &p = pipeline();
        p.newPicture = 1;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (p.newPicture && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(p.newPicture.load(), 0) << "the renderer did not take the picture";
    }

    VideoDecoder decoder_;
    std::unique_ptr<MemoryDisplay> display_;
    std::unique_ptr<RenderThread> renderer_;
};

TEST_F(RenderThreadTest, DirectPathShowsBlackAfterLayoutThenThePictureAndMarker) {
    MemoryDisplay &d = makeDisplay(320, 240);
    d.setMainWindowRect(Rect{0, 20, 320, 240});
    start(d, false, false);
    show();
    // The layout cleared the free rows to white and the picture buffer to black.
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint16_t expected = y < 20 ? 0 : (x < kW && y < 20 + kH) ? 0x0000 : kWhite565;
            ASSERT_EQ(d.pixel(x, y), expected) << x << "," << y;
        }

    pipeline().codecMarker = kMarkerMotionJpeg;
    show();
    const std::vector<uint8_t> pic = reference(PixelFormat::Rgb565);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            ASSERT_EQ(d.pixel(x, 20 + y), rgb565At(pic, kW, x, y)) << x << "," << y;
    EXPECT_EQ(d.pixel(kW, 20), kWhite565);
    // The marker: pixels 2 and 3 four and five rows below the row after the picture.
    const int below = 20 + kH;
    for (int y = below; y < below + 8; ++y) {
        const bool marked = y == below + 4 || y == below + 5;
        EXPECT_EQ(d.pixel(2, y), marked ? 0xF800 : kWhite565) << y;
        EXPECT_EQ(d.pixel(3, y), marked ? 0xF800 : kWhite565) << y;
        EXPECT_EQ(d.pixel(4, y), kWhite565) << y;
    }
    EXPECT_TRUE(d.blits().empty());
}

TEST_F(RenderThreadTest, DirectPathTakesThePanValuesOfTheInterface) {
    feed(kestrel_test::encodeJpeg({352, 288, 90}));
    MemoryDisplay &d = makeDisplay(160, 120);
    start(d, false, false);
    show();
    PipelineState &p = pipeline();
    EXPECT_EQ(p.panXLimit.load(), 6);  // (352 - 160) / 32
    EXPECT_EQ(p.panYLimit.load(), 6);  // (288 - 120) / 32 rounded up
    EXPECT_EQ(p.panX.load(), 3);
    EXPECT_EQ(p.panY.load(), 3);
    const std::vector<uint8_t> pic = reference(PixelFormat::Rgb565);
    p.panX = 6;  // the far edges: from column 192 and row 288 - 120
    p.panY = 6;
    show();
    for (int y = 0; y < 119; ++y)
        for (int x = 0; x < 160; ++x)
            ASSERT_EQ(d.pixel(x, y), rgb565At(pic, 352, 192 + x, 168 + y)) << x << "," << y;
}

TEST_F(RenderThreadTest, TooBigPictureIsReportedAndNotDrawn) {
    pipeline().admission.maxWidth = kW - 1;
    MemoryDisplay &d = makeDisplay(64, 64);
    start(d, false, false);
    show();
    ASSERT_FALSE(d.siteInfoTexts().empty());
    EXPECT_EQ(d.siteInfoTexts().back(), u"Can't render big image");
    EXPECT_EQ(d.unlockCount(), 1u);  // the geometry, nothing drawn
    EXPECT_EQ(d.pixel(0, 0), 0);
}

TEST_F(RenderThreadTest, PortraitRotationTurnsThePicture) {
    pipeline().landscape = 0;
    MemoryDisplay &d = makeDisplay(100, 100);
    d.setDesktopRect(Rect{0, 0, kH, kW});  // the turned picture fits exactly
    start(d, true, false);
    show();
    EXPECT_EQ(pipeline().rotateMode.load(), 1);
    EXPECT_EQ(d.pixel(10, 10), 0x0000);     // the picture drawn right after the layout is black
    EXPECT_EQ(d.pixel(50, 50), kWhite565);  // the rest of the screen was cleared
    EXPECT_EQ(d.pixel(0, 99), kWhite565);

    show();
    const std::vector<MemoryDisplay::Blit> blits = d.blits();
    ASSERT_EQ(blits.size(), 2u);
    EXPECT_EQ(blits[1].bitmapWidth, kH);
    EXPECT_EQ(blits[1].bitmapHeight, -kW);
    EXPECT_EQ(blits[1].source(), (Rect{0, 0, kH, kW}));
    EXPECT_EQ(blits[1].destination, (Rect{0, 0, kH, kW}));
    // Turned a quarter to the left: the picture's right column is on top, its top row on the left.
    const std::vector<uint8_t> pic = reference(PixelFormat::Bgr24);
    for (int y = 0; y < kW; ++y)
        for (int x = 0; x < kH; ++x)
            ASSERT_EQ(d.pixel(x, y), bgrAt(pic, kW, kW - 1 - y, x)) << x << "," << y;
    EXPECT_TRUE(d.refreshes().empty());
}

TEST_F(RenderThreadTest, LandscapeRotationDrawsUprightAndRefreshes) {
    MemoryDisplay &d = makeDisplay(100, 100);
    d.setDesktopRect(Rect{0, 0, kW, kH});
    d.setMainWindowRect(Rect{5, 7, 100, 100});
    start(d, true, false);
    show();
    show();
    const std::vector<MemoryDisplay::Blit> blits = d.blits();
    ASSERT_EQ(blits.size(), 2u);
    EXPECT_EQ(blits[1].bitmapWidth, kW);
    EXPECT_EQ(blits[1].bitmapHeight, kH);
    EXPECT_EQ(blits[1].srcY, kH);
    EXPECT_EQ(blits[1].srcHeight, -kH);
    EXPECT_EQ(blits[1].destination, (Rect{0, 0, kW, kH}));
    const std::vector<uint8_t> pic = reference(PixelFormat::Bgr24);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            ASSERT_EQ(d.pixel(x, y), bgrAt(pic, kW, x, y)) << x << "," << y;
    const std::vector<Rect> refreshes = d.refreshes();
    ASSERT_EQ(refreshes.size(), 2u);
    EXPECT_EQ(refreshes[1], (Rect{5, 7, 6, 8}));
}

TEST_F(RenderThreadTest, FitToWidthTargets) {
    const struct {
        bool landscape;
        Rect expected;
    } cases[] = {
        // 240 - 20 (site information) - 0 - 20 (above) - 1 = 199 rows, 199 * 37 / 29 = 253.
        {true, {0, 20, 253, 219}},
        // The main window's width, 320 * 29 / 37 = 250 rows.
        {false, {0, 20, 320, 270}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.landscape);
        pipeline().landscape = c.landscape;
        MemoryDisplay &d = makeDisplay(320, 240);
        d.setMainWindowRect(Rect{0, 20, 320, 240});
        d.setSiteInfoRect(Rect{0, 220, 320, 240});
        d.setSiteInfoVisible(true);
        start(d, false, true);
        show();
        show();
        const std::vector<MemoryDisplay::Blit> blits = d.blits();
        ASSERT_EQ(blits.size(), 2u);
        EXPECT_EQ(blits[1].destination, c.expected);
        EXPECT_EQ(blits[1].source(), (Rect{0, 0, kW, kH}));
        // Drawn inside the target (the test picture has no white), white beside it.
        const Rect &t = c.expected;
        EXPECT_NE(d.pixel(t.left, t.top), kWhite565);
        EXPECT_NE(d.pixel(t.right - 1, std::min(t.bottom, 220) - 1), kWhite565);
        if (t.right < 320) {
            EXPECT_EQ(d.pixel(t.right, t.top), kWhite565);
        }
        EXPECT_EQ(d.pixel(0, 19), 0);  // above the main window: untouched
        renderer_.reset();
    }
}

TEST_F(RenderThreadTest, RotateModeBusyInputAndGeometryChangesLayOutAgain) {
    MemoryDisplay &d = makeDisplay(120, 100);
    start(d, false, false);
    show();
    show();
    const std::vector<uint8_t> pic = reference(PixelFormat::Rgb565);
    ASSERT_EQ(d.pixel(5, 5), rgb565At(pic, kW, 5, 5));

    // Busy input forces a layout: the next picture is black again.
    pipeline().inputBusy = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pipeline().inputBusy = 0;
    show();
    EXPECT_EQ(d.pixel(5, 5), 0x0000);
    show();
    EXPECT_EQ(d.pixel(5, 5), rgb565At(pic, kW, 5, 5));

    // A new main window: the picture moves below its new top.
    d.setMainWindowRect(Rect{0, 30, 120, 100});
    show();
    EXPECT_EQ(d.pixel(5, 30 + 5), 0x0000);
    show();
    EXPECT_EQ(d.pixel(5, 30 + 5), rgb565At(pic, kW, 5, 5));

    // The Enter key's mode: the rotated path with a blit from now on.
    pipeline().rotateMode = 1;
    show();
    show();
    EXPECT_EQ(d.blits().size(), 2u);
    EXPECT_EQ(d.pixel(0, 0), kWhite565);  // rotation clears the whole screen, margins stay white
}

TEST_F(RenderThreadTest, SnapshotIsWrittenOrRefusedWhenTooBig) {
    const kestrel_test::TempDir temp;
    const std::string &dir = temp.path;
    ASSERT_FALSE(dir.empty());
    setDataDirectory(dir);
    MemoryDisplay &d = makeDisplay(64, 64);
    start(d, false, false);
    show();
    renderer_->snapshotRequested = true;
    // The file is there once it decodes: the writer may still be filling it when it appears.
    kestrel_test::Decoded decoded;
    std::string path;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!decoded.ok && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::vector<std::string> names = filesIn(dir);
        if (names.size() != 1) continue;
        path = dir + "/" + names[0];
        decoded = kestrel_test::decodeJpeg(readFile(path));
    }
    ASSERT_TRUE(decoded.ok);
    EXPECT_FALSE(renderer_->snapshotRequested.load());
    EXPECT_EQ(decoded.width, kW);
    EXPECT_EQ(decoded.height, kH);
    EXPECT_EQ(filesIn(dir).size(), 1u);
    // The site information says where it went.
    const auto told = Clock::now() + std::chrono::seconds(5);
    while (d.siteInfoTexts().empty() && Clock::now() < told)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(d.siteInfoTexts(),
              std::vector<std::u16string>{u"Snapshot saved:\n" +
                                          std::u16string(path.begin(), path.end())});
    unlink(path.c_str());
    d.clearRecords();

    pipeline().admission.maxHeight = kH - 1;
    renderer_->snapshotRequested = true;
    const auto later = Clock::now() + std::chrono::seconds(5);
    while (d.siteInfoTexts().empty() && Clock::now() < later)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::vector<std::u16string> texts = d.siteInfoTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts.back(), u"Can't capture big image");
    EXPECT_TRUE(filesIn(dir).empty());
}

TEST_F(RenderThreadTest, StopDuringStartEndsPromptly) {
    MemoryDisplay &d = makeDisplay(32, 32);
    const auto begin = Clock::now();
    start(d, false, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    renderer_->RequestStop();
    renderer_->Wait();
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(300));
    EXPECT_EQ(renderer_->exitCode(), 631u);
}

}  // namespace
}  // namespace kestrel
