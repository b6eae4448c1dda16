// RTP packets and interleaved blocks built byte by byte, for the reader tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/media.h"

namespace kestrel_test {

struct RtpPacketSpec {
    uint8_t channel = 0;
    uint16_t sequence = 0;
    bool marker = false;
    std::string payload{};
    uint32_t ssrc = 0x11223344;  // written in host order, as the readers keep it
    int csrcCount = 0;
    std::string extension{};  // header extension words (a multiple of 4 bytes); none when empty
    uint8_t padding = 0;      // padding bytes, the count in the last one; none when 0
    int version = 2;
};

inline std::string rtpPacket(const RtpPacketSpec &p) {
    std::string h(12, '\0');
    h[0] = static_cast<char>(p.version << 6 | (p.padding ? 0x20 : 0) |
                             (p.extension.empty() ? 0 : 0x10) | p.csrcCount);
    h[1] = static_cast<char>((p.marker ? 0x80 : 0) | 96);
    h[2] = static_cast<char>(p.sequence >> 8);
    h[3] = static_cast<char>(p.sequence);
    std::memcpy(h.data() + 8, &p.ssrc, 4);
    h += std::string(4 * static_cast<size_t>(p.csrcCount), 'c');
    if (!p.extension.empty()) {
        const size_t words = p.extension.size() / 4;
        h += std::string("\xBE\xDE", 2);
        h += static_cast<char>(words >> 8);
        h += static_cast<char>(words);
        h += p.extension;
    }
    h += p.payload;
    if (p.padding) h += std::string(p.padding - 1u, '\0') + static_cast<char>(p.padding);
    return h;
}

// '$', the channel, the 16-bit length, then body.
inline std::string interleavedBlock(uint8_t channel, const std::string &body) {
    std::string h = "$";
    h += static_cast<char>(channel);
    h += static_cast<char>(body.size() >> 8);
    h += static_cast<char>(body.size());
    return h + body;
}

inline std::string interleaved(const RtpPacketSpec &p) {
    return interleavedBlock(p.channel, rtpPacket(p));
}

// Frames cut into RTP packets of at most size bytes, numbered from first.
inline std::vector<RtpPacketSpec> packetize(const std::vector<std::string> &frames, size_t size,
                                            uint16_t first = 1) {
    std::vector<RtpPacketSpec> out;
    for (const std::string &f : frames)
        for (size_t at = 0; at < f.size(); at += size)
            out.push_back({0, first++, at + size >= f.size(), f.substr(at, size)});
    return out;
}

// The RTP/JPEG headers (main, restart when type >= 64, in-band tables when asked and offset
// is 0) followed by data.
inline std::string rtpJpegHeaders(const std::string &jpeg, int type, int q, int widthField,
                                  int heightField, int restart, bool inBandTables,
                                  uint32_t offset) {
    std::string p;
    p += '\0';
    p += static_cast<char>(offset >> 16);
    p += static_cast<char>(offset >> 8);
    p += static_cast<char>(offset);
    p += static_cast<char>(type);
    p += static_cast<char>(q);
    p += static_cast<char>(widthField);
    p += static_cast<char>(heightField);
    if (type >= 64) {
        p += static_cast<char>(restart >> 8);
        p += static_cast<char>(restart);
        p += "\xFF\xFF";
    }
    if (inBandTables && offset == 0) {
        std::string tables = quantTables(jpeg);
        p += '\0';
        p += '\0';
        p += static_cast<char>(tables.size() >> 8);
        p += static_cast<char>(tables.size());
        p += tables;
    }
    return p;
}

// An RTP/JPEG payload carrying a whole picture in one fragment.
inline std::string rtpJpegPayload(const std::string &jpeg, int type, int q, int widthField,
                                  int heightField, int restart, bool inBandTables,
                                  uint32_t offset = 0) {
    return rtpJpegHeaders(jpeg, type, q, widthField, heightField, restart, inBandTables, offset) +
           scanData(jpeg);
}

// The payloads of a 4:2:2 picture of width x height cut into fragments of at most size
// bytes of data, without its end marker when endMarker is false.
inline std::vector<std::string> rtpJpegFragments(const std::string &jpeg, int width, int height,
                                                 int q, bool inBandTables, size_t size,
                                                 bool endMarker = true) {
    std::string data = scanData(jpeg);
    if (!endMarker) data.resize(data.size() - 2);
    std::vector<std::string> out;
    for (size_t at = 0; at < data.size(); at += size)
        out.push_back(rtpJpegHeaders(jpeg, 0, q, width / 8, height / 8, 0, inBandTables,
                                     static_cast<uint32_t>(at)) +
                      data.substr(at, size));
    return out;
}

}  // namespace kestrel_test
