#include "viewer/render_thread.h"

#include <algorithm>
#include <limits>

#include "viewer/pipeline_state.h"
#include "viewer/render_layout.h"
#include "viewer/snapshot_writer.h"
#include "viewer/video_decoder.h"

namespace kestrel {

namespace {

constexpr uint32_t kRenderExitCode = 631;
constexpr int kStartDelayMs = 500;
constexpr int kSleepSliceMs = 10;

int16_t toPan(int value) {
    return static_cast<int16_t>(std::clamp<int>(value, 0, std::numeric_limits<int16_t>::max()));
}

// One run of the renderer: the geometry, the remembered layout and the drawing paths.
class Renderer {
  public:
    Renderer(Display &display, VideoDecoder *decoder, bool &rotation, bool fitToWidth,
             std::atomic<bool> &snapshotRequested, const std::atomic<bool> &stop)
        : display_(display),
          decoder_(decoder),
          rotation_(rotation),
          fitToWidth_(fitToWidth),
          snapshotRequested_(snapshotRequested),
          stop_(stop) {}

    uint32_t run() {
        PipelineState &p = pipeline();
        snapshotRequested_ = false;
        layoutWidth_ = 0;
        readGeometry();
        if (!pause(kStartDelayMs)) return kRenderExitCode;
        p.rotateMode = rotation_ ? 1 : 0;
        layoutMode_ = p.rotateMode;
        if (stop_) return kRenderExitCode;

        while (!stop_) {
            takeSnapshot();
            if (p.inputBusy) {
                layoutWidth_ = 0;  // the user is changing things: lay out again afterwards
                WorkerThread::Sleep(5);
                continue;
            }
            if (!p.newPicture) {
                WorkerThread::Sleep(5);
                continue;
            }
            const uint64_t arrival = p.pictureArrival;
            const Converted picture =
                convert(rotation_ || fitToWidth_ ? PixelFormat::Bgr24 : PixelFormat::Rgb565);
            if (picture.tooBig) {
                display_.setSiteInfoText(u"Can't render big image");
                WorkerThread::Sleep(100);
            } else if (picture.width != 0) {
                if (display_.geometryGeneration() != generation_) {
                    readGeometry();
                    layoutWidth_ = 0;
                }
                if (picture.width != layoutWidth_ || p.rotateMode != layoutMode_)
                    layOut(picture.width, picture.height);
                // The picture is back: the state goes first, so that no frame shows the
                // picture with the old state written over it.
                display_.clearState();
                draw(picture.width, picture.height);
                if (p.pictureDrawn) p.pictureDrawn(arrival);
            }
            p.newPicture = 0;
            WorkerThread::Sleep(5);
        }
        return kRenderExitCode;
    }

  private:
    struct Converted {
        int width = 0, height = 0;
        bool tooBig = false;
    };

    // Sleeps in slices; false when a stop came meanwhile.
    bool pause(int milliseconds) {
        for (int slept = 0; slept < milliseconds; slept += kSleepSliceMs) {
            if (stop_) return false;
            WorkerThread::Sleep(std::min(kSleepSliceMs, milliseconds - slept));
        }
        return !stop_;
    }

    void readGeometry() {
        generation_ = display_.geometryGeneration();
        geometry_ = readScreenGeometry(display_);
    }

    // Converts the decoder's picture into the picture buffer, limited to the admission's
    // maximum size.
    Converted convert(PixelFormat format) {
        PipelineState &p = pipeline();
        Converted out;
        const int maxWidth = p.admission.maxWidth, maxHeight = p.admission.maxHeight;
        LockHolder hold(p.decoderLock);
        if (!decoder_ || maxWidth <= 0 || maxHeight <= 0) return out;
        // A buffer smaller than the admission promises is never written past its end.
        if (p.pictureBuffer.size() / 3 / static_cast<std::size_t>(maxWidth) <
            static_cast<std::size_t>(maxHeight))
            return out;
        int width = maxWidth, height = maxHeight;
        const bool converted = decoder_->convert(p.pictureBuffer.data(), width, height, format);
        if (width > maxWidth || height > maxHeight) {
            out.tooBig = true;
        } else if (converted) {
            out.width = width;
            out.height = height;
        }
        return out;
    }

    void takeSnapshot() {
        if (!snapshotRequested_) return;
        snapshotRequested_ = false;
        const Converted picture = convert(PixelFormat::Bgr24);
        if (picture.tooBig)
            display_.setSiteInfoText(u"Can't capture big image");
        else if (picture.width == 0)
            display_.setSiteInfoText(kSnapshotNoPicture);
        else
            display_.setSiteInfoText(snapshotReport(
                writeSnapshot(pipeline().pictureBuffer.data(), picture.width, picture.height)));
    }

    void layOut(int width, int height) {
        PipelineState &p = pipeline();
        const uint8_t mode = p.rotateMode;
        rotation_ = mode != 0;
        layoutMode_ = mode;
        layoutWidth_ = width;
        // The picture drawn right after a layout is black.
        std::fill(p.pictureBuffer.begin(), p.pictureBuffer.end(), uint8_t{0});

        LayoutInput in;
        in.width = width;
        in.height = height;
        in.landscape = p.landscape != 0;
        in.smartphone = p.smartphone != 0;
        in.fitToWidth = fitToWidth_;
        in.siteInfoVisible = display_.siteInfoVisible();
        layout_ = computeLayout(geometry_, in);
        p.panXLimit = toPan(layout_.panXLimit);
        p.panYLimit = toPan(layout_.panYLimit);
        p.panX = toPan(layout_.panXLimit / 2);
        p.panY = toPan(layout_.panYLimit / 2);

        const FrameBufferView fb = display_.lockFrameBuffer();
        clearToWhite(fb, geometry_.topRows, layout_.freeRows, rotation_);
        display_.unlockFrameBuffer();
    }

    void draw(int width, int height) {
        if (rotation_)
            drawRotated(width, height);
        else if (fitToWidth_)
            drawFitted(width, height);
        else
            drawDirect(width, height);
    }

    void drawDirect(int width, int height) {
        PipelineState &p = pipeline();
        const FrameBufferView fb = display_.lockFrameBuffer();
        // The pan values come from the user interface thread without a lock: the plan clamps.
        const CopyPlan plan = planDirectCopy(geometry_, layout_, width, height, p.panX, p.panY, fb,
                                             p.pictureBuffer.size());
        copyDirect(plan, p.pictureBuffer.data(), fb);
        drawCodecMarker(fb, plan.markerRow, p.codecMarker);
        display_.unlockFrameBuffer();
    }

    void drawRotated(int width, int height) {
        PipelineState &p = pipeline();
        const std::size_t bytes =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
        if (p.pictureBuffer.size() < bytes) return;
        if (!p.landscape) {
            if (p.rotationBuffer.size() < bytes) return;
            transposeBgr24(p.pictureBuffer.data(), width, height, p.rotationBuffer.data());
            display_.stretchBlit(BitmapView{p.rotationBuffer.data(), height, -width}, 0, 0, height,
                                 width, layout_.destination);
        } else {
            display_.stretchBlit(BitmapView{p.pictureBuffer.data(), width, height}, 0, height,
                                 width, -height, layout_.destination);
            const Rect &main = geometry_.mainWindow;
            display_.refresh(Rect{main.left, main.top, main.left + 1, main.top + 1});
        }
    }

    void drawFitted(int width, int height) {
        PipelineState &p = pipeline();
        const std::size_t bytes =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
        if (p.pictureBuffer.size() < bytes) return;
        const Rect target = fitToWidthRect(geometry_, layout_, width, height, p.landscape != 0);
        display_.stretchBlit(BitmapView{p.pictureBuffer.data(), width, height}, 0, height, width,
                             -height, target);
    }

    Display &display_;
    VideoDecoder *decoder_;
    bool &rotation_;
    const bool fitToWidth_;
    std::atomic<bool> &snapshotRequested_;
    const std::atomic<bool> &stop_;

    ScreenGeometry geometry_;
    uint64_t generation_ = 0;
    Layout layout_;
    int layoutWidth_ = 0;  // the width the layout was made for; 0 forces a new one
    uint8_t layoutMode_ = 0;
};

}  // namespace

uint32_t RenderThread::Run() {
    if (!display) return kRenderExitCode;
    Renderer renderer(*display, decoder, rotation, fitToWidth, snapshotRequested, stopRequested);
    return renderer.run();
}

}  // namespace kestrel
