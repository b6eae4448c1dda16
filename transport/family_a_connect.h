// Opening family A streams (protocol types 1, 4 and 5): the device's network settings decide
// between the HTTP stream on the web port, the separate-port stream and RTSP.
#pragma once

#include <cstddef>
#include <cstdint>

struct IPCamSession;

namespace ipcam {

// What "GetNetwork.cgi" tells about the streams; ports are 0 when the reply names none.
struct NetworkPorts {
    int32_t videoPort = 0;
    int32_t audioPort = 0;
    int32_t rtspPort = 0;
    bool pathFound = false;  // path holds the stream path of the chosen stream
    char path[64] = {};
};

// Reads the ports and the stream path of videoStream (0 "Path_Live1=", 1 "Path_Live2=", 2
// "Path_3GPP=", with "x" appended when the reply has no "Path_Live2=") from the reply text.
// The path is the text up to the next "<br>"; a path without one, or one that does not fit,
// is not taken.
NetworkPorts readNetworkPorts(const char *reply, int32_t videoStream);

// The connect operation of types 1, 4 and 5 (which: 0 video, 1 audio). Reads the network
// settings once per connection attempt, chooses the stream form, installs its operations in
// the session and opens the stream.
int familyAConnect(IPCamSession *session, int which);

// The HTTP stream: "GetStream.cgi" on the web port, one request per direction.
int httpStreamConnect(IPCamSession *session, int which);
// The separate-port stream: video after a 64-byte login block, audio as it comes.
int separatePortConnect(IPCamSession *session, int which);

}  // namespace ipcam
