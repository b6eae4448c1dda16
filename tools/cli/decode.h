// Decoding the received pictures with libavcodec, and compressing one as a JPEG file.
#pragma once

#include <cstddef>
#include <string>

#include "tools/cli/media.h"
#include "tools/cli/writer.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace ipcam_cli {

class VideoDecoder final : public Decoder {
  public:
    // libavcodec's decoder of the codec; see ready().
    explicit VideoDecoder(VideoCodec codec);
    ~VideoDecoder() override;
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    bool ready() const override { return context_ != nullptr; }
    VideoCodec codec() const override { return codec_; }
    int decode(const unsigned char *data, std::size_t size) override;
    void expectDamage(bool on) override;
    const std::string &error() const override { return error_; }
    int width() const override;
    int height() const override;
    std::string jpeg(int quality) const override;

    // The last picture decoded; null before the first.
    const AVFrame *picture() const;

  private:
    VideoCodec codec_;
    AVCodecContext *context_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVFrame *last_ = nullptr;
    AVPacket *packet_ = nullptr;
    bool havePicture_ = false;
    bool damageExpected_ = false;
    std::string error_;
};

// libavcodec's id of the codec; AV_CODEC_ID_NONE for Unknown.
AVCodecID avCodecId(VideoCodec codec);

// libav's words for one of its error codes.
std::string avError(int code);

// The picture as a JPEG file (libjpeg, quality 0-100); empty when it cannot be converted.
std::string compressJpeg(const AVFrame *picture, int quality);

}  // namespace ipcam_cli
