// What the family A stream readers share: little-endian fields, frame times, the magic that
// starts a video unit, and resynchronisation after a framing error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_source.h"

struct IPCamSession;

namespace ipcam {

inline uint16_t le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The receive time-out of every stream read (Get_Timeout).
uint32_t streamTimeout();

enum class VideoMagic { None, Hunt, Tagged };

// Reads the magic of a video unit when one is due. Returns 0 with magic set (None when no
// magic was due: the look-ahead of the previous call already read it), or the call's result:
// -13 when a fresh connection stays silent, -10 after a framing error or a second time-out.
int readVideoMagic(IPCamSession *session, ByteSource &source, VideoMagic &magic);

enum class AudioMagic { None, Htad, Tagged, Idle };

// Reads the magic of an audio unit when the audio side is disconnected. Returns 0 with magic
// set (None when no magic was due, Idle when nothing came: the caller returns 0 after a short
// pause), or -11 after a failed read or an unknown magic (the audio connection closed).
int readAudioMagic(IPCamSession *session, ByteSource &source, AudioMagic &magic);

// Reports the end of any event and input state, expects a magic again and closes the video
// connection.
void resynchronise(IPCamSession *session);

// Reads length bytes, keeping the first keep of them in kept (the rest of kept zeroed when the
// payload is shorter). False on a failed or short read.
bool readKeeping(ByteSource &source, uint32_t length, uint8_t *kept, std::size_t keep);

// Whether bytes hold a whole JPEG picture: FF D8 at the start, FF D9 at the end.
bool isWholeJpeg(const uint8_t *bytes, std::size_t length);

// Audio codec numbers of the stream's codec codes.
int32_t audioCodecOfCode(uint32_t code);

}  // namespace ipcam
