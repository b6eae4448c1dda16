// Reading RTP: video over the RTSP connection (interleaved) or UDP, audio over UDP.
//
// Each call reads one network unit, hands on what it completes and returns 0, or a failure:
// -8 (video), -9 (audio), -100 when the session has been stopped. Packets that are no RTP of
// version 2, and copies that come late, are passed over without ending the stream.
#pragma once

#include "ipcam.h"
#include "platform/byte_source.h"

namespace ipcam {

// One unit of the RTSP connection, blocks queued while a reply was awaited first: a block is
// taken by the channel the handshake assigned to it (RtpState::interleaved): video, the
// device's reports (answered on the same connection), audio; blocks of other channels are
// passed over. An RTSP message between blocks is answered or noted (takeRtspMessage).
// -8 when the connection ends or carries bytes that are neither.
int readInterleaved(IPCamSession *session, ByteSource &connection);

// Video datagrams up to the end of a frame. rtcp, when given, carries the keep-alive reports.
// control, when given, is the RTSP connection: looked at between datagrams and in every idle
// wait, its messages are answered or noted, and its close ends the call at once with -8.
// Datagrams of another SSRC than the stream's first are passed over; the call ends with -8
// when no datagram of the stream comes for the receive time-out.
int readUdpVideo(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp, ByteSource *control);

// One audio datagram.
int readUdpAudio(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp);

// The runVideo and runAudio operations of the RTSP transport, on the session's sockets.
int rtpRunVideo(IPCamSession *session);
int rtpRunAudio(IPCamSession *session);

}  // namespace ipcam
