#include "tools/camsim/rtcp_report.h"

#include <algorithm>

#include "tools/camsim/rtp_packetizer.h"

namespace camsim {

namespace {

constexpr uint64_t kNtpUnixOffset = 2208988800ULL;  // 1900-01-01 to 1970-01-01, in seconds
constexpr uint8_t kSenderReport = 200;
constexpr uint8_t kSourceDescription = 202;
constexpr uint8_t kCname = 1;

}  // namespace

uint64_t ntpTime(std::chrono::system_clock::time_point when) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    const uint64_t seconds = static_cast<uint64_t>(micros / 1000000) + kNtpUnixOffset;
    const uint64_t fraction = (static_cast<uint64_t>(micros % 1000000) << 32) / 1000000;
    return (seconds << 32) | fraction;
}

std::string senderReport(const SenderStats &stats, uint64_t ntp, const std::string &cname) {
    std::string out;
    out += '\x80';  // version 2, no report blocks
    out += static_cast<char>(kSenderReport);
    putBigEndian(out, 6, 2);  // length in 32-bit words, less one
    putBigEndian(out, stats.ssrc, 4);
    putBigEndian(out, ntp, 8);
    putBigEndian(out, stats.rtpTime, 4);
    putBigEndian(out, stats.packets, 4);
    putBigEndian(out, stats.octets, 4);

    // One chunk: SSRC, the CNAME item, then zeros up to the next 32-bit boundary (at least one,
    // which ends the item list).
    const std::size_t name = std::min<std::size_t>(cname.size(), 255);
    const std::size_t chunk = 4 + 2 + name;
    const std::size_t padded = (chunk / 4 + 1) * 4;
    out += '\x81';  // one chunk
    out += static_cast<char>(kSourceDescription);
    putBigEndian(out, padded / 4, 2);
    putBigEndian(out, stats.ssrc, 4);
    out += static_cast<char>(kCname);
    out += static_cast<char>(name);
    out.append(cname, 0, name);
    out.append(padded - chunk, '\0');
    return out;
}

}  // namespace camsim
