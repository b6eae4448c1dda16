#include "tools/camsim/sdp.h"

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

}  // namespace

std::string sessionDescription(const ChannelConfig &config, const MediaLoop &loop,
                               std::string_view name) {
    const std::string pt =
        std::to_string(config.codec == ChannelConfig::Codec::Jpeg ? kPayloadJpeg : kPayloadMpeg4);
    std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=camsim " + std::string(name) +
                      "\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\n";
    sdp += "m=video 0 RTP/AVP " + pt + "\r\n";
    if (config.codec == ChannelConfig::Codec::Mpeg4) {
        sdp += "a=rtpmap:" + pt + " MP4V-ES/90000\r\n";
        sdp += "a=fmtp:" + pt + " profile-level-id=" + std::to_string(loop.profileLevel()) +
               ";config=" + hex(loop.decoderConfig()) + "\r\n";
    } else {
        sdp += "a=framerate:" + std::to_string(config.fps) + "\r\n";
    }
    if (!config.faults.omitVideoControl) sdp += "a=control:" + std::string(kVideoControl) + "\r\n";
    if (config.audio) {
        const std::string apt = std::to_string(kPayloadMpegAudio);
        sdp += "m=audio 0 RTP/AVP " + apt + "\r\na=rtpmap:" + apt +
               " MPA/90000\r\na=control:" + std::string(kAudioControl) + "\r\n";
    }
    return sdp;
}

}  // namespace camsim
