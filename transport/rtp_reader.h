// Reading RTP: video over the RTSP connection (interleaved) or UDP, audio over UDP.
//
// Each call reads one network unit, hands on what it completes and returns 0, or a failure:
// -8 (video), -9 (audio), -100 when the session has been stopped.
#pragma once

#include "ipcam.h"
#include "platform/byte_source.h"

namespace ipcam {

inline constexpr int kHostNameLimit = 209;  // keeps the RTCP answer's 8-bit length right

// One '$'-framed block from the RTSP connection: video, the device's RTCP (answered on the
// same connection) or audio.
int readInterleaved(IPCamSession *session, ByteSource &connection);

// Video datagrams up to the end of a frame. rtcp, when given, carries the keep-alive reports.
int readUdpVideo(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp);

// One audio datagram.
int readUdpAudio(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp);

// The runVideo and runAudio operations of the RTSP transport, on the session's sockets.
int rtpRunVideo(IPCamSession *session);
int rtpRunAudio(IPCamSession *session);

}  // namespace ipcam
