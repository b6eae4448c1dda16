#include "viewer/qt_display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QApplication>
#include <QThread>

#include "support/media.h"
#include "support/qt_app.h"
#include "viewer/pipeline_state.h"
#include "viewer/render_layout.h"
#include "viewer/render_thread.h"
#include "viewer/video_decoder.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kRed = 0xF800, kBlue = 0x001F;

uint16_t pixel565(const QImage &image, int x, int y) {
    EXPECT_EQ(image.format(), QImage::Format_RGB16);
    return reinterpret_cast<const uint16_t *>(image.constScanLine(y))[x];
}

class QtDisplayTest : public testing::Test {
  protected:
    void SetUp() override { kestrel_test::qtApp(); }
};

TEST_F(QtDisplayTest, FrameFromAnotherThreadArrivesByQueuedCall) {
    QtDisplay display(64, 48);
    QtDisplayWidget widget(display);
    widget.resize(64, 48);
    widget.show();
    QCoreApplication::processEvents();
    const std::size_t before = widget.framesReceived();
    bool onGuiThread = false;
    QObject::connect(&widget, &QtDisplayWidget::frameArrived, [&] {
        onGuiThread = QThread::currentThread() == kestrel_test::qtApp().thread();
    });

    std::thread renderer([&] {
        const FrameBufferView fb = display.lockFrameBuffer();
        for (int y = 5; y < 10; ++y)
            for (int x = 10; x < 20; ++x) {
                fb.pixels[y * fb.rowPitch + x * 2] = kRed & 0xFF;
                fb.pixels[y * fb.rowPitch + x * 2 + 1] = kRed >> 8;
            }
        display.unlockFrameBuffer();
    });
    renderer.join();
    // Nothing reaches the widget until its own thread runs the queued call.
    EXPECT_EQ(widget.framesReceived(), before);
    EXPECT_NE(pixel565(widget.image(), 15, 7), kRed);

    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return widget.framesReceived() > before; }));
    EXPECT_TRUE(onGuiThread);
    const QImage image = widget.image();
    ASSERT_EQ(image.size(), QSize(64, 48));
    EXPECT_EQ(pixel565(image, 10, 5), kRed);
    EXPECT_EQ(pixel565(image, 19, 9), kRed);
    EXPECT_EQ(pixel565(image, 9, 5), 0);
    EXPECT_EQ(pixel565(image, 10, 10), 0);
    // The widget shows what it received.
    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(15, 7), qRgb(0xFF, 0, 0));
}

TEST_F(QtDisplayTest, AStateTakesThePlaceOfThePictureUntilTheNextDrawing) {
    QtDisplay display(64, 48);
    QtDisplayWidget widget(display);
    widget.resize(64, 48);
    widget.show();
    auto paintRed = [&] {
        const FrameBufferView fb = display.lockFrameBuffer();
        for (int y = 0; y < fb.height; ++y)
            for (int x = 0; x < fb.width; ++x) {
                fb.pixels[y * fb.rowPitch + x * 2] = kRed & 0xFF;
                fb.pixels[y * fb.rowPitch + x * 2 + 1] = kRed >> 8;
            }
        display.unlockFrameBuffer();
    };
    auto arrived = [&](std::size_t before) {
        return kestrel_test::pumpUntil([&] { return widget.framesReceived() > before; });
    };
    std::size_t frames = widget.framesReceived();
    paintRed();
    ASSERT_TRUE(arrived(frames));

    // From another thread, as the video thread does: blank, with the words.
    frames = widget.framesReceived();
    std::thread([&] { display.showState(u"Connecting to Yard\u2026"); }).join();
    ASSERT_TRUE(arrived(frames));
    EXPECT_EQ(widget.stateText(), QStringLiteral("Connecting to Yard\u2026"));
    EXPECT_EQ(pixel565(widget.image(), 5, 5), 0);
    EXPECT_EQ(pixel565(widget.image(), 63, 47), 0);
    // The words are drawn over the black picture area.
    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int lit = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) lit += shown.pixel(x, y) != qRgb(0, 0, 0);
    EXPECT_GT(lit, 0);

    // Locking the frame buffer alone (the renderer reads its geometry so) keeps the state;
    // the renderer takes it away once its picture is drawn.
    frames = widget.framesReceived();
    paintRed();
    ASSERT_TRUE(arrived(frames));
    EXPECT_EQ(widget.stateText(), QStringLiteral("Connecting to Yard\u2026"));
    frames = widget.framesReceived();
    display.clearState();
    ASSERT_TRUE(arrived(frames));
    EXPECT_TRUE(widget.stateText().isEmpty());
    EXPECT_EQ(pixel565(widget.image(), 5, 5), kRed);
    EXPECT_EQ(display.presentedState(), u"");
}

TEST_F(QtDisplayTest, StretchBlitsOfTightRowsUprightOrBottomUp) {
    // 37 pixels wide: rows of 111 bytes. Memory row 0 blue, the other four red.
    std::vector<uint8_t> bits(37 * 5 * 3);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x) {
            uint8_t *p = &bits[(y * 37 + x) * 3];
            p[0] = y == 0 ? 255 : 0;
            p[1] = 0;
            p[2] = y == 0 ? 0 : 255;
        }
    const struct {
        int bitmapHeight, srcY, srcHeight;
        Rect destination;
        int blueRow, redRow;  // a screen row of each colour
    } cases[] = {
        {5, 5, -5, {0, 0, 37, 5}, 0, 4},    // top-down: memory row 0 on top
        {-5, 0, 5, {0, 0, 37, 5}, 4, 0},    // bottom-up: memory row 0 at the bottom
        {5, 5, -5, {3, 2, 77, 22}, 3, 20},  // doubled and more: blue over the top four rows
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bitmapHeight);
        QtDisplay display(80, 30);
        QtDisplayWidget widget(display);
        widget.resize(80, 30);
        widget.show();
        QCoreApplication::processEvents();
        const std::size_t before = widget.framesReceived();
        std::thread renderer([&] {
            display.stretchBlit(BitmapView{bits.data(), 37, c.bitmapHeight}, 0, c.srcY, 37,
                                c.srcHeight, c.destination);
        });
        renderer.join();
        ASSERT_TRUE(kestrel_test::pumpUntil([&] { return widget.framesReceived() > before; }));
        const QImage image = widget.image();
        const Rect &d = c.destination;
        for (int x : {d.left + 1, (d.left + d.right) / 2, d.right - 2}) {
            EXPECT_EQ(pixel565(image, x, c.blueRow), kBlue) << x;
            EXPECT_EQ(pixel565(image, x, c.redRow), kRed) << x;
        }
        EXPECT_EQ(pixel565(image, d.right + 1, d.top), 0);
    }
}

TEST_F(QtDisplayTest, GeometryFromSetters) {
    QtDisplay display(100, 80);
    const uint64_t generation = display.geometryGeneration();
    display.setTopRows(10);
    display.setSoftKeyBarHeight(20);
    display.setSiteInfoHeight(16);
    EXPECT_GT(display.geometryGeneration(), generation);
    const ScreenGeometry g = readScreenGeometry(display);
    EXPECT_EQ(g.topRows, 10);
    EXPECT_EQ(g.bottomRows, 20);
    EXPECT_EQ(g.infoRows, 16);
    EXPECT_EQ(g.screenWidth, 100);
}

TEST_F(QtDisplayTest, RendererLaysOutAgainAfterTheWindowIsResized) {
    PipelineState &p = pipeline();
    const int savedW = p.admission.maxWidth, savedH = p.admission.maxHeight;
    p.admission.maxWidth = 640;
    p.admission.maxHeight = 480;
    allocatePictureBuffers();
    p.landscape = 1;
    p.rotateMode = 0;
    p.codecMarker = 0;
    VideoDecoder decoder;
    decoder.open(VideoDecoder::Codec::MotionJpeg);
    const std::string jpeg = kestrel_test::encodeJpeg({37, 29, 95});
    std::vector<uint8_t> reference(37 * 29 * 2);
    {
        LockHolder hold(p.decoderLock);
        ASSERT_TRUE(
            decoder.decode(reinterpret_cast<const uint8_t *>(jpeg.data()), jpeg.size()).picture);
        int w = 37, h = 29;
        ASSERT_TRUE(decoder.convert(reference.data(), w, h, PixelFormat::Rgb565));
    }

    QtDisplay display(121, 90);
    display.setTopRows(6);
    QtDisplayWidget widget(display);
    widget.resize(121, 90);
    widget.show();
    QCoreApplication::processEvents();
    auto renderer = std::make_unique<RenderThread>();
    renderer->display = &display;
    renderer->decoder = &decoder;
    renderer->Resume();
    auto show = [&] {
        p.newPicture = 1;
        ASSERT_TRUE(kestrel_test::pumpUntil([&] { return p.newPicture == 0; }));
        ASSERT_TRUE(kestrel_test::pumpUntil([&] {
            return widget.image().size() == QSize(display.screenWidth(), display.screenHeight()) &&
                   pixel565(widget.image(), 0, 6) == reference[0] + (reference[1] << 8) &&
                   pixel565(widget.image(), 36, 6 + 28) ==
                       reference[(28 * 37 + 36) * 2] + (reference[(28 * 37 + 36) * 2 + 1] << 8);
        }));
    };
    auto expectPicture = [&] {
        const QImage image = widget.image();
        for (int y = 0; y < 29; ++y)
            for (int x = 0; x < 37; ++x) {
                const std::size_t i = (static_cast<std::size_t>(y) * 37 + x) * 2;
                ASSERT_EQ(pixel565(image, x, 6 + y), reference[i] | reference[i + 1] << 8)
                    << x << "," << y;
            }
        EXPECT_EQ(pixel565(image, 37, 6), 0xFFFF);
        EXPECT_EQ(pixel565(image, image.width() - 1, image.height() - 1), 0xFFFF);
    };
    p.newPicture = 1;  // the first picture after a layout is black
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return p.newPicture == 0; }));
    show();
    expectPicture();

    // A larger window: a new white frame of the new size, the picture at the same place.
    const uint64_t generation = display.geometryGeneration();
    widget.resize(203, 150);
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return display.screenWidth() == 203; }));
    EXPECT_GT(display.geometryGeneration(), generation);
    p.newPicture = 1;
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return p.newPicture == 0; }));
    show();
    expectPicture();
    EXPECT_EQ(widget.image().size(), QSize(203, 150));

    renderer.reset();
    p.admission.maxWidth = savedW;
    p.admission.maxHeight = savedH;
    p.pictureBuffer.clear();
    p.rotationBuffer.clear();
}

}  // namespace
}  // namespace kestrel
