// H.264 and H.265 pictures from libx264 and libx265, shaped as cameras send them: no
// B-frames, an IDR picture every fps frames with its parameter sets (VPS,) SPS and PPS in
// front, each access unit taken apart into its NAL units.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/av_encoder.h"

namespace camsim {

enum class NalCodec { H264, H265 };

// One access unit.
struct NalFrame {
    std::vector<std::string> units;  // NAL units in decoding order, without start codes
    bool key = false;
};

struct NalEncoderSettings {
    NalCodec codec = NalCodec::H264;
    int width = 640, height = 480;  // even
    int fps = 30;
    int bitrateKbps = 0;            // 0: the encoder's constant quality
    std::size_t maxSliceBytes = 0;  // H.264: slices end before this size; 0: one slice
    bool intraRefresh = false;      // H.264: recovery points instead of IDR pictures after the
                                    // first
};

class NalEncoder {
  public:
    explicit NalEncoder(const NalEncoderSettings &settings);
    NalEncoder(const NalEncoder &) = delete;
    NalEncoder &operator=(const NalEncoder &) = delete;

    bool ok() const { return encoder_.ok(); }

    // Encodes picture (4:2:0, the size given). The next finished access unit, or nothing
    // while the encoder holds it back or on failure.
    std::optional<NalFrame> encode(const Picture &picture);

  private:
    AvEncoder encoder_;
};

// The unit's nal_unit_type (H.264: 5 bits, H.265: 6 bits); -1 for an empty unit.
int nalType(NalCodec codec, std::string_view unit);

// SPS and PPS; for H.265 the VPS too.
bool isParameterSet(NalCodec codec, std::string_view unit);

}  // namespace camsim
