// The pipeline's decoder: libavcodec's MPEG-4 part 2 or Motion-JPEG decoder and the one picture
// it last produced, converted on request into a caller's buffer.
//
// Not locked itself: every call is made under the pipeline's decoder lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace kestrel {

// The pixel formats of the conversion, numbered as the design's decoder build numbers them.
enum class PixelFormat { Bgr24 = 3, Rgb565 = 9 };

// Raised when a decoder cannot be found or opened: "Can not find MPEG4 codec",
// "Can not open MPEG4 codec".
class DecoderError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class VideoDecoder {
  public:
    enum class Codec { Mpeg4, MotionJpeg, H264, H265 };

    // Opens the MPEG-4 decoder.
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // Throws DecoderError; after a failure the decoder stays closed.
    void open(Codec codec);
    void close();
    void reopen(Codec codec);
    bool isOpen() const { return context_ != nullptr; }
    Codec codec() const { return codec_; }

    struct Result {
        bool consumed = false;  // false: the decoder took nothing and wants the payload again
        bool picture = false;   // a picture came out of this call
    };
    // One call with a payload. A closed decoder consumes nothing.
    Result decode(const uint8_t *payload, std::size_t length);

    // Converts the current picture into destination (tightly packed rows, top row first) when it
    // is no wider than width and no taller than height; width and height then hold the
    // picture's size (0 and 0 when none has been decoded). Returns true when it converted.
    bool convert(uint8_t *destination, int &width, int &height, PixelFormat format);

  private:
    AVCodecContext *context_ = nullptr;
    AVFrame *picture_ = nullptr;   // the latest picture
    AVFrame *scratch_ = nullptr;   // receives pictures before they become the latest
    AVPacket *packet_ = nullptr;
    SwsContext *scaler_ = nullptr;
    bool havePicture_ = false;
    Codec codec_ = Codec::Mpeg4;
};

}  // namespace kestrel
