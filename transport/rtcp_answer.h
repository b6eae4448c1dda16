// Our receiver reports to the device's RTCP on the RTSP connection.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "ipcam.h"
#include "platform/byte_source.h"

namespace ipcam {

inline constexpr int kHostNameLimit = 209;  // keeps the answer's 8-bit length right

// The SSRC, as received, of whoever sent a compound RTCP packet: bytes 4-7 of its sender
// report, else of its first packet long enough to carry one. The compound is walked by its
// length words and stops at the first packet that is not version 2 or runs past the end.
// Nothing when no packet carries an SSRC.
std::optional<uint32_t> rtcpSenderSsrc(std::span<const uint8_t> compound);

// The device's RTCP (one block of the channel assigned to video reports) arrived: remembers
// its sender and, when the interval since our last answer has passed (5 s, randomised by 0.5
// to 1.5, the first at once), answers on connection: '$' alone, then the channel, the length
// and a receiver report from our own SSRC about the sender's, with our host name.
void answerDeviceReport(IPCamSession *session, ByteSource &connection,
                        std::span<const uint8_t> compound, uint8_t channel);

}  // namespace ipcam
