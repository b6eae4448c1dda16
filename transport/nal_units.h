// What the H.264 and H.265 depacketisers share: access units in Annex B form, the parameter
// sets a description carries. Their sequence parameter sets are read with core/stream_bits.h's
// BitReader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "ipcam.h"

namespace ipcam {

// Put in front of every NAL unit of a delivered access unit.
inline constexpr uint8_t kAnnexBStart[] = {0, 0, 0, 1};

// The NAL units of one picture, ready to deliver.
struct AccessUnit {
    std::vector<uint8_t> data;              // every NAL unit behind 00 00 00 01
    int32_t kind = IPCAM_FRAME_DEPENDENT;   // IPCAM_FRAME_KEY, _DEPENDENT or _DROPPABLE
    uint32_t timestamp = 0;                 // RTP timestamp of its packets
    bool parametersChanged = false;         // its parameter sets differ from the last ones
    // A picture before it was lost, and it is no key frame: it and what follows up to the next
    // key frame may decode with damage (the caller sends IPCAM_MSG_DAMAGE in front of it).
    bool afterLoss = false;
};

// What a sequence parameter set says of the pictures.
struct VideoParameters {
    int32_t width = 0;   // after cropping
    int32_t height = 0;
    double frameRate = 0;  // from the timing information; 0 when it gives none
    bool operator==(const VideoParameters &) const = default;
};

// Appends 00 00 00 01 and the NAL unit to out.
void appendNalUnit(std::vector<uint8_t> &out, std::span<const uint8_t> nal);

// The NAL units of an Annex B byte stream, as views into it: the start codes (00 00 01 or
// 00 00 00 01) and the zero bytes before them removed. Bytes before the first start code are
// no unit, and neither is nothing between two start codes.
std::vector<std::string_view> splitAnnexB(std::string_view stream);

// The values of a comma-separated list of base64 NAL units ("sprop-parameter-sets",
// "sprop-sps"), each decoded. Empty values, values that are not base64 and values that decode
// to nothing are left out.
std::vector<std::vector<uint8_t>> parameterSetList(std::string_view text);

// The payload of a NAL unit with its emulation prevention bytes (the 03 of 00 00 03) removed,
// from offset on (the NAL unit header is not wanted by the readers).
std::vector<uint8_t> unescapeRbsp(std::span<const uint8_t> nal, std::size_t offset);

}  // namespace ipcam
