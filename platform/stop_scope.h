// Ties a thread's network waits to its running flag.
//
// Session threads are stopped by clearing a flag. Every socket wait is made of 100 ms slices;
// inside a StopScope each slice first looks at the flag, and once it reads 0 the wait ends as
// if its time-out had passed. A stop request is therefore seen within one slice, whatever
// time-out the wait was given.
//
// Scopes nest: an inner scope adds its own condition (a deadline, a caller's "stop" callback)
// to those of the scopes around it, and any of them ends the waits.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/relaxed.h"

namespace ipcam {

class StopScope {
  public:
    explicit StopScope(const Relaxed<uint8_t> *runningFlag);
    // Stops when stopped() says so; it is asked on this thread, once per slice.
    explicit StopScope(std::function<bool()> stopped);
    ~StopScope();
    StopScope(const StopScope &) = delete;
    StopScope &operator=(const StopScope &) = delete;

    bool stops() const;  // this scope's own condition

  private:
    friend bool stopRequested();
    const Relaxed<uint8_t> *runningFlag_ = nullptr;
    std::function<bool()> stopped_;
    const StopScope *outer_;
};

// True when the calling thread runs inside a StopScope whose condition holds: a running flag
// cleared, or a stop function answering true, in this scope or one around it.
bool stopRequested();

}  // namespace ipcam
