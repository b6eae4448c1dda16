// Writes received pictures so that ordinary players open them: MPEG-4, H.264 and H.265 as one
// elementary stream (video.m4v, video.h264, video.h265: frames in order from the first key
// frame), Motion-JPEG as one numbered JPEG file per picture.
#pragma once

#include <cstddef>
#include <fstream>
#include <string>

namespace ipcam_cli {

enum class VideoCodec { Unknown, Jpeg, Mpeg4, H264, H265 };

// The codec of a StreamFormatBlock's videoCodec (IPCamVideoCodec).
VideoCodec codecFromFormat(int videoCodec);
// The codec a picture's first bytes show (FF D8 a JPEG, 00 00 01 MPEG-4 start codes); for a
// stream whose format block has not come yet.
VideoCodec sniffCodec(const unsigned char *data, std::size_t size);

class Recorder {
  public:
    explicit Recorder(std::string directory);

    // Creates the directory; false (see error()) when it cannot be had.
    bool open();
    // One video frame of kind 2, 3 or 4. Stream frames before the first key frame, and those
    // of another codec than the stream's first, are skipped. False (see error()) when writing
    // failed.
    bool add(VideoCodec codec, int kind, const unsigned char *data, std::size_t size);
    // Flushes and closes the stream file; false when that failed.
    bool close();

    std::size_t written() const { return written_; }  // pictures written
    std::size_t skipped() const { return skipped_; }  // pictures left out
    const std::string &error() const { return error_; }
    std::string streamPath() const;  // DIR/video.m4v, .h264 or .h265 by the stream's codec
    std::string jpegPath(std::size_t n) const;  // DIR/000001.jpg for n = 1

  private:
    std::string directory_;
    std::ofstream stream_;
    bool started_ = false;  // the stream's first key frame was written
    VideoCodec streamCodec_ = VideoCodec::Mpeg4;
    std::size_t jpegs_ = 0;
    std::size_t written_ = 0, skipped_ = 0;
    std::string error_;
};

}  // namespace ipcam_cli
