#include "tools/camsim/mpeg4_encoder.h"

#include <algorithm>
#include <cstring>

namespace camsim {

namespace {

constexpr uint8_t kSequenceStart = 0xB0;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVop = 0xB6;
constexpr int kQuantiser = 4;  // fixed quality: the pattern's sharp edges stay readable

}  // namespace

Mpeg4Encoder::Mpeg4Encoder(int width, int height, int fps, int bitrateKbps) {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!codec) return;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) return;
    context->width = width;
    context->height = height;
    context->time_base = {1, fps};
    context->framerate = {fps, 1};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->gop_size = fps;
    context->max_b_frames = 0;
    context->thread_count = 1;
    if (bitrateKbps > 0) {
        context->bit_rate = int64_t{bitrateKbps} * 1000;
        context->qmin = 1;
    } else {
        context->flags |= AV_CODEC_FLAG_QSCALE;  // and no global header: VOS/VOL before each key
        context->global_quality = FF_QP2LAMBDA * kQuantiser;
    }
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return;

    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return;
    frame_ = std::move(frame);
    packet_ = std::move(packet);
    context_ = std::move(context);
}

std::optional<Mpeg4Frame> Mpeg4Encoder::encode(const Picture &picture) {
    if (!ok() || picture.width != context_->width || picture.height != context_->height ||
        picture.chroma != Chroma::Yuv420)
        return std::nullopt;
    if (av_frame_make_writable(frame_.get()) < 0) return std::nullopt;
    const uint8_t *planes[3] = {picture.y.data(), picture.cb.data(), picture.cr.data()};
    const int widths[3] = {picture.width, picture.chromaWidth(), picture.chromaWidth()};
    const int heights[3] = {picture.height, picture.chromaHeight(), picture.chromaHeight()};
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < heights[c]; ++row)
            std::memcpy(frame_->data[c] + static_cast<std::ptrdiff_t>(row) * frame_->linesize[c],
                        planes[c] + static_cast<std::size_t>(row) * widths[c], widths[c]);
    frame_->pts = pts_++;
    frame_->quality = context_->global_quality;  // 0 under rate control

    int sent = avcodec_send_frame(context_.get(), frame_.get());
    if (sent == AVERROR(EAGAIN)) {
        // The encoder wants its output taken first; then it accepts the picture.
        if (!receivePackets()) return std::nullopt;
        sent = avcodec_send_frame(context_.get(), frame_.get());
    }
    if (sent < 0 || !receivePackets() || ready_.empty()) return std::nullopt;
    Mpeg4Frame next = std::move(ready_.front());
    ready_.pop_front();
    return next;
}

bool Mpeg4Encoder::receivePackets() {
    for (;;) {
        int r = avcodec_receive_packet(context_.get(), packet_.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;  // needs more input
        if (r < 0) return false;
        Mpeg4Frame frame;
        frame.data.assign(reinterpret_cast<const char *>(packet_->data),
                          static_cast<std::size_t>(packet_->size));
        frame.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet_.get());
        if (frame.key) frame.data = withGroupOfVop(std::move(frame.data));
        ready_.push_back(std::move(frame));
    }
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
