#include "tools/camsim/sdp.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "tools/camsim/base64.h"
#include "tools/camsim/nal_encoder.h"
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

// The parameter set of the given type, base64-coded; "" when the loop has none.
std::string sprop(const MediaLoop &loop, NalCodec codec, int type) {
    for (const std::string &unit : loop.parameterSets())
        if (nalType(codec, unit) == type) return encodeBase64(unit);
    return {};
}

// "packetization-mode=1;profile-level-id=42C01E;sprop-parameter-sets=Z0LAHt...,aM4yyA=="
std::string h264Format(const MediaLoop &loop, const StreamFaults &faults) {
    constexpr int kSps = 7, kPps = 8;
    std::string format = faults.singleNalUnits ? "packetization-mode=0" : "packetization-mode=1";
    for (const std::string &unit : loop.parameterSets())
        if (nalType(NalCodec::H264, unit) == kSps && unit.size() >= 4)
            format += ";profile-level-id=" + hex(std::string_view(unit).substr(1, 3));
    if (!faults.noSprop)
        format += ";sprop-parameter-sets=" + sprop(loop, NalCodec::H264, kSps) + "," +
                  sprop(loop, NalCodec::H264, kPps) + (faults.spropTrailingComma ? "," : "");
    return format;
}

// "sprop-vps=...;sprop-sps=...;sprop-pps=...", or "" when the stream alone carries them.
std::string h265Format(const MediaLoop &loop, const StreamFaults &faults) {
    constexpr int kVps = 32, kSps = 33, kPps = 34;
    if (faults.noSprop) return {};
    return "sprop-vps=" + sprop(loop, NalCodec::H265, kVps) +
           ";sprop-sps=" + sprop(loop, NalCodec::H265, kSps) +
           ";sprop-pps=" + sprop(loop, NalCodec::H265, kPps);
}

}  // namespace

uint8_t videoPayloadType(const ChannelConfig &config) {
    if (config.faults.videoPayloadType > 0)
        return static_cast<uint8_t>(config.faults.videoPayloadType);
    return config.codec == ChannelConfig::Codec::Jpeg ? kPayloadJpeg : kPayloadDynamic;
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
    } else if (isNalCodec(config.codec)) {
        const bool h264 = config.codec == ChannelConfig::Codec::H264;
        lines.push_back(rtpmap(pt, h264 ? "H264" : "H265", faults));
        const std::string format = h264 ? h264Format(loop, faults) : h265Format(loop, faults);
        if (!format.empty()) lines.push_back("a=fmtp:" + std::to_string(pt) + " " + format);
        lines.push_back("a=framerate:" + std::to_string(config.fps));
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
