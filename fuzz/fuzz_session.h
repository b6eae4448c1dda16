// A session for fuzzers that drive readers by hand: running, with a callback that checks and
// frees every block it is handed.
#pragma once

#include <cstdlib>

#include "core/session.h"
#include "ipcam.h"

namespace kestrel_fuzz {

inline int checkAndFree(void *, int, void *frame, int) {
    auto *f = static_cast<EncodedFrame *>(frame);
    if (f->totalSize < IPCAM_FRAME_HEAD_SIZE) std::abort();
    IPCamFreeFrame(frame);
    return 0;
}

inline IPCamSession *fuzzSession(int videoCodec) {
    auto *s = new IPCamSession;
    s->videoRunning = 1;
    s->callback = checkAndFree;
    s->format.videoCodec = videoCodec;
    return s;
}

}  // namespace kestrel_fuzz
