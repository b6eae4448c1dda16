#include "tools/camsim/rtp_packetizer.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr std::size_t kAudioHeader = 4;

}  // namespace

void putBigEndian(std::string &out, uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

std::vector<std::string> packetizeMpeg4(std::string_view frame, std::size_t maxPayload) {
    std::vector<std::string> payloads;
    for (std::size_t at = 0; at < frame.size(); at += maxPayload)
        payloads.emplace_back(frame.substr(at, maxPayload));
    return payloads;
}

std::vector<std::string> packetizeJpeg(const JpegFrame &frame, std::size_t maxPayload) {
    const bool restart = frame.restartInterval > 0;
    const bool inBandTables = frame.q >= 128;
    std::vector<std::string> payloads;
    std::size_t offset = 0;
    do {
        std::string p;
        p += '\0';  // type-specific: progressive frame
        putBigEndian(p, offset, 3);
        p += static_cast<char>(frame.type + (restart ? 64 : 0));
        p += static_cast<char>(frame.q);
        p += static_cast<char>((frame.width / 8) & 0xFF);  // 2048 wraps to 0, as receivers read it
        p += static_cast<char>((frame.height / 8) & 0xFF);
        if (restart) {
            putBigEndian(p, static_cast<uint64_t>(frame.restartInterval), 2);
            putBigEndian(p, 0xFFFF, 2);  // F = 1, L = 1, restart count 0x3FFF
        }
        if (inBandTables && offset == 0) {
            p += '\0';  // MBZ
            p += '\0';  // 8-bit precision for both tables
            putBigEndian(p, 128, 2);
            p.append(frame.tables.luma.begin(), frame.tables.luma.end());
            p.append(frame.tables.chroma.begin(), frame.tables.chroma.end());
        }
        const std::size_t room = maxPayload - p.size();
        const std::size_t n = std::min(room, frame.scan.size() - offset);
        p.append(frame.scan.substr(offset, n));
        offset += n;
        payloads.push_back(std::move(p));
    } while (offset < frame.scan.size());
    return payloads;
}

std::vector<std::string> packetizeMpegAudio(std::string_view frame, std::size_t maxPayload) {
    std::vector<std::string> payloads;
    const std::size_t room = maxPayload - kAudioHeader;
    for (std::size_t at = 0; at < frame.size(); at += room) {
        std::string p(2, '\0');
        putBigEndian(p, at, 2);
        p.append(frame.substr(at, room));
        payloads.push_back(std::move(p));
    }
    return payloads;
}

std::string rtpHeader(uint8_t payloadType, bool marker, uint16_t sequence, uint32_t timestamp,
                      uint32_t ssrc, bool extension, bool padding) {
    std::string h;
    h.reserve(kRtpHeaderSize);
    h += static_cast<char>(0x80 | (padding ? 0x20 : 0) | (extension ? 0x10 : 0));
    h += static_cast<char>(payloadType | (marker ? 0x80 : 0));
    putBigEndian(h, sequence, 2);
    putBigEndian(h, timestamp, 4);
    putBigEndian(h, ssrc, 4);
    return h;
}

}  // namespace camsim
