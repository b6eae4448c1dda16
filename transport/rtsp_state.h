// What the RTSP client keeps about its server between requests. Written by the video thread
// (the handshake, the keep-alives); deletion reads it for TEARDOWN once the threads have
// ended.
#pragma once

#include <cstdint>
#include <string>

#include "core/http_auth.h"

namespace ipcam {

struct RtspState {
    std::string base;      // what DESCRIBE names: the URL, or rtsp://host/CHnn
    std::string playUrl;   // the aggregate control: PLAY, keep-alives, TEARDOWN
    std::string videoUrl;  // SETUP targets
    std::string audioUrl;  // empty: no audio
    std::string sessionId;
    int timeoutSeconds = 60;       // the server ends a session this long without a request
    bool getParameter = false;     // the server's Public lists GET_PARAMETER
    uint64_t nextKeepAliveMs = 0;  // monotonic; 0 while no session plays
    int32_t keepAliveCseq = -1;    // of the keep-alive whose reply is awaited; -1: none
    uint32_t repliesSeen = 0;      // replies of RtpState::replies already looked at
    Authenticator auth;
};

}  // namespace ipcam
