// Time as the library hands it on: 100 ns units since 1 January 1601 ("file time").
//
// Frames stamped with our own clock take local time from one function, which tests replace so
// that stamps are predictable; waits stay real.
#pragma once

#include <cstdint>

namespace ipcam {

inline constexpr uint64_t kFileTimeUnitsPerSecond = 10'000'000;
inline constexpr uint64_t kUnixEpochAsFileTime = 116'444'736'000'000'000ULL;

// The file time of a moment given as seconds (and microseconds) since 1970.
constexpr uint64_t fileTimeFromUnix(int64_t seconds, int64_t microseconds = 0) {
    return kUnixEpochAsFileTime + static_cast<uint64_t>(seconds) * kFileTimeUnitsPerSecond +
           static_cast<uint64_t>(microseconds) * 10;
}

// The current local time (the wall clock shifted by the local time-zone offset).
uint64_t localFileTimeNow();

using LocalTimeSource = uint64_t (*)();
// Replaces the local clock; nullptr restores the real one.
void setLocalTimeSource(LocalTimeSource source);

// Milliseconds of a monotonic clock, for intervals.
uint64_t monotonicMs();
// The same clock in microseconds, for arrival times finer than a millisecond.
uint64_t monotonicUs();

}  // namespace ipcam
