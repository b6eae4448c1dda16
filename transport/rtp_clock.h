// Frame times of RTP video: the arrival time of the first picture, then the steps of the
// stream's 90 kHz clock from it, so that pictures keep their spacing however the network
// bunches them.
//
// A camera clock that runs fast or slow against ours (by a few percent, even) is followed by
// slewing: once frame times and arrivals part by more than the network's bunching explains,
// each step is stretched or shrunk in proportion to the excess, and the rate the camera's clock
// runs at is learnt from the excess over time, so the two stay within the bunching. A step never
// changes by half of itself, so times keep increasing. Only where the two part by more than a
// second (a stall, a camera that restarted its clock) does the arrival time take over at once,
// and jumped() says so.
#pragma once

#include <cstdint>

namespace ipcam {

class RtpClock {
  public:
    static constexpr int64_t kUnitsPerSecond = 10'000'000;  // frame times count 100 ns
    static constexpr int64_t kTicksPerSecond = 90'000;
    static constexpr int64_t kBunching = kUnitsPerSecond / 4;  // apart this much: no slewing
    // An excess is made up over this much stream time, and learnt into the rate (per second
    // of excess and of stream time) as fast as that allows without overshooting.
    static constexpr int64_t kSlewTime = kUnitsPerSecond;
    static constexpr double kLearning = 0.25;
    static constexpr double kMaxRate = 0.4;  // the most the camera's clock may be off
    static constexpr int64_t kMaxSlewPercent = 50;

    // The frame time of a picture with this RTP timestamp that arrived at arrival.
    uint64_t frameTime(uint32_t timestamp, uint64_t arrival);
    // The last frame time was the arrival's because the clocks had parted (not the first).
    bool jumped() const { return jumped_; }
    // The next picture starts afresh from its arrival (a new connection).
    void reset() {
        anchored_ = jumped_ = false;
        rate_ = 0;
    }

  private:
    // The change of the offset for a step forward while the frame time is behind the arrival.
    int64_t slewFor(int64_t behind, int64_t step);
    // Whole seconds of ticks move into the anchor, so the count never grows past an hour.
    void foldWholeSeconds();

    bool anchored_ = false, jumped_ = false;
    int64_t anchor_ = 0;  // the frame time of the anchoring picture
    int64_t ticks_ = 0;   // 90 kHz ticks since it, extended past the 32-bit wrap
    int64_t since_ = 0;   // those ticks as frame time, at the last picture
    int64_t offset_ = 0;  // what slewing has added to the stream's time so far
    double rate_ = 0;     // learnt: our time per stream time, less one
    uint32_t last_ = 0;   // the last timestamp seen
};

}  // namespace ipcam
