// H.265 access units from the encoder and the RTP packets a sender following RFC 7798 makes
// of them, for the depacketiser and reader tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/annex_b.h"

namespace kestrel_test {

using H265Nal = std::vector<uint8_t>;  // one NAL unit, or a whole packet

inline int h265Type(const H265Nal &nal) {
    return (nal[0] >> 1) & 0x3F;
}

struct H265Packing {
    std::size_t mtu = 500;  // payload bytes
    bool aggregate = true;
    bool don = false;
    bool marker = true;
    bool inBandSets = true;
};

struct H265Packet {
    H265Nal bytes;
    std::size_t frame;
    bool fragment;
};

// The frames as a sender following RFC 7798 cuts them, numbered from 65530 so that the
// sequence numbers wrap.
inline std::vector<H265Packet> h265Packets(const std::vector<std::string> &frames, const H265Packing &p) {
    std::vector<H265Packet> packets;
    uint16_t sequence = 65530;
    uint16_t don = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const uint32_t timestamp = 90000 + 3000 * static_cast<uint32_t>(f);
        std::vector<H265Nal> payloads;
        std::vector<bool> fragments;
        std::vector<H265Nal> group;  // small NAL units waiting to be aggregated
        const auto flush = [&] {
            if (group.empty()) return;
            H265Nal payload;
            if (group.size() == 1) {
                payload = {group[0][0], group[0][1]};
                if (p.don) payload.insert(payload.end(), {uint8_t(don >> 8), uint8_t(don)});
                payload.insert(payload.end(), group[0].begin() + 2, group[0].end());
            } else {
                payload = {48 << 1, group[0][1]};
                if (p.don) payload.insert(payload.end(), {uint8_t(don >> 8), uint8_t(don)});
                for (std::size_t i = 0; i < group.size(); ++i) {
                    if (p.don && i > 0) payload.push_back(0);  // consecutive numbers
                    payload.insert(payload.end(),
                                   {uint8_t(group[i].size() >> 8), uint8_t(group[i].size())});
                    payload.insert(payload.end(), group[i].begin(), group[i].end());
                }
            }
            don = static_cast<uint16_t>(don + group.size());
            payloads.push_back(payload);
            fragments.push_back(false);
            group.clear();
        };
        for (const H265Nal &nal : annexBUnits(frames[f])) {
            if (!p.inBandSets && h265Type(nal) >= 32 && h265Type(nal) <= 34) continue;
            std::size_t groupSize = 2 + (p.don ? 2 : 0);
            for (const H265Nal &g : group) groupSize += g.size() + 2 + (p.don ? 1 : 0);
            if (!group.empty() && (!p.aggregate || groupSize + nal.size() + 3 > p.mtu)) flush();
            if (nal.size() + 4 <= p.mtu) {
                group.push_back(nal);
                continue;
            }
            const std::size_t chunk = p.mtu - 5;
            for (std::size_t at = 2; at < nal.size(); at += chunk) {
                const bool first = at == 2, last = at + chunk >= nal.size();
                H265Nal payload = {
                    static_cast<uint8_t>((nal[0] & 0x81) | 49 << 1), nal[1],
                    static_cast<uint8_t>((first ? 0x80 : 0) | (last ? 0x40 : 0) | h265Type(nal))};
                if (p.don && first)
                    payload.insert(payload.end(), {uint8_t(don >> 8), uint8_t(don)});
                payload.insert(
                    payload.end(), nal.begin() + static_cast<std::ptrdiff_t>(at),
                    nal.begin() + static_cast<std::ptrdiff_t>(std::min(nal.size(), at + chunk)));
                payloads.push_back(payload);
                fragments.push_back(true);
            }
            ++don;
        }
        flush();
        for (std::size_t i = 0; i < payloads.size(); ++i) {
            const bool marker = p.marker && i + 1 == payloads.size();
            H265Nal h = {0x80,
                       static_cast<uint8_t>((marker ? 0x80 : 0) | 96),
                       uint8_t(sequence >> 8),
                       uint8_t(sequence),
                       uint8_t(timestamp >> 24),
                       uint8_t(timestamp >> 16),
                       uint8_t(timestamp >> 8),
                       uint8_t(timestamp),
                       1,
                       2,
                       3,
                       4};
            h.insert(h.end(), payloads[i].begin(), payloads[i].end());
            packets.push_back({h, f, fragments[i]});
            ++sequence;
        }
    }
    return packets;
}

}  // namespace kestrel_test
