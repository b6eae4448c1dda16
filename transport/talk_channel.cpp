#include "transport/talk_channel.h"

#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/session.h"
#include "platform/sockets.h"
#include "transport/delivery.h"
#include "transport/family_a_stream.h"

namespace ipcam {

namespace {

constexpr uint8_t kTalkStart = 11;
constexpr uint8_t kTalkAudio = 5;
constexpr uint32_t kHeadWaitMs = 1000;
constexpr std::size_t kHeadCapacity = 512;
constexpr std::size_t kLoginSize = 56;

void putLe(std::string &out, std::size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

bool sendText(SocketSlot &slot, const std::string &bytes) {
    return sendAll(slot, bytes.data(), bytes.size(), settings().setTimeout) ==
           static_cast<int>(bytes.size());
}

bool taggedStream(IPCamSession *session) {
    return session->driver.runVideo.load() == taggedRunVideo;
}

}  // namespace

std::string taggedTalkHeader(uint8_t type, uint32_t payloadLength) {
    std::string h = "3297" + std::string(16, '\0');
    h[4] = 20;
    h[5] = static_cast<char>(type);
    putLe(h, 6, 0x80007801u, 4);  // markers, milliseconds 0, time 0
    putLe(h, 12, 0xFE000001u + 2u * payloadLength, 4);
    putLe(h, 16, 0x8000, 2);
    putLe(h, 18, 0x8000, 2);
    return h;
}

std::string talkStartPacket(const StreamFormatBlock &format) {
    uint8_t codec = 1;  // codes the device does not know count as the first
    switch (format.audioCodec) {
        case 1: codec = 2; break;
        case 2: case 3: case 4: case 5: codec = 4; break;
        case 6: codec = 5; break;
        default: break;
    }
    const uint8_t channels = format.channels == 1 ? 2 : 1;
    std::string p = taggedTalkHeader(kTalkStart, 3);
    p += static_cast<char>(codec);
    p += static_cast<char>(channels | (format.bitsPerSample & 0x3F) << 2);
    p += static_cast<char>(0x80 | (format.sampleRate & 0x7F));
    return p;
}

std::string htadTalkHeader(uint32_t payloadLength) {
    std::string h = "HTAD" + std::string(16, '\0');
    putLe(h, 8, 4u << 12, 2);  // milliseconds 0, codec code 4
    h[10] = static_cast<char>(2 | 4 << 2);  // channel mode 2, 4 bits per sample
    putLe(h, 13, payloadLength, 4);
    return h;
}

int talkOpen(IPCamSession *session, int on) {
    SocketSlot &slot = session->sockets[kThirdSocket];
    closeConnection(&slot);
    if (!on) return 0;
    FamilyAStreamState &stream = session->stream;
    if (!stream.talkAvailable) return kTalkNotAvailable;
    const int32_t port = stream.talkPort;
    if (!openConnection(&slot, session->host, static_cast<uint32_t>(port))) return kTalkConnectFailed;

    if (static_cast<uint32_t>(port) == session->port) {
        char request[256];
        std::snprintf(request, sizeof request,
                      "GET /Chatting.cgi?Chatting=1 HTTP/1.1\r\nAuthorization:Basic %s\r\n\r\n",
                      session->authText);
        char head[kHeadCapacity];
        if (!sendText(slot, request) || receiveHeader(slot, head, sizeof head, kHeadWaitMs) <= 0) {
            closeConnection(&slot);
            return kTalkLoginFailed;
        }
        if (taggedStream(session) && !sendText(slot, talkStartPacket(currentFormat(session)))) {
            closeConnection(&slot);
            return kTalkHeaderNotSent;
        }
        return 0;
    }
    // A talk port of its own takes the authorisation field as it lies in the session.
    static_assert(sizeof session->authText >= kLoginSize);
    if (!sendText(slot, std::string(session->authText, kLoginSize))) {
        closeConnection(&slot);
        return kTalkLoginFailed;
    }
    return 0;
}

int talkSend(IPCamSession *session, const void *data, std::size_t length) {
    SocketSlot &slot = session->sockets[kThirdSocket];
    if (slot == -1) return 0;
    if (length > UINT32_MAX / 2 || (length && !data)) return kTalkDataNotSent;
    const uint32_t n = static_cast<uint32_t>(length);
    if (!sendText(slot,
                  taggedStream(session) ? taggedTalkHeader(kTalkAudio, n) : htadTalkHeader(n)))
        return kTalkHeaderNotSent;
    if (length && sendAll(slot, data, length, settings().setTimeout) != static_cast<int>(length))
        return kTalkDataNotSent;
    return 0;
}

}  // namespace ipcam
