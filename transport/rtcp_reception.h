// What our receiver reports say: the reception of each RTP stream (sequence numbers counted as
// RFC 3550 A.1 and A.3 count them, interarrival jitter as A.8 computes it) and the device's
// latest sender report.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "transport/rtcp_packet.h"

namespace ipcam {

class RtpReception {
  public:
    // A packet of the stream arrived at arrivalUs (monotonic microseconds); clockRate is that of
    // its timestamps. A packet of another SSRC starts the count afresh.
    void packet(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, uint64_t arrivalUs,
                uint32_t clockRate);
    // The device's sender report, arrived at arrivalUs.
    void senderReport(const RtcpSenderReport &report, uint64_t arrivalUs);
    // The block of a report sent at nowUs, nothing before the first packet. The fraction lost
    // counts from the previous report on.
    std::optional<ReportBlock> report(uint64_t nowUs);
    // The SSRC of the stream, 0 before its first packet.
    uint32_t ssrc() const { return started_ ? ssrc_ : 0; }

  private:
    // The numbering since the stream started, or since it jumped (A.1).
    struct Numbering {
        uint16_t maxSequence = 0;
        uint32_t cycles = 0;  // wraps of the sequence number, times 65536
        uint32_t base = 0;
        uint32_t badSequence = 0;  // a jump is believed when the packet after it follows it
        uint32_t received = 0, expectedPrior = 0, receivedPrior = 0;
    };
    static Numbering startAt(uint16_t sequence);
    // False for a packet far from the others that is not (yet) taken as the stream's new place.
    bool count(uint16_t sequence);

    bool started_ = false;
    uint32_t ssrc_ = 0;
    Numbering numbering_;
    bool timed_ = false;  // transit_ holds an earlier packet's
    uint32_t transit_ = 0;
    uint32_t jitter16_ = 0;  // the jitter times 16, as A.8 keeps it
    bool reported_ = false;  // a sender report came
    uint32_t lastReport_ = 0;
    uint64_t lastReportArrivalUs_ = 0;
};

// Our side of RTCP in a session: our SSRC, the reception of video and audio, the device's
// latest sender on each, and when our next report is due. The video thread and, over UDP, the
// audio thread use it, hence the lock.
class RtcpAnswerState {
  public:
    enum Stream : std::size_t { kVideo, kAudio, kStreams };

    uint32_t ownSsrc();  // chosen once per session, never 0
    // Forgets what belonged to the connection; our SSRC stays.
    void reset();

    void packet(Stream s, uint32_t ssrc, uint16_t sequence, uint32_t timestamp, uint64_t arrivalUs,
                uint32_t clockRate);
    void deviceReport(Stream s, const RtcpContents &contents, uint64_t arrivalUs);
    // True when the report of a stream is due at nowMs; then the next is due intervalMs later.
    // The first is due at once.
    bool due(Stream s, uint64_t nowMs, uint64_t intervalMs);
    std::optional<ReportBlock> report(Stream s, uint64_t nowUs);
    // Whom our report is about: the latest sender of the device's reports, else the stream's
    // SSRC; 0 when neither is known.
    uint32_t reportedSource(Stream s);

  private:
    struct PerStream {
        RtpReception reception;
        std::optional<uint32_t> sender;
        uint64_t nextReportMs = 0;  // monotonic; 0: the first is due
    };

    std::mutex lock_;
    uint32_t own_ = 0;             // lock_
    PerStream streams_[kStreams];  // lock_
};

}  // namespace ipcam
