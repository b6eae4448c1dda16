#include "tools/camsim/nal_encoder.h"

#include <cstring>

extern "C" {
#include <libavutil/dict.h>
}

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
        av_dict_set(&options, "x264-params", params.c_str(), 0);
    } else {
        av_dict_set(&options, "x265-params",
                    "log-level=error:scenecut=0:open-gop=0:repeat-headers=1:pools=1", 0);
    }
    return options;
}

}  // namespace

NalEncoder::NalEncoder(const NalEncoderSettings &s) {
    const AVCodec *codec =
        avcodec_find_encoder_by_name(s.codec == NalCodec::H264 ? "libx264" : "libx265");
    if (!codec) return;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) return;
    context->width = s.width;
    context->height = s.height;
    context->time_base = {1, s.fps};
    context->framerate = {s.fps, 1};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->gop_size = s.fps;
    context->max_b_frames = 0;
    context->thread_count = 1;
    if (s.bitrateKbps > 0) context->bit_rate = int64_t{s.bitrateKbps} * 1000;
    // No global header: the parameter sets go in band before every key frame.
    AVDictionary *options = encoderOptions(s);
    const int opened = avcodec_open2(context.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0) return;

    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = s.width;
    frame->height = s.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return;
    frame_ = std::move(frame);
    packet_ = std::move(packet);
    context_ = std::move(context);
}

std::optional<NalFrame> NalEncoder::encode(const Picture &picture) {
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

    int sent = avcodec_send_frame(context_.get(), frame_.get());
    if (sent == AVERROR(EAGAIN)) {
        if (!receivePackets()) return std::nullopt;
        sent = avcodec_send_frame(context_.get(), frame_.get());
    }
    if (sent < 0 || !receivePackets() || ready_.empty()) return std::nullopt;
    NalFrame next = std::move(ready_.front());
    ready_.pop_front();
    return next;
}

bool NalEncoder::receivePackets() {
    for (;;) {
        int r = avcodec_receive_packet(context_.get(), packet_.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return false;
        NalFrame frame;
        frame.units = splitAnnexB(std::string_view(reinterpret_cast<const char *>(packet_->data),
                                                   static_cast<std::size_t>(packet_->size)));
        frame.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet_.get());
        ready_.push_back(std::move(frame));
    }
}

std::vector<std::string> splitAnnexB(std::string_view stream) {
    // Where each start code's 00 00 01 begins.
    std::vector<std::size_t> codes;
    for (std::size_t at = stream.find(std::string_view("\0\0\1", 3)); at != std::string_view::npos;
         at = stream.find(std::string_view("\0\0\1", 3), at + 3))
        codes.push_back(at);
    std::vector<std::string> units;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::size_t begin = codes[i] + 3;
        std::size_t end = i + 1 < codes.size() ? codes[i + 1] : stream.size();
        // A unit never ends in a zero byte: those belong to the next start code.
        while (end > begin && stream[end - 1] == '\0') --end;
        if (end > begin) units.emplace_back(stream.substr(begin, end - begin));
    }
    return units;
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
