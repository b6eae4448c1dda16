#include "transport/family_a_stream.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/config.h"
#include "core/session.h"
#include "core/session_threads.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "transport/delivery.h"
#include "transport/stream_framing.h"

namespace ipcam {

namespace {

constexpr int64_t kMinutesFrom1601To1970 = 194074560;
constexpr int64_t kFileTimePerMinute = 600000000;
constexpr uint64_t kFileTimePerMs = 10000;

}  // namespace

uint64_t deviceFrameTime(uint32_t seconds, uint32_t milliseconds, int32_t zoneMinutes) {
    if (settings().usePCTime) return localFileTimeNow();
    return static_cast<uint64_t>((kMinutesFrom1601To1970 - zoneMinutes) * kFileTimePerMinute) +
           uint64_t{seconds} * kFileTimeUnitsPerSecond + uint64_t{milliseconds} * kFileTimePerMs;
}

uint32_t streamTimeout() {
    return settings().getTimeout;
}

void resynchronise(IPCamSession *session) {
    notifyStreamEnd(session);
    session->stream.expectMagic = 1;
    closeConnection(&session->sockets[kVideoSocket]);
}

int readVideoMagic(IPCamSession *session, ByteSource &source, VideoMagic &magic) {
    FamilyAStreamState &stream = session->stream;
    magic = VideoMagic::None;
    if (!stream.expectMagic && !stream.magicTimedOut) return 0;
    char bytes[4];
    const int n = receiveExactly(source, bytes, sizeof bytes, streamTimeout());
    if (n == 0) {
        // A fresh connection that stays silent has no stream slot for us; a stream that
        // missed its look-ahead twice in a row has ended.
        if (stream.expectMagic) return kNoStreamSlot;
        ++stream.magicRetryCount;
        resynchronise(session);
        return kVideoFramingError;
    }
    if (n != 4) {
        resynchronise(session);
        return kVideoFramingError;
    }
    stream.expectMagic = 0;
    stream.magicTimedOut = 0;
    stream.magicRetryCount = 0;
    if (std::memcmp(bytes, "HUNT", 4) == 0) {
        magic = VideoMagic::Hunt;
    } else if (std::memcmp(bytes, "3297", 4) == 0) {
        magic = VideoMagic::Tagged;
    } else {
        resynchronise(session);
        return kVideoFramingError;
    }
    return 0;
}

int readAudioMagic(IPCamSession *session, ByteSource &source, AudioMagic &magic) {
    magic = AudioMagic::None;
    if (!session->audioDisconnected) return 0;
    char bytes[4];
    const int n = receiveExactly(source, bytes, sizeof bytes, streamTimeout());
    if (n == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        magic = AudioMagic::Idle;
        return 0;
    }
    if (n != 4) {
        closeConnection(&session->sockets[kAudioSocket]);
        return kAudioFramingError;
    }
    session->audioDisconnected = 0;
    if (std::memcmp(bytes, "HTAD", 4) == 0) {
        magic = AudioMagic::Htad;
    } else if (std::memcmp(bytes, "3297", 4) == 0) {
        magic = AudioMagic::Tagged;
    } else {
        session->audioDisconnected = 1;
        closeConnection(&session->sockets[kAudioSocket]);
        return kAudioFramingError;
    }
    return 0;
}

bool readKeeping(ByteSource &source, uint32_t length, uint8_t *kept, std::size_t keep) {
    if (keep) std::memset(kept, 0, keep);
    uint8_t scratch[4096];
    const uint32_t timeout = streamTimeout();
    for (uint32_t done = 0; done < length;) {
        const std::size_t piece = std::min<std::size_t>(sizeof scratch, length - done);
        if (receiveExactly(source, scratch, piece, timeout) != static_cast<int>(piece))
            return false;
        if (done < keep)
            std::memcpy(kept + done, scratch, std::min<std::size_t>(piece, keep - done));
        done += static_cast<uint32_t>(piece);
    }
    return true;
}

bool isWholeJpeg(const uint8_t *bytes, std::size_t length) {
    return length >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[length - 2] == 0xFF &&
           bytes[length - 1] == 0xD9;
}

int32_t audioCodecOfCode(uint32_t code) {
    static constexpr int32_t kCodecs[] = {0, 0, 1, 5, 5, 6};
    // Codes beyond the table are passed on as the device named them.
    return code < std::size(kCodecs) ? kCodecs[code] : static_cast<int32_t>(code);
}

int huntRunVideo(IPCamSession *session) {
    SocketSource source(session->sockets[kVideoSocket]);
    return readHuntVideo(session, source);
}

int taggedRunVideo(IPCamSession *session) {
    SocketSource source(session->sockets[kVideoSocket]);
    return readTaggedVideo(session, source);
}

int htadRunAudio(IPCamSession *session) {
    SocketSource source(session->sockets[kAudioSocket]);
    return readHtadAudio(session, source);
}

int taggedRunAudio(IPCamSession *session) {
    SocketSource source(session->sockets[kAudioSocket]);
    return readTaggedAudio(session, source);
}

}  // namespace ipcam
