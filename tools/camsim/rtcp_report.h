// RTCP sender reports, sent about once a second on each track so receivers can tie RTP time
// to wall-clock time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace camsim {

struct SenderStats {
    uint32_t ssrc = 0;
    uint32_t rtpTime = 0;  // the RTP timestamp that corresponds to the NTP time
    uint32_t packets = 0;
    uint32_t octets = 0;  // payload bytes
};

// 64-bit NTP time (seconds since 1900 and their binary fraction) of a wall-clock instant.
uint64_t ntpTime(std::chrono::system_clock::time_point when);

// A compound packet: the sender report and an SDES with the CNAME.
std::string senderReport(const SenderStats &stats, uint64_t ntp, const std::string &cname);

}  // namespace camsim
