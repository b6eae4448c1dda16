// Byte-exact family A stream units for reader tests: "HUNT" video frames, "HTAD" audio frames
// and "3297" packets, written field by field at their offsets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel_test {

inline void putLe(std::string &out, std::size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// The checksum a device of firmware 1.06 and later writes, summed over the payload's start.
inline uint8_t huntChecksum(const std::string &p) {
    auto b = [&p](std::size_t i) { return static_cast<uint8_t>(p[i]); };
    return static_cast<uint8_t>(~((b(22) & b(21)) + (b(14) | b(10)) + b(32)));
}

// The same sum over the payload's end, with the four bytes the reader appends.
inline uint8_t huntChecksumFromEnd(const std::string &p) {
    std::string q = p + std::string("\x00\x00\x01\xF8", 4);
    const std::size_t n = p.size();
    auto b = [&q](std::size_t i) { return static_cast<uint8_t>(q[i]); };
    return static_cast<uint8_t>(~((b(n - 22) & b(n - 21)) + (b(n - 14) | b(n - 10)) + b(n - 32)));
}

struct HuntFields {
    uint16_t width = 640, height = 480;
    uint8_t pictureType = 0;  // 0 key, 1 droppable, 2 dependent
    bool overlay = false;
    uint32_t seconds = 1'700'000'000, milliseconds = 0;
    int16_t zoneMinutes = 0;
    uint8_t overlayMode = 0;
    uint8_t codec = 1, frameRate = 30;
    std::optional<uint32_t> length = std::nullopt;   // the payload's size unless given
    uint8_t events = 0;               // bits 0-2 event code, 3-4 inputs
    std::optional<uint8_t> checksum = std::nullopt;  // the device's sum unless given
    uint8_t talk = 0, signs = 0;
};

inline std::string huntFrame(const HuntFields &f, const std::string &payload,
                             bool magic = true) {
    std::string h(24, '\0');
    putLe(h, 0, (f.width & 0xFFF) | (f.overlay ? 0x8000 : 0), 2);
    putLe(h, 2, (f.height & 0xFFF) | (f.pictureType & 0xF) << 12, 2);
    putLe(h, 4, f.seconds, 4);
    putLe(h, 8, f.milliseconds, 2);
    putLe(h, 10, (static_cast<uint16_t>(f.zoneMinutes) & 0xFFF) | (f.overlayMode & 0xF) << 12, 2);
    h[13] = static_cast<char>((f.codec & 7) | f.frameRate << 3);
    putLe(h, 14, f.length.value_or(static_cast<uint32_t>(payload.size())), 4);
    h[18] = static_cast<char>(f.events);
    h[19] = static_cast<char>(f.checksum.value_or(payload.size() > 32 ? huntChecksum(payload) : 0));
    h[20] = static_cast<char>(f.talk);
    h[21] = static_cast<char>(f.signs);
    return (magic ? std::string("HUNT") : std::string()) + h + payload;
}

struct HtadFields {
    uint32_t seconds = 1'700'000'000;
    uint16_t milliseconds = 0;
    uint8_t codecCode = 2, channelMode = 2, bits = 16;
    uint16_t sampleRate = 8000;
    std::optional<uint32_t> length = std::nullopt;
};

inline std::string htadFrame(const HtadFields &f, const std::string &payload, bool magic = true) {
    std::string h(16, '\0');
    putLe(h, 0, f.seconds, 4);
    putLe(h, 4, (f.milliseconds & 0xFFF) | (f.codecCode & 0xF) << 12, 2);
    h[6] = static_cast<char>((f.channelMode & 3) | f.bits << 2);
    putLe(h, 7, f.sampleRate, 2);
    putLe(h, 9, f.length.value_or(static_cast<uint32_t>(payload.size())), 4);
    return (magic ? std::string("HTAD") : std::string()) + h + payload;
}

struct TaggedFields {
    uint8_t type = 1;
    uint32_t seconds = 1'700'000'000, milliseconds = 0;
    uint8_t extraHeader = 0;   // bytes beyond the 20 of the header
    int dropMarker = -1;       // 0..6: which marker bit to leave out
    std::optional<uint32_t> length = std::nullopt;
};

inline std::string taggedPacket(const TaggedFields &f, const std::string &payload,
                                bool magic = true) {
    std::string h(16 + f.extraHeader, '\0');
    h[0] = static_cast<char>(20 + f.extraHeader);
    h[1] = static_cast<char>(f.type);
    uint32_t w = 1u | 1u << 14 | 1u << 31 | (f.milliseconds & 0x3FF) << 1 |
                 (f.seconds >> 16 & 1) << 15 | (f.seconds >> 17 & 0x7FFF) << 16;
    uint32_t n = 1u | 1u << 31 | (f.length.value_or(static_cast<uint32_t>(payload.size())) &
                                  0xFFFFFF) << 1;
    uint16_t m1 = 0x8000, m2 = 0x8000;
    switch (f.dropMarker) {
        case 0: w &= ~1u; break;
        case 1: w &= ~(1u << 14); break;
        case 2: w &= ~(1u << 31); break;
        case 3: n &= ~1u; break;
        case 4: n &= ~(1u << 31); break;
        case 5: m1 = 0; break;
        case 6: m2 = 0; break;
        default: break;
    }
    putLe(h, 2, w, 4);
    putLe(h, 6, f.seconds & 0xFFFF, 2);
    putLe(h, 8, n, 4);
    putLe(h, 12, m1, 2);
    putLe(h, 14, m2, 2);
    return (magic ? std::string("3297") : std::string()) + h + payload;
}

// The 21 bytes of an info packet.
struct TaggedInfo {
    uint8_t videoCodecNibble = 1;
    int16_t zoneMinutes = 0;
    uint8_t streamSlots = 4;
    uint16_t width = 640, height = 480;
    uint32_t talkSlots = 0, frameRate = 25;
    bool negateWidth = false, negateHeight = false;
    uint8_t audioCode = 2, audioChannel = 2, audioBits = 16, rateIndex = 0;
};

inline std::string taggedInfo(const TaggedInfo &i) {
    std::string p(21, '\0');
    p[6] = static_cast<char>(i.videoCodecNibble);
    putLe(p, 7, static_cast<uint16_t>(i.zoneMinutes), 2);
    p[9] = static_cast<char>(i.streamSlots);
    putLe(p, 10, i.width, 2);
    putLe(p, 12, i.height, 2);
    uint32_t word = (i.talkSlots & 0xFF) << 19 | (i.frameRate & 0xFF) << 9 |
                    (i.negateWidth ? 1u << 18 : 0) | (i.negateHeight ? 1u << 17 : 0);
    putLe(p, 14, word, 4);
    p[18] = static_cast<char>(i.audioCode);
    p[19] = static_cast<char>((i.audioChannel & 3) | i.audioBits << 2);
    p[20] = static_cast<char>(i.rateIndex);
    return p;
}

}  // namespace kestrel_test
