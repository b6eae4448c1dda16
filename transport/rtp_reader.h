// Reading RTP: video over the RTSP connection (interleaved) or UDP, audio over UDP.
//
// Each call reads one network unit, hands on what it completes and returns 0, or a failure:
// -8 (video), -9 (audio), -100 when the session has been stopped. Packets that are no RTP of
// version 2, and copies that come late, are passed over without ending the stream. Over UDP
// the sockets hear the server's address on any port (DatagramSource).
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

// Video datagrams up to the end of a frame, or until the RTSP keep-alive falls due
// (session->rtsp.nextKeepAliveMs): every wait ends by then, whatever the stream carries. The
// stream's packets go through the reorder window (session->options.reorderWindowMs): a packet
// that comes before its predecessor is held back until that one comes or the window's time
// is up, and every wait also ends when held packets fall due. rtcp, when given, is the RTCP
// socket: the device's reports on it (and any on the RTP socket) are read, and it carries our
// keep-alive reports. control, when given, is the RTSP connection: looked at between
// datagrams and in every idle wait, its messages are answered or noted, and its close ends the
// call at once with -8. Datagrams of another SSRC than the stream's are passed over, unless
// that source keeps coming in sequence while the stream's own is silent: then the stream goes
// on with it (an encoder restart) from its next key frame, which a time step message leads.
// The call ends with -8 when no datagram of the stream comes for the receive time-out.
int readUdpVideo(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp, ByteSource *control);

// One audio datagram; reports that come meanwhile on rtcp or the RTP socket are read, and our
// keep-alive reports go out on rtcp on time.
int readUdpAudio(IPCamSession *session, ByteSource &rtp, ByteSource *rtcp);

// The runVideo and runAudio operations of the RTSP transport, on the session's sockets.
int rtpRunVideo(IPCamSession *session);
int rtpRunAudio(IPCamSession *session);

}  // namespace ipcam
