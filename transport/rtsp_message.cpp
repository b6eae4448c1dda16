#include "transport/rtsp_message.h"

#include <algorithm>
#include <array>

#include "transport/rtsp_reply.h"

namespace ipcam {

namespace {

constexpr int kFailed = -8;

bool isMethodChar(char c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

}  // namespace

int32_t RtspMessage::cseq() const {
    return cseqNumber(head).value_or(-1);
}

bool looksLikeRtspStart(std::span<const uint8_t, 4> start) {
    return std::all_of(start.begin(), start.end(),
                       [](uint8_t c) { return isMethodChar(static_cast<char>(c)) && c != '-'; });
}

int readRtspMessage(ByteSource &source, std::span<const uint8_t> start, RtspMessage &out,
                    uint32_t timeoutMs) {
    // The start may hold whole lines already, so the blank line is looked for in all of it.
    out.head.assign(start.begin(), start.end());
    while (!out.head.ends_with("\n\n") && !out.head.ends_with("\r\n\r\n")) {
        uint8_t byte;
        if (out.head.size() >= kRtspHeadLimit ||
            receiveExactly(source, &byte, 1, timeoutMs) != 1)
            return kFailed;
        out.head += static_cast<char>(byte);
    }

    out.status = std::max(statusCode(out.head), 0);
    if (out.status == 0) {
        const std::optional<RequestLine> request = requestLine(out.head);
        if (!request) return kFailed;
        out.method = std::string(request->method);
    } else {
        out.method.clear();
    }

    out.body.clear();
    const std::optional<std::size_t> bodyLength = contentLength(out.head);
    if (!bodyLength || *bodyLength > kRtspBodyLimit) return kFailed;
    out.body.resize(*bodyLength);
    if (*bodyLength > 0 && receiveExactly(source, out.body.data(), out.body.size(), timeoutMs) !=
                               static_cast<int>(*bodyLength))
        return kFailed;
    return 0;
}

std::string answerToServerRequest(const RtspMessage &request, std::string_view session) {
    static constexpr std::string_view kUnderstood[] = {"OPTIONS", "GET_PARAMETER", "SET_PARAMETER"};
    const bool understood = std::find(std::begin(kUnderstood), std::end(kUnderstood),
                                      request.method) != std::end(kUnderstood);
    std::string answer = understood ? "RTSP/1.0 200 OK\r\n" : "RTSP/1.0 501 Not Implemented\r\n";
    if (std::optional<std::string> cseq = headerValue(request.head, "CSeq"))
        answer.append("CSeq: ").append(*cseq).append("\r\n");
    if (!session.empty()) answer.append("Session: ").append(session).append("\r\n");
    answer += "\r\n";
    return answer;
}

}  // namespace ipcam
