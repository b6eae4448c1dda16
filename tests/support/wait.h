// Polling a condition that other threads make true, with a time limit.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kestrel_test {

// True once done() holds, false when timeoutMs passed first; looks every 20 ms.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace kestrel_test
