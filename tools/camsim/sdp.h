// The session description a channel's DESCRIBE returns.
#pragma once

#include <string>
#include <string_view>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/media_source.h"

namespace camsim {

// Controls of the two media, relative to the channel's URL.
inline constexpr std::string_view kVideoControl = "track1";
inline constexpr std::string_view kAudioControl = "track2";

// Every line ends in CRLF. Each media's a=control comes after its rtpmap and fmtp lines;
// the omitVideoControl fault leaves out the video's.
std::string sessionDescription(const ChannelConfig &config, const MediaLoop &loop,
                               std::string_view name);

}  // namespace camsim
