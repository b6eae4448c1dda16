// Writes received video into a Matroska (.mkv) or MP4 (.mp4) file with libavformat, as it came:
// nothing is encoded again. The stream starts at its first key frame, whose parameter sets
// (H.264, H.265) or headers (MPEG-4) become the codec's configuration; each picture is stamped
// with its frame's time, counted from the first, and lasts until the next one. Where the
// stream restarted or its clock went back, the time that passed meanwhile by the tool's own
// clock stays in the file as a gap, so that every picture keeps its place in real time from
// the file's creation time.
//
// An MP4 file is fragmented, a fragment from each key frame on, and written out as each ends:
// a recording cut short by a crash or a kill keeps everything up to its last whole fragment.
// Its H.264 and H.265 are avc3 and hev1, whose key frames carry their parameter sets in band,
// so that a change of the picture's size is read from the pictures themselves.
#pragma once

#include <cstdint>
#include <string>

#include "tools/cli/writer.h"

struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace ipcam_cli {

class ContainerWriter final : public PictureWriter {
  public:
    explicit ContainerWriter(std::string path);
    ~ContainerWriter() override;
    ContainerWriter(const ContainerWriter &) = delete;
    ContainerWriter &operator=(const ContainerWriter &) = delete;

    // Finds out whether the file can be written, so that a path that cannot is said before
    // the stream runs. The file is written from the first key frame on: a recording that
    // never got one leaves no file behind (and one that was there untouched).
    bool open() override;
    void noteFormat(const StreamFormatBlock &format) override;
    void noteTimeStep() override { stepped_ = true; }
    bool add(const Picture &picture) override;
    // Writes the last picture and the file's index.
    bool close() override;

  private:
    bool start(const Picture &key);
    int64_t stamp(const Picture &picture);  // the picture's time in 1/90000 s from the first
    bool writePending(int64_t duration);
    bool fail(const std::string &what, int code);

    std::string path_;
    AVFormatContext *context_ = nullptr;
    AVStream *stream_ = nullptr;
    AVPacket *pending_ = nullptr;  // the last picture, written once its length is known
    bool started_ = false;         // the header was written
    VideoCodec codec_ = VideoCodec::Unknown;
    int width_ = 0, height_ = 0;
    double frameRate_ = 0;
    bool stepped_ = false;   // the next picture's time starts afresh
    uint64_t baseTime_ = 0;  // a frame time, and the stamp it has
    int64_t baseStamp_ = 0;
    int64_t lastStamp_ = -1;
    uint64_t lastArrival_ = 0;
    int64_t lastDuration_ = 0;
    int64_t lastWritten_ = -1;  // the last time written, in the file's own unit
};

}  // namespace ipcam_cli
