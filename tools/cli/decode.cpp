#include "tools/cli/decode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace ipcam_cli {

AVCodecID avCodecId(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::Jpeg: return AV_CODEC_ID_MJPEG;
    case VideoCodec::Mpeg4: return AV_CODEC_ID_MPEG4;
    case VideoCodec::H264: return AV_CODEC_ID_H264;
    case VideoCodec::H265: return AV_CODEC_ID_HEVC;
    default: return AV_CODEC_ID_NONE;
    }
}

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

VideoDecoder::VideoDecoder(VideoCodec codec) : codec_(codec) {
    const AVCodecID id = avCodecId(codec);
    const AVCodec *decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (!decoder) {
        error_ = "no decoder for this codec";
        return;
    }
    context_ = avcodec_alloc_context3(decoder);
    frame_ = av_frame_alloc();
    last_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!context_ || !frame_ || !last_ || !packet_) {
        error_ = "out of memory";
        avcodec_free_context(&context_);
        return;
    }
    // Damage is reported rather than concealed, so the counts say what arrived; expectDamage()
    // relaxes that after a loss.
    context_->err_recognition = AV_EF_EXPLODE;
    if (int r = avcodec_open2(context_, decoder, nullptr); r < 0) {
        error_ = avError(r);
        avcodec_free_context(&context_);
    }
}

VideoDecoder::~VideoDecoder() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_frame_free(&last_);
    av_packet_free(&packet_);
}

int VideoDecoder::decode(const unsigned char *data, std::size_t size) {
    if (!context_) return -1;
    if (av_new_packet(packet_, static_cast<int>(size)) < 0) {
        error_ = "out of memory";
        return -1;
    }
    std::copy(data, data + size, packet_->data);
    const int sent = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    if (sent < 0) {
        error_ = avError(sent);
        return -1;
    }
    int pictures = 0;
    for (;;) {
        const int r = avcodec_receive_frame(context_, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            error_ = avError(r);
            return -1;
        }
        if (frame_->decode_error_flags && !damageExpected_) {
            error_ = "damaged picture";
            av_frame_unref(frame_);
            return -1;
        }
        av_frame_unref(last_);
        av_frame_move_ref(last_, frame_);
        havePicture_ = true;
        ++pictures;
    }
    return pictures;
}

void VideoDecoder::expectDamage(bool on) {
    damageExpected_ = on;
    if (context_) context_->err_recognition = on ? 0 : AV_EF_EXPLODE;
}

const AVFrame *VideoDecoder::picture() const { return havePicture_ ? last_ : nullptr; }
int VideoDecoder::width() const { return havePicture_ ? last_->width : 0; }
int VideoDecoder::height() const { return havePicture_ ? last_->height : 0; }
std::string VideoDecoder::jpeg(int quality) const { return compressJpeg(picture(), quality); }

std::string compressJpeg(const AVFrame *picture, int quality) {
    if (!picture || picture->width <= 0 || picture->height <= 0) return {};
    const int w = picture->width, h = picture->height;
    // The JPEG decoder's full-range formats are named apart; swscale wants the plain format
    // and the range said separately.
    auto format = static_cast<AVPixelFormat>(picture->format);
    bool fullRange = picture->color_range == AVCOL_RANGE_JPEG;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: format = AV_PIX_FMT_YUV420P, fullRange = true; break;
    case AV_PIX_FMT_YUVJ422P: format = AV_PIX_FMT_YUV422P, fullRange = true; break;
    case AV_PIX_FMT_YUVJ444P: format = AV_PIX_FMT_YUV444P, fullRange = true; break;
    default: break;
    }
    SwsContext *sws = sws_getContext(w, h, format, w, h, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr,
                                     nullptr, nullptr);
    if (!sws) return {};
    const int *coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(sws, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16,
                             1 << 16);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
    uint8_t *planes[1] = {rgb.data()};
    const int strides[1] = {w * 3};
    const int rows = sws_scale(sws, picture->data, picture->linesize, 0, h, planes, strides);
    sws_freeContext(sws);
    if (rows != h) return {};

    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = rgb.data() + static_cast<std::size_t>(cinfo.next_scanline) * w * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<char *>(buffer), size);
    std::free(buffer);
    return out;
}

}  // namespace ipcam_cli
