// Frame times from the RTP clock: bunched arrivals keep the stream's spacing, the 32-bit
// timestamp wraps unnoticed, and a stall, a restarted camera clock or a new connection start
// again from the arrival time.
#include "transport/rtp_clock.h"

#include <gtest/gtest.h>

#include <vector>

using ipcam::RtpClock;

namespace {

constexpr uint64_t kMs = 10'000;  // 100 ns units
constexpr uint64_t kStart = 130'000'000'000'000'000ULL;

TEST(RtpClock, TimesFollowTheStreamUntilTheClocksPart) {
    struct Picture {
        uint32_t timestamp;
        uint64_t arrivalMs;  // after kStart
        uint64_t expectedMs;
    };
    const struct {
        const char *name;
        std::vector<Picture> pictures;
    } cases[] = {
        {"bunched arrivals keep 40 ms apart",
         {{1000, 0, 0}, {4600, 300, 40}, {8200, 300, 80}, {11800, 300, 120}, {15400, 310, 160}}},
        {"the 32-bit timestamp wraps",
         {{0xFFFFF000u, 0, 0}, {0xFFFFF000u + 3600, 45, 40}, {0xFFFFF000u + 7200, 80, 80}}},
        {"a stall of more than a second starts from the arrival",
         {{0, 0, 0}, {3600, 40, 40}, {7200, 1600, 1600}, {10800, 1640, 1640}}},
        {"a camera clock that went back starts from the arrival",
         {{900000, 0, 0}, {903600, 40, 40}, {3600, 80, 80}, {7200, 120, 120}}},
        {"a camera clock far ahead starts from the arrival",
         {{0, 0, 0}, {3600, 40, 40}, {3600 + 9'000'000, 80, 80}, {7200 + 9'000'000, 120, 120}}},
        {"a picture shown before the last (B-frame) keeps its own time",
         {{0, 0, 0}, {10800, 40, 120}, {3600, 80, 40}, {7200, 120, 80}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        RtpClock clock;
        for (const Picture &p : c.pictures)
            EXPECT_EQ(clock.frameTime(p.timestamp, kStart + p.arrivalMs * kMs),
                      kStart + p.expectedMs * kMs)
                << "timestamp " << p.timestamp;
    }
}

TEST(RtpClock, ResetStartsFromTheNextArrival) {
    RtpClock clock;
    EXPECT_EQ(clock.frameTime(100, kStart), kStart);
    EXPECT_EQ(clock.frameTime(100 + 90, kStart + 5 * kMs), kStart + kMs);
    clock.reset();
    EXPECT_EQ(clock.frameTime(100 + 180, kStart + 7 * kMs), kStart + 7 * kMs);
}

}  // namespace
