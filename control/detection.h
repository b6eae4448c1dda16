// Finding out which dialect a device speaks, and what the session may use of it.
//
// Three probes, one per dialect, each on a CGI connection of its own. A probe fills the
// session's protocol type, model number, channel choice, alarm counts and RTSP port, and
// returns 0, or a negative code that ends or continues Auto detection.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

// The model number: model code in bits 0-7, video and audio channel count codes in bits 16-19
// and 20-23 (0..4 stand for 1, 2, 4, 8, 16), 0xFF in bits 24-31 for a device camera.
inline uint32_t modelCodeOf(uint32_t modelNumber) {
    return modelNumber & 0xFF;
}
inline bool isDeviceCamera(uint32_t modelNumber) {
    return (modelNumber >> 24) == 0xFF;
}
// Channels a count code stands for; codes beyond the five defined count as one channel.
int channelCount(uint32_t code);
inline int videoChannels(uint32_t modelNumber) {
    return channelCount((modelNumber >> 16) & 0xF);
}
inline int audioChannels(uint32_t modelNumber) {
    return channelCount((modelNumber >> 20) & 0xF);
}

// Family A: "GetCameraType.cgi", with "GetNetwork.cgi" for older cameras.
int DetectFamilyA(IPCamSession *session);
// Family B: "GetMyself.cgi".
int DetectFamilyB(IPCamSession *session);
// Streaming servers: "GetServerInfo.cgi".
int DetectServer(IPCamSession *session);

}  // namespace ipcam
