// The picture size and frame rate an H.264 sequence parameter set gives.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "transport/nal_units.h"

namespace ipcam {

// Largest width or height taken as sensible.
inline constexpr int32_t kMaxPictureSide = 16384;

// H.264 SPS (NAL unit, header byte included): picture size after cropping, frame rate from
// the VUI timing information (time_scale / (2 * num_units_in_tick)), 0 when absent or above
// kMaxFrameRate. nullopt when not an SPS, cut short before the timing information, or
// nonsensical (sizes 0 or above kMaxPictureSide, values out of their ranges, cropping away the
// whole picture).
std::optional<VideoParameters> readH264Sps(std::span<const uint8_t> nal);

}  // namespace ipcam
