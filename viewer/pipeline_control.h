// Start and Stop of the live pipeline, on the user interface thread, and the word that keeps
// them from running inside each other (nested message loops, the watchdog timer).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "viewer/site_record.h"

namespace kestrel {

class RenderThread;
class VideoThread;
class ViewerWindow;

// 0 idle, 1 a Start or Stop in progress, 2 the main window's timer handler is running.
inline constexpr int32_t kControlIdle = 0, kControlBusy = 1, kControlTimer = 2;
std::atomic<int32_t> &controlState();

// What the picture area shows once Stop has run.
inline constexpr const char16_t *kStoppedState = u"Stopped";

class PipelineControl {
  public:
    explicit PipelineControl(ViewerWindow &window);
    ~PipelineControl();
    PipelineControl(const PipelineControl &) = delete;
    PipelineControl &operator=(const PipelineControl &) = delete;

    // Stops what runs, then views site (nothing when its host is empty). The picture area
    // shows that the site connects until its first picture.
    void Start(const SiteRecord &site);
    // Ends viewing; the picture area is blanked and says so.
    void Stop();

    VideoThread *videoThread() { return video_.get(); }
    RenderThread *renderThread() { return render_.get(); }

  private:
    ViewerWindow &window_;
    std::unique_ptr<VideoThread> video_;
    std::unique_ptr<RenderThread> render_;
};

}  // namespace kestrel
