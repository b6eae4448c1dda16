// Entry points of the session API that only the library itself calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipcam.h"

// Like IPCamCommand, without the connected test: for the session's own threads.
int IPCamCommandDirect(IPCamSession *session, void *request, void *flag);
// 1, with the state set to IPCAM_IS_OVER, once the video thread has been told to stop.
int IPCamVideoStopped(IPCamSession *session);
// 1 once the audio thread has been told to stop.
int IPCamAudioStopped(IPCamSession *session);

namespace ipcam {

// Ends the stream, stops the threads and frees one session, already out of the map (0, or
// IPCAM_TYPE_IS_ER for null).
int deleteSession(IPCamSession *session);

inline constexpr int kStopPollMs = 10;
inline constexpr int kStopPolls = 301;

// Threads that ignored their stop request and were left running, since the process started.
uint32_t abandonedThreadCount();
// Deleted sessions still kept because a thread of theirs has not ended yet.
std::size_t sessionsAwaitingThreads();

}  // namespace ipcam
