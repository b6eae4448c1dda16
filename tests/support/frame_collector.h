// Collects what a session hands its callback, for tests to look at.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/session.h"
#include "ipcam.h"

namespace kestrel_test {

struct Delivered {
    int32_t kind;
    uint64_t time;
    std::string payload;
    std::chrono::steady_clock::time_point arrival;
};

class FrameCollector {
  public:
    static int callback(void *context, int, void *frame, int) {
        auto *self = static_cast<FrameCollector *>(context);
        auto *f = static_cast<EncodedFrame *>(frame);
        std::lock_guard guard(self->lock_);
        self->frames_.push_back({f->kind, f->time,
                                 std::string(reinterpret_cast<char *>(IPCAM_FRAME_PAYLOAD(f)),
                                             IPCAM_FRAME_PAYLOAD_SIZE(f)),
                                 std::chrono::steady_clock::now()});
        IPCamFreeFrame(frame);
        return 0;
    }
    void attach(IPCamSession *s) {
        s->callback = &FrameCollector::callback;
        s->callbackContext = this;
    }
    std::vector<Delivered> frames() const {
        std::lock_guard guard(lock_);
        return frames_;
    }
    std::vector<int32_t> kinds() const {
        std::vector<int32_t> k;
        for (const Delivered &d : frames()) k.push_back(d.kind);
        return k;
    }
    // The pictures, key and dependent, in order.
    std::vector<std::string> videoFrames() const {
        std::vector<std::string> v;
        for (const Delivered &d : frames())
            if (d.kind == IPCAM_FRAME_KEY || d.kind == IPCAM_FRAME_DEPENDENT)
                v.push_back(d.payload);
        return v;
    }
    void clear() {
        std::lock_guard guard(lock_);
        frames_.clear();
    }

  private:
    mutable std::mutex lock_;
    std::vector<Delivered> frames_;
};

// A session made outside the session map, for readers driven by hand.
struct LocalSession {
    IPCamSession session;
    LocalSession() {
        session.videoRunning = 1;
        session.audioRunning = 1;
    }
    IPCamSession *operator->() { return &session; }
    IPCamSession *get() { return &session; }
};

}  // namespace kestrel_test
