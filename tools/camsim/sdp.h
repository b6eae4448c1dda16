// The session description a channel's DESCRIBE returns.
#pragma once

#include <cstdint>
#include <string>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/media_source.h"

namespace camsim {

// What a description says besides the media: the session's name and each track's a=control
// value (relative or absolute, as the mount and the faults make it).
struct DescriptionLayout {
    std::string name;
    std::string videoControl, audioControl;
};

// The video's RTP payload type: the fault's dynamic type, else 26 for JPEG and 96 for the
// others.
uint8_t videoPayloadType(const ChannelConfig &config);

// Lines end in CRLF, unless the faults ask for LF alone or blanks before the line ends. Each
// media's a=control comes after its rtpmap and fmtp lines; the omitVideoControl fault leaves
// out the video's.
std::string sessionDescription(const ChannelConfig &config, const MediaLoop &loop,
                               const DescriptionLayout &layout);

}  // namespace camsim
