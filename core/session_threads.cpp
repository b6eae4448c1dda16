#include "core/session_threads.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "control/control_factory.h"
#include "control/detection.h"
#include "control/settings_tables.h"
#include "core/address_resolution.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_api.h"
#include "onvif/onvif_control.h"
#include "onvif/onvif_session.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/stop_scope.h"
#include "transport/delivery.h"
#include "transport/family_a_connect.h"
#include "transport/family_a_stream.h"
#include "transport/family_b_stream.h"
#include "transport/rtp_reader.h"
#include "transport/rtsp_client.h"

namespace ipcam {

namespace {

constexpr auto kPauseSlice = std::chrono::milliseconds(kWaitSliceMs);
constexpr int kPauseSlices = 3000 / kWaitSliceMs;  // three seconds
constexpr auto kChecksumPause = std::chrono::milliseconds(500);
constexpr auto kAudioWait = std::chrono::milliseconds(100);
constexpr int kAudioWaitSlices = 10;  // one second
constexpr int kNoTransport = IPCAM_CANT_DETECT_TYPE_ER;
constexpr int kNoInfo = IPCAM_GET_INFO_IS_ER;
constexpr int kAccountRefused = -15;  // what the user list answers for a refused account
constexpr int kChecksumStop = IPCAM_CHECK_SUM_IS_ER;
constexpr uint32_t kMulticastFirst = 0xE0030100;  // 224.3.1.0
constexpr uint32_t kMulticastLast = 0xEFFFFFFF;   // 239.255.255.255

// Commands the threads send.
constexpr int32_t kReadVersion = 0x1005;         // "GetVer.cgi"
constexpr int32_t kReadStreamSettings = 0x100C;  // "GetMultimedia.cgi"
constexpr int32_t kReadUsers = 0x101C;           // "GetUser.cgi"
constexpr int32_t kReadStatusBlock = 0x2002;     // "GetStatus.cgi" block
constexpr int32_t kReadAuthFlag = 0x2019;        // "GetStatus.cgi" flag
constexpr std::size_t kAudioFlagField = 5;       // "Audio" in the stream settings

// An RTSP server that refused the account is asked again only after ten pauses: cameras lock
// an account after a few wrong answers in a row, and the account will not mend itself; nor
// will a server that wants it in clear text.
constexpr int kRefusedAccountPauses = 10;

bool accountRefused(int result) {
    return result == IPCAM_USER_OR_PASSWD_IS_ER || result == IPCAM_CLEAR_PASSWORD_REFUSED;
}

// Three seconds (times pauses) in 100 ms slices. The running flag is looked at before each
// slice, so a stop ends the pause within one slice. False when the thread is to stop.
bool pause(const Relaxed<uint8_t> &running, int pauses = 1) {
    for (int slice = 0; slice < kPauseSlices * pauses; ++slice) {
        if (!running) return false;
        std::this_thread::sleep_for(kPauseSlice);
    }
    return running != 0;
}

bool speaksRtsp(int32_t type) {
    return type == IPCAM_PROTOCOL_TYPE5 || type == IPCAM_PROTOCOL_STREAMING_SERVER ||
           playsRtspAddress(type);
}

bool isMulticast(const char *host) {
    in_addr address{};
    if (inet_pton(AF_INET, host, &address) != 1) return false;
    const uint32_t value = ntohl(address.s_addr);
    return value >= kMulticastFirst && value <= kMulticastLast;
}

// The firmware version in a version text: the number at the first digit of its first 20
// characters.
void readFirmwareVersion(IPCamSession *session, const char (&text)[IPCAM_SETTINGS_FIELD_SIZE]) {
    const std::string_view version = fieldText(text);
    const std::size_t digit = version.substr(0, 20).find_first_of("0123456789");
    if (digit == std::string_view::npos) return;
    char number[24] = {};
    copyTextCut(number, version.substr(digit));
    session->deviceNumber = std::strtod(number, nullptr);
}

void chooseDriver(IPCamSession *session, ConnectOp connect, RunOp video, RunOp audio) {
    session->driver.connect = connect;
    session->driver.runVideo = video;
    session->driver.runAudio = audio;
}

void closeSlots(IPCamSession *session, std::initializer_list<int> slots) {
    for (int slot : slots) closeConnection(&session->sockets[slot]);
}

}  // namespace

int IPCamPrepare(IPCamSession *session) {
    if (isMulticast(session->host)) session->protocolType = IPCAM_PROTOCOL_MULTICAST;

    if (session->protocolType == IPCAM_PROTOCOL_AUTO) {
        for (int (*detect)(IPCamSession *) : {DetectFamilyA, DetectFamilyB, DetectServer}) {
            if (!session->videoRunning) {
                session->state = IPCAM_IS_OVER;
                return kNoTransport;
            }
            const int r = detect(session);
            if (r >= 0) break;
            if (r == -18 || r == IPCAM_IS_UNCONNECTED || r == IPCAM_USER_OR_PASSWD_IS_ER) return r;
        }
    }
    char name[16];
    std::snprintf(name, sizeof name, "CH%02d", session->videoStream.load() + 1);
    copyTextCut(session->channelName, name);

    const int32_t type = session->protocolType;
    const bool familyA = type == IPCAM_PROTOCOL_TYPE1 || type == IPCAM_PROTOCOL_TYPE4 ||
                         type == IPCAM_PROTOCOL_TYPE5;
    if (familyA && session->modelCode == 0 && DetectFamilyA(session) == -18) return -18;

    session->transportWords[0] = session->transportWords[1] = 0;
    if (familyA) {
        // The framing a device chose last time is kept: its readers stay in place.
        RunOp video = session->driver.runVideo, audio = session->driver.runAudio;
        if (video != huntRunVideo && video != taggedRunVideo) video = huntRunVideo;
        if (audio != htadRunAudio && audio != taggedRunAudio) audio = htadRunAudio;
        chooseDriver(session, familyAConnect, video, audio);
    } else if (type == IPCAM_PROTOCOL_TYPE2) {
        chooseDriver(session, familyBConnect, familyBRunVideo, familyBRunAudio);
    } else if (type == IPCAM_PROTOCOL_STREAMING_SERVER || type == IPCAM_PROTOCOL_RTSP_URL) {
        chooseDriver(session, rtspConnect, rtspRunVideo, rtpRunAudio);
    } else if (type == IPCAM_PROTOCOL_ONVIF) {
        chooseDriver(session, onvifConnect, rtspRunVideo, rtpRunAudio);
        if (!session->control) session->control = new OnvifControl(session->onvif);
    } else {
        chooseDriver(session, nullptr, nullptr, nullptr);
        // A caller may be inside the old object right now: it is kept until the session goes.
        if (CameraControl *old = session->control.exchange(nullptr))
            session->retiredControls.emplace_back(old);
        return kNoTransport;
    }
    if (!session->control) session->control = makeCameraControl(type, session->modelCode);
    return 0;
}

int IPCamQueryInfo(IPCamSession *session, int32_t type, int mode) {
    int result = kNoInfo;
    if (mode == 1) {
        if (type == IPCAM_PROTOCOL_TYPE1) {
            IPCamSettingsRecord settings = settingsRecord(kReadStreamSettings);
            const int r = IPCamCommandDirect(session, &settings, nullptr);
            return r >= 0 && settings.field[kAudioFlagField][0] == '1' ? 0 : kNoInfo;
        }
        if (type == IPCAM_PROTOCOL_TYPE2) {
            IPCamSettingsRecord block = settingsRecord(kReadStatusBlock);
            const int r = IPCamCommandDirect(session, &block, nullptr);
            return r >= 0 && block.field[0][0] == '1' ? 0 : kNoInfo;
        }
        if (type == IPCAM_PROTOCOL_TYPE4 || type == IPCAM_PROTOCOL_TYPE5 ||
            type == IPCAM_PROTOCOL_STREAMING_SERVER || type == IPCAM_PROTOCOL_MULTICAST ||
            playsRtspAddress(type))
            return 0;
        return kNoInfo;
    }
    if (mode != 0) return kNoInfo;

    if (type == IPCAM_PROTOCOL_TYPE1 || type == IPCAM_PROTOCOL_TYPE4) {
        if (session->deviceNumber == 0.0) {
            IPCamSettingsRecord version = settingsRecord(kReadVersion);
            if (IPCamCommandDirect(session, &version, nullptr) >= 0)
                readFirmwareVersion(session, version.field[0]);
        }
        CameraControl *control = session->control;
        if (control && isDeviceCamera(session->modelCode)) {
            IPCamVideoFormatRecord format{};
            format.code = IPCAM_CMD_READ_VIDEO_FORMAT;
            control->Command(session, &format, nullptr);
        }
        result = 0;
    } else if (type == IPCAM_PROTOCOL_TYPE2) {
        IPCamSettingsRecord flag = settingsRecord(kReadAuthFlag);
        if (IPCamCommandDirect(session, &flag, nullptr) >= 0) {
            result = 0;
            if (flag.field[0][0] == '1') session->authRequired = 1;
        }
    } else if (type == IPCAM_PROTOCOL_TYPE5 || type == IPCAM_PROTOCOL_STREAMING_SERVER ||
               type == IPCAM_PROTOCOL_MULTICAST || playsRtspAddress(type)) {
        return 0;
    } else {
        return kNoInfo;
    }

    // Pan/tilt and recorder facts carry their value in the word after the code.
    CameraControl *control = session->control;
    if (session->itemValue1 == 0 && control && control->CanQueryItems()) {
        IPCamPanTiltRecord panTilt{};
        panTilt.code = IPCAM_CMD_READ_PAN_TILT;
        IPCamCommandDirect(session, &panTilt, nullptr);
        session->itemValue1 = panTilt.value > 0 ? panTilt.value : 0;
    }
    if (session->recorderChannels == 0) {
        IPCamRecorderChannelsRecord recorder{IPCAM_CMD_RECORDER_CHANNELS, 0};
        IPCamCommandDirect(session, &recorder, nullptr);
        session->recorderChannels = recorder.channels > 0 ? recorder.channels : 0;
    }
    return result;
}

void notifyStreamEnd(IPCamSession *session) {
    const uint8_t cleared = 0;
    if (session->eventState) {
        session->eventState = 0;
        sendMessage(session, IPCAM_MSG_EVENT, &cleared, 1, session->lastFrameTime);
    }
    if (session->inputState) {
        session->inputState = 0;
        sendMessage(session, IPCAM_MSG_INPUT, &cleared, 1, session->lastFrameTime);
    }
}

int streamBroken(IPCamSession *session) {
    if (session->eventState == 1) {
        session->eventState = 0;
        const uint8_t cleared = 0;
        sendMessage(session, IPCAM_MSG_EVENT, &cleared, 1, localFileTimeNow());
    }
    closeConnection(&session->sockets[kVideoSocket]);
    return IPCAM_VIDEO_GETFRAME_IS_ER;
}

int connectVideo(IPCamSession *s) {
    rtspEndSession(s);  // a server session still open is ended before its connection goes
    // The audio connections go too, so that the audio side reconnects with the video. Their
    // reader is woken, and each descriptor is closed once that reader has let go of it.
    closeSlots(s, {kSixthSocket, kSeventhSocket, kVideoSocket, kAudioSocket, kRtspSocket});
    s->awaitingFirstFrame = 1;
    {
        std::lock_guard guard(s->formatLock);
        s->format.width = s->format.height = 0;
    }
    s->rtp.resetForConnection();
    ConnectOp connect = s->driver.connect;
    return connect ? connect(s, 0) : kNoTransport;
}

uint32_t videoThreadMain(IPCamSession *s) {
    StopScope scope(&s->videoRunning);
    const Relaxed<uint8_t> &running = s->videoRunning;
    while (running) {
        if (s->state < 0) {
            s->videoDisconnected = 1;
            if (int r = resolveAndProbe(s); r != 0) {
                s->state = r;
                if (!pause(running)) break;
                continue;
            }
            if (!running) break;
            if (int r = IPCamPrepare(s); (s->state = r) != 0) {
                if (!pause(running)) break;
                continue;
            }
            if (!running) break;
            if (int r = IPCamQueryInfo(s, s->protocolType, 0); r != 0) {
                s->state = r;
                if (!pause(running)) break;
                continue;
            }
            if (!running) break;
            const int r = connectVideo(s);
            s->state = r;
            if (r == 0) {
                s->videoDisconnected = 0;
            } else if (!pause(running, accountRefused(r) && speaksRtsp(s->protocolType)
                                           ? kRefusedAccountPauses
                                           : 1)) {
                break;
            }
            continue;
        }
        const int r = s->driver.runVideo.load()(s);
        if (r == 0 || r == kChannelFlagged) {
            s->videoDisconnected = 0;
            s->state = r;
            continue;
        }
        s->videoDisconnected = 1;
        if (r == kNoStreamSlot) {
            // A full device and a refused account look alike; the user list tells them apart.
            IPCamSettingsRecord users = settingsRecord(kReadUsers);
            s->state = IPCamCommandDirect(s, &users, nullptr) == kAccountRefused
                           ? IPCAM_USER_OR_PASSWD_IS_ER
                           : IPCAM_IS_FULL;
        } else if (r == kChecksumStop) {
            s->videoRunning = 0;  // for good
            s->state = r;
            std::this_thread::sleep_for(kChecksumPause);
            break;
        } else {
            s->state = r;
        }
        if (!pause(running)) break;
    }
    s->state = IPCAM_IS_OVER;
    notifyStreamEnd(s);
    return 0;
}

uint32_t audioThreadMain(IPCamSession *s) {
    StopScope scope(&s->audioRunning);
    const Relaxed<uint8_t> &running = s->audioRunning;
    // Audio follows a working video stream, whose size is known by then.
    while (running) {
        StreamFormatBlock format = currentFormat(s);
        if (s->state >= 0 && format.width != 0 && format.height != 0) break;
        for (int i = 0; i < kAudioWaitSlices && running; ++i)
            std::this_thread::sleep_for(kAudioWait);
    }
    int last = -1;
    while (running) {
        RunOp runAudio = s->driver.runAudio;
        if (last == 0 && runAudio) {
            last = runAudio(s);
            if (last != 0) pause(running);
            continue;
        }
        if (s->audioStream == -1) {
            pause(running);
            continue;
        }
        if (speaksRtsp(s->protocolType)) {
            // RTSP: over UDP the video side has opened the audio socket; interleaved audio is
            // read on the video side. Closing the slots and connecting again here would throw
            // away the sockets the SETUP of the video side made.
            if (s->rtpOverUdp)
                last = 0;
            else
                pause(running);
            continue;
        }
        if (IPCamQueryInfo(s, s->protocolType, 1) != 0) {
            pause(running);
            continue;
        }
        if (!running) break;
        closeSlots(s, {kSeventhSocket, kAudioSocket});
        ConnectOp connect = s->driver.connect;
        last = connect ? connect(s, 1) : -1;
        if (last != 0) pause(running);
    }
    return 0;
}

}  // namespace ipcam
