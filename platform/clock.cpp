#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace ipcam {

namespace {

uint64_t realLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return fileTimeFromUnix(static_cast<int64_t>(now.tv_sec) + local.tm_gmtoff, now.tv_nsec / 1000);
}

std::atomic<LocalTimeSource> g_source{realLocalTime};

}  // namespace

uint64_t localFileTimeNow() {
    return g_source.load(std::memory_order_relaxed)();
}

void setLocalTimeSource(LocalTimeSource source) {
    g_source.store(source ? source : realLocalTime, std::memory_order_relaxed);
}

uint64_t monotonicMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

uint64_t monotonicUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace ipcam
