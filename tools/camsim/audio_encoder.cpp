#include "tools/camsim/audio_encoder.h"

#include <cmath>

#include "tools/camsim/av_handles.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace camsim {

namespace {

constexpr int kBitRate = 64000;
constexpr double kToneHz = 1000;

CodecContextPtr openEncoder() {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MP2);
    if (!codec) return nullptr;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return nullptr;
    context->sample_fmt = AV_SAMPLE_FMT_S16;
    context->sample_rate = kAudioSampleRate;
    context->bit_rate = kBitRate;
    av_channel_layout_default(&context->ch_layout, 1);
    if (avcodec_open2(context.get(), codec, nullptr) < 0 ||
        context->frame_size != kAudioFrameSamples)
        return nullptr;
    return context;
}

// Takes every finished packet; false on an encoder error.
bool receive(AVCodecContext *context, AVPacket *packet, std::vector<std::string> &out) {
    for (;;) {
        int r = avcodec_receive_packet(context, packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return false;
        out.emplace_back(reinterpret_cast<const char *>(packet->data),
                         static_cast<std::size_t>(packet->size));
        av_packet_unref(packet);
    }
}

}  // namespace

std::vector<std::string> encodeToneFrames(int n) {
    CodecContextPtr context = openEncoder();
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) return {};
    frame->format = context->sample_fmt;
    frame->nb_samples = kAudioFrameSamples;
    frame->sample_rate = kAudioSampleRate;
    if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0)
        return {};

    // The first frames carry the filter bank's warm-up; a loop starting there would click
    // each time round, so n more are encoded first and dropped.
    std::vector<std::string> frames;
    for (int i = 0; i < 2 * n; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) return {};
        auto *samples = reinterpret_cast<int16_t *>(frame->data[0]);
        for (int s = 0; s < kAudioFrameSamples; ++s)
            samples[s] =
                static_cast<int16_t>(8000 * std::sin(2 * M_PI * kToneHz * s / kAudioSampleRate));
        frame->pts = static_cast<int64_t>(i) * kAudioFrameSamples;
        int sent = avcodec_send_frame(context.get(), frame.get());
        if (sent == AVERROR(EAGAIN)) {
            if (!receive(context.get(), packet.get(), frames)) return {};
            sent = avcodec_send_frame(context.get(), frame.get());
        }
        if (sent < 0 || !receive(context.get(), packet.get(), frames)) return {};
    }
    if (avcodec_send_frame(context.get(), nullptr) < 0 ||
        !receive(context.get(), packet.get(), frames) || static_cast<int>(frames.size()) < n)
        return {};
    return {frames.end() - n, frames.end()};
}

}  // namespace camsim
