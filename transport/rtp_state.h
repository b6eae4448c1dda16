// What a session keeps between RTP packets: the frame being assembled, the expected sequence
// number of every stream, the assemblers' scan positions, and what the RTSP connection
// carries besides media.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "platform/datagram_source.h"
#include "transport/frame_buffer.h"
#include "transport/h264_depacketizer.h"
#include "transport/h265_depacketizer.h"
#include "transport/nal_units.h"
#include "transport/rtcp_reception.h"
#include "transport/rtp_clock.h"
#include "transport/rtp_reorder.h"
#include "transport/rtp_udp_buffer.h"

namespace ipcam {

// The RTP streams of a session by role: video and audio. The video and audio threads both use
// it, hence the lock.
class RtpChannels {
  public:
    static constexpr uint8_t kVideo = 0, kAudio = 2;

    struct Record {
        uint8_t channel = 0;
        uint32_t ssrc = 0;  // as received
        uint16_t expected = 0;
        // Another source's latest packets in sequence, with none of the stream's between.
        uint32_t newcomer = 0;
        uint16_t newcomerNext = 0;
        unsigned newcomerRun = 0;
    };
    // Packets in sequence of another source, with none of the stream's own between, after
    // which that source takes the stream over.
    static constexpr unsigned kTakeoverRun = 3;

    // How a packet stands against its stream.
    enum class Arrival {
        InOrder,   // the expected packet, or a new stream's first
        Gap,       // packets before it are missing (or the stream jumped): counting resumes here
        Late,      // a copy or a straggler of one already counted past: drop it
        Foreign,   // another source than the stream's, refused when the caller keeps the source
        Takeover,  // another source kept coming in sequence while the stream's own was silent:
                   // the stream started over under a new SSRC (an encoder restart)
    };

    void clear();
    // Checks a packet against its stream and, unless it is late or foreign, expects the next
    // one. A packet of another SSRC starts the stream afresh (a gap) when adopt is set; else it
    // is foreign, unless it completes a takeover run: the stream then goes on with its source.
    Arrival advance(uint8_t stream, uint32_t ssrc, uint16_t sequence, bool adopt = true);
    // Forgets one stream: its next packet starts it.
    void forget(uint8_t stream);
    // The SSRC (as received) of a stream, 0 before its first packet.
    uint32_t ssrc(uint8_t stream);

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

// The RTP/JPEG fragments of the picture being collected.
struct JpegFragments {
    bool collecting = false;  // a first fragment came and nothing of the picture is missing
    uint32_t nextOffset = 0;  // where the next fragment's data must start
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

// The interleaved channels the SETUP replies assigned; -1 for a stream without one.
struct InterleavedChannels {
    int videoRtp = 0, videoRtcp = 1, audioRtp = 2, audioRtcp = 3;
};

// Interleaved blocks that arrived while a reply was awaited, kept for the reader. Bounded:
// what does not fit is dropped (the reader sees the gap in the numbering).
class PendingBlocks {
  public:
    static constexpr std::size_t kMaxBlocks = 256;
    static constexpr std::size_t kMaxBytes = 2 * 1024 * 1024;

    struct Block {
        uint8_t channel = 0;
        std::vector<uint8_t> bytes;
    };

    // Keeps a copy; false when the queue is full and the block was dropped.
    bool push(uint8_t channel, std::span<const uint8_t> bytes);
    // Moves the oldest block into out; false when none is waiting.
    bool pop(Block &out);
    bool empty() const { return blocks_.empty(); }
    std::size_t size() const { return blocks_.size(); }
    uint32_t dropped() const { return dropped_; }
    void clear();

  private:
    std::deque<Block> blocks_;
    std::size_t bytes_ = 0;
    uint32_t dropped_ = 0;
};

// Replies that came on the RTSP connection while media was read (keep-alive answers, late
// replies), and the server requests answered.
struct RtspReplyLog {
    int32_t lastStatus = 0;  // 0: none yet
    int32_t lastCseq = -1;   // -1: none, or the reply had no readable CSeq
    uint32_t replies = 0;
    std::string lastChallenge;  // the head of the latest 401 reply
    uint32_t serverRequests = 0;
};

// What the UDP video reader keeps between its calls (video thread).
struct UdpVideoState {
    uint64_t lastTakenMs = 0;  // when the stream's latest packet came (monotonic); 0: none yet
    uint32_t idleMs = 0;       // waited in silence since then
    RtpReorder reorder;
    // The latest packets of other sources, taken after all when one takes the stream over
    // (its run is the last of them).
    std::vector<std::vector<uint8_t>> newcomer;
    UdpBufferFit buffer;
    void reset() {
        lastTakenMs = 0;
        idleMs = 0;
        reorder.reset();
        newcomer.clear();
        buffer = {};
    }
};

// Whom the UDP sockets of the streams hear and answer; set by the handshake.
struct UdpPeers {
    DatagramPeer videoRtp, videoRtcp, audioRtp, audioRtcp;
    void clear() {
        for (DatagramPeer *p : {&videoRtp, &videoRtcp, &audioRtp, &audioRtcp}) p->set(0, 0);
    }
};

struct RtpState {
    static constexpr std::size_t kPacketBytes = 65'536;  // the largest datagram or block

    FrameBuffer frameBuffer;  // video thread
    RtpChannels channels;
    Mpeg4Scan mpeg4;                     // video thread
    JpegScan jpeg;                       // video thread
    JpegFragments jpegFragments;         // video thread
    std::vector<uint8_t> decoderConfig;  // video thread
    uint32_t largestFrame = 512;         // video thread

    // Filled by the RTSP handshake (video thread) for the readers.
    InterleavedChannels interleaved;
    // MPEG-4 configuration headers from the description (fmtp "config="); empty when it gave
    // none. Put in front of the first key picture of a stream that sends none itself.
    std::vector<uint8_t> sdpConfig;
    bool inBandConfig = false;  // the stream sent configuration headers (video thread)
    // MPEG-4 (video thread): the last video packet carried the marker bit; a picture was lost
    // since the last frame delivered.
    bool videoMarker = false, pictureLost = false;
    // H.264 and H.265: the depacketisers (configured from the description's fmtp by the
    // handshake) and the access units one packet completed (video thread).
    H264Depacketizer h264;
    H265Depacketizer h265;
    std::vector<AccessUnit> accessUnits;
    RtpClock videoClock;  // their frame times (video thread)

    PendingBlocks pending;      // video thread
    ReadAhead connectionAhead;  // the RTSP connection read ahead (video thread)
    RtspReplyLog replies;       // video thread
    RtcpAnswerState rtcp;       // locks itself
    uint64_t strayBytes = 0;    // passed over between interleaved units (video thread)
    UdpVideoState udp;          // video thread
    UdpPeers peers;
    bool udpLimitSaid = false;  // the system's UDP buffer limit was said (once a session)

    // Drops the frame being assembled, with the assemblers' place in it.
    void clearFrame() {
        frameBuffer.clear();
        mpeg4 = {};
        jpeg = {};
        jpegFragments = {};
    }
    // Forgets what belonged to the previous connection (streams, frame, channels, description
    // configuration, queued blocks, replies, report times); the session's own SSRC stays. The
    // session thread calls it before each connection attempt, before the handshake fills
    // interleaved and sdpConfig.
    void resetForConnection();

    PacketBuffer packet{kPacketBytes};       // video thread's
    PacketBuffer audioPacket{kPacketBytes};  // audio thread's
};

}  // namespace ipcam
