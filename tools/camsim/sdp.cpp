#include "tools/camsim/sdp.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "tools/camsim/rtp_packetizer.h"

namespace camsim {

namespace {

std::string hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// "a=rtpmap:96 MP4V-ES/90000", the name in lower case when the faults say so.
std::string rtpmap(int payloadType, std::string name, const StreamFaults &faults) {
    if (faults.sdpLowerCase)
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return "a=rtpmap:" + std::to_string(payloadType) + " " + name + "/90000";
}

}  // namespace

uint8_t videoPayloadType(const ChannelConfig &config) {
    if (config.faults.videoPayloadType > 0)
        return static_cast<uint8_t>(config.faults.videoPayloadType);
    return config.codec == ChannelConfig::Codec::Jpeg ? kPayloadJpeg : kPayloadMpeg4;
}

std::string sessionDescription(const ChannelConfig &config, const MediaLoop &loop,
                               const DescriptionLayout &layout) {
    const StreamFaults &faults = config.faults;
    const int pt = videoPayloadType(config);
    std::vector<std::string> lines = {"v=0",
                                      "o=- 1 1 IN IP4 127.0.0.1",
                                      "s=camsim " + layout.name,
                                      "c=IN IP4 0.0.0.0",
                                      "t=0 0",
                                      "a=control:*",
                                      "m=video 0 RTP/AVP " + std::to_string(pt)};
    // A map of a format the media line does not offer, before the real one.
    if (faults.sdpExtraRtpmap) lines.push_back(rtpmap(pt == 97 ? 98 : 97, "H264", faults));
    if (config.codec == ChannelConfig::Codec::Mpeg4) {
        lines.push_back(rtpmap(pt, "MP4V-ES", faults));
        lines.push_back("a=fmtp:" + std::to_string(pt) +
                        " profile-level-id=" + std::to_string(loop.profileLevel()) +
                        ";config=" + hex(loop.decoderConfig()));
    } else {
        if (pt != kPayloadJpeg || faults.sdpLowerCase) lines.push_back(rtpmap(pt, "JPEG", faults));
        lines.push_back("a=framerate:" + std::to_string(config.fps));
    }
    if (!faults.omitVideoControl) lines.push_back("a=control:" + layout.videoControl);
    if (config.audio) {
        lines.push_back("m=audio 0 RTP/AVP " + std::to_string(kPayloadMpegAudio));
        lines.push_back(rtpmap(kPayloadMpegAudio, "MPA", faults));
        lines.push_back("a=control:" + layout.audioControl);
    }
    const std::string end =
        std::string(faults.sdpTrailingBlanks ? " \t" : "") + (faults.sdpLfOnly ? "\n" : "\r\n");
    std::string sdp;
    for (const std::string &line : lines) sdp += line + end;
    return sdp;
}

}  // namespace camsim
