// Frame times of RTP video: the arrival time of the first picture, then the steps of the
// stream's 90 kHz clock from it, so that pictures keep their spacing however the network
// bunches them. Where the two clocks part by more than a second (a stall, a camera that
// restarted its clock, drift over hours) the arrival time takes over again.
#pragma once

#include <cstdint>

namespace ipcam {

class RtpClock {
  public:
    static constexpr uint64_t kUnitsPerSecond = 10'000'000;  // frame times count 100 ns
    static constexpr int64_t kTicksPerSecond = 90'000;

    // The frame time of a picture with this RTP timestamp that arrived at arrival.
    uint64_t frameTime(uint32_t timestamp, uint64_t arrival) {
        if (anchored_) {
            ticks_ += static_cast<int32_t>(timestamp - last_);  // across the 32-bit wrap
            last_ = timestamp;
            const int64_t since = ticks_ * static_cast<int64_t>(kUnitsPerSecond) / kTicksPerSecond;
            const uint64_t time = anchor_ + static_cast<uint64_t>(since);
            const uint64_t apart = time > arrival ? time - arrival : arrival - time;
            if (apart <= kUnitsPerSecond) return time;
        }
        anchored_ = true;
        anchor_ = arrival;
        ticks_ = 0;
        last_ = timestamp;
        return arrival;
    }
    // The next picture starts afresh from its arrival (a new connection).
    void reset() { anchored_ = false; }

  private:
    bool anchored_ = false;
    uint64_t anchor_ = 0;  // the frame time of the anchoring picture
    int64_t ticks_ = 0;    // 90 kHz ticks since it, extended past the 32-bit wrap
    uint32_t last_ = 0;    // the last timestamp seen
};

}  // namespace ipcam
