// One RTP packet (RFC 3550) read out of a datagram or an interleaved block.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace ipcam {

struct RtpPacket {
    uint8_t payloadType = 0;
    bool marker = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;     // as a number
    uint32_t ssrcRaw = 0;  // the four bytes in the order they arrived
    // The media bytes: after the CSRC list and any header extension, padding removed. Points
    // into the bytes parsed.
    std::span<const uint8_t> payload;
};

// Reads a packet of version 2. Refuses (nothing) a packet shorter than its fixed header, its
// CSRC list or its header extension, one of another version, and one whose padding count is
// 0 or larger than what the headers leave.
std::optional<RtpPacket> parseRtpPacket(std::span<const uint8_t> bytes);

}  // namespace ipcam
