// The pipeline's process-wide state put back to its start for each test, with its pauses
// recorded instead of slept, and frames made the way the library makes them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "transport/encoded_frame.h"
#include "viewer/frame_admission.h"
#include "viewer/pipeline_state.h"

namespace kestrel_test {

class PipelineFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        reset();
        kestrel::pipeline().sleepMs = &recordSleep;
    }
    void TearDown() override {
        kestrel::releaseQueuedFrames();
        kestrel::pipeline().sleepMs = nullptr;
        reset();
    }

    static void reset() {
        kestrel::PipelineState &p = kestrel::pipeline();
        kestrel::releaseQueuedFrames();
        kestrel::FrameAdmission &a = p.admission;
        a.waitingForKeyFrame = 1;
        a.lowMark = 10;
        a.highMark = 20;
        a.maxWidth = kestrel::kLargestPictureWidth;
        a.maxHeight = kestrel::kLargestPictureHeight;
        a.holdDelay = 1;
        a.dropDelay = 500;
        std::memset(&p.callbackFormat, 0, sizeof p.callbackFormat);
        p.newPicture = p.inputBusy = p.rotateMode = p.lowLatency = 0;
        p.codecMarker = 0;
        p.panX = p.panY = 0;
        std::lock_guard guard(sleepLock());
        sleeps().clear();
    }

    static EncodedFrame *frame(int32_t kind, const std::string &payload = "x") {
        EncodedFrame *f = ipcam::allocateFrame(kind, payload.size(), 0);
        if (!payload.empty()) std::memcpy(ipcam::framePayload(f), payload.data(), payload.size());
        return f;
    }
    static EncodedFrame *formatFrame(int32_t codec, int32_t width, int32_t height) {
        StreamFormatBlock format{};
        format.videoCodec = codec;
        format.width = width;
        format.height = height;
        format.frameRate = 30;
        return frame(IPCAM_MSG_FORMAT,
                     std::string(reinterpret_cast<const char *>(&format), sizeof format));
    }
    static std::size_t queued() {
        kestrel::LockHolder hold(kestrel::pipeline().queueLock);
        return kestrel::pipeline().queue.size();
    }
    static std::vector<int> takeSleeps() {
        std::lock_guard guard(sleepLock());
        std::vector<int> s;
        s.swap(sleeps());
        return s;
    }

  private:
    static std::mutex &sleepLock() {
        static std::mutex m;
        return m;
    }
    static std::vector<int> &sleeps() {
        static std::vector<int> s;
        return s;
    }
    static void recordSleep(int ms) {
        std::lock_guard guard(sleepLock());
        sleeps().push_back(ms);
    }
};

}  // namespace kestrel_test
