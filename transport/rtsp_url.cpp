#include "transport/rtsp_url.h"

#include <algorithm>

#include "core/text_case.h"

namespace ipcam {

namespace {

constexpr int kNoUrl = -1;
constexpr int kBadPort = -2;
constexpr std::size_t kMaxHost = 127;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

// A request line cannot carry blanks or control characters, nor a fragment.
bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u != 0x7F && c != '#';
    });
}

// The port text after ':': 0, kNoUrl or kBadPort.
int readPort(std::string_view text, uint16_t &port) {
    if (text.empty() || text.size() > 10) return text.empty() ? kNoUrl : kBadPort;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return kNoUrl;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value == 0 || value > 65535) return kBadPort;
    port = static_cast<uint16_t>(value);
    return 0;
}

}  // namespace

int parseRtspUrl(std::string_view text, RtspUrl &out) {
    return parseUrl(text, "rtsp://", 554, out);
}

int parseUrl(std::string_view text, std::string_view scheme, uint16_t defaultPort, RtspUrl &out) {
    if (text.size() > kMaxRtspUrl || text.size() <= scheme.size() || !printable(text) ||
        !startsWithNoCase(text, scheme))
        return kNoUrl;
    const std::string_view rest = text.substr(scheme.size());
    const std::size_t slash = rest.find_first_of("/?");
    const std::string_view authority = rest.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? "" : rest.substr(slash);

    RtspUrl url;
    url.port = defaultPort;
    // The last '@' ends the account: a raw '@' inside a password is common enough.
    std::string_view hostPort = authority;
    std::string_view account;
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        account = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        const std::size_t colon = account.find(':');
        url.user = percentDecoded(account.substr(0, colon));
        if (colon != std::string_view::npos)
            url.password = percentDecoded(account.substr(colon + 1));
        if (url.user.size() > kMaxUrlAccount || url.password.size() > kMaxUrlAccount) return kNoUrl;
    }
    if (hostPort.empty() || hostPort.front() == '[') return kNoUrl;
    const std::size_t colon = hostPort.find(':');
    url.host = std::string(hostPort.substr(0, colon));
    if (url.host.empty() || url.host.size() > kMaxHost) return kNoUrl;
    if (colon != std::string_view::npos) {
        if (int r = readPort(hostPort.substr(colon + 1), url.port); r != 0) return r;
    }

    std::string pathText(path);
    if (pathText.empty() || pathText.front() == '?') pathText.insert(0, "/");
    url.path = pathText;
    url.requestUri = std::string(text.substr(0, scheme.size())) + std::string(hostPort) + pathText;
    out = std::move(url);
    return 0;
}

}  // namespace ipcam
