#include "tools/camsim/nal_packetizer.h"

#include <algorithm>
#include <cstdint>

namespace camsim {

namespace {

constexpr uint8_t kStapA = 24, kFuA = 28;  // H.264
constexpr uint8_t kAp = 48, kFu = 49;      // H.265
constexpr std::size_t kSizeField = 2;      // before each unit of an aggregation packet

uint8_t byteAt(const std::string &s, std::size_t i) {
    return static_cast<uint8_t>(s[i]);
}

std::size_t headerSize(NalCodec codec) {
    return codec == NalCodec::H264 ? 1 : 2;
}

// The payload header of an aggregation packet of units: F set when any unit's is; H.264 the
// highest NRI, H.265 the lowest layer and temporal id.
std::string aggregationHeader(NalCodec codec, const std::string *first, const std::string *last) {
    uint8_t forbidden = 0, nri = 0;
    int layer = 63, tid = 7;
    for (const std::string *u = first; u != last; ++u) {
        forbidden |= byteAt(*u, 0) & 0x80;
        nri = std::max<uint8_t>(nri, byteAt(*u, 0) & 0x60);
        if (codec == NalCodec::H265) {
            layer = std::min(layer, (byteAt(*u, 0) & 1) << 5 | byteAt(*u, 1) >> 3);
            tid = std::min(tid, byteAt(*u, 1) & 7);
        }
    }
    std::string header;
    if (codec == NalCodec::H264) {
        header += static_cast<char>(forbidden | nri | kStapA);
    } else {
        header += static_cast<char>(forbidden | kAp << 1 | layer >> 5);
        header += static_cast<char>((layer & 0x1F) << 3 | tid);
    }
    return header;
}

// The unit in fragments of at most maxPayload bytes; returns how many.
int fragment(NalCodec codec, const std::string &unit, std::size_t maxPayload,
             std::vector<std::string> &out) {
    const std::size_t head = headerSize(codec);
    std::string prefix;  // the payload header (FU indicator for H.264)
    uint8_t type = 0;
    if (codec == NalCodec::H264) {
        prefix += static_cast<char>((byteAt(unit, 0) & 0xE0) | kFuA);
        type = byteAt(unit, 0) & 0x1F;
    } else {
        prefix += static_cast<char>((byteAt(unit, 0) & 0x81) | kFu << 1);
        prefix += unit[1];
        type = (byteAt(unit, 0) >> 1) & 0x3F;
    }
    const std::size_t room = maxPayload - prefix.size() - 1;  // and the FU header
    const std::string_view body = std::string_view(unit).substr(head);
    int pieces = 0;
    for (std::size_t at = 0; at < body.size(); at += room, ++pieces) {
        const bool start = at == 0, end = at + room >= body.size();
        std::string p = prefix;
        p += static_cast<char>((start ? 0x80 : 0) | (end ? 0x40 : 0) | type);
        p.append(body.substr(at, room));
        out.push_back(std::move(p));
    }
    return pieces;
}

}  // namespace

NalPayloads packetizeNal(NalCodec codec, const std::vector<std::string> &units,
                         std::size_t maxPayload, bool singleOnly) {
    NalPayloads out;
    int mostFragments = 0;
    const std::size_t head = headerSize(codec);
    for (std::size_t i = 0; i < units.size();) {
        const std::string &unit = units[i];
        if (unit.size() < head) {  // not even a NAL unit header
            ++i;
            continue;
        }
        // The longest run from here that fits one aggregation packet.
        std::size_t end = i, size = head;
        while (!singleOnly && end < units.size() && units[end].size() >= head &&
               size + kSizeField + units[end].size() <= maxPayload)
            size += kSizeField + units[end++].size();
        if (end - i >= 2) {
            std::string p = aggregationHeader(codec, &units[i], &units[end]);
            for (; i < end; ++i) {
                putBigEndian(p, units[i].size(), 2);
                p += units[i];
            }
            out.payloads.push_back(std::move(p));
            continue;
        }
        if (unit.size() <= maxPayload) {
            out.payloads.push_back(unit);
        } else {
            const int first = static_cast<int>(out.payloads.size());
            const int pieces = fragment(codec, unit, maxPayload, out.payloads);
            if (pieces >= 3 && pieces > mostFragments) {
                mostFragments = pieces;
                out.middleFragment = first + pieces / 2;
            }
        }
        ++i;
    }
    return out;
}

}  // namespace camsim
