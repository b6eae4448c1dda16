// H.264 and H.265 pictures from RTP packets to the session's callback: the depacketiser of
// the stream's codec cuts access units, and each goes out with the format and time-step
// rules the other codecs follow.
#pragma once

#include "ipcam.h"
#include "transport/rtp_packet.h"

namespace ipcam {

// Takes a counted video packet of an H.264 or H.265 stream (the format's videoCodec says
// which) and delivers the access units it completes. 0; -100 when the session was stopped.
int takeNalPayload(IPCamSession *session, const RtpPacket &packet);

}  // namespace ipcam
