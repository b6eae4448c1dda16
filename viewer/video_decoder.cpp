#include "viewer/video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <mutex>

namespace kestrel {

namespace {

AVCodecID codecId(VideoDecoder::Codec codec) {
    switch (codec) {
        case VideoDecoder::Codec::MotionJpeg:
            return AV_CODEC_ID_MJPEG;
        case VideoDecoder::Codec::H264:
            return AV_CODEC_ID_H264;
        case VideoDecoder::Codec::H265:
            return AV_CODEC_ID_HEVC;
        case VideoDecoder::Codec::Mpeg4:
            break;
    }
    return AV_CODEC_ID_MPEG4;
}

// The JPEG decoder names its full-range formats apart; swscale wants the plain format and the
// range said separately.
AVPixelFormat plainFormat(AVPixelFormat format, bool &fullRange) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
        default: return format;
    }
}

}  // namespace

VideoDecoder::VideoDecoder() {
    // Damaged pictures are counted by the pipeline; libav's own warnings would flood stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    try {
        open(Codec::Mpeg4);
    } catch (const DecoderError &) {
        // Stays closed; the video thread reopens it for the first stream format.
    }
}

VideoDecoder::~VideoDecoder() {
    close();
    sws_freeContext(scaler_);
}

void VideoDecoder::open(Codec codec) {
    close();
    codec_ = codec;
    const AVCodec *decoder = avcodec_find_decoder(codecId(codec));
    if (!decoder) throw DecoderError("Can not find MPEG4 codec");
    context_ = avcodec_alloc_context3(decoder);
    picture_ = av_frame_alloc();
    scratch_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (context_ && picture_ && scratch_ && packet_) {
#if FF_API_FLAG_TRUNCATED
        if (decoder->capabilities & AV_CODEC_CAP_TRUNCATED) context_->flags |= AV_CODEC_FLAG_TRUNCATED;
#endif
        if (avcodec_open2(context_, decoder, nullptr) >= 0) return;
    }
    close();
    throw DecoderError("Can not open MPEG4 codec");
}

void VideoDecoder::close() {
    avcodec_free_context(&context_);
    av_frame_free(&picture_);
    av_frame_free(&scratch_);
    av_packet_free(&packet_);
    havePicture_ = false;
}

void VideoDecoder::reopen(Codec codec) {
    close();
    open(codec);
}

VideoDecoder::Result VideoDecoder::decode(const uint8_t *payload, std::size_t length) {
    Result result;
    if (!context_ || !payload || length == 0 || length > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
        return result;
    // The decoder reads a little past the end of what it is given: a padded copy.
    if (av_new_packet(packet_, static_cast<int>(length)) < 0) return result;
    std::memcpy(packet_->data, payload, length);
    const int sent = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    if (sent == AVERROR(EAGAIN)) {
        // Pictures are waiting: take them, and the payload is to be sent again.
        while (avcodec_receive_frame(context_, scratch_) == 0) {
            av_frame_unref(picture_);
            av_frame_move_ref(picture_, scratch_);
            havePicture_ = result.picture = true;
        }
        return result;
    }
    // Anything else, damage included, used the payload up.
    result.consumed = true;
    while (avcodec_receive_frame(context_, scratch_) == 0) {
        av_frame_unref(picture_);
        av_frame_move_ref(picture_, scratch_);
        havePicture_ = result.picture = true;
    }
    return result;
}

bool VideoDecoder::convert(uint8_t *destination, int &width, int &height, PixelFormat format) {
    const int limitWidth = width, limitHeight = height;
    if (!havePicture_ || !picture_ || picture_->width <= 0 || picture_->height <= 0) {
        width = height = 0;
        return false;
    }
    width = picture_->width;
    height = picture_->height;
    if (!destination || width > limitWidth || height > limitHeight) return false;

    bool fullRange = picture_->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat source = plainFormat(static_cast<AVPixelFormat>(picture_->format), fullRange);
    const AVPixelFormat target = format == PixelFormat::Rgb565 ? AV_PIX_FMT_RGB565LE : AV_PIX_FMT_BGR24;
    scaler_ = sws_getCachedContext(scaler_, width, height, source, width, height, target,
                                   SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler_) return false;
    const int *coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(scaler_, coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    uint8_t *planes[4] = {destination, nullptr, nullptr, nullptr};
    const int strides[4] = {width * (format == PixelFormat::Rgb565 ? 2 : 3), 0, 0, 0};
    return sws_scale(scaler_, picture_->data, picture_->linesize, 0, height, planes, strides) ==
           height;
}

}  // namespace kestrel
