// What a session keeps between RTP packets: the frame being assembled, the expected sequence
// number of every stream, and the assemblers' scan positions.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "transport/frame_buffer.h"

namespace ipcam {

// The expected sequence numbers of the streams of a session (channel 0 video, 2 audio, 1 the
// device's RTCP). The video and audio threads both use it, hence the lock.
class RtpChannels {
  public:
    struct Record {
        uint8_t channel = 0;
        uint32_t ssrc = 0;  // as received
        uint16_t expected = 0;
    };

    void clear();
    // Checks a packet against its stream and expects the next one: true when it was the
    // expected packet (a new stream's first packet always is).
    bool advance(uint8_t channel, uint32_t ssrc, uint16_t sequence);
    // The record of a stream, created with ssrc when missing.
    Record record(uint8_t channel, uint32_t ssrc);

  private:
    std::mutex lock_;
    std::map<uint32_t, Record> records_;
};

// Where the MPEG-4 assembler stands in the frame it is cutting.
struct Mpeg4Scan {
    int state = 0;  // 0 before a frame, 2 configuration frame, 3 picture frame
    std::size_t position = 0;
    bool endsAtNext = false;  // a configuration frame has reached its picture
};

struct JpegScan {
    bool inPicture = false;
    std::size_t position = 0;
};

// A receive buffer of a fixed size, reserved on first use: a session that never reads RTP
// does not pay for it.
class PacketBuffer {
  public:
    explicit PacketBuffer(std::size_t size) : size_(size) {}
    // The whole buffer, reserved now if need be; empty when memory is short.
    std::span<uint8_t> get();
    bool reserved() const { return storage_ != nullptr; }

  private:
    std::size_t size_;
    std::unique_ptr<uint8_t[]> storage_;
};

struct RtpState {
    static constexpr std::size_t kPacketBytes = 65'536;

    FrameBuffer frameBuffer;  // video thread
    RtpChannels channels;
    Mpeg4Scan mpeg4;                                // video thread
    JpegScan jpeg;                                  // video thread
    uint64_t videoReportMs = 0, audioReportMs = 0;  // last keep-alive report (monotonic ms)
    std::vector<uint8_t> decoderConfig;             // video thread
    uint32_t largestFrame = 512;                    // video thread
    // Drops the frame being assembled, with the assemblers' place in it.
    void clearFrame() {
        frameBuffer.clear();
        mpeg4 = {};
        jpeg = {};
    }

    PacketBuffer packet{kPacketBytes};       // video thread's
    PacketBuffer audioPacket{kPacketBytes};  // audio thread's
};

}  // namespace ipcam
