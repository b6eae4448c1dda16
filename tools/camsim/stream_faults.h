// Scripted faults of an RTSP channel: the ways a camera's stream goes wrong, and the quirks
// of real servers that clients must live with.
#pragma once

#include <cstdint>
#include <random>
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
    int pauseSeconds = 0;           // after the first second of video, once: nothing at all for
                                    // N s (requests are still answered), then the pictures go
                                    // on where they stopped with the RTP clocks moved on by the
                                    // pause, as from a camera whose network was down
    int resizeAfterFrames = 0;      // after N video frames the pictures are half as wide and
                                    // high, from a key frame with its new configuration in band

    // Replies.
    bool oddHeaders = false;        // header names in lower case, odd blanks after the colon
    bool absoluteControls = false;  // a=control:rtsp://127.0.0.1:PORT/path/track
    bool queryInBase = false;       // a query mount's Content-Base keeps the query and the
                                    // controls join after it (Dahua)
    bool noContentBase = false;     // DESCRIBE without Content-Base: the request URL, query
                                    // and all, is the base
    bool noContentType = false;     // DESCRIBE without Content-Type

    // The description.
    bool sdpLfOnly = false;           // lines end in LF alone
    bool sdpTrailingBlanks = false;   // a blank and a tab before each line's end
    bool sdpLowerCase = false;        // encoding names in lower case ("mp4v-es/90000")
    bool sdpExtraRtpmap = false;      // an a=rtpmap of another payload type first in the video
    int videoPayloadType = 0;         // 96..127: that dynamic type; 0: 96, JPEG 26
    bool noSprop = false;             // H.264/H.265: no sprop- parameter sets in the fmtp, so a
                                      // receiver learns them from the stream alone
    bool spropTrailingComma = false;  // H.264: sprop-parameter-sets ends in a comma

    // Packets.
    int extensionEvery = 0;         // RTP packets 1, N+1, 2N+1, ... carry a header extension
    bool twoByteExtension = false;  // of the two-byte form (0x100x), else one-byte (0xBEDE)
    int paddingEvery = 0;           // RTP packets 1, N+1, ... end with 1-255 bytes of padding
    bool shortRtcp = false;         // interleaved: a 4-byte and an 8-byte empty receiver
                                    // report after every sender report, an 8-byte BYE at
                                    // TEARDOWN
    int interleavedBase = -1;       // >= 0: video on channels N, N+1, audio on N+2, N+3,
                                    // whatever the client asked for
    bool noMarker = false;          // no video packet has the marker bit, not even a frame's
                                    // last
    int fragmentLossEvery = 0;      // H.264/H.265: once N video frames have gone since the
                                    // last loss, the next fragmented one loses a fragment from
                                    // the middle of a unit (its sequence number is used up)
    bool singleNalUnits = false;    // H.264/H.265: every NAL unit in a packet of its own, however
                                    // large, with no aggregation or fragments (H.264 announces
                                    // packetization mode 0)
    int rtpClockPercent = 0;        // > 0: RTP timestamps (sender reports' too) run at N % of
                                    // the pace the pictures are sent at (102: 2 % fast)

    // The session.
    int serverRequestSeconds = 0;     // a request of the server's own every N s on the RTSP
                                      // connection, which the client must answer
    bool serverRequestSet = false;    // SET_PARAMETER instead of GET_PARAMETER
    bool rtpBeforePlayReply = false;  // the first RTP and RTCP go out before the PLAY reply
    int sessionTimeout = 0;           // > 0: "timeout=N", and the session ends when no request
                                      // names it for N s; 0: "timeout=60", never enforced
    int describeDelayMs = 0;          // DESCRIBE is answered only after this long, as by a
                                      // recorder that is busy or a camera that is waking up
    int paceMicros = 0;               // interleaved: every block in a send of its own, this
                                      // many microseconds apart, as packets come off a network

    // RTP over UDP, and the encoder.
    bool noServerPort = false;      // SETUP replies over UDP name no server_port
    bool rtpFromOtherPort = false;  // RTP goes out from another port than server_port names
    int swapEveryNth = 0;           // UDP: video packet N, 2N, ... goes out after the packet that
                                    // follows it in its frame (a frame's last is passed over)
    int newSsrcAfterFrames = 0;     // at the first key frame after N video frames the encoder
                                    // restarts: new SSRC, sequence numbers and timestamps
    int keyFramePadding = 0;        // H.264/H.265: every key frame ends in a filler-data unit
                                    // of N bytes, sent in the same burst as the picture

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

    // Counts one video frame; true when it is to lose a fragment. fragmented: the frame has
    // one to lose.
    bool loseFragment(bool fragmented) {
        if (faults_.fragmentLossEvery <= 0) return false;
        if (++sinceFragmentLost_ < static_cast<uint64_t>(faults_.fragmentLossEvery) || !fragmented)
            return false;
        sinceFragmentLost_ = 0;
        return true;
    }

    // Counts one video packet that has a successor in its frame; true when it is to go out
    // after that one.
    bool swapNextVideoPacket() {
        return faults_.swapEveryNth > 0 && ++swappable_ % faults_.swapEveryNth == 0;
    }

    // True once: the encoder restarts before this frame.
    bool encoderRestartDue(uint64_t videoFramesSent, bool key) {
        if (restarted_ || faults_.newSsrcAfterFrames <= 0 || !key ||
            videoFramesSent < static_cast<uint64_t>(faults_.newSsrcAfterFrames))
            return false;
        restarted_ = true;
        return true;
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

    // The header extension (profile, length, contents) the next RTP packet carries after its
    // fixed header, "" for none; and how many bytes of padding it ends with, 0 for none. Each
    // call counts one packet.
    std::string nextExtension();
    int nextPadding();

  private:
    StreamFaults faults_;
    uint64_t videoPackets_ = 0;
    uint64_t sinceFragmentLost_ = 0;
    bool garbageSent_ = false;
    uint64_t swappable_ = 0;
    bool restarted_ = false;
    uint64_t extended_ = 0, padded_ = 0;
    std::mt19937 random_{std::random_device{}()};
};

}  // namespace camsim
