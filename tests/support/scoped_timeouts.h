// Short socket time-outs for the length of a test; the defaults come back afterwards.
#pragma once

#include <cstdint>

#include "core/config.h"

namespace kestrel_test {

class ScopedTimeouts {
  public:
    explicit ScopedTimeouts(uint32_t ms) {
        ipcam::Settings s;
        s.getTimeout = ms;
        s.setTimeout = ms;
        ipcam::setSettings(s);
    }
    ~ScopedTimeouts() { ipcam::setSettings(ipcam::Settings{}); }
    ScopedTimeouts(const ScopedTimeouts &) = delete;
    ScopedTimeouts &operator=(const ScopedTimeouts &) = delete;
};

}  // namespace kestrel_test
