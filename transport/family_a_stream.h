// Family A streams: the "HUNT"/"HTAD" framing (a fixed header per frame) and the "3297"
// framing (tagged packets with marker bits), read one frame per call.
//
// A video call first reads a frame magic when one is due, then the frame, then the next
// frame's magic (the look-ahead), and only then hands the frame on: a frame is delivered once
// the stream has shown that it goes on. The magic decides the framing; the reader in use is
// kept in the session's driver entries, so it survives reconnections.
#pragma once

#include <cstdint>

#include "platform/byte_source.h"
#include "platform/relaxed.h"

struct IPCamSession;

namespace ipcam {

// What the family A transport keeps between calls. Written by the thread named beside each.
struct FamilyAStreamState {
    Relaxed<uint8_t> expectMagic{1};    // video: the next call reads a magic first
    uint8_t magicTimedOut = 0;          // video: the last look-ahead found nothing in time
    int32_t magicRetryCount = 0;        // video: calls since then
    Relaxed<int16_t> timeZoneMinutes{0};  // video and audio: the device's offset
    uint64_t eventTime = 0;             // video: when the last non-zero event arrived
    uint64_t inputTime = 0;             // video: when the inputs last changed
    Relaxed<uint8_t> streamSlots{0};    // video and audio ("3297" info)
    Relaxed<uint8_t> talkSlots{0};
    Relaxed<uint8_t> talkInUse{0};
    Relaxed<uint8_t> talkAvailable{0};  // read by the talk channel
    uint8_t overlayPending = 0;         // video: an overlay message awaits its end
    Relaxed<int32_t> videoPort{0};      // connect: the device's ports
    Relaxed<int32_t> audioPort{0};
    Relaxed<int32_t> talkPort{0};
};

inline constexpr uint32_t kMaxVideoPayload = 2'048'000;
inline constexpr uint32_t kMaxAudioPayload = 100'000;

// Results of the readers.
inline constexpr int kVideoFramingError = -10;
inline constexpr int kAudioFramingError = -11;
inline constexpr int kChecksumMismatch = -50;
inline constexpr int kNoStreamSlot = -13;
inline constexpr int kChannelFlagged = 5;

// One video unit of each framing from source. A reader that meets the other framing's magic
// where a stream starts switches the session's runVideo to the other reader and reads on.
int readHuntVideo(IPCamSession *session, ByteSource &source);
int readTaggedVideo(IPCamSession *session, ByteSource &source);
// One audio unit of each framing.
int readHtadAudio(IPCamSession *session, ByteSource &source);
int readTaggedAudio(IPCamSession *session, ByteSource &source);

// The runVideo and runAudio operations on the session's video and audio sockets.
int huntRunVideo(IPCamSession *session);
int taggedRunVideo(IPCamSession *session);
int htadRunAudio(IPCamSession *session);
int taggedRunAudio(IPCamSession *session);

// The frame time of a device time: seconds since 1970 in device local time, milliseconds and
// the device's time-zone offset in minutes; the local clock instead when UsePCTime is on.
uint64_t deviceFrameTime(uint32_t seconds, uint32_t milliseconds, int32_t zoneMinutes);

}  // namespace ipcam
