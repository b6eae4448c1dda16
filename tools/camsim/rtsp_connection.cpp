#include "tools/camsim/rtsp_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "tools/camsim/media_source.h"
#include "tools/camsim/rtsp_message.h"
#include "tools/camsim/sdp.h"

namespace camsim {

namespace {

constexpr const char *kPublic =
    "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, SET_PARAMETER";
// Methods of RTSP this server does not offer: 405 with Allow; anything else is 501.
constexpr std::string_view kNotAllowed[] = {"PAUSE", "ANNOUNCE", "RECORD", "REDIRECT"};
constexpr int kAnnouncedTimeout = 60;  // said when no time-out is enforced
// How long the media of a session whose connection was closed goes on without a time-out.
constexpr auto kOrphanLife = std::chrono::seconds(kAnnouncedTimeout);

std::string newSessionId() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char id[17];
    std::snprintf(id, sizeof id, "%016llX", static_cast<unsigned long long>(generator()));
    return id;
}

std::string hex32(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

}  // namespace

RtspConnection::RtspConnection(Connection &connection, RtspHooks &hooks)
    : connection_(connection), hooks_(hooks), closeOrdersSeen_(hooks.closeOrders()) {}

RtspConnection::~RtspConnection() {
    if (!sessions_.empty()) hooks_.sessionsChanged(-static_cast<int>(sessions_.size()));
}

void RtspConnection::serve() {
    for (;;) {
        if (orphaned_) {
            if (!connection_.pause(waitMs()) || !sendMedia() || !sessionsAlive()) return;
            continue;
        }
        if (connection_.readAvailable(input_, waitMs()) != Connection::Read::Done) return;
        if (!takeInput() || !sendMedia() || !sendServerRequests() || !sessionsAlive()) return;
        obeyCloseOrder();
    }
}

int RtspConnection::waitMs() const {
    auto due = SteadyClock::time_point::max();
    for (const auto &[id, s] : sessions_)
        if (s->playing()) due = std::min(due, s->nextDue());
    if (due == SteadyClock::time_point::max()) return kWaitSliceMs;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - SteadyClock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, kWaitSliceMs));
}

bool RtspConnection::takeInput() {
    for (;;) {
        RtspInput in = takeRtspInput(input_);
        switch (in.kind) {
            case RtspInput::Kind::NeedMore:
                return true;
            case RtspInput::Kind::Interleaved:
                hooks_.rtcpReceived(in.packet);
                break;
            case RtspInput::Kind::TooLarge:
                connection_.send(formatRtspReply(400, "", {}));
                return false;
            case RtspInput::Kind::BadLength:
                hooks_.requestReceived(in.message);
                connection_.send(formatRtspReply(400, in.message.header("CSeq"), {}));
                return false;
            case RtspInput::Kind::Response:
                takeAnswer(in.message);
                break;
            case RtspInput::Kind::Request:
                if (!answer(in.message)) return false;
                break;
        }
    }
}

void RtspConnection::takeAnswer(const RecordedRequest &answer) {
    const bool ours = unanswered_.erase(answer.header("CSeq")) > 0;
    hooks_.serverRequestAnswered(ours);
}

bool RtspConnection::answer(const RecordedRequest &request) {
    hooks_.requestReceived(request);
    const std::string cseq = request.header("CSeq");
    Reply reply;
    if (cseq.empty()) {
        reply = {400, {}, {}};
    } else if (auto challenges = hooks_.authenticate(request)) {
        reply = {401, {}, {}};
        for (std::string &value : *challenges)
            reply.headers.emplace_back("WWW-Authenticate", std::move(value));
    } else {
        if (RtspSession *s = session(request)) s->touch(SteadyClock::now());
        const auto faults = faultsFor(request);
        if (request.method == "DESCRIBE" && faults && faults->describeDelayMs > 0 &&
            !connection_.pause(faults->describeDelayMs))
            return false;
        reply = dispatch(request);
    }
    const auto faults = faultsFor(request);
    // Some cameras start the stream before they answer the PLAY that asked for it.
    if (reply.status == 200 && request.method == "PLAY" && faults && faults->rtpBeforePlayReply &&
        !sendMedia())
        return false;
    const HeaderStyle style = faults && faults->oddHeaders ? HeaderStyle::Odd : HeaderStyle::Plain;
    return connection_.send(formatRtspReply(reply.status, cseq, reply.headers, reply.body, style));
}

RtspConnection::Reply RtspConnection::dispatch(const RecordedRequest &request) {
    using Method = Reply (RtspConnection::*)(const RecordedRequest &);
    static constexpr std::pair<std::string_view, Method> kMethods[] = {
        {"DESCRIBE", &RtspConnection::describe},
        {"SETUP", &RtspConnection::setup},
        {"PLAY", &RtspConnection::play},
        {"TEARDOWN", &RtspConnection::teardown},
        {"GET_PARAMETER", &RtspConnection::keepAlive},
        {"SET_PARAMETER", &RtspConnection::keepAlive},
    };
    if (request.method == "OPTIONS") return {200, {{"Public", kPublic}}, {}};
    for (const auto &[name, method] : kMethods)
        if (request.method == name) return (this->*method)(request);
    for (std::string_view name : kNotAllowed)
        if (request.method == name) return {405, {{"Allow", kPublic}}, {}};
    return {501, {}, {}};
}

std::string RtspConnection::authority(const RecordedRequest &request) const {
    std::string given = requestAuthority(request.target);
    return given.empty() ? "rtsp://127.0.0.1:" + std::to_string(hooks_.port()) : given;
}

RtspConnection::Reply RtspConnection::describe(const RecordedRequest &request) {
    const std::string path = requestPath(request.target);
    for (const RtspHooks::Mounted &m : hooks_.mounts()) {
        const Mount &mount = m.mount;
        const ChannelConfig &config = m.config;
        if (!mount.describedBy(path)) continue;
        auto loop = mediaLoop(config);
        if (!loop) return {500, {}, {}};
        const StreamFaults &f = config.faults;
        auto control = [&](TrackKind kind) {
            if (!f.absoluteControls) return mount.relativeControl(kind);
            return "rtsp://127.0.0.1:" + std::to_string(hooks_.port()) + mount.trackUri(kind);
        };
        const DescriptionLayout layout{channelName(mount.channel), control(TrackKind::Video),
                                       control(TrackKind::Audio)};
        Reply reply{200, {}, sessionDescription(config, *loop, layout)};
        if (!f.noContentBase)
            reply.headers.emplace_back("Content-Base", authority(request) + mount.base());
        if (!f.noContentType) reply.headers.emplace_back("Content-Type", "application/sdp");
        return reply;
    }
    return {404, {}, {}};
}

RtspConnection::Reply RtspConnection::setup(const RecordedRequest &request) {
    const std::string path = requestPath(request.target);
    std::optional<RtspHooks::Mounted> found;
    TrackKind kind = TrackKind::Video;
    for (auto &m : hooks_.mounts()) {
        // The aggregate URL stands for the video when the description gave it no control.
        auto track = m.mount.trackOf(path);
        if (!track && !m.mount.aggregateOf(path)) continue;
        kind = track.value_or(TrackKind::Video);
        found = std::move(m);
        break;
    }
    if (!found || (kind == TrackKind::Audio && !found->config.audio)) return {404, {}, {}};
    const Mount &mount = found->mount;
    const ChannelConfig &config = found->config;

    RtspSession *s = nullptr;
    if (!request.header("Session").empty()) {
        s = session(request);
        if (!s) return {sessions_.empty() ? 454 : 459, {}, {}};
        if (s->channel() != mount.channel || s->mount().uri() != mount.uri()) return {459, {}, {}};
        if (s->hasTrack(kind)) return {455, {}, {}};
    }
    int status = 200;
    auto transport = makeTransport(request.header("Transport"), kind, status);
    if (!transport) return {status, {}, {}};
    if (!transport->tcp && config.faults.rtpFromOtherPort &&
        !transport->udp->sendRtpFromAnotherPort())
        return {503, {}, {}};
    const int interleavedBase = config.faults.interleavedBase;
    if (transport->tcp && interleavedBase >= 0) {
        transport->rtpChannel = interleavedBase + (kind == TrackKind::Video ? 0 : 2);
        transport->rtcpChannel = transport->rtpChannel + 1;
        if (transport->rtcpChannel > 255) return {461, {}, {}};
    }
    std::string offer;
    if (transport->tcp) {
        offer = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(transport->rtpChannel) + "-" +
                std::to_string(transport->rtcpChannel);
    } else {
        offer = std::string(transport->udpProfile) +
                ";unicast;client_port=" + std::to_string(transport->clientRtpPort) + "-" +
                std::to_string(transport->clientRtcpPort);
        if (!config.faults.noServerPort)
            offer += ";server_port=" + std::to_string(transport->udp->rtpPort()) + "-" +
                     std::to_string(transport->udp->rtcpPort());
    }
    auto loop = mediaLoop(config);
    if (!loop) return {500, {}, {}};
    if (!s) {
        std::string id = newSessionId();
        auto created = std::make_unique<RtspSession>(id, mount, config, loop, SteadyClock::now());
        s = created.get();
        sessions_.emplace(id, std::move(created));
        hooks_.sessionsChanged(+1);
    }
    const int timeout = s->faults().sessionTimeout;
    const uint32_t ssrc = s->addTrack(kind, std::move(*transport));
    return {200,
            {{"Session",
              s->id() + ";timeout=" + std::to_string(timeout > 0 ? timeout : kAnnouncedTimeout)},
             {"Transport", offer + ";ssrc=" + hex32(ssrc)}},
            {}};
}

std::optional<TrackTransport> RtspConnection::makeTransport(const std::string &header,
                                                            TrackKind kind, int &status) {
    status = 461;
    auto parsed = parseTransport(header);
    if (!parsed) return std::nullopt;
    TrackTransport transport;
    if (parsed->tcp) {
        transport.rtpChannel =
            parsed->channels[0] >= 0 ? parsed->channels[0] : (kind == TrackKind::Video ? 0 : 2);
        transport.rtcpChannel =
            parsed->channels[1] >= 0 ? parsed->channels[1] : transport.rtpChannel + 1;
        if (transport.rtcpChannel > 255) return std::nullopt;
        return transport;
    }
    // One client port means RTCP on the next.
    const int rtp = parsed->ports[0], rtcp = parsed->ports[1] >= 0 ? parsed->ports[1] : rtp + 1;
    if (rtp <= 0 || rtcp > 65535) return std::nullopt;
    transport.tcp = false;
    transport.udpProfile = parsed->profile;
    transport.clientRtpPort = static_cast<uint16_t>(rtp);
    transport.clientRtcpPort = static_cast<uint16_t>(rtcp);
    transport.udp = UdpPair::open();
    if (!transport.udp) {
        status = 503;
        return std::nullopt;
    }
    return transport;
}

std::pair<RtspSession *, int> RtspConnection::sessionFor(const RecordedRequest &request) {
    RtspSession *s = session(request);
    if (!s) return {nullptr, 454};
    const std::string path = requestPath(request.target);
    if (path != "*" && !s->mount().aggregateOf(path) && !s->mount().trackOf(path))
        return {nullptr, 404};
    return {s, 200};
}

RtspConnection::Reply RtspConnection::play(const RecordedRequest &request) {
    auto [s, status] = sessionFor(request);
    if (!s) return {status, {}, {}};
    s->play(SteadyClock::now());
    const bool videoControl = !s->faults().omitVideoControl;
    const Mount &mount = s->mount();
    std::string info;
    for (const auto &start : s->trackStarts()) {
        if (!info.empty()) info += ",";
        const bool aggregate = start.kind == TrackKind::Video && !videoControl;
        info +=
            "url=" + authority(request) + (aggregate ? mount.uri() : mount.trackUri(start.kind)) +
            ";seq=" + std::to_string(start.sequence) + ";rtptime=" + std::to_string(start.rtpTime);
    }
    return {200, {{"Session", s->id()}, {"Range", "npt=0.000-"}, {"RTP-Info", info}}, {}};
}

RtspConnection::Reply RtspConnection::teardown(const RecordedRequest &request) {
    auto [s, status] = sessionFor(request);
    if (!s) return {status, {}, {}};
    std::string goodbye;
    s->sayGoodbye(goodbye);
    if (!goodbye.empty()) connection_.send(goodbye);
    endSession(sessions_.find(s->id()));
    return {200, {}, {}};
}

RtspConnection::Reply RtspConnection::keepAlive(const RecordedRequest &request) {
    auto [s, status] = sessionFor(request);
    if (!s) return {status, {}, {}};
    return {200, {{"Session", s->id()}}, {}};
}

RtspSession *RtspConnection::session(const RecordedRequest &request) {
    std::string id = request.header("Session");
    id = id.substr(0, id.find(';'));
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second.get();
}

std::optional<StreamFaults> RtspConnection::faultsFor(const RecordedRequest &request) {
    if (RtspSession *s = session(request)) return s->faults();
    const std::string path = requestPath(request.target);
    for (const auto &[mount, config] : hooks_.mounts())
        if (mount.aggregateOf(path) || mount.trackOf(path)) return config.faults;
    return std::nullopt;
}

void RtspConnection::endSession(SessionMap::iterator it) {
    sessions_.erase(it);
    hooks_.sessionsChanged(-1);
}

bool RtspConnection::sendMedia() {
    const auto now = SteadyClock::now();
    std::string interleaved;
    int pace = 0;
    for (auto &[id, s] : sessions_) {
        s->drainUdp([this](std::string_view compound) { hooks_.rtcpReceived(compound); });
        s->sendDue(now, interleaved);
        pace = std::max(pace, s->faults().paceMicros);
    }
    if (interleaved.empty() || orphaned_) return true;
    return pace > 0 ? sendPaced(interleaved, pace) : connection_.send(interleaved);
}

bool RtspConnection::sendPaced(std::string_view bytes, int micros) {
    for (std::size_t at = 0; at < bytes.size();) {
        // A block by its length; unframed bytes (the garbage fault) up to the next '$'.
        std::size_t end = std::min(bytes.size(), bytes.find('$', at + 1));
        if (bytes[at] == '$' && bytes.size() - at >= 4)
            end = std::min(bytes.size(), at + 4 +
                                             (static_cast<uint8_t>(bytes[at + 2]) << 8 |
                                              static_cast<uint8_t>(bytes[at + 3])));
        if (!connection_.send(bytes.substr(at, end - at))) return false;
        at = end;
        if (at < bytes.size()) std::this_thread::sleep_for(std::chrono::microseconds(micros));
    }
    return true;
}

bool RtspConnection::sendServerRequests() {
    const auto now = SteadyClock::now();
    for (auto &[id, s] : sessions_) {
        if (!s->serverRequestDue(now)) continue;
        const std::string cseq = std::to_string(++serverCSeq_);
        const bool set = s->faults().serverRequestSet;
        std::string text = std::string(set ? "SET_PARAMETER " : "GET_PARAMETER ") +
                           "rtsp://127.0.0.1:" + std::to_string(hooks_.port()) + s->mount().uri() +
                           " RTSP/1.0\r\nCSeq: " + cseq + "\r\nSession: " + id + "\r\n";
        if (set) {
            const std::string body = "keepalive: 1\r\n";
            text +=
                "Content-Type: text/parameters\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + body;
        } else {
            text += "\r\n";
        }
        unanswered_.insert(cseq);
        hooks_.serverRequestSent();
        if (!connection_.send(text)) return false;
    }
    return true;
}

bool RtspConnection::sessionsAlive() {
    const auto now = SteadyClock::now();
    for (const auto &[id, s] : sessions_) {
        const bool over =
            orphaned_ ? s->expired(now) || s->idleFor(now) >= kOrphanLife : s->expired(now);
        if (over) {
            hooks_.sessionTimedOut();
            return false;
        }
    }
    return !orphaned_ || !sessions_.empty();
}

void RtspConnection::obeyCloseOrder() {
    const uint64_t orders = hooks_.closeOrders();
    if (orders == closeOrdersSeen_) return;
    closeOrdersSeen_ = orders;
    const bool playingUdp = std::any_of(sessions_.begin(), sessions_.end(), [](const auto &s) {
        return s.second->playing() && s.second->hasUdpTrack();
    });
    if (!playingUdp) return;
    // Without media the next read finds the connection closed and the sessions end with it.
    connection_.close();
    orphaned_ = hooks_.keepMediaAfterClose();
}

}  // namespace camsim
