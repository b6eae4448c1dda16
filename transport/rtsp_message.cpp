#include "transport/rtsp_message.h"

#include <algorithm>
#include <array>

#include "core/decimal.h"

namespace ipcam {

namespace {

constexpr int kFailed = -8;

bool isMethodChar(char c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (isBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view firstLine(std::string_view head) {
    std::string_view line = head.substr(0, head.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// "RTSP/1.0 200 OK": the status, or 0 when the line is no reply line.
int replyStatus(std::string_view line) {
    if (line.substr(0, 5) != "RTSP/") return 0;
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return 0;
    std::string_view code = line.substr(space + 1, 3);
    if (!std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    if (line.size() > space + 4 && line[space + 4] != ' ') return 0;
    int status = decimalValue(code);
    return status >= 100 ? status : 0;
}

// "SET_PARAMETER rtsp://host/path RTSP/1.0": the method, or empty.
std::string_view requestMethod(std::string_view line) {
    std::size_t space = line.find(' ');
    if (space == 0 || space == std::string_view::npos) return {};
    std::string_view method = line.substr(0, space);
    if (!std::all_of(method.begin(), method.end(), isMethodChar)) return {};
    std::size_t second = line.find(' ', space + 1);
    if (second == std::string_view::npos || second == space + 1) return {};
    if (line.substr(second + 1, 5) != "RTSP/") return {};
    return method;
}

}  // namespace

int32_t RtspMessage::cseq() const {
    std::optional<std::string_view> value = rtspHeader(head, "CSeq");
    if (!value || value->empty() || value->front() < '0' || value->front() > '9') return -1;
    return decimalValue(*value);
}

bool looksLikeRtspStart(std::span<const uint8_t, 4> start) {
    return std::all_of(start.begin(), start.end(),
                       [](uint8_t c) { return isMethodChar(static_cast<char>(c)) && c != '-'; });
}

std::optional<std::string_view> rtspHeader(std::string_view head, std::string_view name) {
    std::size_t at = head.find('\n');
    while (at != std::string_view::npos && at + 1 < head.size()) {
        std::size_t end = head.find('\n', at + 1);
        std::string_view line = head.substr(
            at + 1, end == std::string_view::npos ? std::string_view::npos : end - at - 1);
        at = end;
        if (trimmed(line).empty()) break;  // the blank line ends the head
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (equalsIgnoringCase(trimmed(line.substr(0, colon)), name))
            return trimmed(line.substr(colon + 1));
    }
    return std::nullopt;
}

int readRtspMessage(ByteSource &source, std::span<const uint8_t> start, RtspMessage &out,
                    uint32_t timeoutMs) {
    if (start.size() >= kRtspHeadLimit) return kFailed;
    std::array<char, kRtspHeadLimit> head;
    std::copy(start.begin(), start.end(), head.begin());
    int n =
        receiveHeader(source, head.data() + start.size(), head.size() - start.size(), timeoutMs);
    if (n <= 0) return kFailed;
    out.head.assign(head.data(), start.size() + static_cast<std::size_t>(n));
    if (!out.head.ends_with("\n\n") && !out.head.ends_with("\r\n\r\n")) return kFailed;

    const std::string_view line = firstLine(out.head);
    out.status = replyStatus(line);
    out.method = out.status ? std::string() : std::string(requestMethod(line));
    if (out.status == 0 && out.method.empty()) return kFailed;

    out.body.clear();
    std::optional<std::string_view> length = rtspHeader(out.head, "Content-Length");
    if (!length) return 0;
    if (length->empty() || length->front() < '0' || length->front() > '9') return kFailed;
    const int32_t bodyLength = decimalValue(*length);
    if (bodyLength < 0 || static_cast<std::size_t>(bodyLength) > kRtspBodyLimit) return kFailed;
    out.body.resize(static_cast<std::size_t>(bodyLength));
    if (bodyLength > 0 &&
        receiveExactly(source, out.body.data(), out.body.size(), timeoutMs) != bodyLength)
        return kFailed;
    return 0;
}

std::string answerToServerRequest(const RtspMessage &request, std::string_view session) {
    static constexpr std::string_view kUnderstood[] = {"OPTIONS", "GET_PARAMETER", "SET_PARAMETER"};
    const bool understood = std::find(std::begin(kUnderstood), std::end(kUnderstood),
                                      request.method) != std::end(kUnderstood);
    std::string answer = understood ? "RTSP/1.0 200 OK\r\n" : "RTSP/1.0 501 Not Implemented\r\n";
    if (std::optional<std::string_view> cseq = rtspHeader(request.head, "CSeq"))
        answer.append("CSeq: ").append(*cseq).append("\r\n");
    if (!session.empty()) answer.append("Session: ").append(session).append("\r\n");
    answer += "\r\n";
    return answer;
}

}  // namespace ipcam
