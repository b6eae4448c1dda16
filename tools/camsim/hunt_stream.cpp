#include "tools/camsim/hunt_stream.h"

#include <algorithm>
#include <array>

namespace camsim {

namespace {

uint32_t bits(int value, int width) {
    return static_cast<uint32_t>(value) & ((1u << width) - 1);
}

uint8_t byteAt(std::string_view payload, std::size_t i) {
    return i < payload.size() ? static_cast<uint8_t>(payload[i]) : 0;
}

}  // namespace

void putLittleEndian(std::string &out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string huntFrameHead(const HuntVideoHeader &h) {
    std::string out(kHuntMagic);
    putLittleEndian(out, bits(h.width, 12) | (h.overlay ? 0x8000u : 0u), 2);
    putLittleEndian(out, bits(h.height, 12) | bits(static_cast<int>(h.pictureType), 4) << 12, 2);
    putLittleEndian(out, h.seconds, 4);
    putLittleEndian(out, static_cast<uint32_t>(h.milliseconds) & 0xFFFF, 2);
    putLittleEndian(out, bits(h.timeZoneMinutes, 12) | bits(h.overlayMode, 4) << 12, 2);
    out += '\0';
    out += static_cast<char>(bits(static_cast<int>(h.codec), 3) |
                             bits(std::clamp(h.frameRate, 0, 31), 5) << 3);
    putLittleEndian(out, h.length, 4);
    out += static_cast<char>(bits(h.eventCode, 3) | bits(h.inputBits, 2) << 3);
    out += static_cast<char>(h.checksum);
    out += static_cast<char>(bits(h.talkSlots, 4) << 4 | bits(h.talkInUse, 4));
    const int signs = int{h.widthNegative} + int{h.heightNegative};
    out += static_cast<char>((h.widthNegative ? 0x80 : 0) | (h.heightNegative ? 0x40 : 0) | signs);
    putLittleEndian(out, 0, 2);
    return out;
}

std::string huntFrame(HuntVideoHeader header, std::string_view payload) {
    header.length = static_cast<uint32_t>(payload.size());
    std::string out = huntFrameHead(header);
    out += payload;
    return out;
}

uint8_t huntChecksum(std::string_view p) {
    const unsigned sum =
        (byteAt(p, 22) & byteAt(p, 21)) + (byteAt(p, 14) | byteAt(p, 10)) + byteAt(p, 32);
    return static_cast<uint8_t>(~sum & 0xFF);
}

std::string htadFrameHead(const HtadHeader &h) {
    std::string out(kHtadMagic);
    putLittleEndian(out, h.seconds, 4);
    putLittleEndian(out, bits(h.milliseconds, 12) | bits(h.codecCode, 4) << 12, 2);
    out += static_cast<char>(bits(h.channelMode, 2) | bits(h.bitsPerSample, 6) << 2);
    putLittleEndian(out, static_cast<uint32_t>(h.sampleRate) & 0xFFFF, 2);
    putLittleEndian(out, h.length, 4);
    putLittleEndian(out, 0, 3);
    return out;
}

std::string htadFrame(HtadHeader header, std::string_view payload) {
    header.length = static_cast<uint32_t>(payload.size());
    std::string out = htadFrameHead(header);
    out += payload;
    return out;
}

std::string taggedHead(uint8_t type, uint32_t seconds, int milliseconds, uint32_t length,
                       std::size_t extraHeaderBytes) {
    std::string out(kTaggedMagic);
    out += static_cast<char>(kTaggedHeaderSize + extraHeaderBytes);
    out += static_cast<char>(type);
    const uint32_t time = 1u | bits(milliseconds, 10) << 1 | 1u << 14 |
                          ((seconds >> 16) & 1u) << 15 | ((seconds >> 17) & 0x7FFFu) << 16 |
                          1u << 31;
    putLittleEndian(out, time, 4);
    putLittleEndian(out, seconds & 0xFFFF, 2);
    putLittleEndian(out, 1u | (length & 0xFFFFFFu) << 1 | 1u << 31, 4);
    putLittleEndian(out, 0x8000, 2);
    putLittleEndian(out, 0x8000, 2);
    out.append(extraHeaderBytes, '\0');
    return out;
}

std::string taggedPacket(TaggedType type, uint32_t seconds, int milliseconds,
                         std::string_view payload, std::size_t extraHeaderBytes) {
    std::string out = taggedHead(static_cast<uint8_t>(type), seconds, milliseconds,
                                 static_cast<uint32_t>(payload.size()), extraHeaderBytes);
    out += payload;
    return out;
}

std::string taggedInfoPayload(const TaggedInfo &info) {
    std::string out(6, '\0');
    out += static_cast<char>(bits(static_cast<int>(info.codec), 4));
    putLittleEndian(out, static_cast<uint16_t>(info.timeZoneMinutes), 2);
    out += static_cast<char>(bits(info.streamSlots, 7));
    putLittleEndian(out, static_cast<uint32_t>(info.width) & 0xFFFF, 2);
    putLittleEndian(out, static_cast<uint32_t>(info.height) & 0xFFFF, 2);
    putLittleEndian(out,
                    bits(info.frameRate, 8) << 9 | (info.heightNegative ? 1u << 17 : 0u) |
                        (info.widthNegative ? 1u << 18 : 0u) | bits(info.talkSlots, 8) << 19,
                    4);
    out += static_cast<char>(info.audioCodecCode);
    out += static_cast<char>(bits(info.audioChannelMode, 2) | bits(info.audioBits, 6) << 2);
    out += static_cast<char>(bits(info.sampleRateIndex, 7));
    return out;
}

std::string taggedEventPayload(int code) {
    std::string out;
    putLittleEndian(out, static_cast<uint16_t>(code), 2);
    out.append(4, '\0');
    return out;
}

std::string taggedInputPayload(int input, int value) {
    std::string out;
    putLittleEndian(out, static_cast<uint16_t>(input), 2);
    out += '\0';
    putLittleEndian(out, static_cast<uint16_t>(value), 2);
    out += '\0';
    return out;
}

std::string taggedChannelFlagPayload(uint16_t channels) {
    std::string out;
    putLittleEndian(out, channels, 2);
    out += '\0';
    return out;
}

std::string taggedTalkUsePayload(int streamsInUse, int talkInUse) {
    return {static_cast<char>(bits(streamsInUse, 7)), static_cast<char>(bits(talkInUse, 7))};
}

int sampleRateIndex(int rate) {
    static constexpr std::array<int, 6> kRates = {8000, 16000, 22050, 32000, 44100, 48000};
    auto it = std::find(kRates.begin(), kRates.end(), rate);
    return it == kRates.end() ? 3 : static_cast<int>(it - kRates.begin());
}

}  // namespace camsim
