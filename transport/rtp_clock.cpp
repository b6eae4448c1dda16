#include "transport/rtp_clock.h"

#include <algorithm>

namespace ipcam {

uint64_t RtpClock::frameTime(uint32_t timestamp, uint64_t arrival) {
    jumped_ = anchored_;
    if (anchored_) {
        ticks_ += static_cast<int32_t>(timestamp - last_);  // across the 32-bit wrap
        last_ = timestamp;
        foldWholeSeconds();
        const int64_t since = ticks_ * kUnitsPerSecond / kTicksPerSecond;
        const int64_t step = since - since_;
        since_ = since;
        const int64_t time = anchor_ + since + offset_;
        const int64_t behind = static_cast<int64_t>(arrival) - time;
        if (behind >= -kUnitsPerSecond && behind <= kUnitsPerSecond) {
            jumped_ = false;
            const int64_t slew = slewFor(behind, step);
            offset_ += slew;
            return static_cast<uint64_t>(time + slew);
        }
    }
    anchored_ = true;
    anchor_ = static_cast<int64_t>(arrival);
    ticks_ = since_ = offset_ = 0;
    last_ = timestamp;
    return arrival;
}

int64_t RtpClock::slewFor(int64_t behind, int64_t step) {
    if (step <= 0) return 0;  // a picture shown before the last keeps its place
    const int64_t excess = behind > kBunching    ? behind - kBunching
                           : behind < -kBunching ? behind + kBunching
                                                 : 0;
    const double seconds = double(step) / kUnitsPerSecond;
    rate_ = std::clamp(rate_ + kLearning * (double(excess) / kUnitsPerSecond) * seconds, -kMaxRate,
                       kMaxRate);
    const int64_t most = step * kMaxSlewPercent / 100;
    const auto slew =
        static_cast<int64_t>(double(step) * rate_) + excess * std::min(step, kSlewTime) / kSlewTime;
    return std::clamp(slew, -most, most);
}

void RtpClock::foldWholeSeconds() {
    constexpr int64_t kFoldTicks = 3600 * kTicksPerSecond;
    if (ticks_ < kFoldTicks && ticks_ > -kFoldTicks) return;
    const int64_t seconds = ticks_ / kTicksPerSecond;
    ticks_ -= seconds * kTicksPerSecond;
    anchor_ += seconds * kUnitsPerSecond;
    since_ -= seconds * kUnitsPerSecond;
}

}  // namespace ipcam
