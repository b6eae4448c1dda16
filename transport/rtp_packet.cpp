#include "transport/rtp_packet.h"

#include <cstring>

namespace ipcam {

namespace {

constexpr std::size_t kFixedHeader = 12;
constexpr std::size_t kExtensionHead = 4;

uint16_t be16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

std::optional<RtpPacket> parseRtpPacket(std::span<const uint8_t> bytes) {
    const std::size_t size = bytes.size();
    if (size < kFixedHeader) return std::nullopt;
    const uint8_t *p = bytes.data();
    if ((p[0] >> 6) != 2) return std::nullopt;
    const bool padded = p[0] & 0x20;
    const bool extended = p[0] & 0x10;

    std::size_t start = kFixedHeader + 4 * static_cast<std::size_t>(p[0] & 0x0F);
    if (start > size) return std::nullopt;
    if (extended) {
        if (size - start < kExtensionHead) return std::nullopt;
        const std::size_t words = be16(p + start + 2);
        start += kExtensionHead;
        if ((size - start) / 4 < words) return std::nullopt;
        start += 4 * words;
    }
    std::size_t end = size;
    if (padded) {
        const std::size_t padding = p[size - 1];
        if (padding == 0 || padding > size - start) return std::nullopt;
        end -= padding;
    }

    RtpPacket packet;
    packet.payloadType = p[1] & 0x7F;
    packet.marker = p[1] & 0x80;
    packet.sequence = be16(p + 2);
    packet.timestamp = be32(p + 4);
    packet.ssrc = be32(p + 8);
    std::memcpy(&packet.ssrcRaw, p + 8, 4);
    packet.payload = bytes.subspan(start, end - start);
    return packet;
}

}  // namespace ipcam
