// Video RTP packets into the frame being assembled: loss, RTP/JPEG fragments and their
// rebuilt headers, and the assemblers that cut frames out.
#pragma once

#include "ipcam.h"
#include "transport/rtp_packet.h"

namespace ipcam {

// Counts a video packet in its stream. A gap drops the frame being assembled; in strict mode
// delivery then waits for the next key frame, otherwise the next picture goes behind a damage
// message. False when the packet is to be passed over: a late copy, or (unless adoptSource)
// one of another SSRC than the stream's.
bool countVideoPacket(IPCamSession *session, const RtpPacket &packet, bool adoptSource);

// Adds a counted packet's payload to the frame being assembled and delivers what it
// completes. An RTP/JPEG picture is collected from its first fragment (whose rebuilt header
// goes in front) as long as every fragment follows the last; it ends at its end marker, or
// at the RTP marker bit, which supplies the end marker when the data lack it. A picture that
// loses a fragment or outgrows the frame buffer is dropped whole. Returns 0; -8 when RTP/JPEG
// headers are damaged (the frame is cleared); -100 when the session has been stopped.
int assembleVideoPacket(IPCamSession *session, const RtpPacket &packet);

}  // namespace ipcam
