#include "tools/camsim/mpeg4_encoder.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr uint8_t kSequenceStart = 0xB0;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVop = 0xB6;
constexpr int kQuantiser = 4;  // fixed quality: the pattern's sharp edges stay readable

}  // namespace

Mpeg4Encoder::Mpeg4Encoder(int width, int height, int fps, int bitrateKbps)
    : encoder_(avcodec_find_encoder(AV_CODEC_ID_MPEG4), width, height, fps,
               [bitrateKbps](AVCodecContext &context) {
                   if (bitrateKbps > 0) {
                       context.bit_rate = int64_t{bitrateKbps} * 1000;
                       context.qmin = 1;
                   } else {
                       // And no global header: VOS/VOL before each key frame.
                       context.flags |= AV_CODEC_FLAG_QSCALE;
                       context.global_quality = FF_QP2LAMBDA * kQuantiser;
                   }
               }) {}

std::optional<Mpeg4Frame> Mpeg4Encoder::encode(const Picture &picture) {
    std::optional<AvPacket> packet = encoder_.encode(picture);
    if (!packet) return std::nullopt;
    if (packet->key) packet->data = withGroupOfVop(std::move(packet->data));
    return Mpeg4Frame{std::move(packet->data), packet->key};
}

std::size_t findStartCode(const std::string &data, uint8_t code, std::size_t from) {
    const char pattern[4] = {0, 0, 1, static_cast<char>(code)};
    return data.find(std::string_view(pattern, 4), from);
}

std::string decoderConfig(const std::string &keyFrame) {
    if (findStartCode(keyFrame, kSequenceStart) != 0) return {};
    std::size_t end = std::min(findStartCode(keyFrame, kGroupOfVop), findStartCode(keyFrame, kVop));
    return keyFrame.substr(0, end);
}

std::string withGroupOfVop(std::string keyFrame) {
    std::size_t vop = findStartCode(keyFrame, kVop);
    std::size_t gov = findStartCode(keyFrame, kGroupOfVop);
    if (vop == std::string::npos || (gov != std::string::npos && gov < vop)) return keyFrame;
    // Time code 00:00:00 with its marker bit, closed_gov 1, broken_link 0, then the
    // stuffing that ends on a byte boundary: 20 bits + "0111".
    keyFrame.insert(vop, std::string_view("\0\0\1\xB3\x00\x10\x27", 7));
    return keyFrame;
}

}  // namespace camsim
