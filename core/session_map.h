// The process-wide map from session id to session, with the library's two locks.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "ipcam.h"

namespace ipcam {

struct SessionRegistry {
    std::mutex createLock;  // guards sessions
    std::mutex threadLock;  // serialises thread start in IPCamAction
    std::map<int32_t, IPCamSession *> sessions;
    // Deleted sessions whose threads would not stop: kept until the last of those threads
    // has ended, since they may still use them.
    std::vector<IPCamSession *> kept;
};

// Never destroyed, so that threads still running at exit never meet a dead lock.
SessionRegistry &registry();

}  // namespace ipcam
