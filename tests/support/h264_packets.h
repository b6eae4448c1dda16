// H.264 access units from the encoder and RTP packets made of them as a camera sends them,
// for the depacketiser and reader tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "control/base64.h"
#include "support/annex_b.h"
#include "support/media.h"

namespace kestrel_test {

using H264Nal = std::vector<uint8_t>;  // one NAL unit, or a packet payload
using H264Unit = std::vector<H264Nal>;  // the NAL units of one access unit

// The NAL units of the encoder's access units.
inline std::vector<H264Unit> h264Encode(int width, int height, int frames, int gop) {
    std::vector<H264Unit> units;
    for (const std::string &au : encodeVideo(TestCodec::H264, width, height, frames, gop))
        units.push_back(annexBUnits(au));
    return units;
}

inline H264Nal h264AnnexB(const H264Unit &unit) {
    H264Nal out;
    for (const H264Nal &nal : unit) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

struct H264Packet {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    H264Nal payload;
    int unit = -1;  // the access unit it carries part of
    char role = 0;  // 'n' single, 'a' STAP-A, 's' 'm' 'e' FU-A start, middle, end
};

inline H264Nal h264Fragment(const H264Nal &nal, std::size_t begin, std::size_t end) {
    H264Nal p = {static_cast<uint8_t>((nal[0] & 0xE0) | 28),
               static_cast<uint8_t>((begin == 1 ? 0x80 : 0) | (end == nal.size() ? 0x40 : 0) |
                                    (nal[0] & 0x1F))};
    p.insert(p.end(), nal.begin() + static_cast<long>(begin), nal.begin() + static_cast<long>(end));
    return p;
}

inline H264Nal h264Aggregate(const std::vector<H264Nal> &nals) {
    H264Nal p = {0x78};
    for (const H264Nal &nal : nals) {
        p.insert(p.end(),
                 {static_cast<uint8_t>(nal.size() >> 8), static_cast<uint8_t>(nal.size())});
        p.insert(p.end(), nal.begin(), nal.end());
    }
    return p;
}

struct H264PacketOptions {
    std::size_t mtu = 300;
    bool aggregate = true;
    bool marker = true;
    bool inBandSets = true;
};

// Access units as a camera sends them: small NAL units gathered into STAP-A, large ones cut
// into FU-A, the marker on the last packet of each unit. Numbering starts near the wrap.
inline std::vector<H264Packet> h264Packetize(const std::vector<H264Unit> &units,
                                      const H264PacketOptions &o) {
    std::vector<H264Packet> packets;
    uint16_t sequence = 65530;
    for (std::size_t u = 0; u < units.size(); ++u) {
        const auto timestamp = static_cast<uint32_t>(0xFFFF0000u + 3000 * u);
        const auto add = [&](H264Nal payload, char role) {
            packets.push_back(
                {sequence++, timestamp, false, std::move(payload), static_cast<int>(u), role});
        };
        std::vector<H264Nal> gathered;
        const auto flush = [&] {
            if (gathered.size() == 1)
                add(gathered[0], 'n');
            else if (!gathered.empty())
                add(h264Aggregate(gathered), 'a');
            gathered.clear();
        };
        for (const H264Nal &nal : units[u]) {
            const int type = nal[0] & 0x1F;
            if (!o.inBandSets && (type == 7 || type == 8)) continue;
            if (nal.size() > o.mtu) {
                flush();
                for (std::size_t at = 1; at < nal.size(); at += o.mtu - 2) {
                    const std::size_t end = std::min(nal.size(), at + o.mtu - 2);
                    add(h264Fragment(nal, at, end), at == 1 ? 's' : end == nal.size() ? 'e' : 'm');
                }
                continue;
            }
            std::size_t size = 1;
            for (const H264Nal &g : gathered) size += 2 + g.size();
            if (!o.aggregate || size + 2 + nal.size() > o.mtu) flush();
            gathered.push_back(nal);
        }
        flush();
        packets.back().marker = o.marker;
    }
    return packets;
}

// The packet as RTP bytes: version 2, payload type 96, SSRC 01 02 03 04.
inline H264Nal h264RtpBytes(const H264Packet &p) {
    H264Nal bytes = {0x80, static_cast<uint8_t>((p.marker ? 0x80 : 0) | 96)};
    for (int shift = 8; shift >= 0; shift -= 8) bytes.push_back(uint8_t(p.sequence >> shift));
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(p.timestamp >> shift));
    bytes.insert(bytes.end(), {1, 2, 3, 4});
    bytes.insert(bytes.end(), p.payload.begin(), p.payload.end());
    return bytes;
}

// The sprop-parameter-sets text of a key frame's SPS and PPS.
inline std::string h264Sprop(const H264Unit &key) {
    std::string text;
    for (const H264Nal &nal : key) {
        if ((nal[0] & 0x1F) != 7 && (nal[0] & 0x1F) != 8) continue;
        std::vector<char> b64(ipcam::base64Length(nal.size()) + 1);
        ipcam::EncodeBase64(nal.data(), nal.size(), b64.data(), b64.size());
        text += (text.empty() ? "" : ",") + std::string(b64.data());
    }
    return text;
}

}  // namespace kestrel_test
