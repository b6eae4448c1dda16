// Tearing sessions down: one session, or all of them in parallel.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <initializer_list>
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

// How long a deletion that leaves a thread running waits for a callback in progress.
constexpr int kCallbackPolls = 100;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Asks a thread to stop and waits for it, polling every 10 ms: true once it has ended. A
// thread still running after the last poll cannot be killed safely; false is returned and the
// thread is left to the caller.
bool stopThread(Thread &thread, Relaxed<uint8_t> &started, Relaxed<uint8_t> &running) {
    if (!thread.valid()) return true;
    started = 0;
    running = 0;
    for (int polls = 0; thread.exitCode() == Thread::kStillActive;) {
        if (++polls >= kStopPolls) return false;
        sleepMs(kStopPollMs);
    }
    thread.join();
    return true;
}

// The end of a deletion, once no thread of the session runs any more.
void finishDeletion(IPCamSession *session) {
    // First: the workers of retired command objects may still be at work on the session.
    session->retiredControls.clear();
    rtspTeardown(session);  // and every connection closed
    delete session->control.exchange(nullptr);
    session->protocolType = 0;
    delete session;
}

void forgetKept(IPCamSession *session) {
    std::lock_guard lock(registry().createLock);
    std::erase(registry().kept, session);
}

// Threads that would not stop may still use the session, so nothing is freed while they run.
// The caller's callback is cleared so that it is never entered again, and every connection is
// shut down, which ends the threads' waits and the devices' side of the connections; the
// descriptors stay where the threads expect them. The deletion is finished by the last of the
// threads once it has ended.
void abandonThreads(IPCamSession *session, std::initializer_list<Thread *> stuck) {
    session->callback = nullptr;
    // A delivery that read the callback before it was cleared is let through first. One that
    // stays inside the callback was entered long before, and is what keeps its thread from
    // stopping: it is waited for a while only.
    for (int polls = 0; session->callbacksInFlight.load() > 0 && polls < kCallbackPolls; ++polls)
        sleepMs(kStopPollMs);
    for (SocketSlot &slot : session->sockets) slot.wake();
    std::fprintf(stderr,
                 "ipcam: session %d: a thread did not stop within %d ms; its connections are "
                 "shut down and the session is freed when the thread ends\n",
                 session->id, kStopPolls * kStopPollMs);
    {
        std::lock_guard lock(registry().createLock);
        registry().kept.push_back(session);
    }
    auto running = std::make_shared<std::atomic<int>>(static_cast<int>(stuck.size()));
    for (Thread *thread : stuck) {
        g_abandoned.fetch_add(1, std::memory_order_relaxed);
        thread->abandon([session, running] {
            if (running->fetch_sub(1) != 1) return;
            forgetKept(session);
            finishDeletion(session);
        });
    }
}

}  // namespace

namespace ipcam {

// The threads are stopped before the sockets are touched; their socket waits see the stop
// request within one 100 ms slice.
int deleteSession(IPCamSession *session) {
    if (!session) return IPCAM_TYPE_IS_ER;
    const bool videoEnded =
        stopThread(session->videoThread, session->videoStarted, session->videoRunning);
    const bool audioEnded =
        stopThread(session->audioThread, session->audioStarted, session->audioRunning);
    if (videoEnded && audioEnded) {
        finishDeletion(session);
    } else if (!videoEnded && !audioEnded) {
        abandonThreads(session, {&session->videoThread, &session->audioThread});
    } else {
        abandonThreads(session, {videoEnded ? &session->audioThread : &session->videoThread});
    }
    return IPCAM_OK;
}

uint32_t abandonedThreadCount() {
    return g_abandoned.load(std::memory_order_relaxed);
}

std::size_t sessionsAwaitingThreads() {
    std::lock_guard lock(registry().createLock);
    return registry().kept.size();
}
}  // namespace ipcam

// Only a session the map holds is deleted, and it leaves the map first: a second deletion of
// the same session, or one racing IPCamAllDelete, finds nothing and frees nothing twice.
extern "C" IPCAM_API int IPCamDelete(IPCamSession *session) {
    if (!session) return -1;
    {
        SessionRegistry &reg = registry();
        std::lock_guard lock(reg.createLock);
        auto at = std::find_if(reg.sessions.begin(), reg.sessions.end(),
                               [session](const auto &entry) { return entry.second == session; });
        if (at == reg.sessions.end()) return -1;
        reg.sessions.erase(at);
    }
    return deleteSession(session);
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
        if (t->create([session] { return static_cast<uint32_t>(deleteSession(session)); })) {
            t->resume();
            deleters.push_back(std::move(t));
        } else {
            deleteSession(session);  // no thread to spare: delete it here
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
