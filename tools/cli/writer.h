// Writes received pictures so that ordinary players open them. Into a directory: MPEG-4, H.264
// and H.265 as one elementary stream (video.m4v, video.h264, video.h265: frames in order from
// the first key frame), Motion-JPEG as one numbered JPEG file per picture. Into a .mkv or .mp4
// file: see container_writer.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "ipcam.h"

namespace ipcam_cli {

enum class VideoCodec { Unknown, Jpeg, Mpeg4, H264, H265 };

// The codec of a StreamFormatBlock's videoCodec (IPCamVideoCodec).
VideoCodec codecFromFormat(int videoCodec);
// The codec a picture's first bytes show (FF D8 a JPEG, 00 00 01 MPEG-4 start codes); for a
// stream whose format block has not come yet.
VideoCodec sniffCodec(const unsigned char *data, std::size_t size);

// One received video frame as the writers take it.
struct Picture {
    VideoCodec codec;
    int kind;  // IPCAM_FRAME_KEY, _DEPENDENT or _DROPPABLE
    const unsigned char *data;
    std::size_t size;
    uint64_t time = 0;     // the frame's time, 100 ns units
    uint64_t arrival = 0;  // when it came, by the tool's steady clock in 100 ns units; 0 unknown
};

// What the record command writes to. Frames of a stream that needs a key frame are skipped
// until the first one; frames of another codec than the stream's first are skipped too.
class PictureWriter {
  public:
    virtual ~PictureWriter() = default;
    // Creates what the output needs; false (see error()) when it cannot be had.
    virtual bool open() = 0;
    virtual void noteFormat(const StreamFormatBlock &) {}
    // The stream restarted or its time went back (IPCAM_MSG_TIME_STEP).
    virtual void noteTimeStep() {}
    // False (see error()) when writing failed.
    virtual bool add(const Picture &picture) = 0;
    // Finishes the output; false when that failed.
    virtual bool close() = 0;

    std::size_t written() const { return written_; }  // pictures written
    std::size_t skipped() const { return skipped_; }  // pictures left out
    const std::string &error() const { return error_; }

  protected:
    std::size_t written_ = 0, skipped_ = 0;
    std::string error_;
};

// The libavformat muxer of a path ending in .mkv ("matroska") or .mp4 ("mp4"), the extension
// in any case; null for any other path, which names a directory.
const char *containerFormat(const std::string &path);

// Writes into a directory.
class Recorder final : public PictureWriter {
  public:
    explicit Recorder(std::string directory);

    bool open() override;  // creates the directory when missing
    bool add(const Picture &picture) override;
    bool close() override;

    std::string streamPath() const;  // DIR/video.m4v, .h264 or .h265 by the stream's codec
    std::string jpegPath(std::size_t n) const;  // DIR/000001.jpg for n = 1

  private:
    std::string directory_;
    std::ofstream stream_;
    bool started_ = false;  // the stream's first key frame was written
    VideoCodec streamCodec_ = VideoCodec::Mpeg4;
    std::size_t jpegs_ = 0;
};

}  // namespace ipcam_cli
