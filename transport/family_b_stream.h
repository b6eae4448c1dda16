// Family B streams (protocol type 2): JPEG pictures interleaved with status blocks from
// "GetData.cgi?Status=true", and raw audio from "GetAudioData.cgi", both on the web port.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_source.h"

struct IPCamSession;

namespace ipcam {

inline constexpr std::size_t kStatusBlockSize = 82;
inline constexpr std::size_t kAudioBlockSize = 2000;

// The StreamDriver operations of type 2.
int familyBConnect(IPCamSession *session, int which);
int familyBRunVideo(IPCamSession *session);
int familyBRunAudio(IPCamSession *session);

// One read of the video connection: delivers at most one picture. 0, -10 (connection lost,
// closed) or -100 (stopped).
int readStatusVideo(IPCamSession *session, ByteSource &source);
// One 2000-byte block of audio: 0 or -11.
int readStatusAudio(IPCamSession *session, ByteSource &source);


}  // namespace ipcam
