#include "platform/stop_scope.h"

namespace ipcam {

namespace {
thread_local const StopScope *t_innermost = nullptr;
}

StopScope::StopScope(const Relaxed<uint8_t> *runningFlag)
    : runningFlag_(runningFlag), outer_(t_innermost) {
    t_innermost = this;
}

StopScope::StopScope(std::function<bool()> stopped)
    : stopped_(std::move(stopped)), outer_(t_innermost) {
    t_innermost = this;
}

StopScope::~StopScope() {
    t_innermost = outer_;
}

bool StopScope::stops() const {
    if (runningFlag_ && runningFlag_->load() == 0) return true;
    return stopped_ && stopped_();
}

bool stopRequested() {
    for (const StopScope *s = t_innermost; s; s = s->outer_)
        if (s->stops()) return true;
    return false;
}

}  // namespace ipcam
