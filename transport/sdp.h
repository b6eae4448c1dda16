// The session description of a DESCRIBE reply, read as a whole: per media section its kind,
// payload type, rtpmap, fmtp and control, and the session-level control.
//
// Pure functions over the body's text; untrusted input is bounded (kMaxDescription bytes,
// kMaxSections sections) and never read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcam {

inline constexpr std::size_t kMaxDescription = 65'536;
inline constexpr std::size_t kMaxSections = 32;
inline constexpr double kMaxFrameRate = 240;

// One "m=" section, with what its first payload type's attributes say.
struct MediaSection {
    std::string kind;        // "video", "audio" or whatever the server wrote
    int payloadType = -1;    // the first format of the m= line, 0-127; -1 when not a number
    std::string encoding;    // the rtpmap's encoding name as written; empty without rtpmap
    int32_t clockRate = 0;   // the rtpmap's clock rate; 0 without rtpmap
    int32_t channels = 0;    // the rtpmap's channel count; 0 when it gives none
    std::string parameters;  // the fmtp's text after the payload type; empty without fmtp
    std::string control;     // the section's a=control, as written
    double frameRate = 0;    // a=framerate (or a=x-framerate), above 0 and at most
                             // kMaxFrameRate; 0 when absent or out of range
};

struct SessionDescription {
    std::string control;  // the session-level a=control (before the first m= line)
    std::vector<MediaSection> media;
};

// Reads a description: lines end in CRLF or LF, blanks at their ends are dropped. Only the
// rtpmap and fmtp of the section's own first payload type are taken; the first a=control of
// each level counts. nullopt for a body without any m= section, larger than
// kMaxDescription, or with more than kMaxSections sections.
std::optional<SessionDescription> parseDescription(std::string_view body);

// The video codec of a section (IPCamVideoCodec): JPEG for payload type 26 or encoding "JPEG",
// MPEG-4 for "MP4V-ES", H.264 for "H264", H.265 for "H265" (names in any case); -1 for
// anything else (the client refuses such a stream).
int32_t videoCodec(const MediaSection &section);

// The audio codec: 3 for payload type 14, 6 for "ADPCM", 7 for "AMR"; -1 otherwise.
int32_t audioCodec(const MediaSection &section);

// The clock rate: the rtpmap's, else 8000 (the static types' value the client has always
// used).
int32_t clockRate(const MediaSection &section);

// The channel code of the stream format: 0 for one channel (also when the rtpmap gives no
// count, or repeats the clock rate where the count belongs), 1 for more.
int32_t channelCode(const MediaSection &section);

// The first section of that kind whose codec the client plays (the helpers above), or
// nullptr.
const MediaSection *firstVideo(const SessionDescription &description);
const MediaSection *firstAudio(const SessionDescription &description);

// The value of the fmtp parameter name (any case) of a section: "config" in
// "profile-level-id=1; config=000001B0" gives "000001B0"; nullopt when absent.
std::optional<std::string_view> fmtpParameter(const MediaSection &section, std::string_view name);

// Hexadecimal text to bytes ("000001b0" to 00 00 01 B0); nullopt for an odd length or any
// character that is not a hex digit, and for an empty text.
std::optional<std::vector<uint8_t>> hexBytes(std::string_view hex);

// The MPEG-4 decoder configuration a section carries in its fmtp "config=", as bytes;
// nullopt when there is none or it is not valid hex.
std::optional<std::vector<uint8_t>> mpeg4Config(const MediaSection &section);

}  // namespace ipcam
