// The RTSP transport: DESCRIBE, SETUP and PLAY on one TCP connection, then RTP interleaved on
// it or on UDP sockets; TEARDOWN when the session goes.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

// The connect operation: which 0 performs the handshake, anything else has nothing to do.
// Returns 0, -8 (video path), -9 (audio sockets) or -100 when stopped.
int rtspConnect(IPCamSession *session, int which);

// Reads an SDP media section ("m=video 0 RTP/AVP 96\r\n..."): the codec, and when asked the
// clock rate and channel code (0 one channel, 1 more). 1 on success, 0 otherwise.
int parseMediaLine(const char *section, int32_t *codec, int32_t *clock, int32_t *channels);

// Ends the stream of a type-5 session with TEARDOWN, then closes every socket of the session.
void rtspTeardown(IPCamSession *session);

}  // namespace ipcam
