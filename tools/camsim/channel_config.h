// What one RTSP channel of the simulator streams. Channels are named CH01, CH02, ... in the
// order they are added, and may be mounted at paths of their own besides.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/stream_faults.h"

namespace camsim {

struct ChannelConfig {
    enum class Codec { Mpeg4, Jpeg, H264, H265 };

    Codec codec = Codec::Mpeg4;
    int width = 640, height = 480;  // multiples of 16, H.264 and H.265 even; JPEG at most 2048
    int fps = 30;                   // 1..60
    bool audio = false;             // a second track: MPEG-1 layer II tone
    int jpegType = 1;               // 0: 4:2:2, 1: 4:2:0
    int jpegQ = 75;                 // 1..99: tables from Q; 128..255: tables in band
    int restartInterval = 0;        // JPEG: MCUs between restart markers, 0: none
    bool jpegEndMarker = true;      // JPEG: the last fragment ends with FF D9, as most cameras
                                    // send it; receivers must add it themselves when false
    bool live = false;     // encode each session's video as it goes instead of replaying the loop
    int startFrame = 0;    // a session's video begins this many frames into the stream, as a
                           // camera's that was streaming before the client came (live: the
                           // frames before are encoded and thrown away)
    bool intraRefresh = false;  // H.264: periodic intra refresh, one IDR picture at the start
                                // and a recovery point (SEI) every second instead of IDRs
    int jpegTablesQ = 80;  // JPEG with Q >= 128: the quality of the tables sent in band
    bool configInBand = true;  // false: MPEG-4 VOS and VOL only in the SDP's config=, key
                               // frames begin with the GOV; H.264/H.265 parameter sets
                               // only in the SDP's sprop-, none in the stream
    int bitrateKbps = 0;       // 0: fixed quality; else about this many kbit/s of video
    bool grain = false;        // film grain on every picture, as a camera's sensor noise
    int packetBytes = 1400;    // the largest RTP payload of the video, 200..65000
    std::vector<std::string> paths = {};  // mounts besides "/CHnn", e.g. "/Streaming/Channels/101"
    bool namedMount = true;               // false: only at paths
    StreamFaults faults = {};
    bool operator==(const ChannelConfig &) const = default;
};

// "CH01" for channel 1.
std::string channelName(int number);

// H.264 or H.265.
bool isNalCodec(ChannelConfig::Codec codec);

// config with half its width and height (down to its codec's step, at least 16): the size its
// resizeAfterFrames fault changes to.
ChannelConfig resizedConfig(const ChannelConfig &config);

// Why config cannot be streamed; nothing when it can.
std::optional<std::string> configProblem(const ChannelConfig &config);

// "mpeg4:640x480@30,audio", "h264:1280x720@30,bitrate=4000" or
// "jpeg:320x240@15,type=0,q=255,restart=4,path=/live/ch00_0": the keys are listed by usage() of the
// options. Nothing, and a one-line error, when the text is malformed or the channel cannot be
// streamed.
std::optional<ChannelConfig> parseChannelSpec(std::string_view spec, std::string &error);

}  // namespace camsim
