#include "transport/sdp.h"

#include <charconv>
#include <system_error>

#include "core/text_case.h"
#include "ipcam.h"

namespace ipcam {

namespace {

// A payload type: 1 to 3 digits, 0-127; -1 otherwise.
int payloadNumber(std::string_view text) {
    if (text.empty() || text.size() > 3) return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value <= 127 ? value : -1;
}

// A positive decimal count of at most 9 digits; 0 otherwise.
int32_t countNumber(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty() || text.size() > 9) return 0;
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The first word of text and the rest after the blanks that follow it.
std::string_view firstWord(std::string_view &text) {
    const std::size_t end = text.find_first_of(" \t");
    std::string_view word = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : trimBlanks(text.substr(end));
    return word;
}

// "m=video 0 RTP/AVP 96 97": the kind and the first format.
MediaSection mediaLine(std::string_view value) {
    MediaSection m;
    m.kind = firstWord(value);
    firstWord(value);  // port
    firstWord(value);  // protocol
    m.payloadType = payloadNumber(firstWord(value));
    return m;
}

// An rtpmap or fmtp attribute value for this section's payload type: the text after the
// number, or nullopt when it is about another format.
std::optional<std::string_view> ownFormat(const MediaSection &m, std::string_view value) {
    std::string_view rest = value;
    const int type = payloadNumber(firstWord(rest));
    if (type < 0 || type != m.payloadType) return std::nullopt;
    return rest;
}

// "MP4V-ES/90000[/channels]".
void readRtpmap(MediaSection &m, std::string_view map) {
    const std::size_t slash = map.find('/');
    m.encoding = trimBlanks(map.substr(0, slash));
    if (slash == std::string_view::npos) return;
    std::string_view rest = map.substr(slash + 1);
    const std::size_t second = rest.find('/');
    m.clockRate = countNumber(rest.substr(0, second));
    if (second != std::string_view::npos) m.channels = countNumber(rest.substr(second + 1));
}

// "25", "29.97": frames per second, or 0 for anything else.
double frameRateNumber(std::string_view text) {
    double rate = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate,
                                              std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size()) return 0;
    return rate > 0 && rate <= kMaxFrameRate ? rate : 0;
}

void readAttribute(SessionDescription &d, std::string_view attribute) {
    const std::size_t colon = attribute.find(':');
    const std::string_view name = attribute.substr(0, colon);
    const std::string_view value = colon == std::string_view::npos
                                       ? std::string_view()
                                       : trimBlanks(attribute.substr(colon + 1));
    MediaSection *m = d.media.empty() ? nullptr : &d.media.back();
    if (equalsNoCase(name, "control")) {
        std::string &control = m ? m->control : d.control;
        if (control.empty()) control = value;
        return;
    }
    if (!m) return;
    if (equalsNoCase(name, "framerate") || equalsNoCase(name, "x-framerate")) {
        if (m->frameRate == 0) m->frameRate = frameRateNumber(value);
        return;
    }
    const bool rtpmap = equalsNoCase(name, "rtpmap");
    if (!rtpmap && !equalsNoCase(name, "fmtp")) return;
    auto own = ownFormat(*m, value);
    if (!own) return;
    if (rtpmap && m->encoding.empty())
        readRtpmap(*m, *own);
    else if (!rtpmap && m->parameters.empty())
        m->parameters = *own;
}

}  // namespace

std::optional<SessionDescription> parseDescription(std::string_view body) {
    if (body.size() > kMaxDescription) return std::nullopt;
    SessionDescription d;
    while (!body.empty()) {
        const std::size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body.remove_prefix(end == std::string_view::npos ? body.size() : end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        line = trimBlanks(line);
        if (line.size() < 2 || line[1] != '=') continue;
        const std::string_view value = line.substr(2);
        if (line[0] == 'm') {
            if (d.media.size() == kMaxSections) return std::nullopt;
            d.media.push_back(mediaLine(value));
        } else if (line[0] == 'a') {
            readAttribute(d, value);
        }
    }
    if (d.media.empty()) return std::nullopt;
    return d;
}

int32_t videoCodec(const MediaSection &m) {
    if (m.payloadType == 26 || equalsNoCase(m.encoding, "JPEG")) return 0;
    if (equalsNoCase(m.encoding, "MP4V-ES")) return IPCAM_VIDEO_MPEG4;
    if (equalsNoCase(m.encoding, "H264")) return IPCAM_VIDEO_H264;
    if (equalsNoCase(m.encoding, "H265")) return IPCAM_VIDEO_H265;
    return -1;
}

int32_t audioCodec(const MediaSection &m) {
    struct Name {
        std::string_view encoding;
        int32_t codec;
    };
    static constexpr Name kNames[] = {{"ADPCM", 6}, {"AMR", 7}};
    if (m.payloadType == 14) return 3;
    for (const Name &n : kNames)
        if (equalsNoCase(m.encoding, n.encoding)) return n.codec;
    return -1;
}

int32_t clockRate(const MediaSection &m) {
    return m.clockRate > 0 ? m.clockRate : 8000;
}

int32_t channelCode(const MediaSection &m) {
    return m.channels > 1 && m.channels != m.clockRate ? 1 : 0;
}

const MediaSection *firstVideo(const SessionDescription &d) {
    for (const MediaSection &m : d.media)
        if (equalsNoCase(m.kind, "video") && videoCodec(m) >= 0) return &m;
    return nullptr;
}

const MediaSection *firstAudio(const SessionDescription &d) {
    for (const MediaSection &m : d.media)
        if (equalsNoCase(m.kind, "audio") && audioCodec(m) >= 0) return &m;
    return nullptr;
}

std::optional<std::string_view> fmtpParameter(const MediaSection &m, std::string_view name) {
    std::string_view rest = m.parameters;
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string_view part = trimBlanks(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const std::size_t equals = part.find('=');
        if (equals != std::string_view::npos &&
            equalsNoCase(trimBlanks(part.substr(0, equals)), name))
            return trimBlanks(part.substr(equals + 1));
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> hexBytes(std::string_view hex) {
    if (hex.empty() || hex.size() % 2) return std::nullopt;
    const auto digit = [](char c) {
        c = lowerAscii(c);
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::vector<uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::optional<std::vector<uint8_t>> mpeg4Config(const MediaSection &m) {
    auto config = fmtpParameter(m, "config");
    if (!config) return std::nullopt;
    return hexBytes(*config);
}

}  // namespace ipcam
