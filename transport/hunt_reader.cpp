// The "HUNT" video and "HTAD" audio framing: a fixed header before every frame.
#include <bit>
#include <cstring>

#include "core/session.h"
#include "platform/sockets.h"
#include "transport/delivery.h"
#include "transport/encoded_frame.h"
#include "transport/family_a_stream.h"
#include "transport/stream_framing.h"

namespace ipcam {

namespace {

constexpr uint8_t kFrameEnd[4] = {0x00, 0x00, 0x01, 0xF8};  // appended after every payload
constexpr std::size_t kVideoHeaderSize = 24;
constexpr std::size_t kAudioHeaderSize = 16;
constexpr uint32_t kTrailerSize = 208;
constexpr uint32_t kShortestChecked = 33;  // the checksum reads payload byte 32
constexpr int64_t kEventHold = 1000 * 10000;  // 1000 ms in file-time units

struct VideoHeader {
    uint32_t width, height, pictureType;
    bool overlay;
    uint32_t seconds, milliseconds;
    int32_t zoneMinutes;
    uint32_t overlayMode;
    uint32_t codec, frameRate;
    uint32_t length;
    uint8_t events, checksum, talk, signs;
};

VideoHeader parseVideoHeader(const uint8_t *h) {
    VideoHeader v;
    const uint16_t w = le16(h), hh = le16(h + 2), zone = le16(h + 10);
    v.width = w & 0xFFF;
    v.overlay = (w & 0x8000) != 0;
    v.height = hh & 0xFFF;
    v.pictureType = hh >> 12;
    v.seconds = le32(h + 4);
    v.milliseconds = le16(h + 8);
    v.zoneMinutes = static_cast<int32_t>(zone & 0xFFF);
    if (v.zoneMinutes & 0x800) v.zoneMinutes -= 0x1000;  // signed 12-bit
    v.overlayMode = zone >> 12;
    v.codec = h[13] & 7;
    v.frameRate = h[13] >> 3;
    v.length = le32(h + 14);
    v.events = h[18];
    v.checksum = h[19];
    v.talk = h[20];
    v.signs = h[21];
    return v;
}

// Either of the two sums the device may have put in the checksum byte, over the payload p
// of length n (n >= 33; the frame end follows it, so n - 10 may reach into it).
bool checksumMatches(const uint8_t *p, uint32_t n, uint8_t checksum) {
    const uint32_t a = (p[n - 22] & p[n - 21]) + (p[n - 14] | p[n - 10]) + p[n - 32];
    const uint32_t b = (p[22] & p[21]) + (p[14] | p[10]) + p[32];
    return checksum == static_cast<uint8_t>(~a) || checksum == static_cast<uint8_t>(~b);
}

bool overlayModel(uint32_t modelNumber) {
    const uint32_t code = modelNumber & 0xFF;
    return code == 0x5A || code == 0x5B || code == 0x63;
}

void sendOverlay(IPCamSession *session, const VideoHeader &h, uint64_t time) {
    uint8_t message[16] = {};
    std::memcpy(message, &time, sizeof time);
    if (h.overlay) {
        session->stream.overlayPending = 1;
        uint8_t mode = 2, factor = 1;
        if (h.overlayMode & 1) {
            mode = 4;
            factor = 8;
        } else if (h.overlayMode >= 2 && h.overlayMode <= 12) {
            mode = 5;
            factor = static_cast<uint8_t>(1u << (h.overlayMode / 2));
        }
        message[8] = mode;
        message[12] = factor;
    } else {
        message[12] = 1;
        session->stream.overlayPending = 0;
    }
    sendMessage(session, IPCAM_MSG_OVERLAY, message, sizeof message, time);
}

void reportEvents(IPCamSession *session, uint8_t byte, bool trailer, uint64_t time) {
    FamilyAStreamState &stream = session->stream;
    uint8_t event = byte & 7;
    const uint8_t inputs = (byte >> 3) & 3;
    if (trailer && event == 0) event = 1;
    if (event) {
        stream.eventTime = time;
        if (event != session->eventState) {
            session->eventState = event;
            sendMessage(session, IPCAM_MSG_EVENT, &event, 1, time);
        }
    } else if (session->eventState &&
               static_cast<int64_t>(time - stream.eventTime) > kEventHold) {
        session->eventState = 0;
        sendMessage(session, IPCAM_MSG_EVENT, &event, 1, time);
    }
    if (inputs != session->inputState) {
        session->inputState = inputs;
        sendMessage(session, IPCAM_MSG_INPUT, &inputs, 1, time);
    }
}

int fail(IPCamSession *session, EncodedFrame *frame, int result = kVideoFramingError) {
    IPCamFreeFrame(frame);
    resynchronise(session);
    return result;
}

int readHuntFrame(IPCamSession *session, ByteSource &source) {
    FamilyAStreamState &stream = session->stream;
    const uint32_t timeout = streamTimeout();
    uint8_t raw[kVideoHeaderSize];
    if (receiveExactly(source, raw, sizeof raw, timeout) != static_cast<int>(sizeof raw))
        return fail(session, nullptr);
    const VideoHeader h = parseVideoHeader(raw);
    if (h.codec > 2 || h.pictureType > 2 || h.length > kMaxVideoPayload)
        return fail(session, nullptr);
    if (h.length == 0) {
        stream.expectMagic = 1;
        session->timeStepFlag = 1;
        return 0;
    }
    int32_t kind;
    if (h.codec == 1) {
        static constexpr int32_t kKinds[] = {IPCAM_FRAME_KEY, IPCAM_FRAME_DROPPABLE,
                                             IPCAM_FRAME_DEPENDENT};
        kind = kKinds[h.pictureType];
    } else if (h.codec == 2) {
        kind = IPCAM_FRAME_KEY;
    } else {
        return fail(session, nullptr);
    }

    stream.timeZoneMinutes = static_cast<int16_t>(h.zoneMinutes);
    const uint64_t time = deviceFrameTime(h.seconds, h.milliseconds, h.zoneMinutes);
    stream.talkAvailable = (h.talk >> 4) != 0 && (h.talk & 0xF) == 0;

    bool stepSent = false;
    if (kind == IPCAM_FRAME_KEY || !session->timeStepFlag) {
        stepSent = timeStepRule(session, time) == 1;
        if (!stepSent && session->timeStepFlag && kind == IPCAM_FRAME_KEY)
            kind = IPCAM_FRAME_DEPENDENT;
        session->lastFrameTime = time;
    }

    EncodedFrame *frame = allocateFrame(kind, std::size_t{h.length} + 4, time);
    if (!frame) return fail(session, nullptr);
    uint8_t *p = framePayload(frame);
    if (receiveExactly(source, p, h.length, timeout) != static_cast<int>(h.length))
        return fail(session, frame);
    std::memcpy(p + h.length, kFrameEnd, sizeof kFrameEnd);

    char next[4];
    const int n = receiveExactly(source, next, sizeof next, timeout);
    if (n == 0) {
        stream.magicTimedOut = 1;
        stream.magicRetryCount = 0;
        IPCamFreeFrame(frame);
        return 0;
    }
    if (n != 4 || std::memcmp(next, "HUNT", 4) != 0) return fail(session, frame);

    const double firmware = session->deviceNumber;
    if (firmware >= 1.06 && (kind == IPCAM_FRAME_KEY || h.codec == 2)) {
        if (h.length < kShortestChecked) return fail(session, frame);
        if (!checksumMatches(p, h.length, h.checksum))
            return fail(session, frame, kChecksumMismatch);
    }

    if (session->timeStepFlag && kind == IPCAM_FRAME_KEY) session->timeStepFlag = 0;
    if (session->timeStepFlag) {
        IPCamFreeFrame(frame);
        return 0;
    }

    StreamFormatBlock format = currentFormat(session);
    format.modelCode = static_cast<int32_t>(session->modelCode & 0xFF);
    format.videoCodec = h.codec == 2 ? 0 : 4;
    format.width = static_cast<int32_t>(h.width);
    format.height = static_cast<int32_t>(h.height);
    format.frameRate = h.frameRate;
    const uint32_t signBits = h.signs & 0xC0;
    if (firmware >= 2.0 && (h.signs & 0x3F) == static_cast<uint32_t>(std::popcount(signBits))) {
        if (h.signs & 0x80) format.width = -format.width;
        if (h.signs & 0x40) format.height = -format.height;
    }
    formatRule(session, format, stepSent, time);

    // A frame that carries a trailer block is cut before it; the trailer marks an event.
    uint32_t length = h.length + 4;
    bool trailer = false;
    if (h.length > 212 && std::memcmp(p + h.length - 212, kFrameEnd, 4) == 0) {
        length = h.length - kTrailerSize;
        EncodedFrame *cut = makeFrame(kind, p, length, time);
        IPCamFreeFrame(frame);
        if (!cut) return fail(session, nullptr);
        frame = cut;
        p = framePayload(frame);
        trailer = true;
    }
    reportEvents(session, h.events, trailer, time);

    // A JPEG picture must be whole: FF D8 first, FF D9 just before the frame end.
    if (h.codec == 2 && (length < 6 || !isWholeJpeg(p, length - 4))) {
        IPCamFreeFrame(frame);
        return 0;
    }
    if (overlayModel(session->modelCode) && (h.overlay || stream.overlayPending))
        sendOverlay(session, h, time);
    deliverFrame(session, frame);
    return 0;
}

void failAudio(IPCamSession *session) {
    session->audioDisconnected = 1;
    closeConnection(&session->sockets[kAudioSocket]);
}

int readHtadFrame(IPCamSession *session, ByteSource &source) {
    const uint32_t timeout = streamTimeout();
    uint8_t h[kAudioHeaderSize];
    const uint32_t length = receiveExactly(source, h, sizeof h, timeout) == static_cast<int>(sizeof h)
                                ? le32(h + 9)
                                : kMaxAudioPayload + 1;
    if (length > kMaxAudioPayload) {
        failAudio(session);
        return kAudioFramingError;
    }
    const uint32_t seconds = le32(h), codecWord = le16(h + 4);
    const uint64_t time =
        deviceFrameTime(seconds, codecWord & 0xFFF, session->stream.timeZoneMinutes);
    EncodedFrame *frame = allocateFrame(IPCAM_FRAME_AUDIO, length, time);
    if (!frame || receiveExactly(source, framePayload(frame), length, timeout) !=
                      static_cast<int>(length)) {
        IPCamFreeFrame(frame);
        failAudio(session);
        return kAudioFramingError;
    }
    const bool described = session->deviceNumber >= 1.04;
    if (described) {
        char next[4];
        if (receiveExactly(source, next, sizeof next, timeout) != 4 ||
            std::memcmp(next, "HTAD", 4) != 0) {
            IPCamFreeFrame(frame);
            failAudio(session);
            return kAudioFramingError;
        }
    }
    StreamFormatBlock format = currentFormat(session);
    if (described) {
        format.audioCodec = audioCodecOfCode(codecWord >> 12);
        format.channels = (h[6] & 3) >= 2 ? 1 : 0;
        format.sampleRate = le16(h + 7);
        format.bitsPerSample = h[6] >> 2;
        format.audioFrameSize = static_cast<int32_t>(length);
    } else {
        format.audioCodec = 0;
        format.channels = 1;
        format.sampleRate = 48000;
        format.bitsPerSample = 16;
        format.audioFrameSize = 20500;
    }
    formatRule(session, format, false, time);
    deliverFrame(session, frame);
    return 0;
}

}  // namespace

int readHuntVideo(IPCamSession *session, ByteSource &source) {
    VideoMagic magic;
    if (int r = readVideoMagic(session, source, magic); r != 0) return r;
    if (magic == VideoMagic::Tagged) {
        session->driver.runVideo = taggedRunVideo;
        return readTaggedVideo(session, source);
    }
    return readHuntFrame(session, source);
}

int readHtadAudio(IPCamSession *session, ByteSource &source) {
    AudioMagic magic;
    if (int r = readAudioMagic(session, source, magic); r != 0) return r;
    if (magic == AudioMagic::Idle) return 0;
    if (magic == AudioMagic::Tagged) {
        session->driver.runAudio = taggedRunAudio;
        return readTaggedAudio(session, source);
    }
    return readHtadFrame(session, source);
}

}  // namespace ipcam
