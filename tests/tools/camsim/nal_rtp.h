// H.264 and H.265 RTP payloads taken apart as RFC 6184 and RFC 7798 describe them, written
// apart from the simulator's packetiser so that the two check each other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel_test {

inline constexpr int kH264StapA = 24, kH264FuA = 28;
inline constexpr int kH265Ap = 48, kH265Fu = 49;

// The type in a payload's (or NAL unit's) header; -1 when too short.
inline int rtpNalType(bool h265, std::string_view p) {
    if (p.size() < (h265 ? 2u : 1u)) return -1;
    const auto first = static_cast<uint8_t>(p[0]);
    return h265 ? (first >> 1) & 0x3F : first & 0x1F;
}

// FU fragments: the FU header's start and end bits.
inline bool fuStart(bool h265, std::string_view p) {
    return static_cast<uint8_t>(p[h265 ? 2 : 1]) & 0x80;
}
inline bool fuEnd(bool h265, std::string_view p) {
    return static_cast<uint8_t>(p[h265 ? 2 : 1]) & 0x40;
}

// The NAL units the payloads carry, in order. Any payload a receiver in packetization mode 1
// (or an H.265 receiver without decoding order numbers) must refuse stops it: why is set
// and what came so far is returned.
inline std::vector<std::string> unpackNalUnits(bool h265, const std::vector<std::string> &payloads,
                                               std::string &why) {
    const std::size_t head = h265 ? 2 : 1;
    const int aggregation = h265 ? kH265Ap : kH264StapA, fu = h265 ? kH265Fu : kH264FuA;
    std::vector<std::string> units;
    std::string open;  // the unit being put together from fragments
    bool inFu = false;
    auto byte = [](std::string_view s, std::size_t i) { return static_cast<uint8_t>(s[i]); };
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        const std::string &p = payloads[i];
        const std::string where = " in payload " + std::to_string(i);
        const int type = rtpNalType(h265, p);
        if (type < 0) return why = "short payload" + where, units;
        if (inFu && type != fu) return why = "fragmented unit interrupted" + where, units;
        if (type == aggregation) {
            if (p.size() == head) return why = "empty aggregation" + where, units;
            for (std::size_t at = head; at < p.size();) {
                if (at + 2 > p.size()) return why = "cut size field" + where, units;
                const std::size_t n = byte(p, at) << 8 | byte(p, at + 1);
                if (n == 0 || at + 2 + n > p.size()) return why = "bad unit size" + where, units;
                units.push_back(p.substr(at + 2, n));
                at += 2 + n;
            }
        } else if (type == fu) {
            if (p.size() < head + 2) return why = "short fragment" + where, units;
            const uint8_t header = byte(p, head);
            const bool start = header & 0x80, end = header & 0x40;
            if (start && end) return why = "fragment both first and last" + where, units;
            if (!h265 && (header & 0x20)) return why = "reserved bit set" + where, units;
            if (start == inFu) return why = "fragment out of order" + where, units;
            if (start) {
                open.clear();
                if (h265) {
                    open += static_cast<char>((byte(p, 0) & 0x81) | (header & 0x3F) << 1);
                    open += p[1];
                } else {
                    open += static_cast<char>((byte(p, 0) & 0xE0) | (header & 0x1F));
                }
                inFu = true;
            }
            open.append(p, head + 1);
            if (end) {
                units.push_back(open);
                inFu = false;
            }
        } else if ((!h265 && type >= 1 && type <= 23) || (h265 && type < 48)) {
            units.push_back(p);
        } else {
            return why = "payload type " + std::to_string(type) + where, units;
        }
    }
    if (inFu) why = "last unit unfinished";
    return units;
}

// The units as an Annex B byte stream, four-byte start codes.
inline std::string annexB(const std::vector<std::string> &units) {
    std::string out;
    for (const std::string &u : units) out += std::string("\0\0\0\1", 4) + u;
    return out;
}

}  // namespace kestrel_test
