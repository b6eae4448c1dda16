#include "tools/camsim/rtsp_session.h"

#include <algorithm>
#include <random>
#include <utility>

#include "tools/camsim/audio_encoder.h"
#include "tools/camsim/nal_packetizer.h"
#include "tools/camsim/rtcp_report.h"
#include "tools/camsim/rtp_packetizer.h"
#include "tools/camsim/sdp.h"

namespace camsim {

namespace {

using std::chrono::nanoseconds;
constexpr auto kReportPeriod = std::chrono::seconds(1);
constexpr auto kMaxLag = std::chrono::seconds(1);
constexpr const char *kCname = "camsim@127.0.0.1";

uint32_t randomWord() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<uint32_t>(generator());
}

}  // namespace

struct RtspSession::Track {
    TrackKind kind;
    TrackTransport transport;
    uint8_t payloadType;
    uint64_t ticksPerUnitNum, ticksPerUnitDen;  // 90 kHz ticks per frame, as a fraction
    uint64_t clockPercent = 100;                // the RTP clock's pace (the rtpClockPercent fault)
    uint32_t ssrc = randomWord();
    uint16_t sequence = static_cast<uint16_t>(randomWord());
    uint32_t rtpBase = randomWord();
    uint64_t next = 0;  // frames sent or passed over
    SteadyClock::time_point start, nextReport;
    SenderStats stats;

    uint64_t ticks(uint64_t n) const { return n * ticksPerUnitNum / ticksPerUnitDen; }
    SteadyClock::time_point due(uint64_t n) const {
        return start + nanoseconds(ticks(n) * 100000 / 9);  // a tick is 100000/9 ns
    }
    // The RTP timestamp of frame n.
    uint32_t stamp(uint64_t n) const {
        return rtpBase + static_cast<uint32_t>(ticks(n) * clockPercent / 100);
    }
    uint32_t rtpTimeAt(SteadyClock::time_point now) const {
        auto elapsed = std::chrono::duration_cast<nanoseconds>(now - start).count();
        const auto ticks = static_cast<uint64_t>(std::max<int64_t>(0, elapsed)) * 9 / 100000;
        return rtpBase + static_cast<uint32_t>(ticks * clockPercent / 100);
    }
};

RtspSession::RtspSession(std::string id, const Mount &mount, const ChannelConfig &config,
                         std::shared_ptr<MediaLoop> loop, SteadyClock::time_point now)
    : id_(std::move(id)),
      mount_(mount),
      config_(config),
      loop_(std::move(loop)),
      faults_(config.faults),
      lastRequest_(now),
      nextServerRequest_(now + std::chrono::seconds(config.faults.serverRequestSeconds)) {}

RtspSession::~RtspSession() = default;

RtspSession::Track *RtspSession::find(TrackKind kind) const {
    for (const auto &t : tracks_)
        if (t->kind == kind) return t.get();
    return nullptr;
}

bool RtspSession::hasTrack(TrackKind kind) const {
    return find(kind) != nullptr;
}

bool RtspSession::hasUdpTrack() const {
    return std::any_of(tracks_.begin(), tracks_.end(),
                       [](const auto &t) { return !t->transport.tcp; });
}

bool RtspSession::expired(SteadyClock::time_point now) const {
    const int timeout = config_.faults.sessionTimeout;
    return timeout > 0 && now - lastRequest_ >= std::chrono::seconds(timeout);
}

bool RtspSession::serverRequestDue(SteadyClock::time_point now) {
    const int every = config_.faults.serverRequestSeconds;
    if (every <= 0 || !playing_ || now < nextServerRequest_) return false;
    nextServerRequest_ = now + std::chrono::seconds(every);
    return true;
}

const TrackTransport *RtspSession::transport(TrackKind kind) const {
    Track *t = find(kind);
    return t ? &t->transport : nullptr;
}

uint32_t RtspSession::addTrack(TrackKind kind, TrackTransport transport) {
    auto track = std::make_unique<Track>();
    track->kind = kind;
    track->transport = std::move(transport);
    if (kind == TrackKind::Video) {
        track->payloadType = videoPayloadType(config_);
        track->ticksPerUnitNum = kRtpClock;
        track->ticksPerUnitDen = static_cast<uint64_t>(config_.fps);
        video_ = makeVideoSource(config_, loop_);
    } else {
        track->payloadType = kPayloadMpegAudio;
        track->ticksPerUnitNum = uint64_t{kRtpClock} * kAudioFrameSamples;
        track->ticksPerUnitDen = kAudioSampleRate;
    }
    if (config_.faults.rtpClockPercent > 0)
        track->clockPercent = static_cast<uint64_t>(config_.faults.rtpClockPercent);
    track->stats.ssrc = track->ssrc;
    const uint32_t ssrc = track->ssrc;
    // Video first, so that when both are due the picture goes out before its sound.
    tracks_.insert(kind == TrackKind::Video ? tracks_.begin() : tracks_.end(), std::move(track));
    return ssrc;
}

std::vector<RtspSession::TrackStart> RtspSession::trackStarts() const {
    std::vector<TrackStart> starts;
    for (const auto &t : tracks_) starts.push_back({t->kind, t->sequence, t->stamp(t->next)});
    return starts;
}

void RtspSession::play(SteadyClock::time_point now) {
    if (playing_) return;
    playing_ = true;
    nextServerRequest_ = now + std::chrono::seconds(config_.faults.serverRequestSeconds);
    for (auto &t : tracks_) {
        t->start = now;
        t->nextReport = now;
    }
}

SteadyClock::time_point RtspSession::nextDue() const {
    auto due = SteadyClock::time_point::max();
    if (faults_.stalled(videoFramesSent_)) return due;
    if (pauseEnd_ && !pauseOver_) return *pauseEnd_;
    for (const auto &t : tracks_) {
        due = std::min(due, t->due(t->next));
        if (t->stats.packets > 0) due = std::min(due, t->nextReport);
    }
    if (config_.faults.serverRequestSeconds > 0) due = std::min(due, nextServerRequest_);
    return due;
}

bool RtspSession::pausing(SteadyClock::time_point now) {
    const auto length = std::chrono::seconds(config_.faults.pauseSeconds);
    if (length.count() <= 0 || pauseOver_) return false;
    if (!pauseEnd_) {
        if (videoFramesSent_ < static_cast<uint64_t>(config_.fps)) return false;
        pauseEnd_ = now + length;
    }
    if (now < *pauseEnd_) return true;
    pauseOver_ = true;
    // Each track goes on with the frame it would have sent when the pause began, its RTP
    // clock moved on by the time that passed.
    const auto passed = now - (*pauseEnd_ - length);
    const auto ticks = std::chrono::duration_cast<nanoseconds>(passed).count() * 9 / 100000;
    for (auto &t : tracks_) {
        t->start += passed;
        t->rtpBase += static_cast<uint32_t>(ticks);
    }
    return false;
}

void RtspSession::sendDue(SteadyClock::time_point now, std::string &interleaved) {
    if (!playing_ || pausing(now)) return;
    for (auto &owned : tracks_) {
        Track &t = *owned;
        // A client that stopped reading for a while gets the present, not a burst of the past.
        if (auto late = now - t.due(t.next); late > kMaxLag) t.start += late;
        while (!faults_.stalled(videoFramesSent_) && t.due(t.next) <= now) {
            if (t.kind == TrackKind::Video) {
                if (const MediaUnit *unit = video_->frame(t.next)) {
                    if (faults_.encoderRestartDue(videoFramesSent_, unit->key)) restartEncoder(t);
                    sendUnit(t, *unit, interleaved);
                    ++videoFramesSent_;
                    if (faults_.garbageDue(videoFramesSent_)) sendGarbage(t, interleaved);
                }
            } else if (!loop_->audio().empty()) {
                sendUnit(t, loop_->audio()[t.next % loop_->audio().size()], interleaved);
            }
            ++t.next;
        }
        if (!faults_.stalled(videoFramesSent_) && t.stats.packets > 0 && now >= t.nextReport)
            sendReport(t, now, interleaved);
    }
}

void RtspSession::sendUnit(Track &t, const MediaUnit &unit, std::string &interleaved) {
    const uint32_t timestamp = t.stamp(t.next);
    const bool video = t.kind == TrackKind::Video;
    const bool loseFragment = video && faults_.loseFragment(unit.middleFragment >= 0);
    static const std::vector<std::string> kNone;
    const std::vector<std::string> &filler = video && unit.key ? keyFrameFiller() : kNone;
    const std::size_t count = unit.payloads.size() + filler.size();
    std::string held;  // the swapEveryNth fault: a packet that goes out after its successor
    for (std::size_t i = 0; i < count; ++i) {
        const std::string &payload =
            i < unit.payloads.size() ? unit.payloads[i] : filler[i - unit.payloads.size()];
        const bool last = i + 1 == count;
        const bool marker = video && last && !config_.faults.noMarker;
        const uint16_t sequence = t.sequence++;
        if (video && faults_.dropNextVideoPacket()) continue;
        if (loseFragment && static_cast<int>(i) == unit.middleFragment) continue;
        const std::string extension = faults_.nextExtension();
        const int padding = faults_.nextPadding();
        std::string packet = rtpHeader(t.payloadType, marker, sequence, timestamp, t.ssrc,
                                       !extension.empty(), padding > 0) +
                             extension + payload;
        if (padding > 0) {
            packet.append(static_cast<std::size_t>(padding - 1), '\0');
            packet += static_cast<char>(padding);
        }
        ++t.stats.packets;
        t.stats.octets += static_cast<uint32_t>(payload.size());
        if (video && !t.transport.tcp && !last && faults_.swapNextVideoPacket()) {
            held = std::move(packet);
            continue;
        }
        deliver(t, false, packet, interleaved);
        if (!held.empty()) deliver(t, false, std::exchange(held, {}), interleaved);
    }
}

// The payloads of the keyFramePadding fault's filler-data unit (H.264 type 12, H.265 type
// 38): all ones, then the stop bit.
const std::vector<std::string> &RtspSession::keyFrameFiller() {
    const int size = config_.faults.keyFramePadding;
    if (size <= 0 || !isNalCodec(config_.codec) || !filler_.empty()) return filler_;
    const bool h264 = config_.codec == ChannelConfig::Codec::H264;
    std::string unit = h264 ? std::string("\x0C", 1) : std::string("\x4C\x01", 2);
    unit.append(static_cast<std::size_t>(std::max(size - static_cast<int>(unit.size()) - 1, 0)),
                '\xFF');
    unit += '\x80';
    filler_ = packetizeNal(h264 ? NalCodec::H264 : NalCodec::H265, {unit}).payloads;
    return filler_;
}

// The newSsrcAfterFrames fault: the track goes on as a restarted encoder's would.
void RtspSession::restartEncoder(Track &t) {
    t.ssrc = randomWord();
    t.sequence = static_cast<uint16_t>(randomWord());
    t.rtpBase = randomWord() - static_cast<uint32_t>(t.ticks(t.next));
    t.stats = {};
    t.stats.ssrc = t.ssrc;
}

void RtspSession::sendReport(Track &t, SteadyClock::time_point now, std::string &interleaved) {
    t.stats.rtpTime = t.rtpTimeAt(now);
    deliver(t, true, senderReport(t.stats, ntpTime(std::chrono::system_clock::now()), kCname),
            interleaved);
    if (config_.faults.shortRtcp && t.transport.tcp) {
        // Empty receiver reports: the header alone, then with the reporter's SSRC.
        deliver(t, true, std::string("\x80\xC9\x00\x00", 4), interleaved);
        std::string emptyReport("\x80\xC9\x00\x01", 4);
        putBigEndian(emptyReport, t.ssrc, 4);
        deliver(t, true, emptyReport, interleaved);
    }
    t.nextReport += kReportPeriod;
    if (t.nextReport <= now) t.nextReport = now + kReportPeriod;
}

void RtspSession::sendGarbage(Track &t, std::string &interleaved) {
    // Unframed on purpose: the receiver must find the next '$' by itself.
    if (t.transport.tcp)
        interleaved += FaultPlan::garbage();
    else
        t.transport.udp->sendRtp(t.transport.clientRtpPort, FaultPlan::garbage());
}

void RtspSession::deliver(Track &t, bool rtcp, const std::string &packet,
                          std::string &interleaved) {
    const TrackTransport &to = t.transport;
    if (to.tcp) {
        interleaved += '$';
        interleaved += static_cast<char>(rtcp ? to.rtcpChannel : to.rtpChannel);
        putBigEndian(interleaved, packet.size(), 2);
        interleaved += packet;
    } else if (rtcp) {
        to.udp->sendRtcp(to.clientRtcpPort, packet);
    } else {
        to.udp->sendRtp(to.clientRtpPort, packet);
    }
}

void RtspSession::sayGoodbye(std::string &interleaved) {
    if (!config_.faults.shortRtcp) return;
    for (auto &t : tracks_) {
        if (!t->transport.tcp || t->stats.packets == 0) continue;
        std::string bye("\x81\xCB\x00\x01", 4);
        putBigEndian(bye, t->ssrc, 4);
        deliver(*t, true, bye, interleaved);
    }
}

void RtspSession::drainUdp(const std::function<void(std::string_view)> &rtcp) {
    for (const auto &t : tracks_)
        if (t->transport.udp) t->transport.udp->drain(rtcp);
}

}  // namespace camsim
