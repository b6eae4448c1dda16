// Cutting MPEG-4 part 2 frames out of the bytes collected in the session's frame buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipcam.h"

namespace ipcam {

// Width and height from the first video object layer header (00 00 01 20) in data. False,
// leaving both alone, when there is none, it is cut short, or its shape is not rectangular.
bool readVideoObjectLayerSize(const uint8_t *data, std::size_t size, int32_t &width,
                              int32_t &height);

// Delivers every complete frame in the frame buffer: kind 2 for a frame that begins with
// configuration headers, 3 for a picture. Picture frames are dropped while a key frame is
// awaited (after a connection, or a lost packet in strict mode) until the first configuration
// frame; for a stream that sends no configuration of its own, the first intra picture instead,
// with the configuration from the description (RtpState::sdpConfig) put in front, when there
// is one. The first picture after RtpState::pictureLost was set goes behind an
// IPCAM_MSG_DAMAGE message. Returns 0 (wait for more bytes) or -100 when the session has been
// stopped.
int assembleMpeg4(IPCamSession *session);

// Delivers the frame the buffer holds as complete, though no start code after it has come
// yet (the packet that ended it carried the marker bit); nothing when it holds no picture.
void endMpeg4Frame(IPCamSession *session);

}  // namespace ipcam
