#include "transport/rtsp_client.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/decimal.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_api.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr int kAudioFailed = -9;
constexpr std::size_t kReplyHead = 2048;
constexpr int32_t kMaxDescription = 65'536;

// One request and its reply head, terminated. False on a failed send, no reply or a status
// other than 200.
bool exchange(IPCamSession *s, const char *request, int length, char (&reply)[kReplyHead + 1]) {
    int socket = s->sockets[kRtspSocket];
    if (length <= 0 ||
        sendAll(socket, request, static_cast<std::size_t>(length), settings().setTimeout) != length)
        return false;
    int n = receiveHeader(socket, reply, kReplyHead, settings().getTimeout);
    if (n <= 0) return false;
    reply[n] = '\0';
    return std::strstr(reply, " 200 ") != nullptr;
}

// The value after key up to any of stops, copied into field; false when missing or too long.
template <std::size_t N>
bool headerValue(const char *text, const char *key, const char *stops, char (&field)[N]) {
    const char *at = std::strstr(text, key);
    if (!at) return false;
    at += std::strlen(key);
    std::size_t length = std::strcspn(at, stops);
    if (length == 0) return false;
    return copyText(field, std::string_view(at, length));
}

// "server_port=" of a SETUP reply, or -1.
int32_t serverPort(const char *reply) {
    const char *at = std::strstr(reply, "server_port=");
    return at ? decimalValue(at + 12) : -1;
}

int fail(IPCamSession *s, int index, int code) {
    closeConnection(&s->sockets[index]);
    return code;
}

template <typename... Args>
int format(char (&out)[1024], const char *pattern, Args... args) {
    int n = std::snprintf(out, sizeof out, pattern, args...);
    return n < 0 || n >= static_cast<int>(sizeof out) ? -1 : n;
}

// The description: the codecs into the format, the track names into the session.
bool readDescription(IPCamSession *s, const char *body) {
    const char *video = std::strstr(body, "m=video");
    if (!video) return false;
    StreamFormatBlock f = s->format;
    parseMediaLine(video, &f.videoCodec, nullptr, nullptr);
    const char *control = std::strstr(video, "a=control:");
    if (!control || !headerValue(control, "a=control:", "\r", s->videoControl)) return false;

    s->audioControl[0] = '\0';
    if (const char *audio = std::strstr(body, "m=audio")) {
        parseMediaLine(audio, &f.audioCodec, &f.sampleRate, &f.channels);
        const char *audioControl = std::strstr(audio, "a=control:");
        if (audioControl && !headerValue(audioControl, "a=control:", "\r", s->audioControl)) {
            // An unreadable name means no audio; one too long for its field is refused.
            if (std::strcspn(audioControl + 10, "\r") >= sizeof s->audioControl) return false;
            s->audioControl[0] = '\0';
        }
    }
    f.width = 722;  // until the first configuration frame tells
    f.height = 482;
    std::lock_guard guard(s->formatLock);
    s->format = f;
    return true;
}

int describe(IPCamSession *s, const char *host, const char *path) {
    char request[1024], reply[kReplyHead + 1];
    int n = format(request, "DESCRIBE rtsp://%s/%s RTSP/1.0\r\nCSeq: %d\r\n\r\n", host, path,
                   s->cseq++);
    if (!exchange(s, request, n, reply)) return fail(s, kRtspSocket, kVideoFailed);

    const char *length = std::strstr(reply, "Content-Length: ");
    int32_t bodyLength = length ? decimalValue(length + 16) : 0;
    if (bodyLength < 0 || bodyLength > kMaxDescription) return fail(s, kRtspSocket, kVideoFailed);
    std::vector<char> body(static_cast<std::size_t>(bodyLength) + 32, '\0');
    if (bodyLength > 0 &&
        receiveExactly(s->sockets[kRtspSocket], body.data(), static_cast<std::size_t>(bodyLength),
                       settings().getTimeout) != bodyLength)
        return fail(s, kRtspSocket, kVideoFailed);
    return readDescription(s, body.data()) ? 0 : fail(s, kRtspSocket, kVideoFailed);
}

int setupVideo(IPCamSession *s, const char *host, const char *path, bool udp) {
    char request[1024], reply[kReplyHead + 1];
    int n;
    if (udp) {
        int port =
            openUdp(&s->sockets[kVideoSocket], static_cast<uint32_t>(s->clientPortBase.load()));
        if (port < 0) return fail(s, kVideoSocket, kVideoFailed);
        s->clientPortBase = port;
        n = format(request,
                   "SETUP rtsp://%s/%s/%s RTSP/1.0\r\nCSeq: %d\r\nTransport: "
                   "RTP/AVP/UDP;unicast;client_port=%d\r\n\r\n",
                   host, path, s->videoControl, s->cseq++, port);
    } else {
        n = format(request,
                   "SETUP rtsp://%s/%s/%s RTSP/1.0\r\nCSeq: %d\r\nTransport: "
                   "RTP/AVP/TCP;unicast;interleaved=0\r\n\r\n",
                   host, path, s->videoControl, s->cseq++);
    }
    if (!exchange(s, request, n, reply) || !headerValue(reply, "Session: ", ";\r", s->rtspSession))
        return fail(s, kRtspSocket, kVideoFailed);
    if (!udp) return 0;

    s->videoServerPort = serverPort(reply);
    if (s->videoServerPort < 0) return fail(s, kVideoSocket, kVideoFailed);
    if (openUdp(&s->sockets[kSixthSocket], static_cast<uint32_t>(s->clientPortBase + 1)) < 0 ||
        !connectUdp(s->sockets[kSixthSocket], host, static_cast<uint32_t>(s->videoServerPort + 1)))
        return fail(s, kSixthSocket, kVideoFailed);
    return 0;
}

int setupAudio(IPCamSession *s, const char *host, const char *path, bool udp) {
    char request[1024], reply[kReplyHead + 1];
    int n;
    const int base = s->clientPortBase;
    if (udp) {
        if (openUdp(&s->sockets[kAudioSocket], static_cast<uint32_t>(base + 2)) < 0)
            return fail(s, kAudioSocket, kAudioFailed);
        n = format(request,
                   "SETUP rtsp://%s/%s/%s RTSP/1.0\r\nCSeq: %d\r\nSession: %s\r\nTransport: "
                   "RTP/AVP/UDP;unicast;client_port=%d-%d\r\n\r\n",
                   host, path, s->audioControl, s->cseq++, s->rtspSession, base + 2, base + 3);
    } else {
        n = format(request,
                   "SETUP rtsp://%s/%s/%s RTSP/1.0\r\nSession: %s\r\nCSeq: %d\r\nTransport: "
                   "RTP/AVP/TCP;unicast;interleaved=2\r\n\r\n",
                   host, path, s->audioControl, s->rtspSession, s->cseq++);
    }
    if (!exchange(s, request, n, reply)) return fail(s, kRtspSocket, kVideoFailed);
    if (!udp) return 0;

    s->audioServerPort = serverPort(reply);
    if (s->audioServerPort < 0) return fail(s, kAudioSocket, kVideoFailed);
    if (openUdp(&s->sockets[kSeventhSocket], static_cast<uint32_t>(base + 3)) < 0 ||
        !connectUdp(s->sockets[kSeventhSocket], host,
                    static_cast<uint32_t>(s->audioServerPort + 1)))
        return fail(s, kSeventhSocket, kAudioFailed);
    return 0;
}

}  // namespace

int parseMediaLine(const char *section, int32_t *codec, int32_t *clock, int32_t *channels) {
    if (!section || !codec) return 0;
    const char *end = std::strstr(section, "\r\n");
    if (!end) return 0;
    int32_t type = 0;
    for (int32_t scale = 1;
         end > section && end[-1] >= '0' && end[-1] <= '9' && scale <= 100'000'000; scale *= 10)
        type += (*--end - '0') * scale;

    int32_t rate = 8000, count = 1;
    if (type == 14) {
        *codec = 3;
    } else if (type == 26) {
        *codec = 0;
    } else if (type >= 96 && type <= 99) {
        char name[32] = "";
        if (const char *map = std::strstr(section, "a=rtpmap:")) {
            const char *space = std::strchr(map, ' ');
            const char *lineEnd = std::strstr(map, "\r\n");
            if (space && (!lineEnd || space < lineEnd)) {
                std::size_t length = std::strcspn(space + 1, "/\r\n");
                if (space[1 + length] == '/' &&
                    copyText(name, std::string_view(space + 1, length))) {
                    rate = decimalValue(space + 2 + length);
                    // The last number on the line is the channel count.
                    if (lineEnd) {
                        const char *digits = lineEnd;
                        while (digits > space && digits[-1] >= '0' && digits[-1] <= '9') --digits;
                        if (digits < lineEnd)
                            count = decimalValue(std::string_view(
                                digits, static_cast<std::size_t>(lineEnd - digits)));
                    }
                    if (count == rate) count = 1;
                }
            }
        }
        std::string_view encoding(name);
        if (encoding == "ADPCM")
            *codec = 6;
        else if (encoding == "AMR")
            *codec = 7;
        else if (encoding == "MP4V-ES")
            *codec = 4;
        else {
            *codec = -1;
            return 0;
        }
    } else {
        return 0;
    }
    if (clock) *clock = rate;
    if (channels) *channels = count == 1 ? 0 : 1;
    return 1;
}

int rtspConnect(IPCamSession *s, int which) {
    if (which != 0) return 0;
    {
        std::lock_guard guard(s->formatLock);
        s->format.frameRate = 30.0;
    }
    if (IPCamVideoStopped(s)) return IPCAM_IS_OVER;
    if (openConnection(&s->sockets[kRtspSocket], s->host, s->rtspPort) != 1) return kVideoFailed;

    const bool udp = s->rtpOverUdp != 0;
    const char *host = s->host;
    const char *path = s->channelName;
    if (int r = describe(s, host, path); r != 0) return r;
    if (int r = setupVideo(s, host, path, udp); r != 0) return r;
    if (IPCamVideoStopped(s)) return IPCAM_IS_OVER;
    if (s->audioControl[0]) {
        if (int r = setupAudio(s, host, path, udp); r != 0) return r;
        if (IPCamVideoStopped(s)) return IPCAM_IS_OVER;
    }

    char request[1024], reply[kReplyHead + 1];
    int n = format(request, "PLAY rtsp://%s/%s RTSP/1.0\r\nCSeq: %d\r\nSession: %s\r\n\r\n", host,
                   path, s->cseq++, s->rtspSession);
    if (!exchange(s, request, n, reply)) return fail(s, kRtspSocket, kVideoFailed);
    if (!udp) return 0;
    if (!connectUdp(s->sockets[kVideoSocket], host, static_cast<uint32_t>(s->videoServerPort)))
        return fail(s, kVideoSocket, kVideoFailed);
    if (s->audioControl[0] &&
        !connectUdp(s->sockets[kAudioSocket], host, static_cast<uint32_t>(s->audioServerPort)))
        return fail(s, kAudioSocket, kVideoFailed);
    return 0;
}

void rtspTeardown(IPCamSession *s) {
    if (s->protocolType == IPCAM_PROTOCOL_TYPE5 && s->sockets[kRtspSocket] != -1) {
        char request[1024];
        int n =
            format(request, "TEARDOWN rtsp://%s/%s RTSP/1.0\r\nCSeq: %d\r\nSession: %s\r\n\r\n\r\n",
                   s->host, s->channelName, s->cseq, s->rtspSession);
        if (n > 0 && sendAll(s->sockets[kRtspSocket], request, static_cast<std::size_t>(n),
                             settings().setTimeout) == n) {
            char reply[512];
            receiveHeader(s->sockets[kRtspSocket], reply, sizeof reply, settings().getTimeout);
        }
    }
    static constexpr int kCloseOrder[] = {kSixthSocket, kSeventhSocket, kVideoSocket, kAudioSocket,
                                          kRtspSocket,  kFifthSocket,   kThirdSocket};
    for (int i : kCloseOrder) closeConnection(&s->sockets[i]);
}

}  // namespace ipcam
