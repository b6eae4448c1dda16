#include "transport/rtcp_packet.h"

#include <algorithm>

namespace ipcam {

namespace {

constexpr uint8_t kSenderReport = 200, kReceiverReport = 201, kSourceDescription = 202;
// Packet types 192-223 are RTCP's; an RTP packet's marker and payload type never fall there.
constexpr uint8_t kFirstRtcpType = 192, kLastRtcpType = 223;
constexpr uint8_t kCname = 1;
constexpr std::size_t kSenderInfoEnd = 28;  // header, SSRC, NTP time, RTP time, two counts
constexpr std::size_t kMaxCname = 255;

uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void put(std::vector<uint8_t> &out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A packet's first word: version 2, the count, the type, the length in words less one.
void putHeader(std::vector<uint8_t> &out, uint8_t count, uint8_t type, std::size_t bytes) {
    out.push_back(static_cast<uint8_t>(0x80 | count));
    out.push_back(type);
    put(out, bytes / 4 - 1, 2);
}

}  // namespace

RtcpContents readRtcpCompound(std::span<const uint8_t> compound) {
    RtcpContents got;
    std::optional<uint32_t> first;
    std::size_t at = 0;
    while (compound.size() - at >= 4) {
        const uint8_t *p = compound.data() + at;
        if ((p[0] >> 6) != 2 || p[1] < kFirstRtcpType || p[1] > kLastRtcpType) break;
        const std::size_t length = 4 * (static_cast<std::size_t>(p[2] << 8 | p[3]) + 1);
        if (length > compound.size() - at) break;
        if (length >= 8) {
            const uint32_t ssrc = be32(p + 4);
            if (!first) first = ssrc;
            if (p[1] == kSenderReport && !got.report) {
                if (!got.sender) got.sender = ssrc;
                if (length >= kSenderInfoEnd)
                    got.report = RtcpSenderReport{
                        ssrc, static_cast<uint64_t>(be32(p + 8)) << 32 | be32(p + 12),
                        be32(p + 16)};
            }
        }
        at += length;
    }
    if (!got.sender) got.sender = first;
    return got;
}

std::vector<uint8_t> receiverReport(uint32_t ownSsrc, const std::optional<ReportBlock> &block,
                                    std::string_view cname) {
    std::vector<uint8_t> out;
    putHeader(out, block ? 1 : 0, kReceiverReport, block ? 32 : 8);
    put(out, ownSsrc, 4);
    if (block) {
        put(out, block->ssrc, 4);
        out.push_back(block->fractionLost);
        const int32_t lost = std::clamp(block->cumulativeLost, -0x800000, 0x7FFFFF);
        put(out, static_cast<uint32_t>(lost) & 0xFFFFFF, 3);
        put(out, block->highestSequence, 4);
        put(out, block->jitter, 4);
        put(out, block->lastSenderReport, 4);
        put(out, block->delaySinceLast, 4);
    }
    // One chunk: our SSRC, the CNAME item, then zeros to the next word (at least one, which
    // ends the item list).
    const std::size_t name = std::min(cname.size(), kMaxCname);
    const std::size_t chunk = 4 + 2 + name;
    const std::size_t padded = (chunk / 4 + 1) * 4;
    putHeader(out, 1, kSourceDescription, 4 + padded);
    put(out, ownSsrc, 4);
    out.push_back(kCname);
    out.push_back(static_cast<uint8_t>(name));
    out.insert(out.end(), cname.begin(), cname.begin() + static_cast<std::ptrdiff_t>(name));
    out.insert(out.end(), padded - chunk, 0);
    return out;
}

}  // namespace ipcam
