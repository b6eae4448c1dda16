// Ties a thread's network waits to its running flag.
//
// Session threads are stopped by clearing a flag. Every socket wait is made of 100 ms slices;
// inside a StopScope each slice first looks at the flag, and once it reads 0 the wait ends as
// if its time-out had passed. A stop request is therefore seen within one slice, whatever
// time-out the wait was given.
#pragma once

#include <cstdint>

#include "platform/relaxed.h"

namespace ipcam {

class StopScope {
  public:
    explicit StopScope(const Relaxed<uint8_t> *runningFlag);
    ~StopScope();
    StopScope(const StopScope &) = delete;
    StopScope &operator=(const StopScope &) = delete;

  private:
    const Relaxed<uint8_t> *previous_;
};

// True when the calling thread runs inside a StopScope whose flag has been cleared.
bool stopRequested();

}  // namespace ipcam
