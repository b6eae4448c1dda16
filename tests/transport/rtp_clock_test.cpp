// Frame times from the RTP clock: bunched arrivals keep the stream's spacing, the 32-bit
// timestamp wraps unnoticed, a drifting camera clock is followed smoothly, and a stall, a
// restarted camera clock or a new connection start again from the arrival time.
#include "transport/rtp_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/frame_collector.h"
#include "support/h264_packets.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/rtp_reader.h"

using namespace ipcam;
using namespace kestrel_test;

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
         {{1000, 0, 0}, {4600, 250, 40}, {8200, 250, 80}, {11800, 250, 120}, {15400, 260, 160}}},
        {"the 32-bit timestamp wraps",
         {{0xFFFFF000u, 0, 0}, {0xFFFFF000u + 3600, 45, 40}, {0xFFFFF000u + 7200, 80, 80}}},
        {"a second behind is still followed, the step changed by half at most",
         {{0, 0, 0}, {90000, 2000, 1500}}},
        {"a second ahead too", {{0, 0, 0}, {270000, 2000, 1500}}},
        {"more than a second apart starts from the arrival", {{0, 0, 0}, {90000, 2001, 2001}}},
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

// Minutes of a camera at 25 pictures a second whose clock runs at rate against ours, every 7th
// picture 200 ms late and every 50th 400 ms: times follow our clock without a step back or a
// step changed by half; only a stall or a restarted camera clock jumps, to the arrival.
TEST(RtpClock, DriftIsFollowedSmoothlyAndOnlyRealJumpsStep) {
    const struct {
        const char *name;
        double rate;
        uint32_t first;  // timestamp
        int seconds;
        int eventAt = -1;       // from this picture on:
        int64_t lateMs = 0;     // every arrival this much later (a stall)
        int64_t clockJump = 0;  // the timestamps moved by this much
        int jumps = 0;
    } runs[] = {
        {"camera 3 % fast", 1.03, 1000, 300},
        {"camera 3 % slow", 0.97, 1000, 300},
        {"camera 25 % fast", 1.25, 1000, 60},
        {"camera 20 % slow", 0.8, 1000, 60},
        {"2 % fast across the 32-bit wrap", 1.02, 0xFFFFFFFFu - 90'000u * 30, 120},
        {"1 % slow for an hour and a half", 0.99, 1000, 5400},
        {"a stall of 3 s", 1.0, 7, 60, 750, 3000, 0, 1},
        {"a camera clock restarted", 1.0, 123'456'789, 60, 750, 0, -123'000'000, 1},
        {"3 % slow, then a stall", 0.97, 1000, 120, 2000, 1500, 0, 1},
    };
    for (const auto &r : runs) {
        SCOPED_TRACE(r.name);
        RtpClock clock;
        int jumps = 0;
        uint64_t previous = 0;
        for (int i = 0; i < 25 * r.seconds; ++i) {
            const bool after = r.eventAt >= 0 && i >= r.eventAt;
            const int64_t lateMs = (i % 7 == 3 ? 200 : 0) + (i % 50 == 17 ? 400 : 0);
            const uint64_t arrival = kStart + (i * 40 + lateMs + (after ? r.lateMs : 0)) * kMs;
            const int64_t ticks = std::llround(i * 3600 * r.rate) + (after ? r.clockJump : 0);
            const uint64_t time = clock.frameTime(r.first + static_cast<uint32_t>(ticks), arrival);
            if (i > 0 && clock.jumped()) {
                ++jumps;
                EXPECT_EQ(time, arrival) << i;
            } else if (i > 0) {
                const double step = double(time) - double(previous),
                             stream = 3600 * r.rate * kMs / 90;
                ASSERT_GE(step, 0.5 * stream) << i;
                ASSERT_LE(step, 1.5 * stream) << i;
                ASSERT_LE(std::abs(double(arrival) - double(time)), 1e7) << i;
            }
            previous = time;
        }
        EXPECT_EQ(jumps, r.jumps);
    }
}

// A picture every six hours for 130 days: more ticks than 64 bits can turn into 100 ns units.
TEST(RtpClock, RunsLongerThanTicksCanCount) {
    RtpClock clock;
    constexpr uint64_t kSixHours = 6ULL * 3600 * 1000 * kMs;
    for (uint64_t i = 0; i < 520; ++i) {
        const auto timestamp = static_cast<uint32_t>(i * 6 * 3600 * 90'000);
        ASSERT_EQ(clock.frameTime(timestamp, kStart + i * kSixHours), kStart + i * kSixHours) << i;
        ASSERT_FALSE(clock.jumped()) << i;
    }
}

TEST(RtpClock, ResetStartsFromTheNextArrival) {
    RtpClock clock;
    EXPECT_EQ(clock.frameTime(100, kStart), kStart);
    EXPECT_EQ(clock.frameTime(100 + 90, kStart + 5 * kMs), kStart + kMs);
    clock.reset();
    EXPECT_EQ(clock.frameTime(100 + 180, kStart + 7 * kMs), kStart + 7 * kMs);
}

// Through the H.264 delivery: a restarted camera clock is a time step before the first picture
// of the new time, whatever its kind.
TEST(RtpClock, AJumpIsATimeStepForTheDelivery) {
    ScopedTimeouts timeouts{200};
    setLocalTimeSource([] { return kStart; });
    LocalSession session;
    FrameCollector collector;
    collector.attach(session.get());
    session->format.videoCodec = IPCAM_VIDEO_H264;
    session->awaitingFirstFrame = 1;
    std::string bytes;
    for (H264Packet p : h264Packetize(h264Encode(160, 120, 12, 6), {})) {
        if (p.unit >= 8) p.timestamp += 9'000'000;  // 100 s on
        const H264Nal rtp = h264RtpBytes(p);
        bytes += interleavedBlock(0, std::string(rtp.begin(), rtp.end()));
    }
    MemorySource source(bytes, 333);
    while (source.remaining() > 0 && readInterleaved(session.get(), source) == 0) {
    }
    setLocalTimeSource(nullptr);

    std::vector<uint64_t> steppedAt;  // the pictures a step came before
    bool stepped = false;
    int pictures = 0;
    for (const Delivered &d : collector.frames()) {
        if (d.kind == IPCAM_MSG_TIME_STEP) stepped = true;
        if (d.kind != IPCAM_FRAME_KEY && d.kind != IPCAM_FRAME_DEPENDENT) continue;
        if (stepped) steppedAt.push_back(static_cast<uint64_t>(pictures));
        stepped = false;
        ++pictures;
        EXPECT_EQ(d.time, kStart + (pictures <= 8 ? pictures - 1 : pictures - 9) * 1000 * kMs / 30)
            << pictures;
    }
    EXPECT_EQ(pictures, 12);
    EXPECT_EQ(steppedAt, (std::vector<uint64_t>{0, 8}));
}

}  // namespace
