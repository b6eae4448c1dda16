// The byte formats of a family A camera's own streams, as the camera writes them.
//
// Two framings exist. "HUNT"/"HTAD": every video frame is the magic "HUNT", a fixed 24-byte
// header and the picture; every audio frame the magic "HTAD", a 16-byte header and the sound.
// "3297": tagged packets, each the magic "3297", a 16-byte header full of marker bits, optional
// extra header bytes, then a payload whose meaning the packet type gives (pictures, sound,
// stream information, events, input changes, ...). Every multi-byte field is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace camsim {

inline constexpr std::string_view kHuntMagic = "HUNT";
inline constexpr std::string_view kHtadMagic = "HTAD";
inline constexpr std::string_view kTaggedMagic = "3297";
inline constexpr std::size_t kHuntHeaderSize = 24;    // after the magic
inline constexpr std::size_t kHtadHeaderSize = 16;    // after the magic
inline constexpr std::size_t kTaggedHeaderSize = 20;  // the magic included
inline constexpr std::size_t kTaggedInfoSize = 21;
// A picture may be followed by a block the camera appends for its own tools: the four bytes
// 00 00 01 F8, then kTrailerBlockSize bytes. Receivers cut it off again.
inline constexpr std::size_t kTrailerBlockSize = 208;
inline constexpr std::string_view kTrailerMark = std::string_view("\0\0\1\xF8", 4);

// Video codec numbers of the "HUNT" header and the info packet.
enum class HuntCodec : uint8_t { None = 0, Mpeg4 = 1, Jpeg = 2 };
// Picture types of the "HUNT" header: an I picture, a picture no other depends on, a picture
// later ones depend on.
enum class PictureType : uint8_t { Key = 0, Droppable = 1, Dependent = 2 };

// Packet types of the "3297" framing.
enum class TaggedType : uint8_t {
    Info = 0,
    Key = 1,        // MPEG-4 picture that starts with its configuration
    Dependent = 2,  // MPEG-4 picture that later ones depend on
    Droppable = 3,  // MPEG-4 picture no other depends on
    Jpeg = 4,
    Audio = 5,
    Event = 6,
    InputChange = 7,
    ChannelFlag = 8,
    TalkUse = 9,
    Ignored = 16,
};

struct HuntVideoHeader {
    int width = 0, height = 0;  // 12 bits each
    bool widthNegative = false, heightNegative = false;
    bool overlay = false;
    int overlayMode = 0;  // 4 bits
    PictureType pictureType = PictureType::Key;
    uint32_t seconds = 0;     // since 1970, the camera's local time
    int milliseconds = 0;     // 0..999
    int timeZoneMinutes = 0;  // signed, 12 bits
    HuntCodec codec = HuntCodec::Mpeg4;
    int frameRate = 0;     // 5 bits; larger rates are written as 31
    uint32_t length = 0;   // payload bytes
    int eventCode = 0;     // 3 bits
    int inputBits = 0;     // 2 bits
    uint8_t checksum = 0;  // see huntChecksum
    int talkSlots = 0;     // 4 bits
    int talkInUse = 0;     // 4 bits
};

// "HUNT" and the 24-byte header:
//   0  u16  width (bits 0-11), overlay flag (bit 15)
//   2  u16  height (bits 0-11), picture type (bits 12-15)
//   4  u32  seconds           8  u16  milliseconds
//  10  u16  time zone in minutes, signed 12 bits (bits 0-11), overlay mode (bits 12-15)
//  12  u8   0                13  u8   codec (bits 0-2), frame rate (bits 3-7)
//  14  u32  payload length   18  u8   event code (bits 0-2), input bits (bits 3-4)
//  19  u8   checksum         20  u8   talk slots (high nibble), talk in use (low nibble)
//  21  u8   width sign (bit 7), height sign (bit 6), the number of those set (bits 0-5)
//  22  u16  0
std::string huntFrameHead(const HuntVideoHeader &header);
// The head with the length of payload, then the payload.
std::string huntFrame(HuntVideoHeader header, std::string_view payload);

// The checksum byte of key and JPEG pictures (firmware 1.06 on): the low 8 bits of the
// complement of (P[22] AND P[21]) + (P[14] OR P[10]) + P[32]. Bytes past the end of a short
// payload count as 0.
uint8_t huntChecksum(std::string_view payload);

struct HtadHeader {
    uint32_t seconds = 0;
    int milliseconds = 0;  // 12 bits
    int codecCode = 0;     // 4 bits
    int channelMode = 1;   // 2 bits
    int bitsPerSample = 16;
    int sampleRate = 32000;  // 16 bits
    uint32_t length = 0;
};

// "HTAD" and the 16-byte header:
//   0  u32  seconds   4  u16  milliseconds (bits 0-11), codec code (bits 12-15)
//   6  u8   channel mode (bits 0-1), bits per sample (bits 2-7)
//   7  u16  sample rate   9  u32  payload length   13  3 bytes 0
std::string htadFrameHead(const HtadHeader &header);
std::string htadFrame(HtadHeader header, std::string_view payload);

// "3297", then
//   0  u8   header length H from the magic on (20 + extra bytes)
//   1  u8   packet type
//   2  u32  bit 0: 1; bits 1-10 milliseconds; bit 14: 1; bit 15 seconds bit 16;
//           bits 16-30 seconds bits 17-31; bit 31: 1
//   6  u16  seconds bits 0-15
//   8  u32  bit 0: 1; bits 1-24 payload length; bit 31: 1
//  12  u16  0x8000        14  u16  0x8000
// and extraHeaderBytes zero bytes.
std::string taggedHead(uint8_t type, uint32_t seconds, int milliseconds, uint32_t length,
                       std::size_t extraHeaderBytes = 0);
std::string taggedPacket(TaggedType type, uint32_t seconds, int milliseconds,
                         std::string_view payload, std::size_t extraHeaderBytes = 0);

struct TaggedInfo {
    int timeZoneMinutes = 0;
    int streamSlots = 0;  // 7 bits
    int talkSlots = 0;    // 8 bits
    HuntCodec codec = HuntCodec::Mpeg4;
    int width = 0, height = 0;
    bool widthNegative = false, heightNegative = false;
    int frameRate = 0;  // 8 bits
    int audioCodecCode = 0;
    int audioChannelMode = 1;  // 2 bits
    int audioBits = 16;        // 6 bits
    int sampleRateIndex = 3;   // into 8000, 16000, 22050, 32000, 44100, 48000
};

// The 21-byte payload of an info packet:
//   0  6 bytes 0            6  u8   video codec (low nibble)
//   7  i16 time zone        9  u8   stream slots (bits 0-6)
//  10  u16 width           12  u16  height
//  14  u32 frame rate (bits 9-16), height sign (bit 17), width sign (bit 18), talk slots
//          (bits 19-26)
//  18  u8  audio codec code
//  19  u8  audio channel mode (bits 0-1), bits per sample (bits 2-7)
//  20  u8  sample-rate index (bits 0-6)
std::string taggedInfoPayload(const TaggedInfo &info);
// Event: u16 event code, 4 bytes 0.
std::string taggedEventPayload(int code);
// Input change: u16 input number, a 0 byte, u16 value, a 0 byte.
std::string taggedInputPayload(int input, int value);
// Channel flag: u16 mask of the flagged channels, a 0 byte.
std::string taggedChannelFlagPayload(uint16_t channels);
// Talk use: streams in use (bits 0-6), talk channels in use (bits 0-6).
std::string taggedTalkUsePayload(int streamsInUse, int talkInUse);

// Index of rate in the info packet's sample-rate list; 3 (32000) for a rate not in it.
int sampleRateIndex(int rate);

void putLittleEndian(std::string &out, uint64_t value, int bytes);

}  // namespace camsim
