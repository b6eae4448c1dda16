#include "tools/camsim/rtsp_connection.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>

#include "tools/camsim/media_source.h"
#include "tools/camsim/rtsp_message.h"
#include "tools/camsim/sdp.h"

namespace camsim {

namespace {

constexpr const char *kPublic = "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER";
constexpr const char *kSessionTimeout = ";timeout=60";

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

// "CH01/track1" into "CH01" and "track1".
std::pair<std::string, std::string> channelAndControl(const std::string &path) {
    std::size_t slash = path.find('/');
    if (slash == std::string::npos) return {path, ""};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// The request URL without its query and trailing slashes.
std::string aggregateUrl(std::string_view target) {
    target = target.substr(0, target.find('?'));
    while (!target.empty() && target.back() == '/') target.remove_suffix(1);
    return std::string(target);
}

// Just past the first blank line, or npos.
std::size_t headEnd(std::string_view text) {
    std::size_t crlf = text.find("\r\n\r\n"), lf = text.find("\n\n");
    std::size_t end = std::string_view::npos;
    if (crlf != std::string_view::npos) end = crlf + 4;
    if (lf != std::string_view::npos) end = std::min(end, lf + 2);
    return end;
}

// The Content-Length of request; nothing when malformed or too large.
std::optional<std::size_t> bodyLength(const RecordedRequest &request) {
    std::string text = request.header("Content-Length");
    if (text.empty()) return 0;
    std::size_t n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size() || n > kMaxRequestBody)
        return std::nullopt;
    return n;
}

}  // namespace

RtspConnection::RtspConnection(Connection &connection, RtspHooks &hooks)
    : connection_(connection), hooks_(hooks) {}

RtspConnection::~RtspConnection() {
    if (!sessions_.empty()) hooks_.sessionsChanged(-static_cast<int>(sessions_.size()));
}

void RtspConnection::serve() {
    for (;;) {
        if (connection_.readAvailable(input_, waitMs()) != Connection::Read::Done) return;
        if (!takeInput() || !sendMedia()) return;
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
        std::size_t start = input_.find_first_not_of("\r\n");
        input_.erase(0, std::min(start, input_.size()));
        if (input_.empty()) return true;

        if (input_[0] == '$') {
            if (input_.size() < 4) return true;
            std::size_t length =
                static_cast<uint8_t>(input_[2]) << 8 | static_cast<uint8_t>(input_[3]);
            if (input_.size() < 4 + length) return true;
            hooks_.rtcpReceived(1);
            input_.erase(0, 4 + length);
            continue;
        }

        std::size_t end = headEnd(input_);
        if (end == std::string::npos || end > kMaxRequestHead) {
            if (end == std::string::npos && input_.size() <= kMaxRequestHead) return true;
            connection_.send(formatRtspReply(400, "", {}));
            return false;
        }
        RecordedRequest request = parseRequest(input_.substr(0, end));
        auto length = bodyLength(request);
        if (!length) {
            hooks_.requestReceived(request);
            connection_.send(formatRtspReply(400, request.header("CSeq"), {}));
            return false;
        }
        if (input_.size() < end + *length) return true;
        request.body = input_.substr(end, *length);
        input_.erase(0, end + *length);
        if (!answer(request)) return false;
    }
}

bool RtspConnection::answer(const RecordedRequest &request) {
    hooks_.requestReceived(request);
    const std::string cseq = request.header("CSeq");
    Reply reply = cseq.empty() ? Reply{400, {}, {}} : dispatch(request);
    return connection_.send(formatRtspReply(reply.status, cseq, reply.headers, reply.body));
}

RtspConnection::Reply RtspConnection::dispatch(const RecordedRequest &request) {
    using Method = Reply (RtspConnection::*)(const RecordedRequest &);
    static constexpr std::pair<std::string_view, Method> kMethods[] = {
        {"DESCRIBE", &RtspConnection::describe},
        {"SETUP", &RtspConnection::setup},
        {"PLAY", &RtspConnection::play},
        {"TEARDOWN", &RtspConnection::teardown},
        {"GET_PARAMETER", &RtspConnection::keepAlive},
    };
    if (request.method == "OPTIONS") return {200, {{"Public", kPublic}}, {}};
    for (const auto &[name, method] : kMethods)
        if (request.method == name) return (this->*method)(request);
    return {501, {}, {}};
}

RtspConnection::Reply RtspConnection::describe(const RecordedRequest &request) {
    auto [name, control] = channelAndControl(urlPath(request.target));
    auto channel = hooks_.channel(name);
    if (!channel || !control.empty()) return {404, {}, {}};
    auto loop = mediaLoop(channel->second);
    if (!loop) return {500, {}, {}};
    return {
        200,
        {{"Content-Base", aggregateUrl(request.target) + "/"}, {"Content-Type", "application/sdp"}},
        sessionDescription(channel->second, *loop, name)};
}

RtspConnection::Reply RtspConnection::setup(const RecordedRequest &request) {
    auto [name, control] = channelAndControl(urlPath(request.target));
    auto channel = hooks_.channel(name);
    if (!channel) return {404, {}, {}};
    const ChannelConfig &config = channel->second;
    TrackKind kind = TrackKind::Video;
    if (control == kAudioControl && config.audio)
        kind = TrackKind::Audio;
    else if (!control.empty() && control != kVideoControl)
        return {404, {}, {}};

    RtspSession *s = nullptr;
    if (!request.header("Session").empty()) {
        s = session(request);
        if (!s) return {454, {}, {}};
        if (s->channel() != channel->first) return {459, {}, {}};
        if (s->hasTrack(kind)) return {455, {}, {}};
    }
    auto parsed = parseTransport(request.header("Transport"));
    if (!parsed) return {461, {}, {}};
    TrackTransport transport;
    std::string offer;
    if (parsed->tcp) {
        transport.rtpChannel =
            parsed->channels[0] >= 0 ? parsed->channels[0] : (kind == TrackKind::Video ? 0 : 2);
        transport.rtcpChannel =
            parsed->channels[1] >= 0 ? parsed->channels[1] : transport.rtpChannel + 1;
        if (transport.rtcpChannel > 255) return {461, {}, {}};
        offer = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(transport.rtpChannel) + "-" +
                std::to_string(transport.rtcpChannel);
    } else {
        // One client port means RTCP on the next.
        const int rtp = parsed->ports[0], rtcp = parsed->ports[1] >= 0 ? parsed->ports[1] : rtp + 1;
        if (rtp <= 0 || rtcp > 65535) return {461, {}, {}};
        transport.tcp = false;
        transport.clientRtpPort = static_cast<uint16_t>(rtp);
        transport.clientRtcpPort = static_cast<uint16_t>(rtcp);
        transport.udp = UdpPair::open();
        if (!transport.udp) return {503, {}, {}};
        offer = parsed->profile + ";unicast;client_port=" + std::to_string(rtp) + "-" +
                std::to_string(rtcp) + ";server_port=" + std::to_string(transport.udp->rtpPort()) +
                "-" + std::to_string(transport.udp->rtcpPort());
    }
    auto loop = mediaLoop(config);
    if (!loop) return {500, {}, {}};
    if (!s) {
        std::string id = newSessionId();
        auto created = std::make_unique<RtspSession>(id, channel->first, config, loop);
        s = created.get();
        sessions_.emplace(id, std::move(created));
        hooks_.sessionsChanged(+1);
    }
    const uint32_t ssrc = s->addTrack(kind, std::move(transport));
    return {200,
            {{"Session", s->id() + kSessionTimeout}, {"Transport", offer + ";ssrc=" + hex32(ssrc)}},
            {}};
}

RtspConnection::Reply RtspConnection::play(const RecordedRequest &request) {
    RtspSession *s = session(request);
    if (!s) return {454, {}, {}};
    s->play(SteadyClock::now());
    auto channel = hooks_.channel(channelName(s->channel()));
    const bool videoControl = channel && !channel->second.faults.omitVideoControl;

    // The aggregate URL, or the track's own when PLAY named a track.
    std::string base = aggregateUrl(request.target);
    auto [name, control] = channelAndControl(urlPath(request.target));
    if (!control.empty()) base = base.substr(0, base.size() - control.size() - 1);
    std::string info;
    for (const auto &start : s->trackStarts()) {
        if (!info.empty()) info += ",";
        std::string url = base;
        if (start.kind == TrackKind::Audio)
            url += "/" + std::string(kAudioControl);
        else if (videoControl)
            url += "/" + std::string(kVideoControl);
        info += "url=" + url + ";seq=" + std::to_string(start.sequence) +
                ";rtptime=" + std::to_string(start.rtpTime);
    }
    return {200, {{"Session", s->id()}, {"Range", "npt=0.000-"}, {"RTP-Info", info}}, {}};
}

RtspConnection::Reply RtspConnection::teardown(const RecordedRequest &request) {
    RtspSession *s = session(request);
    if (!s) return {454, {}, {}};
    endSession(sessions_.find(s->id()));
    return {200, {}, {}};
}

RtspConnection::Reply RtspConnection::keepAlive(const RecordedRequest &request) {
    if (request.header("Session").empty()) return {200, {}, {}};
    RtspSession *s = session(request);
    if (!s) return {454, {}, {}};
    return {200, {{"Session", s->id()}}, {}};
}

RtspSession *RtspConnection::session(const RecordedRequest &request) {
    std::string id = request.header("Session");
    id = id.substr(0, id.find(';'));
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second.get();
}

void RtspConnection::endSession(SessionMap::iterator it) {
    sessions_.erase(it);
    hooks_.sessionsChanged(-1);
}

bool RtspConnection::sendMedia() {
    const auto now = SteadyClock::now();
    std::string interleaved;
    int rtcp = 0;
    for (auto &[id, s] : sessions_) {
        rtcp += s->drainUdp();
        s->sendDue(now, interleaved);
    }
    if (rtcp > 0) hooks_.rtcpReceived(static_cast<std::size_t>(rtcp));
    return interleaved.empty() || connection_.send(interleaved);
}

}  // namespace camsim
