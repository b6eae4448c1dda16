#include "tools/camsim/av_encoder.h"

#include <cstring>

namespace camsim {

AvEncoder::AvEncoder(const AVCodec *codec, int width, int height, int fps,
                     const std::function<void(AVCodecContext &)> &tune, AVDictionary *options) {
    struct DictionaryFree {
        AVDictionary *&d;
        ~DictionaryFree() { av_dict_free(&d); }
    } freeOptions{options};
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
    tune(*context);
    if (avcodec_open2(context.get(), codec, &options) < 0) return;

    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return;
    frame_ = std::move(frame);
    packet_ = std::move(packet);
    context_ = std::move(context);
}

std::optional<AvPacket> AvEncoder::encode(const Picture &picture) {
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
    frame_->quality = context_->global_quality;  // a fixed quantiser's; 0 under rate control

    int sent = avcodec_send_frame(context_.get(), frame_.get());
    if (sent == AVERROR(EAGAIN)) {
        // The encoder wants its output taken first; then it accepts the picture.
        if (!receivePackets()) return std::nullopt;
        sent = avcodec_send_frame(context_.get(), frame_.get());
    }
    if (sent < 0 || !receivePackets() || ready_.empty()) return std::nullopt;
    AvPacket next = std::move(ready_.front());
    ready_.pop_front();
    return next;
}

bool AvEncoder::receivePackets() {
    for (;;) {
        int r = avcodec_receive_packet(context_.get(), packet_.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;  // needs more input
        if (r < 0) return false;
        ready_.push_back({std::string(reinterpret_cast<const char *>(packet_->data),
                                      static_cast<std::size_t>(packet_->size)),
                          (packet_->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(packet_.get());
    }
}

}  // namespace camsim
