#include "viewer/pipeline_control.h"

#include <chrono>
#include <thread>

#include "viewer/display.h"
#include "viewer/pipeline_state.h"
#include "viewer/render_thread.h"
#include "viewer/video_thread.h"
#include "viewer/viewer_window.h"

namespace kestrel {

std::atomic<int32_t> &controlState() {
    static std::atomic<int32_t> state{kControlIdle};
    return state;
}

namespace {

bool take(int32_t from) {
    int32_t expected = from;
    return controlState().compare_exchange_strong(expected, kControlBusy);
}

}  // namespace

PipelineControl::PipelineControl(ViewerWindow &window) : window_(window) {}

PipelineControl::~PipelineControl() {
    Stop();
}

void PipelineControl::Start(const SiteRecord &site) {
    Stop();
    if (site.host[0] == 0) return;

    // Wait out another Start or Stop; inside the timer handler go on without the word.
    bool taken = false;
    for (;;) {
        if (take(kControlIdle)) {
            taken = true;
            break;
        }
        if (controlState() == kControlTimer) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    PipelineState &p = pipeline();
    p.panX = 0;
    p.panY = 0;
    p.admission.waitingForKeyFrame = 1;
    p.newPicture = 0;
    p.inputBusy = 0;
    releaseQueuedFrames();

    video_ = std::make_unique<VideoThread>();
    video_->site = site;
    video_->statusLine = &window_;

    const bool rotation = (site.viewFlags & kViewRotation) != 0;
    render_ = std::make_unique<RenderThread>();
    render_->display = &window_.display();
    render_->rotation = rotation;
    render_->fitToWidth = (site.viewFlags & kViewFitToWidth) != 0;
    render_->decoder = &video_->decoder;

    window_.setSiteInfoVisible(!rotation);
    window_.setStatusVisible(!rotation);
    // Nothing of the site viewed before stays on the screen.
    window_.display().showState(connectingState(site, IPCAM_IS_UNCONNECTED));
    video_->Resume();
    render_->Resume();
    window_.repaintScreen();
    // Only the word this call took is given back: the timer handler keeps its own.
    if (taken) controlState() = kControlIdle;
}

void PipelineControl::Stop() {
    if (!take(kControlIdle) && controlState() == kControlBusy) {
        // Another Start or Stop runs (a nested message loop): wait for it, stop nothing here.
        while (!take(kControlIdle)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        controlState() = kControlIdle;
        return;
    }
    if (render_) {
        render_->RequestStop();
        render_->Wait();
        render_.reset();
    }
    if (video_) {
        video_->RequestStop();
        video_->Wait();  // it deletes the sessions on its way out
        video_.reset();
    }
    window_.repaintScreen();
    releaseQueuedFrames();
    window_.display().showState(kStoppedState);
    window_.setStatusText(u"Stop");
    int32_t busy = kControlBusy;
    controlState().compare_exchange_strong(busy, kControlIdle);
}

}  // namespace kestrel
