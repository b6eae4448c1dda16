// MPEG-4 part 2 simple profile pictures, shaped as cameras send them: every key frame starts
// with the visual object sequence and the video object layer header (00 00 01 B0 ... 20 ...),
// then a group-of-VOP header (B3) before the picture (B6). Receivers cut their decoder
// configuration from B0 up to B3, so the GOV must be there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/camsim/av_encoder.h"

namespace camsim {

struct Mpeg4Frame {
    std::string data;  // one video object plane, headers first on key frames
    bool key = false;
};

class Mpeg4Encoder {
  public:
    // Key frames every fps frames; no B-frames, so each picture gives its frame at once. A
    // fixed quantiser, or rate control to about bitrateKbps when that is not 0.
    Mpeg4Encoder(int width, int height, int fps, int bitrateKbps = 0);
    Mpeg4Encoder(const Mpeg4Encoder &) = delete;
    Mpeg4Encoder &operator=(const Mpeg4Encoder &) = delete;

    bool ok() const { return encoder_.ok(); }

    // Encodes picture (4:2:0, the size given above). The next finished frame, or nothing
    // while the encoder holds it back or on failure.
    std::optional<Mpeg4Frame> encode(const Picture &picture);

  private:
    AvEncoder encoder_;
};

// Where the first start code 00 00 01 <code> begins at or after from, or npos.
std::size_t findStartCode(const std::string &data, uint8_t code, std::size_t from = 0);

// The decoder configuration of a key frame: from its B0 up to its GOV (or VOP) start code;
// empty when the frame does not begin with B0.
std::string decoderConfig(const std::string &keyFrame);

// A key frame with a GOV put before its VOP when it has none.
std::string withGroupOfVop(std::string keyFrame);

}  // namespace camsim
