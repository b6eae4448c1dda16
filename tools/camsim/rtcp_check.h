// A client's RTCP as a strict server reads it: a compound is valid only as RFC 3550 6.4.1 has
// it (every packet version 2, the first a sender or receiver report without padding, the
// length words adding up to the whole) and, as section 6.1 asks of every compound, with an
// SDES that carries a CNAME; report blocks and SDES items must fit their packets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

struct RtcpReportBlock {
    uint32_t ssrc = 0;
    uint8_t fractionLost = 0;
    int32_t cumulativeLost = 0;  // 24 bits with sign
    uint32_t highestSequence = 0;
    uint32_t jitter = 0;
    uint32_t lastSenderReport = 0;
    uint32_t delaySinceLast = 0;
};

struct RtcpCheck {
    bool valid = false;
    std::string problem;    // why not, for messages
    uint32_t reporter = 0;  // SSRC of the first packet
    std::vector<RtcpReportBlock> blocks;
    std::string cname;
};

RtcpCheck checkRtcpCompound(std::string_view compound);

}  // namespace camsim
