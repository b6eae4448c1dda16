// The receive buffer of the video's UDP socket, sized for the stream's pictures.
//
// A key frame leaves the camera as one burst of datagrams, and what the socket has no room
// for when the burst arrives is lost. The socket opens with 1 MiB; a stream of pictures
// larger than 1920x1080 gets at least 4 MiB, and any stream twice its largest frame (in whole
// MiB, up to 64 MiB), asked for as soon as a frame outgrows what the socket has, while the
// rest of its burst is still coming.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipcam.h"
#include "platform/byte_source.h"

namespace ipcam {

struct UdpBufferFit {
    static constexpr std::size_t kOpened = std::size_t{1} << 20;  // what openUdp asks

    uint32_t timestamp = 0;        // of the frame being counted
    std::size_t frameBytes = 0;    // its payload so far
    std::size_t largestFrame = 0;  // of the connection, the frame being counted included
    std::size_t asked = kOpened;   // what the socket was last asked for
};

// Counts a packet's payload into its frame (the packets of one RTP timestamp).
void noteUdpFrameBytes(UdpBufferFit &fit, uint32_t timestamp, std::size_t payloadBytes);

// What the socket should have for pictures of this size and the frames seen.
std::size_t udpBufferWanted(const UdpBufferFit &fit, int32_t width, int32_t height);

// True when the frames seen want more than the socket was asked for.
inline bool udpBufferOutgrown(const UdpBufferFit &fit) {
    return udpBufferWanted(fit, 0, 0) > fit.asked;
}

// Asks the video socket for what the stream wants when that is more than it was asked for.
// When the system grants less, says once a session, through the library's message handler,
// what it allows.
void fitUdpBuffer(IPCamSession *session, ByteSource &socket);

}  // namespace ipcam
