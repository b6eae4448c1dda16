#include "tools/camsim/nal_encoder.h"

#include "transport/nal_units.h"

namespace camsim {

namespace {

constexpr int kH264Sps = 7, kH264Pps = 8;
constexpr int kH265Vps = 32, kH265Sps = 33, kH265Pps = 34;

// Scene cuts off: key frames come every fps frames and nowhere else. x265 also closes its
// groups of pictures, so that every key frame is an IDR picture as with x264.
AVDictionary *encoderOptions(const NalEncoderSettings &s) {
    AVDictionary *options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    if (s.codec == NalCodec::H264) {
        std::string params = "scenecut=0:log=0";  // errors only, no statistics at the end
        if (s.maxSliceBytes > 0) params += ":slice-max-size=" + std::to_string(s.maxSliceBytes);
        // A column of intra blocks crosses the picture in each key interval, and x264 marks
        // where each crossing begins with a recovery point SEI (and the parameter sets).
        if (s.intraRefresh) params += ":intra-refresh=1";
        av_dict_set(&options, "x264-params", params.c_str(), 0);
    } else {
        av_dict_set(&options, "x265-params",
                    "log-level=error:scenecut=0:open-gop=0:repeat-headers=1:pools=1", 0);
    }
    return options;
}

}  // namespace

NalEncoder::NalEncoder(const NalEncoderSettings &s)
    : encoder_(avcodec_find_encoder_by_name(s.codec == NalCodec::H264 ? "libx264" : "libx265"),
               s.width, s.height, s.fps,
               [&s](AVCodecContext &context) {
                   if (s.bitrateKbps > 0) context.bit_rate = int64_t{s.bitrateKbps} * 1000;
               },
               encoderOptions(s)) {}  // no global header: the sets go in band before every key

std::optional<NalFrame> NalEncoder::encode(const Picture &picture) {
    std::optional<AvPacket> packet = encoder_.encode(picture);
    if (!packet) return std::nullopt;
    NalFrame frame{{}, packet->key};
    for (std::string_view unit : ipcam::splitAnnexB(packet->data)) frame.units.emplace_back(unit);
    return frame;
}

int nalType(NalCodec codec, std::string_view unit) {
    if (unit.empty()) return -1;
    const auto first = static_cast<uint8_t>(unit[0]);
    return codec == NalCodec::H264 ? first & 0x1F : (first >> 1) & 0x3F;
}

bool isParameterSet(NalCodec codec, std::string_view unit) {
    const int type = nalType(codec, unit);
    if (codec == NalCodec::H264) return type == kH264Sps || type == kH264Pps;
    return type == kH265Vps || type == kH265Sps || type == kH265Pps;
}

}  // namespace camsim
