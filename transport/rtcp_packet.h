// RTCP compound packets: reading what a device sends, writing our receiver reports.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ipcam {

// A sender report's tie of the device's RTP clock to its wall clock.
struct RtcpSenderReport {
    uint32_t ssrc = 0;
    uint64_t ntp = 0;  // seconds since 1900 in the high word, their binary fraction below
    uint32_t rtpTime = 0;
};

// What a compound packet from a device says.
struct RtcpContents {
    // The sender: the SSRC of its sender report, else of its first packet long enough to carry
    // one. Nothing when no packet carries an SSRC.
    std::optional<uint32_t> sender;
    std::optional<RtcpSenderReport> report;  // its first sender report that came whole
};

// The compound is walked by its length words and stops at the first packet that is not
// version 2, is of no RTCP type (RTP payload types share the byte) or runs past the end; what
// came before the damage is used.
RtcpContents readRtcpCompound(std::span<const uint8_t> compound);

// The block of a receiver report about one source.
struct ReportBlock {
    uint32_t ssrc = 0;
    uint8_t fractionLost = 0;       // of the packets expected since the last report, in 1/256
    int32_t cumulativeLost = 0;     // 24 bits with sign: copies can make it negative
    uint32_t highestSequence = 0;   // extended by the count of wraps
    uint32_t jitter = 0;            // in the stream's timestamp units
    uint32_t lastSenderReport = 0;  // the middle 32 bits of its NTP time; 0: none yet
    uint32_t delaySinceLast = 0;    // since it arrived, in 1/65536 s
};

// Our report as one compound: a receiver report (with the block when there is one) and a
// source description with the CNAME (cut to 255 bytes).
std::vector<uint8_t> receiverReport(uint32_t ownSsrc, const std::optional<ReportBlock> &block,
                                    std::string_view cname);

}  // namespace ipcam
