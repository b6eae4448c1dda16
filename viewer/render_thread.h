// The renderer: draws the latest decoded picture through the display layer by one of three
// paths (direct RGB 5-6-5 copy with panning, rotated full screen, fitted to the width) and
// writes snapshots.
#pragma once

#include <atomic>
#include <cstdint>

#include "viewer/display.h"
#include "viewer/worker_thread.h"

namespace kestrel {

class VideoDecoder;

class RenderThread final : public WorkerThread {
  public:
    // Fill in the fields, then Resume.
    RenderThread() = default;
    ~RenderThread() override { stopAndWait(); }

    Display *display = nullptr;
    bool rotation = false;    // bit 0 of the site's viewFlags, then following rotateMode
    bool fitToWidth = false;  // bit 1 of the site's viewFlags
    VideoDecoder *decoder = nullptr;
    std::atomic<bool> snapshotRequested{false};

  protected:
    uint32_t Run() override;
};

}  // namespace kestrel
