// One RTSP session: its tracks, where their packets go, and the clock that paces them.
//
// A session lives on the connection that set it up and is driven by that connection's thread
// alone, which asks it between reads to send whatever is due.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/media_source.h"
#include "tools/camsim/rtsp_mounts.h"
#include "tools/camsim/stream_faults.h"
#include "tools/camsim/udp_pair.h"

namespace camsim {

using SteadyClock = std::chrono::steady_clock;

struct TrackTransport {
    bool tcp = true;
    int rtpChannel = 0, rtcpChannel = 1;             // TCP: interleaved channels
    uint16_t clientRtpPort = 0, clientRtcpPort = 0;  // UDP: where the client listens
    std::string udpProfile;                          // UDP: "RTP/AVP" or "RTP/AVP/UDP", as asked
    std::unique_ptr<UdpPair> udp;                    // UDP: our ports
};

class RtspSession {
  public:
    struct TrackStart {
        TrackKind kind;
        uint16_t sequence;  // of the first packet
        uint32_t rtpTime;   // of the first packet
    };

    RtspSession(std::string id, const Mount &mount, const ChannelConfig &config,
                std::shared_ptr<MediaLoop> loop, SteadyClock::time_point now);
    ~RtspSession();
    RtspSession(const RtspSession &) = delete;
    RtspSession &operator=(const RtspSession &) = delete;

    const std::string &id() const { return id_; }
    int channel() const { return mount_.channel; }
    const Mount &mount() const { return mount_; }
    const StreamFaults &faults() const { return config_.faults; }
    bool hasTrack(TrackKind kind) const;
    bool hasUdpTrack() const;

    // A request named the session: its time-out starts again.
    void touch(SteadyClock::time_point now) { lastRequest_ = now; }
    // The sessionTimeout fault: true once no request has named the session for that long.
    bool expired(SteadyClock::time_point now) const;
    SteadyClock::duration idleFor(SteadyClock::time_point now) const { return now - lastRequest_; }
    // The serverRequestSeconds fault: true when a request of the server's own is due now,
    // which then counts as sent.
    bool serverRequestDue(SteadyClock::time_point now);
    // The SSRC the track will use; its transport as set.
    uint32_t addTrack(TrackKind kind, TrackTransport transport);
    const TrackTransport *transport(TrackKind kind) const;
    std::vector<TrackStart> trackStarts() const;

    // Starts the clock; a second PLAY changes nothing.
    void play(SteadyClock::time_point now);
    bool playing() const { return playing_; }

    // When something is next due (media, a report, a request of ours); only meaningful while
    // playing.
    SteadyClock::time_point nextDue() const;

    // Sends every packet and report due by now: UDP directly, interleaved frames appended to
    // interleaved for the connection to write in one go.
    void sendDue(SteadyClock::time_point now, std::string &interleaved);

    // The shortRtcp fault: an 8-byte RTCP BYE on each interleaved track that sent something,
    // as the session ends.
    void sayGoodbye(std::string &interleaved);

    // Reads and drops what the client sent to our UDP ports; RTCP goes to rtcp first.
    void drainUdp(const std::function<void(std::string_view)> &rtcp);

  private:
    struct Track;

    Track *find(TrackKind kind) const;
    void sendUnit(Track &track, const MediaUnit &unit, std::string &interleaved);
    void sendReport(Track &track, SteadyClock::time_point now, std::string &interleaved);
    void sendGarbage(Track &track, std::string &interleaved);
    // The pauseSeconds fault: true while the session is to send nothing.
    bool pausing(SteadyClock::time_point now);
    const std::vector<std::string> &keyFrameFiller();
    void restartEncoder(Track &track);
    void deliver(Track &track, bool rtcp, const std::string &packet, std::string &interleaved);

    const std::string id_;
    const Mount mount_;
    const ChannelConfig config_;
    const std::shared_ptr<MediaLoop> loop_;
    std::unique_ptr<VideoSource> video_;
    std::vector<std::unique_ptr<Track>> tracks_;
    FaultPlan faults_;
    bool playing_ = false;
    uint64_t videoFramesSent_ = 0;
    std::optional<SteadyClock::time_point> pauseEnd_;  // once the pause has begun
    bool pauseOver_ = false;
    std::vector<std::string> filler_;  // keyFrameFiller(), made once
    SteadyClock::time_point lastRequest_, nextServerRequest_;
};

}  // namespace camsim
