#include "transport/rtsp_client.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "core/config.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_api.h"
#include "platform/clock.h"
#include "platform/datagram_source.h"
#include "transport/interleaved_unit.h"
#include "transport/rtp_reader.h"
#include "transport/rtp_udp_buffer.h"
#include "transport/rtsp_exchange.h"
#include "transport/rtsp_reply.h"
#include "transport/sdp.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr int kAudioFailed = -9;
constexpr int kOk = 200;
constexpr int kUnauthorized = 401;
constexpr uint32_t kTeardownWaitMs = 1000;

bool isUrlSession(const IPCamSession *s) {
    return playsRtspAddress(s->protocolType);
}

int fail(IPCamSession *s, int index, int code) {
    closeConnection(&s->sockets[index]);
    return code;
}

// A failed exchange closes the connection; a refusal to send the account stays what it is,
// anything else is the video path's.
int failExchange(IPCamSession *s, int result) {
    const bool account =
        result == IPCAM_USER_OR_PASSWD_IS_ER || result == IPCAM_CLEAR_PASSWORD_REFUSED;
    return fail(s, kRtspSocket, account ? result : kVideoFailed);
}

// URL sessions ask what the server offers first, as real clients do: the keep-alive method
// comes from it. A server that does not take OPTIONS is still played.
int askOptions(IPCamSession *s, ByteSource &connection) {
    RtspRequest options{"OPTIONS", s->rtsp.base, {}, {}, false};
    RtspReplyText reply;
    if (int r = rtspExchange(s, connection, options, reply); r != 0) return r;
    if (reply.status == kOk) s->rtsp.getParameter = publicLists(reply.head, "GET_PARAMETER");
    return 0;
}

// Reads the description into the format and the SETUP targets. False for a description
// without a video stream the client plays, or whose video stream has no control.
bool readDescription(IPCamSession *s, const RtspReplyText &reply) {
    const std::optional<SessionDescription> description = parseDescription(reply.body);
    if (!description) return false;
    const MediaSection *video = firstVideo(*description);
    if (!video || video->control.empty()) return false;

    RtspState &r = s->rtsp;
    const std::string base = contentBase(reply.head).value_or(r.base);
    r.videoUrl = resolveControl(base, video->control);
    const MediaSection *audio = firstAudio(*description);
    r.audioUrl = audio && !audio->control.empty() ? resolveControl(base, audio->control) : "";
    // The aggregate: the session-level control, else what DESCRIBE named.
    const std::string &session = description->control;
    r.playUrl = !session.empty() && session != "*" ? resolveControl(base, session) : r.base;

    s->rtp.sdpConfig = mpeg4Config(*video).value_or(std::vector<uint8_t>{});
    const int32_t codec = videoCodec(*video);
    std::optional<VideoParameters> described;
    if (codec == IPCAM_VIDEO_H264) {
        s->rtp.h264.configure(video->parameters);
        described = s->rtp.h264.parameters();
    } else if (codec == IPCAM_VIDEO_H265) {
        s->rtp.h265.configure(video->parameters);
        described = s->rtp.h265.parameters();
    }
    std::lock_guard guard(s->formatLock);
    StreamFormatBlock &f = s->format;
    f.videoCodec = codec;
    if (audio) {
        f.audioCodec = audioCodec(*audio);
        f.sampleRate = clockRate(*audio);
        f.channels = channelCode(*audio);
    }
    // The devices of the older types are reported at 30 frames a second whatever they send;
    // a camera by URL is taken at its word when its description states a rate.
    if (isUrlSession(s) && video->frameRate > 0) f.frameRate = video->frameRate;
    f.width = 722;  // until the first configuration frame tells
    f.height = 482;
    if (described) {  // the sequence parameter set of the description
        f.width = described->width;
        f.height = described->height;
        if (described->frameRate > 0) f.frameRate = described->frameRate;
    }
    return true;
}

int describe(IPCamSession *s, ByteSource &connection) {
    RtspRequest describe{"DESCRIBE", s->rtsp.base, {}, {}, false};
    if (isUrlSession(s)) describe.afterCseq.push_back("Accept: application/sdp");
    RtspReplyText reply;
    if (int r = rtspExchange(s, connection, describe, reply); r != 0) return failExchange(s, r);
    if (reply.status != kOk || !readDescription(s, reply))
        return fail(s, kRtspSocket, kVideoFailed);
    return 0;
}

// The session id and time-out of the first SETUP reply; the interleaved channels the server
// gave the track (it may choose others than we asked for).
bool readSetupReply(IPCamSession *s, const RtspReplyText &reply, bool video,
                    std::optional<PortPair> &serverPorts) {
    if (reply.status != kOk) return false;
    if (video) {
        const std::optional<SessionHeader> session = sessionHeader(reply.head);
        if (!session) return false;
        s->rtsp.sessionId = session->id;
        s->rtsp.timeoutSeconds = session->timeout;
    }
    const std::optional<TransportHeader> transport = transportHeader(reply.head);
    if (!transport && headerValue(reply.head, "Transport")) return false;  // numbers out of range
    serverPorts = transport ? transport->serverPort : std::nullopt;
    if (transport && transport->interleaved) {
        const PortPair &pair = *transport->interleaved;
        InterleavedChannels &channels = s->rtp.interleaved;
        (video ? channels.videoRtp : channels.audioRtp) = pair.first;
        (video ? channels.videoRtcp : channels.audioRtcp) = pair.second;
    }
    return true;
}

std::string transportLine(IPCamSession *s, bool video, int localPort) {
    char line[128];
    if (!s->rtpOverUdp)
        std::snprintf(line, sizeof line, "Transport: RTP/AVP/TCP;unicast;interleaved=%d",
                      video ? 0 : 2);
    else if (video && !isUrlSession(s))
        std::snprintf(line, sizeof line, "Transport: RTP/AVP/UDP;unicast;client_port=%d",
                      localPort);
    else
        std::snprintf(line, sizeof line, "Transport: RTP/AVP/UDP;unicast;client_port=%d-%d",
                      localPort, localPort + 1);
    return line;
}

// The RTCP socket of a track over UDP, bound to the port after the RTP one. Both sockets
// hear the server's address on any port: a camera may send from other ports than it named.
// Reports go to the server's RTCP port when the reply named one, else to the port its first
// report comes from.
bool openRtcp(IPCamSession *s, int slot, int localPort, const std::optional<PortPair> &server,
              DatagramPeer &rtp, DatagramPeer &rtcp) {
    const uint32_t address = ipv4Address(s->host);
    rtp.set(address, 0);
    rtcp.set(address, server ? static_cast<uint16_t>(server->second) : 0);
    return openUdp(&s->sockets[slot], static_cast<uint32_t>(localPort + 1)) >= 0;
}

int setupVideo(IPCamSession *s, ByteSource &connection) {
    const bool udp = s->rtpOverUdp != 0;
    int localPort = 0;
    if (udp) {
        localPort =
            openUdp(&s->sockets[kVideoSocket], static_cast<uint32_t>(s->clientPortBase.load()));
        if (localPort < 0) return fail(s, kVideoSocket, kVideoFailed);
        s->clientPortBase = localPort;
    }
    RtspRequest setup{"SETUP", s->rtsp.videoUrl, {}, {transportLine(s, true, localPort)}, false};
    RtspReplyText reply;
    if (int r = rtspExchange(s, connection, setup, reply); r != 0) return failExchange(s, r);
    std::optional<PortPair> server;
    if (!readSetupReply(s, reply, true, server)) return fail(s, kRtspSocket, kVideoFailed);
    if (!udp) return 0;
    // A reply without server_port is played all the same: RTP is taken from the server's
    // address on whatever port it comes from.
    s->videoServerPort = server ? server->first : 0;
    UdpPeers &peers = s->rtp.peers;
    if (!openRtcp(s, kSixthSocket, localPort, server, peers.videoRtp, peers.videoRtcp))
        return fail(s, kSixthSocket, kVideoFailed);
    return 0;
}

int setupAudio(IPCamSession *s, ByteSource &connection) {
    const bool udp = s->rtpOverUdp != 0;
    const int localPort = s->clientPortBase + 2;
    const std::string session = "Session: " + s->rtsp.sessionId;
    RtspRequest setup{"SETUP", s->rtsp.audioUrl, {}, {}, false};
    if (udp) {
        if (openUdp(&s->sockets[kAudioSocket], static_cast<uint32_t>(localPort)) < 0)
            return fail(s, kAudioSocket, kAudioFailed);
        setup.afterCseq = {session, transportLine(s, false, localPort)};
    } else {
        setup.beforeCseq = {session};
        setup.afterCseq = {transportLine(s, false, localPort)};
    }
    RtspReplyText reply;
    if (int r = rtspExchange(s, connection, setup, reply); r != 0) return failExchange(s, r);
    std::optional<PortPair> server;
    if (!readSetupReply(s, reply, false, server)) return fail(s, kRtspSocket, kVideoFailed);
    if (!udp) return 0;
    s->audioServerPort = server ? server->first : 0;
    UdpPeers &peers = s->rtp.peers;
    if (!openRtcp(s, kSeventhSocket, localPort, server, peers.audioRtp, peers.audioRtcp))
        return fail(s, kSeventhSocket, kAudioFailed);
    return 0;
}

int play(IPCamSession *s, ByteSource &connection) {
    RtspRequest play{"PLAY", s->rtsp.playUrl, {}, {"Session: " + s->rtsp.sessionId}, false};
    RtspReplyText reply;
    if (int r = rtspExchange(s, connection, play, reply); r != 0) return failExchange(s, r);
    if (reply.status != kOk) return fail(s, kRtspSocket, kVideoFailed);
    s->rtsp.nextKeepAliveMs = monotonicMs() + static_cast<uint64_t>(s->rtsp.timeoutSeconds) * 500;
    return 0;
}

// Starts afresh: the previous server session is gone with its connection.
void resetState(IPCamSession *s) {
    RtspState &r = s->rtsp;
    r.base = isUrlSession(s) ? std::string(fieldText(s->rtspUrl))
                             : "rtsp://" + std::string(fieldText(s->host)) + "/" +
                                   std::string(fieldText(s->channelName));
    r.playUrl = r.base;
    r.videoUrl.clear();
    r.audioUrl.clear();
    r.sessionId.clear();
    r.timeoutSeconds = kDefaultSessionTimeout;
    r.getParameter = false;
    r.nextKeepAliveMs = 0;
    r.keepAliveCseq = -1;
    r.repliesSeen = 0;
    r.auth.setCredentials(fieldText(s->user), fieldText(s->password));
    s->rtp.interleaved = {};
}

// The reach item says how the server met the attempt. A camera by address reports a
// connection that cannot be made as such (-7); the older types keep their -8.
int openRtspConnection(IPCamSession *s) {
    ConnectFailure why = ConnectFailure::None;
    if (openConnection(&s->sockets[kRtspSocket], s->host, s->rtspPort, &why) == 1) {
        s->reach = IPCAM_REACH_ANSWERED;
        return 0;
    }
    if (why == ConnectFailure::Other) return kVideoFailed;
    s->reach = why == ConnectFailure::Refused ? IPCAM_REACH_REFUSED : IPCAM_REACH_UNREACHABLE;
    return isUrlSession(s) ? IPCAM_SETSOCKET_IS_ER : kVideoFailed;
}

}  // namespace

int rtspConnect(IPCamSession *s, int which) {
    if (which != 0) return 0;
    {
        std::lock_guard guard(s->formatLock);
        s->format.frameRate = 30.0;
    }
    if (IPCamVideoStopped(s)) return IPCAM_IS_OVER;
    resetState(s);
    if (int r = openRtspConnection(s); r != 0) return r;
    // Read ahead from the start: the replies cost a read of the socket each rather than one per
    // byte, and media that follow the PLAY reply wait in the buffer for the stream reader.
    SocketSource socket(s->sockets[kRtspSocket]);
    BufferedSource connection(socket, s->rtp.connectionAhead);

    if (isUrlSession(s)) {
        if (int r = askOptions(s, connection); r != 0) return failExchange(s, r);
    }
    if (int r = describe(s, connection); r != 0) return r;
    if (int r = setupVideo(s, connection); r != 0) return r;
    if (IPCamVideoStopped(s)) return IPCAM_IS_OVER;
    if (!s->rtsp.audioUrl.empty()) {
        if (int r = setupAudio(s, connection); r != 0) return r;
        if (IPCamVideoStopped(s)) return IPCAM_IS_OVER;
    }
    if (s->rtpOverUdp) {
        // Sized before the first key frame's burst comes: the description told the size.
        DatagramSource video(s->sockets[kVideoSocket], s->rtp.peers.videoRtp);
        fitUdpBuffer(s, video);
    }
    return play(s, connection);
}

namespace {

// The reply comes between the media; the stream reader takes it, and followKeepAlive looks at
// it afterwards.
bool sendKeepAlive(IPCamSession *s) {
    RtspState &r = s->rtsp;
    RtspRequest keepAlive{r.getParameter ? "GET_PARAMETER" : "OPTIONS",
                          r.playUrl,
                          {},
                          {"Session: " + r.sessionId},
                          false};
    SocketSource connection(s->sockets[kRtspSocket]);
    r.keepAliveCseq = s->cseq;
    if (!rtspSendOnly(s, connection, keepAlive)) return false;
    r.nextKeepAliveMs = monotonicMs() + static_cast<uint64_t>(r.timeoutSeconds) * 500;
    return true;
}

// A keep-alive answered 401 with a fresh nonce (the old one went stale) is sent again at once
// with the new answer; the server would otherwise end the session at its time-out. A refusal
// of our answer is left alone: the session ends with the time-out and the reconnection
// reports the account.
bool followKeepAlive(IPCamSession *s) {
    RtspState &r = s->rtsp;
    const RtspReplyLog &log = s->rtp.replies;
    if (log.replies == r.repliesSeen) return true;
    r.repliesSeen = log.replies;
    if (r.keepAliveCseq < 0 || log.lastCseq != r.keepAliveCseq) return true;
    r.keepAliveCseq = -1;
    if (log.lastStatus / 100 == 2) {
        if (r.auth.answering()) r.auth.accepted();
        return true;
    }
    if (log.lastStatus == kUnauthorized &&
        r.auth.challenged(log.lastChallenge) == Authenticator::Outcome::Answer)
        return sendKeepAlive(s);
    return true;
}

}  // namespace

int rtspRunVideo(IPCamSession *s) {
    RtspState &r = s->rtsp;
    if (!followKeepAlive(s)) return kVideoFailed;
    if (r.nextKeepAliveMs != 0 && monotonicMs() >= r.nextKeepAliveMs && !sendKeepAlive(s))
        return kVideoFailed;
    return rtpRunVideo(s);
}

void rtspEndSession(IPCamSession *s) {
    RtspState &r = s->rtsp;
    if (!r.sessionId.empty() && s->sockets[kRtspSocket] != -1) {
        RtspRequest teardown{"TEARDOWN", r.playUrl, {}, {"Session: " + r.sessionId}, true};
        // The stream may have been read ahead: the reply is looked for behind what was.
        SocketSource socket(s->sockets[kRtspSocket]);
        BufferedSource connection(socket, s->rtp.connectionAhead);
        if (rtspSendOnly(s, connection, teardown, false)) {
            // The answer is not needed; a short wait lets the server read the request before
            // the connection closes under it.
            RtspMessage reply;
            awaitRtspReply(s, connection, reply, kTeardownWaitMs);
        }
    }
    r.sessionId.clear();
    r.nextKeepAliveMs = 0;
    closeConnection(&s->sockets[kRtspSocket]);
}

void rtspTeardown(IPCamSession *s) {
    rtspEndSession(s);
    static constexpr int kCloseOrder[] = {kSixthSocket, kSeventhSocket, kVideoSocket,
                                          kAudioSocket, kFifthSocket,   kThirdSocket};
    for (int i : kCloseOrder) closeConnection(&s->sockets[i]);
}

}  // namespace ipcam
