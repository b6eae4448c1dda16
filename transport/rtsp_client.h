// The RTSP transport: DESCRIBE, SETUP and PLAY on one TCP connection, then RTP interleaved on
// it or on UDP sockets; keep-alives while it plays; TEARDOWN before the connection closes.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

// The connect operation: which 0 performs the handshake, anything else has nothing to do.
// Returns 0, -4 (the server refused the account), -8 (video path), -9 (audio sockets) or -100
// when stopped.
int rtspConnect(IPCamSession *session, int which);

// The runVideo operation: the keep-alive when it is due, then one unit of RTP.
int rtspRunVideo(IPCamSession *session);

// Ends the server's session with TEARDOWN when one is open, and closes the RTSP connection.
void rtspEndSession(IPCamSession *session);

// At deletion: the session's end as above, then every socket of the session closed.
void rtspTeardown(IPCamSession *session);

}  // namespace ipcam
