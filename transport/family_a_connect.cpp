#include "transport/family_a_connect.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "control/cgi_client.h"
#include "core/config.h"
#include "core/decimal.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_api.h"
#include "platform/sockets.h"
#include "transport/family_a_stream.h"
#include "transport/rtp_reader.h"
#include "transport/rtsp_client.h"
#include "transport/talk_channel.h"

namespace ipcam {

namespace {

constexpr int kNetworkFailed = -7;
constexpr int kVideoRefused = -8;
constexpr int kAudioRefused = -9;
constexpr std::size_t kReplyHeadSize = 512;
constexpr std::size_t kLoginBlockSize = 64;

bool valueAfter(const char *reply, const char *key, int32_t &value) {
    const char *at = std::strstr(reply, key);
    if (!at) return false;
    value = decimalValue(at + std::strlen(key));
    return true;
}

// The readers stay as the stream last chose them; a fresh session starts with "HUNT".
void installReaders(IPCamSession *session) {
    RunOp video = session->driver.runVideo;
    if (video != huntRunVideo && video != taggedRunVideo) session->driver.runVideo = huntRunVideo;
    RunOp audio = session->driver.runAudio;
    if (audio != htadRunAudio && audio != taggedRunAudio) session->driver.runAudio = htadRunAudio;
}

// A new video connection reads a magic first, whatever the last one ended with.
void freshVideoConnection(IPCamSession *session) {
    session->stream.expectMagic = 1;
    session->stream.magicTimedOut = 0;
    session->stream.magicRetryCount = 0;
}

int readHead(SocketSlot &slot, char *head) {
    const int n = receiveHeader(slot, head, kReplyHeadSize - 1, settings().getTimeout);
    head[n > 0 ? n : 0] = '\0';
    return n;
}

}  // namespace

NetworkPorts readNetworkPorts(const char *reply, int32_t videoStream) {
    NetworkPorts ports;
    if (!reply) return ports;
    valueAfter(reply, "Video_Port=", ports.videoPort);
    valueAfter(reply, "Audio_Port=", ports.audioPort);
    valueAfter(reply, "Audio_I2P_Port=", ports.audioPort);
    if (!valueAfter(reply, "Rtsp_Port=", ports.rtspPort)) valueAfter(reply, "RTSP_Port=", ports.rtspPort);

    static constexpr const char *kPathKeys[] = {"Path_Live1=", "Path_Live2=", "Path_3GPP="};
    if (videoStream < 0 || videoStream > 2) return ports;
    const char *key = std::strstr(reply, kPathKeys[videoStream]);
    if (!key) return ports;
    key += std::strlen(kPathKeys[videoStream]);
    const char *end = std::strstr(key, "<br>");
    if (!end) return ports;
    std::string_view path(key, static_cast<std::size_t>(end - key));
    // The third stream is named after the second when the device has no second live path.
    if (videoStream == 2 && !std::strstr(reply, "Path_Live2=")) {
        char named[sizeof ports.path];
        if (std::snprintf(named, sizeof named, "%.*sx", static_cast<int>(path.size()),
                          path.data()) >= static_cast<int>(sizeof named))
            return ports;
        ports.pathFound = copyText(ports.path, named);
        return ports;
    }
    ports.pathFound = copyText(ports.path, path);
    return ports;
}

int familyAConnect(IPCamSession *session, int which) {
    FamilyAStreamState &stream = session->stream;
    if (session->awaitingFirstFrame) {
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
        CgiClient client;
        client.SetAddress(session->host, static_cast<int32_t>(session->port));
        if (client.Get("GetNetwork.cgi") <= 0) return kNetworkFailed;
        const NetworkPorts ports = readNetworkPorts(client.ReplyText(), session->videoStream);
        stream.videoPort = ports.videoPort;
        stream.audioPort = ports.audioPort;
        if (ports.rtspPort) session->rtspPort = static_cast<uint32_t>(ports.rtspPort);
        if (ports.pathFound) copyText(session->channelName, ports.path);
    }
    stream.talkPort = static_cast<int32_t>(session->port);
    session->talkOpen = talkOpen;
    session->talkSend = talkSend;

    const uint32_t capabilities = (session->modelCode >> 8) & 0xFF;
    const bool httpStream = capabilities & 1, rtsp = capabilities & 2;
    const int32_t type = session->protocolType;
    auto useRtsp = [session, which] {
        session->driver.connect = rtspConnect;
        session->driver.runVideo = rtspRunVideo;
        session->driver.runAudio = rtpRunAudio;
        return rtspConnect(session, which);
    };
    if (type == IPCAM_PROTOCOL_TYPE5 && rtsp && session->rtspPort) return useRtsp();
    if (!httpStream) {
        if (rtsp && session->rtspPort) {
            session->protocolType = IPCAM_PROTOCOL_TYPE5;
            return useRtsp();
        }
        if (stream.videoPort || stream.audioPort) {
            session->driver.connect = separatePortConnect;
            installReaders(session);
            return separatePortConnect(session, which);
        }
    }
    // The HTTP stream, on the web port for both directions.
    session->protocolType = IPCAM_PROTOCOL_TYPE4;
    session->driver.connect = httpStreamConnect;
    installReaders(session);
    stream.videoPort = static_cast<int32_t>(session->port);
    stream.audioPort = static_cast<int32_t>(session->port);
    return httpStreamConnect(session, which);
}

int httpStreamConnect(IPCamSession *session, int which) {
    if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    const uint32_t sendTimeout = settings().setTimeout;
    char request[512];
    char head[kReplyHeadSize];
    if (which == 0) {
        if (!session->awaitingFirstFrame) return 0;
        SocketSlot &slot = session->sockets[kVideoSocket];
        if (!openConnection(&slot, session->host, static_cast<uint32_t>(session->stream.videoPort.load())))
            return kNetworkFailed;
        const int length = std::snprintf(
            request, sizeof request, "GET /GetStream.cgi?Video=%d%s HTTP/1.1\r\nAuthorization:Basic %s\r\n\r\n",
            session->videoStream.load(), session->extraQuery, session->authText);
        if (length <= 0 || length >= static_cast<int>(sizeof request) ||
            sendAll(slot, request, static_cast<std::size_t>(length), sendTimeout) != length) {
            closeConnection(&slot);
            return kNetworkFailed;
        }
        readHead(slot, head);
        if (std::strstr(head, " 200 ")) {
            freshVideoConnection(session);
            return 0;
        }
        closeConnection(&slot);
        return std::strstr(head, " 401 ") ? IPCAM_USER_OR_PASSWD_IS_ER : kVideoRefused;
    }
    if (which == 1) {
        if (!session->audioDisconnected) return 0;
        if (session->audioStream == -1) return kNetworkFailed;
        SocketSlot &slot = session->sockets[kAudioSocket];
        if (!openConnection(&slot, session->host, static_cast<uint32_t>(session->stream.audioPort.load())))
            return kNetworkFailed;
        const int length = std::snprintf(
            request, sizeof request, "GET /GetStream.cgi?Audio=%d HTTP/1.1\r\nAuthorization:Basic %s\r\n\r\n",
            session->audioStream.load(), session->authText);
        if (length <= 0 || length >= static_cast<int>(sizeof request) ||
            sendAll(slot, request, static_cast<std::size_t>(length), sendTimeout) != length) {
            closeConnection(&slot);
            return kNetworkFailed;
        }
        readHead(slot, head);
        if (std::strstr(head, " 200 ")) return 0;
        closeConnection(&slot);
        return kAudioRefused;
    }
    return 0;
}

int separatePortConnect(IPCamSession *session, int which) {
    if (which == 0) {
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
        SocketSlot &slot = session->sockets[kVideoSocket];
        // The login block: the authorisation field as it lies in the session, then 8 NULs.
        uint8_t login[kLoginBlockSize] = {};
        static_assert(sizeof session->authText <= kLoginBlockSize);
        std::memcpy(login, session->authText, sizeof session->authText);
        if (!openConnection(&slot, session->host, static_cast<uint32_t>(session->stream.videoPort.load())) ||
            sendAll(slot, login, sizeof login, settings().setTimeout) != static_cast<int>(sizeof login)) {
            closeConnection(&slot);
            return kVideoRefused;
        }
        freshVideoConnection(session);
        return 0;
    }
    if (which == 1) {
        if (IPCamAudioStopped(session)) return IPCAM_IS_OVER;
        SocketSlot &slot = session->sockets[kAudioSocket];
        if (!openConnection(&slot, session->host, static_cast<uint32_t>(session->stream.audioPort.load())))
            return kAudioRefused;
        return 0;
    }
    return 0;
}

}  // namespace ipcam
