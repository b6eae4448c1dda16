// What the simulator's video encoders share: a libavcodec encoder opened for 4:2:0 pictures
// of one size, key frames every fps frames and no B-frames, fed a picture at a time and
// emptied of its packets in order. The codec files say only what differs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "tools/camsim/av_handles.h"
#include "tools/camsim/test_pattern.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace camsim {

// One packet of the encoder: a coded picture.
struct AvPacket {
    std::string data;
    bool key = false;
};

class AvEncoder {
  public:
    // tune sets what the codec needs beyond the common settings before the encoder opens;
    // options (taken and freed) go to the open.
    AvEncoder(const AVCodec *codec, int width, int height, int fps,
              const std::function<void(AVCodecContext &)> &tune, AVDictionary *options = nullptr);
    AvEncoder(const AvEncoder &) = delete;
    AvEncoder &operator=(const AvEncoder &) = delete;

    bool ok() const { return context_ != nullptr; }

    // Encodes picture (4:2:0, the size given). The next finished packet, or nothing while
    // the encoder holds it back or on failure.
    std::optional<AvPacket> encode(const Picture &picture);

  private:
    bool receivePackets();  // moves every finished packet into ready_

    CodecContextPtr context_;
    FramePtr frame_;
    PacketPtr packet_;
    int64_t pts_ = 0;
    std::deque<AvPacket> ready_;
};

}  // namespace camsim
