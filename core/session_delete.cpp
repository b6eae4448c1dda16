// Tearing sessions down: one session, or all of them in parallel.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "core/config.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_api.h"
#include "core/session_map.h"
#include "transport/rtsp_client.h"

using namespace ipcam;

namespace {

std::atomic<uint32_t> g_abandoned{0};

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Asks a thread to stop and waits for it, polling every 10 ms. A thread still running after
// the last poll cannot be killed safely: it is left to run on and false is returned, so that
// nothing it may touch gets freed.
bool stopThread(Thread &thread, Relaxed<uint8_t> &started, Relaxed<uint8_t> &running) {
    if (!thread.valid()) return true;
    started = 0;
    running = 0;
    for (int polls = 0; thread.exitCode() == Thread::kStillActive;) {
        if (++polls >= kStopPolls) {
            thread.abandon();
            g_abandoned.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        sleepMs(kStopPollMs);
    }
    thread.join();
    return true;
}

}  // namespace

namespace ipcam {
uint32_t abandonedThreadCount() {
    return g_abandoned.load(std::memory_order_relaxed);
}
}  // namespace ipcam

// The threads are stopped before the sockets are touched: closing a descriptor that a live
// thread still reads would let the number be reused under it. Their socket waits see the
// stop request within one 100 ms slice.
int IPCamDelete(IPCamSession *session) {
    if (!session) return IPCAM_TYPE_IS_ER;
    bool videoEnded =
        stopThread(session->videoThread, session->videoStarted, session->videoRunning);
    bool audioEnded =
        stopThread(session->audioThread, session->audioStarted, session->audioRunning);
    if (!videoEnded || !audioEnded) {
        std::fprintf(stderr,
                     "ipcam: session %d: a thread did not stop within %d ms; it is left running "
                     "and its session is kept\n",
                     session->id, kStopPolls * kStopPollMs);
        std::lock_guard lock(registry().createLock);
        registry().kept.push_back(session);
        return IPCAM_OK;
    }
    rtspTeardown(session);
    delete session->control.exchange(nullptr);
    session->protocolType = 0;
    delete session;
    return IPCAM_OK;
}

extern "C" IPCAM_API int IPCamAllDelete(void) {
    std::vector<IPCamSession *> doomed;
    {
        SessionRegistry &reg = registry();
        std::lock_guard lock(reg.createLock);
        for (auto &[id, session] : reg.sessions) doomed.push_back(session);
        reg.sessions.clear();
    }
    // One deletion thread per session, so that slow teardowns proceed side by side.
    std::vector<std::unique_ptr<Thread>> deleters;
    for (IPCamSession *session : doomed) {
        auto t = std::make_unique<Thread>();
        if (t->create([session] { return static_cast<uint32_t>(IPCamDelete(session)); })) {
            t->resume();
            deleters.push_back(std::move(t));
        } else {
            IPCamDelete(session);  // no thread to spare: delete it here
        }
    }
    while (!deleters.empty()) {
        std::erase_if(deleters, [](std::unique_ptr<Thread> &t) {
            if (t->exitCode() == Thread::kStillActive) return false;
            t->join();
            return true;
        });
        if (!deleters.empty()) sleepMs(kStopPollMs);
    }
    return IPCAM_OK;
}
