// The "3297" framing: tagged packets of video, audio, stream information, events, input
// changes and channel state, each behind a 20-byte header full of marker bits.
#include <cstring>

#include "core/session.h"
#include "platform/sockets.h"
#include "transport/delivery.h"
#include "transport/encoded_frame.h"
#include "transport/family_a_stream.h"
#include "transport/stream_framing.h"

namespace ipcam {

namespace {

constexpr std::size_t kHeaderAfterMagic = 16;
constexpr uint32_t kShortestHeader = 20;
constexpr std::size_t kInfoSize = 21;

enum PacketType : uint8_t {
    kInfo = 0,
    kKeyFrame = 1,
    kDependentFrame = 2,
    kDroppableFrame = 3,
    kJpegFrame = 4,
    kAudio = 5,
    kEvent = 6,
    kInput = 7,
    kChannelState = 8,
    kTalkUse = 9,
    kKeepAlive = 16,
};

struct PacketHeader {
    uint8_t type;
    uint32_t seconds, milliseconds;
    uint32_t length;
};

// Reads the header after the magic; false when it is short or a marker bit is missing.
bool readHeader(ByteSource &source, PacketHeader &header) {
    uint8_t h[kHeaderAfterMagic];
    if (receiveExactly(source, h, sizeof h, streamTimeout()) != static_cast<int>(sizeof h))
        return false;
    const uint32_t w = le32(h + 2), n = le32(h + 8);
    const bool marked = (w & 1) && (w & (1u << 14)) && (w & (1u << 31)) && (n & 1) &&
                        (n & (1u << 31)) && (le16(h + 12) & 0x8000) && (le16(h + 14) & 0x8000);
    if (h[0] < kShortestHeader || !marked) return false;
    header.type = h[1];
    header.milliseconds = (w >> 1) & 0x3FF;
    header.seconds = le16(h + 6) | ((w >> 15) & 1) << 16 | ((w >> 16) & 0x7FFF) << 17;
    header.length = (n >> 1) & 0xFFFFFF;
    // A longer header carries bytes we do not know.
    uint8_t skipped[256];
    return readKeeping(source, h[0] - kShortestHeader, skipped, 0);
}

uint64_t packetTime(IPCamSession *session, const PacketHeader &header) {
    return deviceFrameTime(header.seconds, header.milliseconds, session->stream.timeZoneMinutes);
}

// The stream information both readers keep from an info packet.
void keepInfo(IPCamSession *session, const uint8_t *info) {
    FamilyAStreamState &stream = session->stream;
    stream.timeZoneMinutes = static_cast<int16_t>(le16(info + 7));
    stream.streamSlots = info[9] & 0x7F;
    stream.talkSlots = static_cast<uint8_t>(le32(info + 14) >> 19);
    stream.talkAvailable = stream.talkSlots != 0 && stream.talkInUse == 0;
}

int32_t videoCodecOfNibble(uint32_t nibble) {
    static constexpr int32_t kCodecs[] = {0, 4, 0, 5, 1, 2, 4, 4};
    return nibble < std::size(kCodecs) ? kCodecs[nibble] : static_cast<int32_t>(nibble);
}

int failVideo(IPCamSession *session, EncodedFrame *pending) {
    IPCamFreeFrame(pending);
    resynchronise(session);
    return kVideoFramingError;
}

// A frame of the whole payload.
EncodedFrame *readFrame(ByteSource &source, int32_t kind, uint32_t length, uint64_t time,
                        bool &failed) {
    EncodedFrame *frame = allocateFrame(kind, length, time);
    failed = !frame || receiveExactly(source, framePayload(frame), length, streamTimeout()) !=
                           static_cast<int>(length);
    if (failed) {
        IPCamFreeFrame(frame);
        return nullptr;
    }
    return frame;
}

int readTaggedPacket(IPCamSession *session, ByteSource &source) {
    FamilyAStreamState &stream = session->stream;
    PacketHeader header;
    if (!readHeader(source, header) || header.length > kMaxVideoPayload)
        return failVideo(session, nullptr);
    if (header.length == 0) {
        stream.expectMagic = 1;
        session->timeStepFlag = 1;
        return 0;
    }
    uint64_t time = packetTime(session, header);
    EncodedFrame *pending = nullptr;  // delivered once the next magic has been read
    bool failed = false;
    switch (header.type) {
        case kInfo: {
            uint8_t info[kInfoSize];
            if (!readKeeping(source, header.length, info, sizeof info))
                return failVideo(session, nullptr);
            keepInfo(session, info);
            time = packetTime(session, header);
            const uint32_t word = le32(info + 14);
            StreamFormatBlock format = currentFormat(session);
            format.modelCode = static_cast<int32_t>(session->modelCode & 0xFF);
            format.videoCodec = videoCodecOfNibble(info[6] & 0xF);
            format.width = le16(info + 10);
            format.height = le16(info + 12);
            if (word & (1u << 18)) format.width = -format.width;
            if (word & (1u << 17)) format.height = -format.height;
            format.frameRate = (word >> 9) & 0xFF;
            pending = formatMessage(session, format, false, time);
            break;
        }
        case kKeyFrame:
            pending = readFrame(source, IPCAM_FRAME_KEY, header.length, time, failed);
            session->timeStepFlag = 0;
            session->channelFlagged = 0;
            break;
        case kDependentFrame:
        case kDroppableFrame: {
            const int32_t kind =
                header.type == kDependentFrame ? IPCAM_FRAME_DEPENDENT : IPCAM_FRAME_DROPPABLE;
            pending = readFrame(source, kind, header.length, time, failed);
            if (session->timeStepFlag) {
                IPCamFreeFrame(pending);
                pending = nullptr;
            }
            session->channelFlagged = 0;
            break;
        }
        case kJpegFrame:
            pending = readFrame(source, IPCAM_FRAME_KEY, header.length, time, failed);
            session->timeStepFlag = 0;
            session->channelFlagged = 0;
            if (pending && !isWholeJpeg(framePayload(pending), header.length)) {
                IPCamFreeFrame(pending);
                pending = nullptr;
            }
            break;
        case kAudio:  // not on the video connection: its payload is not read
            break;
        case kEvent: {
            uint8_t event[6];
            if (!readKeeping(source, header.length, event, sizeof event))
                return failVideo(session, nullptr);
            const uint16_t value = le16(event);
            if (value != session->eventState) {
                const uint8_t state = static_cast<uint8_t>(value);
                session->eventState = state;
                stream.eventTime = time;
                pending = makeFrame(IPCAM_MSG_EVENT, &state, 1, time);
            }
            break;
        }
        case kInput: {
            uint8_t change[6];
            if (!readKeeping(source, header.length, change, sizeof change))
                return failVideo(session, nullptr);
            const uint16_t input = le16(change), value = le16(change + 3);
            // The state has eight inputs; numbers beyond them change nothing.
            if (input < 8) {
                const uint8_t bit = static_cast<uint8_t>(1u << input);
                session->inputState = value ? (session->inputState | bit)
                                            : (session->inputState & ~bit);
            }
            stream.inputTime = time;
            const uint8_t message[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(input)};
            pending = makeFrame(IPCAM_MSG_INPUT, message, sizeof message, time);
            break;
        }
        case kChannelState: {
            uint8_t state[3];
            if (!readKeeping(source, header.length, state, sizeof state))
                return failVideo(session, nullptr);
            const int32_t channel = session->videoStream;
            if (channel >= 0 && channel < 16 && (le16(state) >> channel) & 1) {
                stream.magicTimedOut = 1;
                session->channelFlagged = 1;
                return kChannelFlagged;
            }
            break;
        }
        case kTalkUse: {
            uint8_t use[2];
            if (!readKeeping(source, header.length, use, sizeof use))
                return failVideo(session, nullptr);
            stream.talkInUse = use[1] & 0x7F;
            stream.talkAvailable = stream.talkSlots != 0 && stream.talkInUse == 0;
            if (stream.streamSlots < (use[0] & 0x7F)) return kNoStreamSlot;
            break;
        }
        default:
            if (!readKeeping(source, header.length, nullptr, 0)) {
                if (header.type == kKeepAlive) return session->channelFlagged ? kChannelFlagged : 0;
                return failVideo(session, nullptr);
            }
            break;
    }
    if (failed) return failVideo(session, nullptr);

    session->lastFrameTime = time;
    char next[4];
    const int n = receiveExactly(source, next, sizeof next, streamTimeout());
    if (n == 0) {
        stream.magicTimedOut = 1;
        stream.magicRetryCount = 0;
        IPCamFreeFrame(pending);
        return 0;
    }
    if (n != 4 || std::memcmp(next, "3297", 4) != 0) return failVideo(session, pending);
    if (pending) deliverFrame(session, pending);
    return 0;
}

int failAudio(IPCamSession *session, EncodedFrame *pending) {
    IPCamFreeFrame(pending);
    session->audioDisconnected = 1;
    closeConnection(&session->sockets[kAudioSocket]);
    return kAudioFramingError;
}

int readTaggedAudioPacket(IPCamSession *session, ByteSource &source) {
    PacketHeader header;
    if (!readHeader(source, header) || header.length > kMaxVideoPayload)
        return failAudio(session, nullptr);
    uint64_t time = packetTime(session, header);
    EncodedFrame *pending = nullptr;
    if (header.type == kInfo) {
        uint8_t info[kInfoSize];
        if (!readKeeping(source, header.length, info, sizeof info))
            return failAudio(session, nullptr);
        keepInfo(session, info);
        time = packetTime(session, header);
        static constexpr int32_t kSampleRates[] = {8000, 16000, 22050, 32000, 44100, 48000};
        StreamFormatBlock format = currentFormat(session);
        format.audioCodec = audioCodecOfCode(info[18]);
        format.channels = (info[19] & 3) >= 2 ? 1 : 0;
        format.bitsPerSample = info[19] >> 2;
        if (const uint32_t index = info[20] & 0x7F; index < std::size(kSampleRates))
            format.sampleRate = kSampleRates[index];
        pending = formatMessage(session, format, false, time);
    } else if (header.type == kAudio) {
        bool failed = false;
        pending = readFrame(source, IPCAM_FRAME_AUDIO, header.length, time, failed);
        if (failed) return failAudio(session, nullptr);
    } else if (!readKeeping(source, header.length, nullptr, 0)) {
        return failAudio(session, nullptr);
    }

    char next[4];
    const int n = receiveExactly(source, next, sizeof next, streamTimeout());
    if (n == 0) {
        IPCamFreeFrame(pending);
        session->audioDisconnected = 1;
        return 0;
    }
    if (n != 4 || std::memcmp(next, "3297", 4) != 0) return failAudio(session, pending);
    if (pending) deliverFrame(session, pending);
    return 0;
}

}  // namespace

int readTaggedVideo(IPCamSession *session, ByteSource &source) {
    VideoMagic magic;
    if (int r = readVideoMagic(session, source, magic); r != 0) return r;
    if (magic == VideoMagic::Hunt) {
        session->driver.runVideo = huntRunVideo;
        return readHuntVideo(session, source);
    }
    return readTaggedPacket(session, source);
}

int readTaggedAudio(IPCamSession *session, ByteSource &source) {
    AudioMagic magic;
    if (int r = readAudioMagic(session, source, magic); r != 0) return r;
    if (magic == AudioMagic::Idle) return 0;
    if (magic == AudioMagic::Htad) {
        session->driver.runAudio = htadRunAudio;
        return readHtadAudio(session, source);
    }
    return readTaggedAudioPacket(session, source);
}

}  // namespace ipcam
