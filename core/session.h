// The session record: everything the library keeps about one camera or recorder.
//
// A session is created by IPCamCreate, lives in the session map and is driven by up to two
// threads (video and audio) until IPCamAllDelete. Fields that cross threads are Relaxed
// words: each names the thread that writes it. Texts are 8-bit and NUL-terminated, written
// only through the bounded copies of fixed_text.h.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "control/camera_control.h"
#include "ipcam.h"
#include "platform/relaxed.h"
#include "platform/sockets.h"
#include "platform/thread.h"
#include "transport/family_a_stream.h"
#include "transport/rtp_state.h"
#include "transport/rtsp_state.h"

namespace ipcam {

// Socket slots of a session. The transports assign the unnamed ones.
enum SocketIndex : int {
    kVideoSocket = 0,
    kAudioSocket = 1,
    kThirdSocket = 2,
    kRtspSocket = 3,
    kFifthSocket = 4,
    kSixthSocket = 5,
    kSeventhSocket = 6,
    kSocketCount = 7,
};

// The three transport operations a protocol type selects.
using ConnectOp = int (*)(IPCamSession *session, int which);  // which: 0 video, 1 audio
using RunOp = int (*)(IPCamSession *session);

struct StreamDriver {
    Relaxed<ConnectOp> connect{nullptr};
    Relaxed<RunOp> runVideo{nullptr};
    Relaxed<RunOp> runAudio{nullptr};
};

// What the type-2 video reader keeps between pictures (video thread).
struct FamilyBStreamState {
    uint8_t statusBytes[6] = {9, 9, 9, 9, 9, 9};  // bytes 60-65 of the latest status block
    uint64_t eventTime = 0;                       // when those bytes last changed
    uint8_t statusBlock[82] = {};                 // the latest block; byte 21 codes the size
};

// The talk operations a transport installs: open or close the talk connection, send audio.
using TalkOpenOp = int (*)(IPCamSession *session, int on);
using TalkSendOp = int (*)(IPCamSession *session, const void *data, std::size_t length);

inline constexpr int kTextFieldSize = 128;     // host, user and password: 127 characters
inline constexpr int kAuthTextSize = 56;       // base64 of account:password with its NUL
inline constexpr int kMaxCredentialText = IPCAM_CREDENTIALS_MAX;  // account:password in authText
inline constexpr uint32_t kVideoThreadStack = 512 * 1024;
inline constexpr uint32_t kAudioThreadStack = 128 * 1024;

// The format block a new session starts with.
StreamFormatBlock initialStreamFormat();

// Sessions that play an RTSP address rather than a device dialect's: those made by URL, and
// those of ONVIF devices, whose address the device gives. They answer the server's challenges
// themselves, with accounts of any length.
inline bool playsRtspAddress(int32_t type) {
    return type == IPCAM_PROTOCOL_RTSP_URL || type == IPCAM_PROTOCOL_ONVIF;
}

// What IPCamSetOption chose: written by callers at any time, read by the session's threads.
struct SessionOptions {
    static constexpr uint32_t kDefaultReplyTimeoutMs = 20'000;
    static constexpr uint32_t kDefaultReorderWindowMs = 50;

    Relaxed<uint8_t> strictFrames{0};   // no damaged frames: wait for a key frame after a loss
    Relaxed<uint8_t> clearPassword{0};  // Basic may be answered over an unencrypted connection
    Relaxed<uint32_t> replyTimeoutMs{kDefaultReplyTimeoutMs};    // each handshake reply
    Relaxed<uint32_t> reorderWindowMs{kDefaultReorderWindowMs};  // UDP packets held back
    Relaxed<uint16_t> onvifRtspPort{0};  // in place of the port of an ONVIF stream address; 0 keeps it
};

struct OnvifState;

}  // namespace ipcam

struct IPCamSession {
    // Connections. Written by the session's threads; closed by deletion once they have ended.
    ipcam::SocketSlot sockets[ipcam::kSocketCount] = {-1, -1, -1, -1, -1, -1, -1};
    ipcam::StreamDriver driver;      // chosen by the video thread at preparation
    ipcam::Relaxed<ipcam::TalkOpenOp> talkOpen{nullptr};  // installed by the connect step
    ipcam::Relaxed<ipcam::TalkSendOp> talkSend{nullptr};
    int32_t transportWords[4] = {};  // transport working words
    ipcam::Published<ipcam::CameraControl> control{nullptr};  // owned; made by the video thread
    // Command objects the video thread took away while callers may still be using them.
    std::vector<std::unique_ptr<ipcam::CameraControl>> retiredControls;

    char hostGiven[ipcam::kTextFieldSize] = {};  // as the caller gave it
    char host[ipcam::kTextFieldSize] = {};       // the address actually used
    char password[ipcam::kTextFieldSize] = {};
    char user[ipcam::kTextFieldSize] = {};
    uint32_t portGiven = 0;  // as the caller gave it: a dynamic-DNS name's is its redirector's
    // The device's web port in use: the video thread settles it before each attempt; command
    // threads read it.
    ipcam::Relaxed<uint32_t> port{0};
    uint32_t rtspPort = 554;
    ipcam::Relaxed<double> deviceNumber{0.0};  // firmware version; video thread, read by commands

    // Set by IPCamAction before the threads start; read by them. Deletion clears it when it
    // has to leave a thread running, and then waits for the deliveries still inside it
    // (callbacksInFlight) so that the caller's callback is not entered after deletion returned.
    std::atomic<IPCamFrameCallback> callback{nullptr};
    ipcam::Relaxed<void *> callbackContext{nullptr};
    std::atomic<int32_t> callbacksInFlight{0};
    int32_t id = 0;
    ipcam::Relaxed<int32_t> protocolType{0};  // the video thread may settle Auto

    char authText[ipcam::kAuthTextSize] = {};
    uint16_t cseq = 0;            // RTSP "CSeq: %d", counted for the session's life
    int32_t videoServerPort = 0;  // the device's RTP ports (RTSP over UDP)
    int32_t audioServerPort = 0;
    char channelName[64] = {};
    char rtspUrl[1024] = {};  // URL sessions: what their requests name, without the account
    // ONVIF sessions: the device and profile, and what PTZ commands need (its own lock).
    std::shared_ptr<ipcam::OnvifState> onvif;

    // Stream format last sent to the callback. Written by the video thread and read by the
    // audio thread, both under formatLock.
    StreamFormatBlock format = ipcam::initialStreamFormat();
    std::mutex formatLock;

    ipcam::Relaxed<uint8_t> eventState{0};        // latest event code reported (video thread)
    ipcam::Relaxed<uint8_t> inputState{0};        // latest input bits reported (video thread)
    ipcam::Relaxed<int32_t> itemValue1{0};        // pan/tilt value (item 1)
    ipcam::Relaxed<int32_t> recorderChannels{0};  // recorder channel count (item 2)

    // Threads. The flags are written by IPCamAction and deletion, read by the threads.
    ipcam::Thread videoThread;
    ipcam::Relaxed<uint8_t> videoRunning{0};
    ipcam::Relaxed<uint8_t> videoStarted{0};
    ipcam::Thread audioThread;
    ipcam::Relaxed<uint8_t> audioRunning{0};
    ipcam::Relaxed<uint8_t> audioStarted{0};

    ipcam::Relaxed<uint8_t> awaitingFirstFrame{1};  // set before each connection attempt
    ipcam::Relaxed<uint8_t> formatPending{1};       // send the next format even if unchanged
    ipcam::Relaxed<uint8_t> videoDisconnected{1};
    ipcam::Relaxed<uint8_t> audioDisconnected{1};
    ipcam::Relaxed<uint8_t> authRequired{0};  // data channel requests carry credentials

    uint8_t timeStepFlag = 0;    // video thread only
    // Written by the video thread; the family B audio side stamps its blocks with it.
    ipcam::Relaxed<uint64_t> lastFrameTime{0};

    ipcam::Relaxed<int32_t> state{IPCAM_IS_UNCONNECTED};  // written by the video thread only
    ipcam::Relaxed<int32_t> videoStream{0};  // set by the caller, used at the next connect
    ipcam::Relaxed<int32_t> audioStream{0};  // -1: the session has no audio
    ipcam::Relaxed<int32_t> rtpOverUdp{0};
    ipcam::Relaxed<int32_t> clientPortBase{0};
    ipcam::Relaxed<uint32_t> modelCode{0};
    ipcam::Relaxed<int32_t> reach{IPCAM_REACH_ANSWERED};  // IPCamReach; video thread
    ipcam::Relaxed<int32_t> inputCount{0};
    ipcam::Relaxed<int32_t> outputCount{0};
    char extraQuery[256] = {};                  // appended by camera control requests
    ipcam::Relaxed<uint8_t> channelFlagged{0};  // makes IPCamGetStatus answer 5

    ipcam::SessionOptions options;       // IPCamSetOption
    ipcam::RtpState rtp;                 // RTP readers and frame assembly
    ipcam::RtspState rtsp;               // the RTSP server's session (video thread)
    ipcam::FamilyAStreamState stream;    // "HUNT" and "3297" readers, the device's ports
    ipcam::FamilyBStreamState familyB;   // status blocks of the type-2 video reader
};
