// RTCP between a session and its device: the device's reports read, ours sent back.
//
// URL and ONVIF sessions send what RFC 3550 asks: a receiver report about the stream (loss,
// extended highest sequence number, jitter, the delay since the device's last sender report)
// and a source description with our CNAME, in one compound. The design's own devices (types 5
// and 9) were built against the reports the client has always sent, and keep getting them.
#pragma once

#include <cstdint>
#include <span>

#include "ipcam.h"
#include "platform/byte_source.h"
#include "transport/rtp_packet.h"

namespace ipcam {

inline constexpr int kHostNameLimit = 209;  // keeps the old answer's 8-bit length right

// Counts a packet of a stream (RtpChannels::kVideo or kAudio) for our reports; called where
// the stream's packets are counted, for every packet of the stream's source.
void countReception(IPCamSession *session, uint8_t stream, const RtpPacket &packet);

// Every RTCP compound the device sends is handed here as it arrives, whatever the transport:
// the interleaved reader passes the blocks of the assigned RTCP channels, the UDP readers each
// datagram of the RTCP sockets, with stream RtpChannels::kVideo or kAudio, on the thread that
// reads that stream. Any bytes are safe; what is readable before damage is used. Records the
// sender's SSRC and its sender report (NTP and RTP time) with the arrival time.
void takeDeviceReport(IPCamSession *session, std::span<const uint8_t> compound, uint8_t stream);

// The device's RTCP arrived on an interleaved channel of the stream: taken as above and, when
// the interval since our last answer has passed (5 s, randomised by 0.5 to 1.5, the first at
// once), answered on the connection on the same channel.
void answerDeviceReport(IPCamSession *session, ByteSource &connection,
                        std::span<const uint8_t> compound, uint8_t channel, uint8_t stream);

// Over UDP, whenever the reader looks at the stream's RTCP socket: reads what the device sent
// there (for every type, so that nothing piles up) and, when due, sends our report (the
// design's types: the 32-byte report each receive time-out).
void serviceRtcpSocket(IPCamSession *session, ByteSource &rtcp, uint8_t stream);

}  // namespace ipcam
