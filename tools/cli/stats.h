// What a stream delivered, counted per interval (for the once-a-second line) and in total.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ipcam_cli {

struct StreamFormat {
    bool known = false;
    int videoCodec = -1;  // 0 JPEG, 4 MPEG-4
    int width = 0, height = 0;  // as shown: mirrored sizes are given as negative by the device
    double frameRate = 0;
    int audioCodec = -1;
};

// "MPEG-4" for 4, "JPEG" for 0, "codec N" otherwise.
std::string codecName(int videoCodec);

class FrameStats {
  public:
    // One block the callback was handed: its kind and payload.
    void add(int kind, const unsigned char *payload, std::size_t size);
    void addDecoded() { ++interval_.decoded, ++total_.decoded; }
    void addDecodeError() { ++interval_.decodeErrors, ++total_.decodeErrors; }

    // The line for the interval just ended, seconds long; starts the next interval.
    std::string tick(double seconds);
    // The line for the whole run, seconds long.
    std::string summary(double seconds) const;

    const StreamFormat &format() const { return format_; }
    uint64_t videoFrames() const { return total_.key + total_.dependent + total_.droppable; }
    uint64_t decoded() const { return total_.decoded; }
    uint64_t decodeErrors() const { return total_.decodeErrors; }

  private:
    struct Counts {
        uint64_t key = 0, dependent = 0, droppable = 0, audio = 0;
        uint64_t bytes = 0;
        uint64_t events = 0, inputs = 0, timeSteps = 0, overlays = 0, losses = 0, other = 0;
        uint64_t decoded = 0, decodeErrors = 0;
    };

    Counts interval_, total_;
    StreamFormat format_;
    int lastEvent_ = -1;   // event code of the last event block
    int lastInputs_ = -1;  // input bits of the last input block
};

}  // namespace ipcam_cli
