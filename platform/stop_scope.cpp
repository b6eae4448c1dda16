#include "platform/stop_scope.h"

namespace ipcam {

namespace {
thread_local const Relaxed<uint8_t> *t_runningFlag = nullptr;
}

StopScope::StopScope(const Relaxed<uint8_t> *runningFlag) : previous_(t_runningFlag) {
    t_runningFlag = runningFlag;
}

StopScope::~StopScope() {
    t_runningFlag = previous_;
}

bool stopRequested() {
    return t_runningFlag != nullptr && t_runningFlag->load() == 0;
}

}  // namespace ipcam
