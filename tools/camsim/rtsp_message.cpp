#include "tools/camsim/rtsp_message.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <utility>

namespace camsim {

namespace {

constexpr std::pair<int, std::string_view> kStatusTexts[] = {
    {200, "OK"},
    {400, "Bad Request"},
    {404, "Not Found"},
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

}  // namespace

std::string urlPath(std::string_view url) {
    if (startsWithNoCase(url, "rtsp://")) {
        url.remove_prefix(7);
        std::size_t slash = url.find('/');
        url = slash == std::string_view::npos ? std::string_view() : url.substr(slash);
    }
    url = url.substr(0, url.find('?'));
    while (!url.empty() && url.front() == '/') url.remove_prefix(1);
    while (!url.empty() && url.back() == '/') url.remove_suffix(1);
    return std::string(url);
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
                            std::string_view body) {
    std::string_view text = "Status";
    for (const auto &[code, words] : kStatusTexts)
        if (code == status) text = words;
    std::string reply = "RTSP/1.0 " + std::to_string(status) + " " + std::string(text) + "\r\n";
    if (!cseq.empty()) reply += "CSeq: " + std::string(cseq) + "\r\n";
    for (const auto &[name, value] : headers) reply += name + ": " + value + "\r\n";
    if (!body.empty()) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    reply += "\r\n";
    reply += body;
    return reply;
}

}  // namespace camsim
