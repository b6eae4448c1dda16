// Scripted faults of an RTSP channel: the ways a camera's stream goes wrong.
#pragma once

#include <cstdint>
#include <string>

namespace camsim {

// Every field has an initialiser; zero or false means the fault is off.
struct StreamFaults {
    int dropEveryNth = 0;           // video RTP packets N, 2N, ... are not sent; their sequence
                                    // numbers are used up, so the receiver sees gaps
    int stallAfterFrames = 0;       // after N video frames nothing more is sent, while the
                                    // connection stays open and requests are still answered
    int garbageAfterFrames = 0;     // after N video frames, once: bytes that are no interleaved
                                    // frame (over UDP a datagram that is no RTP packet)
    bool omitVideoControl = false;  // no "a=control:" in the video media of the SDP

    bool operator==(const StreamFaults &) const = default;
};

// Applies the faults while a session sends; owned by that session's thread.
class FaultPlan {
  public:
    explicit FaultPlan(const StreamFaults &faults) : faults_(faults) {}

    // Counts one video packet; true when it is to be dropped.
    bool dropNextVideoPacket() {
        ++videoPackets_;
        return faults_.dropEveryNth > 0 && videoPackets_ % faults_.dropEveryNth == 0;
    }

    bool stalled(uint64_t videoFramesSent) const {
        return faults_.stallAfterFrames > 0 &&
               videoFramesSent >= static_cast<uint64_t>(faults_.stallAfterFrames);
    }

    // True once, when the garbage is due.
    bool garbageDue(uint64_t videoFramesSent) {
        if (garbageSent_ || faults_.garbageAfterFrames <= 0 ||
            videoFramesSent < static_cast<uint64_t>(faults_.garbageAfterFrames))
            return false;
        garbageSent_ = true;
        return true;
    }

    // Neither '$' nor "RTSP" at its start, nor a '$' anywhere, nor RTP version 2 bits.
    static std::string garbage() { return std::string(8, '\x17') + "camsim garbage\r\n"; }

  private:
    StreamFaults faults_;
    uint64_t videoPackets_ = 0;
    bool garbageSent_ = false;
};

}  // namespace camsim
