// The session functions of the C interface.
#include "core/session_api.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "core/config.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_map.h"
#include "core/session_threads.h"
#include "onvif/onvif_session.h"
#include "transport/rtsp_url.h"

using namespace ipcam;

namespace ipcam {

StreamFormatBlock initialStreamFormat() {
    StreamFormatBlock f{};
    f.videoCodec = 4;
    f.audioCodec = -1;
    f.channels = 1;
    f.sampleRate = 48000;
    f.bitsPerSample = 16;
    f.audioFrameSize = 0x5014;  // bytes 40 and 41: 20 and 0x50
    return f;
}

}  // namespace ipcam

namespace {

// The texts must fit their fields, and account:password must fit the authorisation text.
bool textsFit(std::string_view host, std::string_view user, std::string_view password) {
    auto fits = [](std::string_view t) { return t.size() < static_cast<size_t>(kTextFieldSize); };
    return fits(host) && fits(user) && fits(password) &&
           user.size() + 1 + password.size() <= static_cast<size_t>(kMaxCredentialText);
}

IPCamSession *newSession(std::string_view host, unsigned port, std::string_view user,
                         std::string_view password, int id, int type) {
    auto *s = new (std::nothrow) IPCamSession;
    if (!s) return nullptr;
    copyText(s->hostGiven, host);
    copyText(s->host, host);
    copyText(s->user, user);
    copyText(s->password, password);
    s->portGiven = port;
    s->port = port;
    s->id = id;
    s->protocolType = type;
    // Programs without a setting of their own can still ask for RTP over UDP.
    const char *udp = std::getenv("IPCAM_RTP_UDP");
    s->rtpOverUdp = udp && std::string_view(udp) == "1" ? 1 : 0;
    std::snprintf(s->extraQuery, sizeof s->extraQuery, "&EnableBackupDevice=1&ALiveInterval=%d",
                  static_cast<int>(settings().getTimeout / 5));
    return s;
}

}  // namespace

extern "C" IPCAM_API int IPCamCreate(IPCamSession **out, const char *host, unsigned int port,
                                     const char *user, const char *password, int id,
                                     int protocolType) {
    if (!out || !host) return IPCAM_IS_NULL;
    if (port > 65535) return IPCAM_PORT_IS_ER;
    // A caller without an account may pass no texts for it.
    std::string_view u = user ? user : "", p = password ? password : "";
    if (!textsFit(host, u, p)) return IPCAM_IS_NULL;

    SessionRegistry &reg = registry();
    std::lock_guard lock(reg.createLock);
    if (reg.sessions.count(id)) return IPCAM_OK;
    IPCamSession *s = newSession(host, port, u, p, id, protocolType);
    if (!s) return IPCAM_IS_NULL;
    reg.sessions.emplace(id, s);
    *out = s;
    return IPCAM_OK;
}

extern "C" IPCAM_API int IPCamCreateUrl(IPCamSession **out, const char *url, const char *user,
                                        const char *password, int id) {
    if (!out || !url) return IPCAM_IS_NULL;
    RtspUrl parsed;
    if (int r = parseRtspUrl(url, parsed); r != 0) return r;
    if (user) parsed.user = user;
    if (password) parsed.password = password;
    if (parsed.user.size() > kMaxUrlAccount || parsed.password.size() > kMaxUrlAccount ||
        parsed.requestUri.size() >= sizeof IPCamSession::rtspUrl)
        return IPCAM_IS_NULL;

    SessionRegistry &reg = registry();
    std::lock_guard lock(reg.createLock);
    if (reg.sessions.count(id)) return IPCAM_OK;
    IPCamSession *s = newSession(parsed.host, parsed.port, parsed.user, parsed.password, id,
                                 IPCAM_PROTOCOL_RTSP_URL);
    if (!s) return IPCAM_IS_NULL;
    s->rtspPort = parsed.port;
    copyText(s->rtspUrl, parsed.requestUri);
    reg.sessions.emplace(id, s);
    *out = s;
    return IPCAM_OK;
}

extern "C" IPCAM_API int IPCamCreateOnvif(IPCamSession **out, const char *deviceUrl,
                                          const char *user, const char *password, int profile,
                                          int id) {
    if (!out || !deviceUrl || profile < 0) return IPCAM_IS_NULL;
    RtspUrl parsed;
    if (int r = parseUrl(deviceUrl, "http://", 80, parsed); r != 0) return r;
    if (user) parsed.user = user;
    if (password) parsed.password = password;
    if (parsed.user.size() > kMaxUrlAccount || parsed.password.size() > kMaxUrlAccount)
        return IPCAM_IS_NULL;
    auto state = std::make_shared<OnvifState>();
    state->profile = profile;
    state->deviceUrl = parsed;

    SessionRegistry &reg = registry();
    std::lock_guard lock(reg.createLock);
    if (reg.sessions.count(id)) return IPCAM_OK;
    IPCamSession *s = newSession(parsed.host, parsed.port, parsed.user, parsed.password, id,
                                 IPCAM_PROTOCOL_ONVIF);
    if (!s) return IPCAM_IS_NULL;
    s->onvif = std::move(state);
    reg.sessions.emplace(id, s);
    *out = s;
    return IPCAM_OK;
}

extern "C" IPCAM_API int IPCamSetStreamNum(IPCamSession *session, int videoStream,
                                           int audioStream) {
    if (!session) return IPCAM_IS_NULL;
    session->videoStream = videoStream;
    session->audioStream = audioStream;
    return IPCAM_OK;
}

extern "C" IPCAM_API int IPCamSetTransport(IPCamSession *session, int rtpOverUdp,
                                           int clientPortBase) {
    if (!session) return IPCAM_IS_NULL;
    session->rtpOverUdp = rtpOverUdp ? 1 : 0;
    session->clientPortBase = clientPortBase;
    return IPCAM_OK;
}

extern "C" IPCAM_API int IPCamSetOption(IPCamSession *session, int option, int value) {
    if (!session) return IPCAM_IS_NULL;
    SessionOptions &o = session->options;
    switch (option) {
        case IPCAM_OPTION_STRICT_FRAMES:
        case IPCAM_OPTION_CLEAR_PASSWORD:
            if (value != 0 && value != 1) return IPCAM_TYPE_IS_ER;
            (option == IPCAM_OPTION_STRICT_FRAMES ? o.strictFrames : o.clearPassword) =
                static_cast<uint8_t>(value);
            return IPCAM_OK;
        case IPCAM_OPTION_REPLY_TIMEOUT:
            if (value < 1000 || value > 600'000) return IPCAM_TYPE_IS_ER;
            o.replyTimeoutMs = static_cast<uint32_t>(value);
            return IPCAM_OK;
        case IPCAM_OPTION_REORDER_WINDOW:
            if (value < 0 || value > 500) return IPCAM_TYPE_IS_ER;
            o.reorderWindowMs = static_cast<uint32_t>(value);
            return IPCAM_OK;
        case IPCAM_OPTION_ONVIF_RTSP_PORT:
            if (value < 0 || value > 65535) return IPCAM_TYPE_IS_ER;
            o.onvifRtspPort = static_cast<uint16_t>(value);
            return IPCAM_OK;
        default:
            return IPCAM_TYPE_IS_ER;
    }
}

extern "C" IPCAM_API int IPCamAction(IPCamSession *session, IPCamFrameCallback callback,
                                     void *context, int kind) {
    if (!session) return IPCAM_IS_NULL;
    std::lock_guard lock(registry().threadLock);
    if (kind != IPCAM_ACTION_VIDEO && kind != IPCAM_ACTION_AUDIO) {
        session->videoDisconnected = 1;
        return IPCAM_TYPE_IS_ER;
    }

    struct Side {
        Thread &thread;
        Relaxed<uint8_t> &started, &running;
        uint32_t (*body)(IPCamSession *);
        uint32_t stack;
    };
    Side side = kind == IPCAM_ACTION_VIDEO
                    ? Side{session->videoThread, session->videoStarted, session->videoRunning,
                           videoThreadMain, kVideoThreadStack}
                    : Side{session->audioThread, session->audioStarted, session->audioRunning,
                           audioThreadMain, kAudioThreadStack};
    if (side.started) return IPCAM_OK;

    side.started = 1;
    side.running = 1;
    session->callback = callback;
    session->callbackContext = context;
    if (!side.thread.create([session, body = side.body] { return body(session); }, side.stack)) {
        side.started = 0;
        side.running = 0;
        return IPCAM_IS_NULL;
    }
    side.thread.resume();
    return IPCAM_OK;
}

extern "C" IPCAM_API int IPCamGetStatus(IPCamSession *session) {
    if (!session) return IPCAM_IS_NULL;
    if (session->videoDisconnected) {
        switch (int32_t state = session->state) {
            case IPCAM_IS_OVER:
            case -18:
            case IPCAM_CANT_DETECT_TYPE_ER:
            case IPCAM_NUM_LIMITED_ER:
            case IPCAM_IS_FULL:
            case IPCAM_USER_OR_PASSWD_IS_ER:
            case IPCAM_CLEAR_PASSWORD_REFUSED:
            case 5:
                return state;
            default:
                return IPCAM_IS_UNCONNECTED;
        }
    }
    return session->channelFlagged ? 5 : IPCAM_OK;
}

extern "C" IPCAM_API int IPCamGetLastError(IPCamSession *session) {
    return session ? session->state.load() : IPCAM_IS_NULL;
}

extern "C" IPCAM_API int IPCamGetItem(IPCamSession *session, int item) {
    if (!session) return 0;
    const uint32_t model = session->modelCode & 0xFF;
    switch (item) {
        case 1:
            return session->itemValue1;
        case 2:
            return session->recorderChannels;
        case 3: {
            CameraControl *control = session->control;
            return control ? control->GetValue() : 0;
        }
        case 4:
            return session->inputCount;
        case 5:
            return session->outputCount;
        case 6:
            return model == 90 || model == 91 || model == 99;
        case 11:
            return model == 58 || model == 59 || model == 63 || model == 69;
        case IPCAM_ITEM_REACH:
            return session->reach;
        default:
            return 0;
    }
}

int IPCamCommandDirect(IPCamSession *session, void *request, void *flag) {
    if (!session) return IPCAM_IS_NULL;
    CameraControl *control = session->control;
    if (!control) return IPCAM_IS_NULL;
    return control->Command(session, request, flag);
}

extern "C" IPCAM_API int IPCamCommand(IPCamSession *session, void *request, void *flag) {
    if (!session) return IPCAM_IS_NULL;
    if (session->videoDisconnected) return IPCAM_IS_UNCONNECTED;
    return IPCamCommandDirect(session, request, flag);
}

extern "C" IPCAM_API int IPCamTalkOpen(IPCamSession *session, int on) {
    if (!session) return IPCAM_IS_NULL;
    TalkOpenOp open = session->talkOpen;
    if (!open) return on ? IPCAM_TALK_NOT_AVAILABLE : 0;
    return open(session, on);
}

extern "C" IPCAM_API int IPCamTalkSend(IPCamSession *session, const void *data, int length) {
    if (!session || length < 0 || (length > 0 && !data)) return IPCAM_IS_NULL;
    TalkSendOp send = session->talkSend;
    if (!send) return 0;
    return send(session, data, static_cast<std::size_t>(length));
}

int IPCamVideoStopped(IPCamSession *session) {
    if (session->videoRunning) return 0;
    session->state = IPCAM_IS_OVER;
    return 1;
}

int IPCamAudioStopped(IPCamSession *session) {
    return session->audioRunning ? 0 : 1;
}
