#include "core/session_threads.h"

#include <chrono>
#include <thread>

#include "core/session.h"
#include "platform/stop_scope.h"

namespace ipcam {

// The threads keep their session idle until stopped; the connection loop replaces these
// bodies.
uint32_t videoThreadMain(IPCamSession *session) {
    StopScope scope(&session->videoRunning);
    while (session->videoRunning) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    session->state = IPCAM_IS_OVER;
    return 0;
}

uint32_t audioThreadMain(IPCamSession *session) {
    StopScope scope(&session->audioRunning);
    while (session->audioRunning) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

}  // namespace ipcam
