#include "transport/rtsp_reply.h"

#include <limits>

#include "core/text_case.h"

namespace ipcam {

namespace {

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The lines of a head from its start line to the first empty line, CRLF or LF alike.
class HeadLines {
  public:
    explicit HeadLines(std::string_view head) : rest_(head) {
        // A stray line end before the start line is no end of the head.
        while (rest_.starts_with("\r\n") || rest_.starts_with("\n"))
            rest_.remove_prefix(rest_[0] == '\r' ? 2 : 1);
    }
    // The next line without its line end; false at the first empty line or the end.
    bool next(std::string_view &line) {
        if (rest_.empty()) return false;
        std::size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty()) rest_ = {};
        return !line.empty();
    }

  private:
    std::string_view rest_;
};

// Calls visit(name, value) for every header of the head, continuation lines joined.
template <typename Visit>
void forEachHeader(std::string_view head, Visit visit) {
    HeadLines lines(head);
    std::string_view line;
    if (!lines.next(line)) return;  // the start line
    std::string_view name;
    std::string value;
    bool open = false;
    while (lines.next(line)) {
        if ((line[0] == ' ' || line[0] == '\t') && open) {
            std::string_view more = trimBlanks(line);
            if (!more.empty()) value.append(value.empty() ? "" : " ").append(more);
            continue;
        }
        if (open && !visit(name, std::string_view(value))) return;
        const std::size_t colon = line.find(':');
        open = colon != std::string_view::npos;
        if (!open) continue;  // not a header: skipped
        name = trimBlanks(line.substr(0, colon));
        value.assign(trimBlanks(line.substr(colon + 1)));
    }
    if (open) visit(name, std::string_view(value));
}

// A decimal number made of digits only, saturating far above any bound checked here.
std::optional<uint64_t> plainNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (!isDigit(c)) return std::nullopt;
        value = value > (uint64_t{1} << 40) ? value : value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

// "a-b" or "a" (b = a + 1), both within [low, high].
std::optional<PortPair> portPair(std::string_view text, int low, int high) {
    const std::size_t dash = text.find('-');
    auto first = plainNumber(trimBlanks(text.substr(0, dash)));
    auto second = dash == std::string_view::npos ? (first ? std::optional(*first + 1) : first)
                                                 : plainNumber(trimBlanks(text.substr(dash + 1)));
    const auto inRange = [&](const std::optional<uint64_t> &v) {
        return v && *v >= static_cast<uint64_t>(low) && *v <= static_cast<uint64_t>(high);
    };
    if (!inRange(first) || !inRange(second)) return std::nullopt;
    return PortPair{static_cast<int>(*first), static_cast<int>(*second)};
}

// Calls visit(part) for each part of text separated by separator, blanks trimmed.
template <typename Visit>
void forEachPart(std::string_view text, char separator, Visit visit) {
    while (true) {
        const std::size_t end = text.find(separator);
        if (!visit(trimBlanks(text.substr(0, end)))) return;
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

}  // namespace

int statusCode(std::string_view head) {
    HeadLines lines(head);
    std::string_view line;
    if (!lines.next(line)) return -1;
    if (!startsWithNoCase(line, "RTSP/") && !startsWithNoCase(line, "HTTP/")) return -1;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return -1;
    std::string_view rest = trimBlanks(line.substr(space));
    if (rest.size() < 3 || !isDigit(rest[0]) || !isDigit(rest[1]) || !isDigit(rest[2]) ||
        (rest.size() > 3 && rest[3] != ' ' && rest[3] != '\t') || rest[0] == '0')
        return -1;
    return (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
}

std::optional<RequestLine> requestLine(std::string_view head) {
    HeadLines lines(head);
    std::string_view line;
    if (!lines.next(line)) return std::nullopt;
    const std::size_t first = line.find(' '), last = line.rfind(' ');
    if (first == std::string_view::npos || first == 0 || last == first) return std::nullopt;
    const std::string_view method = line.substr(0, first);
    for (char c : method)
        if (!((c >= 'A' && c <= 'Z') || c == '_' || c == '-')) return std::nullopt;
    const std::string_view version = line.substr(last + 1);
    if (!startsWithNoCase(version, "RTSP/") && !startsWithNoCase(version, "HTTP/"))
        return std::nullopt;
    const std::string_view uri = trimBlanks(line.substr(first + 1, last - first - 1));
    if (uri.empty()) return std::nullopt;
    return RequestLine{method, uri};
}

std::optional<std::string> headerValue(std::string_view head, std::string_view name) {
    std::optional<std::string> found;
    forEachHeader(head, [&](std::string_view n, std::string_view v) {
        if (!equalsNoCase(n, name)) return true;
        found.emplace(v);
        return false;
    });
    return found;
}

std::vector<std::string> headerValues(std::string_view head, std::string_view name) {
    std::vector<std::string> all;
    forEachHeader(head, [&](std::string_view n, std::string_view v) {
        if (equalsNoCase(n, name)) all.emplace_back(v);
        return true;
    });
    return all;
}

std::optional<std::size_t> contentLength(std::string_view head) {
    uint64_t length = 0;
    bool seen = false, good = true;
    forEachHeader(head, [&](std::string_view n, std::string_view v) {
        if (!equalsNoCase(n, "Content-Length")) return true;
        auto value = plainNumber(v);
        good = value && *value <= kMaxContentLength && (!seen || *value == length);
        if (good) length = *value;
        seen = true;
        return good;
    });
    if (!good) return std::nullopt;
    return static_cast<std::size_t>(length);
}

std::optional<SessionHeader> sessionHeader(std::string_view head) {
    auto value = headerValue(head, "Session");
    if (!value) return std::nullopt;
    std::string_view text = *value;
    const std::size_t semicolon = text.find(';');
    const std::string_view id = trimBlanks(text.substr(0, semicolon));
    if (id.empty() || id.size() > kMaxSessionId) return std::nullopt;
    for (char c : id)
        if (c <= ' ' || c > '~') return std::nullopt;
    SessionHeader session{std::string(id)};
    if (semicolon == std::string_view::npos) return session;
    forEachPart(text.substr(semicolon + 1), ';', [&](std::string_view part) {
        const std::size_t equals = part.find('=');
        if (equals == std::string_view::npos ||
            !equalsNoCase(trimBlanks(part.substr(0, equals)), "timeout"))
            return true;
        auto seconds = plainNumber(trimBlanks(part.substr(equals + 1)));
        if (seconds && *seconds >= 1 && *seconds <= 86'400)
            session.timeout = static_cast<int>(*seconds);
        return false;
    });
    return session;
}

std::optional<TransportHeader> transportHeader(std::string_view head) {
    auto value = headerValue(head, "Transport");
    if (!value) return std::nullopt;
    std::string_view first = std::string_view(*value).substr(0, value->find(','));
    TransportHeader transport;
    bool bad = false;
    forEachPart(first, ';', [&](std::string_view part) {
        std::optional<PortPair> *field = nullptr;
        std::size_t skip = 0;
        if (startsWithNoCase(part, "interleaved=")) {
            field = &transport.interleaved;
            skip = 12;
        } else if (startsWithNoCase(part, "server_port=")) {
            field = &transport.serverPort;
            skip = 12;
        }
        if (!field || field->has_value()) return true;
        const bool channels = field == &transport.interleaved;
        *field = portPair(part.substr(skip), channels ? 0 : 1, channels ? 255 : 65535);
        bad = !field->has_value();
        return !bad;
    });
    if (bad) return std::nullopt;
    return transport;
}

bool publicLists(std::string_view head, std::string_view method) {
    bool listed = false;
    for (const std::string &value : headerValues(head, "Public"))
        forEachPart(value, ',', [&](std::string_view m) {
            listed = listed || equalsNoCase(m, method);
            return !listed;
        });
    return listed;
}

std::optional<int32_t> cseqNumber(std::string_view head) {
    auto value = headerValue(head, "CSeq");
    if (!value) return std::nullopt;
    auto number = plainNumber(*value);
    if (!number || *number > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        return std::nullopt;
    return static_cast<int32_t>(*number);
}

std::optional<std::string> contentBase(std::string_view head) {
    for (std::string_view name : {"Content-Base", "Content-Location"}) {
        auto value = headerValue(head, name);
        if (value && !value->empty()) return value;
    }
    return std::nullopt;
}

std::string resolveControl(std::string_view base, std::string_view control) {
    control = trimBlanks(control);
    if (control.empty() || control == "*") return std::string(base);
    if (startsWithNoCase(control, "rtsp://") || startsWithNoCase(control, "rtsps://"))
        return std::string(control);
    while (control.starts_with('/')) control.remove_prefix(1);
    std::string url(base);
    if (!url.ends_with('/')) url.push_back('/');
    url.append(control);
    return url;
}

}  // namespace ipcam
