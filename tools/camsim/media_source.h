// The media a channel streams, as RTP payloads ready for a header.
//
// Loop mode (the default): each distinct set of media settings has one loop per process, two
// seconds of video and as much audio. A video frame is encoded the first time any session asks
// for it and kept, so only the first session of a channel pays for encoding and every other
// replays the payloads with its own sequence numbers and timestamps; one simulator feeds
// dozens of sessions. Live mode encodes each session's video frame by frame, the counter
// running on without repeating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/camsim/channel_config.h"

namespace camsim {

inline constexpr int kLoopSeconds = 2;

// One frame as RTP payloads; the marker goes on the last payload of a video frame.
struct MediaUnit {
    std::vector<std::string> payloads;
    bool key = false;
    int middleFragment = -1;  // H.264/H.265: a payload inside a fragmented NAL unit, which the
                              // fragmentLossEvery fault leaves out; -1 when there is none
};

// Turns frame numbers into encoded frames of one channel's video.
class FrameEncoder {
  public:
    virtual ~FrameEncoder() = default;
    // Frame n; an MPEG-4 encoder needs n to grow by one per call. Nothing on failure.
    virtual std::optional<MediaUnit> encode(uint64_t n) = 0;
    // MPEG-4: VOS through VOL of the first key frame, once it is encoded; else empty.
    virtual std::string decoderConfig() const { return {}; }
    // H.264: SPS and PPS, H.265: VPS, SPS and PPS, as the first key frame carried them (also
    // when the stream leaves them out); else empty.
    virtual std::vector<std::string> parameterSets() const { return {}; }
};

std::unique_ptr<FrameEncoder> makeFrameEncoder(const ChannelConfig &config);

class MediaLoop {
  public:
    // Encodes what the session description needs (the first MPEG-4, H.264 or H.265 frame)
    // and the audio.
    explicit MediaLoop(const ChannelConfig &config);
    MediaLoop(const MediaLoop &) = delete;
    MediaLoop &operator=(const MediaLoop &) = delete;

    bool ok() const { return ok_; }
    const std::string &decoderConfig() const { return decoderConfig_; }
    int profileLevel() const { return profileLevel_; }  // of the VOS, for the SDP
    const std::vector<std::string> &parameterSets() const { return parameterSets_; }
    std::size_t videoFrames() const { return frameCount_; }
    const std::vector<MediaUnit> &audio() const { return audio_; }  // MPEG audio frames

    // Frame n % videoFrames(), encoded on first use (on the caller's thread); nothing when
    // encoding failed. The frame stays valid and unchanged for the loop's life.
    const MediaUnit *video(uint64_t n);

  private:
    const std::size_t frameCount_;
    bool ok_ = false;
    std::string decoderConfig_;
    int profileLevel_ = 1;
    std::vector<std::string> parameterSets_;
    std::vector<MediaUnit> audio_;

    std::mutex lock_;
    std::deque<MediaUnit> video_;            // lock_; frames 0.. in order, never moved
    std::unique_ptr<FrameEncoder> encoder_;  // lock_; gone once the loop is complete
};

// The shared loop for config's media settings; nothing when an encoder cannot be had.
// Faults (but singleNalUnits, which shapes the payloads) and the live flag do not matter here.
std::shared_ptr<MediaLoop> mediaLoop(const ChannelConfig &config);

// A session's video, frame after frame.
class VideoSource {
  public:
    virtual ~VideoSource() = default;
    // Frame n since the session began to play; n grows by one per call. Nothing when no frame
    // is ready this time (an encoder failing).
    virtual const MediaUnit *frame(uint64_t n) = 0;
};

std::unique_ptr<VideoSource> makeVideoSource(const ChannelConfig &config,
                                             std::shared_ptr<MediaLoop> loop);

}  // namespace camsim
