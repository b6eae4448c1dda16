#include "transport/family_b_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/config.h"
#include "core/reachability.h"
#include "core/session.h"
#include "core/session_api.h"
#include "core/session_threads.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "transport/delivery.h"
#include "transport/encoded_frame.h"
#include "transport/jpeg_header.h"

namespace ipcam {

namespace {

constexpr std::size_t kHeadCapacity = 256;
constexpr std::size_t kSearchedHead = 20;
constexpr std::size_t kMarkerWord = 9;
constexpr std::size_t kFrameSlack = 512;
constexpr int64_t kEventHold = 1000 * 10000;  // 1000 ms in file-time units
constexpr int kVideoRefused = -8;
constexpr int kAudioRefused = -9;
constexpr int kAudioLost = -11;

constexpr uint8_t kStart[] = {0xFF, 0xD8};
constexpr uint8_t kEnd[] = {0xFF, 0xD9};
constexpr uint8_t kMarker[] = {'p', 'l', 'a', 'i'};

constexpr const char *kAccept =
    "Accept:image/gif,image/x-xbitmap, image/jpeg,image/pjpeg, */*\r\nHost:%s\r\n"
    "Connection:Keep-Alive\r\nAccept-Language:zh-tw\r\n\r\n\r\n";

// Whether the first bytes of text (at most 20) hold " 200 ".
bool acceptedHead(const char *text, std::size_t length) {
    return std::string_view(text, std::min(length, kSearchedHead)).find(" 200 ") !=
           std::string_view::npos;
}

int loseVideo(IPCamSession *session) {
    return streamBroken(session);  // the event of type 2 is 0 or 1
}

int loseAudio(IPCamSession *session) {
    closeConnection(&session->sockets[kAudioSocket]);
    session->audioDisconnected = 1;
    return kAudioLost;
}

// The status bytes that signal motion: a change starts an event, a second without one ends it.
void reportStatus(IPCamSession *session, const uint8_t *block, bool first, uint64_t now) {
    FamilyBStreamState &b = session->familyB;
    const uint8_t *bytes = block + 60;
    if (!first) {
        if (std::memcmp(bytes, b.statusBytes, sizeof b.statusBytes) == 0) {
            if (session->eventState == 1 && static_cast<int64_t>(now - b.eventTime) > kEventHold) {
                session->eventState = 0;
                const uint8_t state = 0;
                sendMessage(session, IPCAM_MSG_EVENT, &state, 1, now);
            }
        } else {
            b.eventTime = now;
            if (session->eventState == 0) {
                session->eventState = 1;
                const uint8_t state = 1;
                sendMessage(session, IPCAM_MSG_EVENT, &state, 1, now);
            }
        }
    }
    std::memcpy(b.statusBytes, bytes, sizeof b.statusBytes);
}

}  // namespace

int readStatusVideo(IPCamSession *session, ByteSource &source) {
    FrameBuffer &buffer = session->rtp.frameBuffer;
    FamilyBStreamState &b = session->familyB;
    buffer.useCapacity(FrameBuffer::kDataChannelCapacity);
    if (buffer.freeSpace() == 0) buffer.clear();

    // Read at most what fits without wrapping, and not much more than a picture.
    std::span<uint8_t> room = buffer.contiguousFree();
    if (room.empty()) return loseVideo(session);
    const std::size_t want = std::min<std::size_t>(room.size(), session->rtp.largestFrame);
    const int n = receiveExactly(source, room.data(), want, settings().getTimeout);
    if (n < 1) return loseVideo(session);
    buffer.commit(static_cast<std::size_t>(n));

    const std::size_t start = buffer.find(kStart);
    if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    if (start == buffer.count()) {
        if (buffer.freeSpace() == 0) buffer.clear();
        return 0;
    }
    buffer.remove(start);
    const std::size_t end = buffer.find(kEnd, 2);
    if (end == buffer.count()) {
        if (buffer.freeSpace() == 0) buffer.clear();
        return 0;
    }
    const std::size_t pictureLength = end + 2;
    const std::size_t marker = buffer.find(kMarker, pictureLength);
    if (marker == buffer.count() || buffer.count() - marker < kMarkerWord + kStatusBlockSize + 1)
        return 0;

    const uint64_t now = localFileTimeNow();
    EncodedFrame *frame = allocateFrame(IPCAM_FRAME_KEY, pictureLength, now);
    if (!frame) return loseVideo(session);
    buffer.take(framePayload(frame), pictureLength);
    session->rtp.largestFrame = static_cast<uint32_t>(pictureLength + kFrameSlack);
    buffer.remove(marker + kMarkerWord);
    buffer.take(b.statusBlock, kStatusBlockSize);
    buffer.remove(kStatusBlockSize);

    const bool first = session->awaitingFirstFrame;
    if (timeStepRule(session, now) == 0 && session->timeStepFlag) timeStepRule(session, now);
    session->lastFrameTime = now;

    StreamFormatBlock format = currentFormat(session);
    format.videoCodec = 0;
    format.frameRate = 30.0;
    int32_t width = 0, height = 0;
    if (jpegPictureSize(framePayload(frame), pictureLength, width, height)) {
        format.width = width;
        format.height = height;
    }
    formatRule(session, format, false, now);
    reportStatus(session, b.statusBlock, first, now);
    deliverFrame(session, frame);
    return 0;
}

int readStatusAudio(IPCamSession *session, ByteSource &source) {
    EncodedFrame *frame = allocateFrame(IPCAM_FRAME_AUDIO, kAudioBlockSize, session->lastFrameTime);
    if (!frame) return loseAudio(session);
    // A block cut short by the device is not audio either.
    if (receiveExactly(source, framePayload(frame), kAudioBlockSize, settings().getTimeout) !=
        static_cast<int>(kAudioBlockSize)) {
        IPCamFreeFrame(frame);
        return loseAudio(session);
    }
    if (session->audioDisconnected) {
        session->audioDisconnected = 0;
        StreamFormatBlock format = currentFormat(session);
        format.channels = 0;
        format.sampleRate = 8000;
        format.bitsPerSample = 16;
        format.audioFrameSize = static_cast<int32_t>(kAudioBlockSize);
        formatRule(session, format, false, session->lastFrameTime);
    }
    deliverFrame(session, frame);
    return 0;
}

int familyBConnect(IPCamSession *session, int which) {
    const uint32_t sendTimeout = settings().setTimeout;
    char request[512];
    if (which == 0) {
        if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
        SocketSlot &slot = session->sockets[kVideoSocket];
        if (!openConnection(&slot, session->host, session->port)) return kVideoRefused;
        std::string format = session->authRequired
                                 ? std::string("GET /GetData.cgi?Status=true HTTP/1.1\r\n"
                                               "Authorization:Basic %s\r\n") + kAccept
                                 : std::string("GET /GetData.cgi?Status=true HTTP/1.1\r\n") + kAccept;
        const int length = session->authRequired
                               ? std::snprintf(request, sizeof request, format.c_str(),
                                               session->authText, session->host)
                               : std::snprintf(request, sizeof request, format.c_str(), session->host);
        if (length <= 0 || length >= static_cast<int>(sizeof request) ||
            sendAll(slot, request, static_cast<std::size_t>(length), sendTimeout) != length) {
            closeConnection(&slot);
            return kVideoRefused;
        }
        // A device that closes before its head is complete may still have said 401.
        char head[kHeadCapacity + 1] = {};
        const int n = receiveHeader(slot, head, kHeadCapacity, settings().getTimeout);
        if (n > 0 && acceptedHead(head, static_cast<std::size_t>(n))) {
            session->rtp.frameBuffer.clear();
            return 0;
        }
        closeConnection(&slot);
        if (n <= 0 && std::strstr(head, " 401 ")) return IPCAM_USER_OR_PASSWD_IS_ER;
        return kVideoRefused;
    }
    if (which == 1) {
        const int probe = probeHost(session->host, settings().pingEnable, settings().pingTimeout);
        if (probe != 0) return probe;
        if (IPCamAudioStopped(session)) return IPCAM_IS_OVER;
        SocketSlot &slot = session->sockets[kAudioSocket];
        if (!openConnection(&slot, session->host, session->port)) return kAudioRefused;
        {
            std::lock_guard guard(session->formatLock);
            session->format.audioCodec = 0;
        }
        std::string format = session->authRequired
                                 ? std::string("GET /GetAudioData.cgi=?Format=%s HTTP/1.1\r\n"
                                               "Authorization:Basic %s\r\n") + kAccept
                                 : std::string("GET /GetAudioData.cgi?Format=%s HTTP/1.1\r\n") + kAccept;
        const int length = session->authRequired
                               ? std::snprintf(request, sizeof request, format.c_str(), "Pcm",
                                               session->authText, session->host)
                               : std::snprintf(request, sizeof request, format.c_str(), "Pcm",
                                               session->host);
        char head[kHeadCapacity];
        if (length > 0 && length < static_cast<int>(sizeof request) &&
            sendAll(slot, request, static_cast<std::size_t>(length), sendTimeout) == length &&
            receiveExactly(slot, head, sizeof head, settings().getTimeout) ==
                static_cast<int>(sizeof head) &&
            acceptedHead(head, sizeof head))
            return 0;
        closeConnection(&slot);
        return kAudioRefused;
    }
    return 0;
}

int familyBRunVideo(IPCamSession *session) {
    SocketSource source(session->sockets[kVideoSocket]);
    return readStatusVideo(session, source);
}

int familyBRunAudio(IPCamSession *session) {
    SocketSource source(session->sockets[kAudioSocket]);
    return readStatusAudio(session, source);
}

}  // namespace ipcam
