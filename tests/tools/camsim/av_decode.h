// Decoding the simulator's pictures with libavcodec, as a real receiver would.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tools/camsim/av_handles.h"

namespace kestrel_test {

struct AvDecoded {
    int width = 0, height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    std::string luma;  // width * height bytes, rows without padding
};

// Decodes the frames in order with a fresh decoder; the last picture, or nothing when any
// frame is refused, a picture is flagged damaged, or no picture comes out.
inline std::optional<AvDecoded> decodeFrames(AVCodecID id, const std::vector<std::string> &frames) {
    const AVCodec *codec = avcodec_find_decoder(id);
    camsim::CodecContextPtr context(avcodec_alloc_context3(codec));
    camsim::FramePtr frame(av_frame_alloc());
    camsim::PacketPtr packet(av_packet_alloc());
    if (!codec || !context || !frame || !packet) return std::nullopt;
    context->err_recognition = AV_EF_EXPLODE;  // a damaged picture fails instead of concealing
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return std::nullopt;
    std::optional<AvDecoded> last;
    for (const std::string &bytes : frames) {
        if (av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) return std::nullopt;
        std::copy(bytes.begin(), bytes.end(), packet->data);
        int sent = avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0) return std::nullopt;
        for (;;) {
            int r = avcodec_receive_frame(context.get(), frame.get());
            if (r == AVERROR(EAGAIN)) break;  // wants the next packet
            if (r < 0 || frame->decode_error_flags != 0) return std::nullopt;
            AvDecoded d{frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), {}};
            for (int row = 0; row < frame->height; ++row)
                d.luma.append(reinterpret_cast<const char *>(frame->data[0]) +
                                  static_cast<std::ptrdiff_t>(row) * frame->linesize[0],
                              static_cast<std::size_t>(frame->width));
            last = std::move(d);
            av_frame_unref(frame.get());
        }
    }
    return last;
}

}  // namespace kestrel_test
