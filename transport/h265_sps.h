// What an H.265 sequence parameter set says of the pictures: their size after the
// conformance window and the frame rate of its VUI timing information.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "transport/nal_units.h"

namespace ipcam {

// NAL unit types of the parameter sets.
inline constexpr int kH265Vps = 32;
inline constexpr int kH265Sps = 33;
inline constexpr int kH265Pps = 34;

// The type of an H.265 NAL unit from its two-byte header (the byte holding it must be there).
inline int h265NalType(uint8_t firstHeaderByte) {
    return (firstHeaderByte >> 1) & 0x3F;
}

// H.265 SPS (NAL unit, two-byte header included): picture size after the conformance window,
// frame rate from the VUI timing information (vui_time_scale / vui_num_units_in_tick), 0 when
// absent or when the part of the SPS before the VUI cannot be read (the size is still given
// when it could be read). nullopt when not an SPS, cut before the size, or nonsensical.
std::optional<VideoParameters> readH265Sps(std::span<const uint8_t> nal);

// The id a VPS, SPS or PPS of the base layer gives itself; nullopt for any other NAL unit,
// one cut before its id, and an id out of range (VPS 0-15, SPS 0-15, PPS 0-63).
std::optional<uint32_t> h265ParameterSetId(std::span<const uint8_t> nal);

}  // namespace ipcam
