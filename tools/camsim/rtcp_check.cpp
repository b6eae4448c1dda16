#include "tools/camsim/rtcp_check.h"

namespace camsim {

namespace {

constexpr uint8_t kSenderReport = 200, kReceiverReport = 201, kSourceDescription = 202;
constexpr uint8_t kCname = 1;
constexpr std::size_t kBlockSize = 24;

uint8_t byteAt(std::string_view s, std::size_t at) {
    return static_cast<uint8_t>(s[at]);
}

uint32_t be32(std::string_view s, std::size_t at) {
    return static_cast<uint32_t>(byteAt(s, at)) << 24 |
           static_cast<uint32_t>(byteAt(s, at + 1)) << 16 |
           static_cast<uint32_t>(byteAt(s, at + 2)) << 8 | byteAt(s, at + 3);
}

RtcpReportBlock readBlock(std::string_view p) {
    RtcpReportBlock b;
    b.ssrc = be32(p, 0);
    b.fractionLost = byteAt(p, 4);
    const uint32_t lost = be32(p, 4) & 0xFFFFFF;
    b.cumulativeLost = static_cast<int32_t>(lost & 0x800000 ? lost | 0xFF000000u : lost);
    b.highestSequence = be32(p, 8);
    b.jitter = be32(p, 12);
    b.lastSenderReport = be32(p, 16);
    b.delaySinceLast = be32(p, 20);
    return b;
}

// The chunks of an SDES packet after its header: an SSRC, items (type, length, text) ended by
// a zero, then zeros to the next word; they must fill the packet exactly.
bool readChunks(std::string_view body, int chunks, std::string &cname) {
    std::size_t at = 0;
    for (int c = 0; c < chunks; ++c) {
        if (body.size() - at < 4) return false;
        at += 4;
        for (;;) {
            if (at >= body.size()) return false;
            if (byteAt(body, at) == 0) break;
            if (body.size() - at < 2 || body.size() - at - 2 < byteAt(body, at + 1)) return false;
            const std::size_t length = byteAt(body, at + 1);
            if (byteAt(body, at) == kCname && cname.empty()) cname = body.substr(at + 2, length);
            at += 2 + length;
        }
        at = (at / 4 + 1) * 4;
        if (at > body.size()) return false;
    }
    return at == body.size();
}

std::string check(std::string_view compound, RtcpCheck &c) {
    std::size_t at = 0;
    while (at < compound.size()) {
        const std::string_view rest = compound.substr(at);
        if (rest.size() < 4) return "a header cut short at byte " + std::to_string(at);
        const uint8_t first = byteAt(rest, 0), type = byteAt(rest, 1);
        if (first >> 6 != 2)
            return "version " + std::to_string(first >> 6) + " at byte " + std::to_string(at);
        const std::size_t length = 4 * ((std::size_t{byteAt(rest, 2)} << 8 | byteAt(rest, 3)) + 1);
        if (length > rest.size())
            return "a length word beyond the end at byte " + std::to_string(at);
        const std::string_view packet = rest.substr(0, length);
        const bool padded = first & 0x20, last = length == rest.size();
        const int count = first & 0x1F;
        if (at == 0) {
            if (type != kSenderReport && type != kReceiverReport)
                return "the first packet is of type " + std::to_string(type);
            if (padded) return "padding in the first packet";
            c.reporter = length >= 8 ? be32(packet, 4) : 0;
        }
        if (padded &&
            (!last || byteAt(packet, length - 1) == 0 || byteAt(packet, length - 1) > length - 4))
            return "padding that is not the last packet's own";
        const std::string_view content =
            padded ? packet.substr(0, length - byteAt(packet, length - 1)) : packet;
        if (type == kSenderReport || type == kReceiverReport) {
            const std::size_t blocks = type == kSenderReport ? 28 : 8;
            if (blocks + count * kBlockSize > content.size())
                return "report blocks beyond the packet";
            for (int i = 0; i < count; ++i)
                c.blocks.push_back(readBlock(content.substr(blocks + i * kBlockSize)));
        } else if (type == kSourceDescription && !readChunks(content.substr(4), count, c.cname)) {
            return "SDES items that do not fill their packet";
        }
        at += length;
    }
    if (compound.empty()) return "empty";
    if (c.cname.empty()) return "no CNAME";
    return {};
}

}  // namespace

RtcpCheck checkRtcpCompound(std::string_view compound) {
    RtcpCheck c;
    c.problem = check(compound, c);
    c.valid = c.problem.empty();
    return c;
}

}  // namespace camsim
