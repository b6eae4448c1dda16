// RTP payloads of the media a simulated camera sends (H.264 and H.265: nal_packetizer.h),
// and the RTP header before them.
//
// Frames are cut into payloads once (the loop cache keeps them) and every session then only
// writes its own 12-byte header in front: sequence number, timestamp and SSRC are per session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/jpeg_tables.h"

namespace camsim {

inline constexpr std::size_t kMaxRtpPayload = 1400;
inline constexpr std::size_t kRtpHeaderSize = 12;
inline constexpr uint32_t kRtpClock = 90000;

inline constexpr uint8_t kPayloadDynamic = 96;  // MPEG-4 (MP4V-ES), H.264 and H.265
inline constexpr uint8_t kPayloadJpeg = 26;
inline constexpr uint8_t kPayloadMpegAudio = 14;

// MPEG-4 visual: the frame in consecutive pieces of at most maxPayload bytes. The marker bit
// goes on the packet of the last piece.
std::vector<std::string> packetizeMpeg4(std::string_view frame,
                                        std::size_t maxPayload = kMaxRtpPayload);

struct JpegFrame {
    int type = 1;  // 0: 4:2:2, 1: 4:2:0; 64 is added when restartInterval > 0
    int q = 50;    // 1..99: tables from Q; 128..255: tables carried in the first packet
    int width = 0, height = 0;  // multiples of 8, at most 2048
    int restartInterval = 0;
    QuantTables tables;     // sent when q >= 128
    std::string_view scan;  // entropy-coded data without headers, the end marker if any
};

// RTP/JPEG: each payload is the 8-byte main header (fragment offset into the scan), the
// restart header for types 64/65 (F = L = 1, count 0x3FFF: the frame is one chunk), the
// quantisation table header in the first payload when q >= 128, then scan bytes.
std::vector<std::string> packetizeJpeg(const JpegFrame &frame,
                                       std::size_t maxPayload = kMaxRtpPayload);

// MPEG audio: a 4-byte header (16 zero bits, 16-bit fragment offset) before the frame, or
// before each piece of a frame too large for one payload.
std::vector<std::string> packetizeMpegAudio(std::string_view frame,
                                            std::size_t maxPayload = kMaxRtpPayload);

// Version 2 without contributors. The X and P bits are set as asked; the extension and the
// padding themselves are the caller's to add.
std::string rtpHeader(uint8_t payloadType, bool marker, uint16_t sequence, uint32_t timestamp,
                      uint32_t ssrc, bool extension = false, bool padding = false);

void putBigEndian(std::string &out, uint64_t value, int bytes);

}  // namespace camsim
