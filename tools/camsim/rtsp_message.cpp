#include "tools/camsim/rtsp_message.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <utility>

namespace camsim {

namespace {

constexpr std::pair<int, std::string_view> kStatusTexts[] = {
    {200, "OK"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {454, "Session Not Found"},
    {455, "Method Not Valid in This State"},
    {459, "Aggregate Operation Not Allowed"},
    {461, "Unsupported Transport"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {503, "Service Unavailable"},
};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

std::optional<int> decimal(std::string_view text) {
    int n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < 0 ||
        n > 65535)
        return std::nullopt;
    return n;
}

// "a" or "a-b" into pair; false when malformed.
bool parseRange(std::string_view text, int (&pair)[2]) {
    std::size_t dash = text.find('-');
    auto first = decimal(text.substr(0, dash));
    if (!first) return false;
    pair[0] = *first;
    if (dash == std::string_view::npos) return true;
    auto second = decimal(text.substr(dash + 1));
    if (!second) return false;
    pair[1] = *second;
    return true;
}

// Just past the first blank line, or npos.
std::size_t headEnd(std::string_view text) {
    std::size_t crlf = text.find("\r\n\r\n"), lf = text.find("\n\n");
    std::size_t end = std::string_view::npos;
    if (crlf != std::string_view::npos) end = crlf + 4;
    if (lf != std::string_view::npos) end = std::min(end, lf + 2);
    return end;
}

// The Content-Length of a message; nothing when malformed or too large.
std::optional<std::size_t> bodyLength(const RecordedRequest &message) {
    std::string text = message.header("Content-Length");
    if (text.empty()) return 0;
    std::size_t n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size() || n > kMaxRequestBody)
        return std::nullopt;
    return n;
}

// "Content-Length" as the style writes it, the i-th header of a reply.
std::string headerLine(std::string_view name, std::string_view value, HeaderStyle style,
                       std::size_t i) {
    if (style == HeaderStyle::Plain) return std::string(name) + ": " + std::string(value) + "\r\n";
    static constexpr std::string_view kBlanks[] = {"", "  ", "\t", " "};
    std::string line(name);
    std::transform(line.begin(), line.end(), line.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return line + ":" + std::string(kBlanks[i % std::size(kBlanks)]) + std::string(value) + "\r\n";
}

}  // namespace

RtspInput takeRtspInput(std::string &input) {
    RtspInput got;
    input.erase(0, std::min(input.find_first_not_of("\r\n"), input.size()));
    if (input.empty()) return got;

    if (input[0] == '$') {
        if (input.size() < 4) return got;
        const std::size_t length =
            static_cast<uint8_t>(input[2]) << 8 | static_cast<uint8_t>(input[3]);
        if (input.size() < 4 + length) return got;
        got.kind = RtspInput::Kind::Interleaved;
        got.channel = static_cast<uint8_t>(input[1]);
        got.packet = input.substr(4, length);
        input.erase(0, 4 + length);
        return got;
    }

    const std::size_t end = headEnd(input);
    if (end == std::string::npos || end > kMaxRequestHead) {
        if (end == std::string::npos && input.size() <= kMaxRequestHead) return got;
        got.kind = RtspInput::Kind::TooLarge;
        return got;
    }
    got.message = parseRequest(input.substr(0, end));
    auto length = bodyLength(got.message);
    if (!length) {
        got.kind = RtspInput::Kind::BadLength;
        return got;
    }
    if (input.size() < end + *length) return got;
    got.message.body = input.substr(end, *length);
    input.erase(0, end + *length);
    got.kind = got.message.method.starts_with("RTSP/") ? RtspInput::Kind::Response
                                                       : RtspInput::Kind::Request;
    return got;
}

std::optional<TransportRequest> parseTransport(std::string_view header) {
    header = header.substr(0, header.find(','));
    TransportRequest t;
    bool first = true;
    while (!header.empty()) {
        std::string_view item = header.substr(0, header.find(';'));
        header.remove_prefix(std::min(header.size(), item.size() + 1));
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (first) {
            first = false;
            if (sameNoCase(item, "RTP/AVP/TCP"))
                t.tcp = true;
            else if (!sameNoCase(item, "RTP/AVP") && !sameNoCase(item, "RTP/AVP/UDP"))
                return std::nullopt;
            t.profile = item;
        } else if (startsWithNoCase(item, "multicast")) {
            return std::nullopt;
        } else if (startsWithNoCase(item, "interleaved=")) {
            if (!parseRange(item.substr(12), t.channels) || t.channels[0] > 255 ||
                t.channels[1] > 255)
                return std::nullopt;
        } else if (startsWithNoCase(item, "client_port=")) {
            if (!parseRange(item.substr(12), t.ports)) return std::nullopt;
        }
    }
    if (first) return std::nullopt;
    return t;
}

std::string formatRtspReply(int status, std::string_view cseq, const HeaderList &headers,
                            std::string_view body, HeaderStyle style) {
    std::string_view text = "Status";
    for (const auto &[code, words] : kStatusTexts)
        if (code == status) text = words;
    std::string reply = "RTSP/1.0 " + std::to_string(status) + " " + std::string(text) + "\r\n";
    std::size_t i = 0;
    if (!cseq.empty()) reply += headerLine("CSeq", cseq, style, i++);
    for (const auto &[name, value] : headers) reply += headerLine(name, value, style, i++);
    if (!body.empty()) reply += headerLine("Content-Length", std::to_string(body.size()), style, i);
    reply += "\r\n";
    reply += body;
    return reply;
}

}  // namespace camsim
