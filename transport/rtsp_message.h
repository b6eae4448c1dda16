// RTSP messages as they arrive on the connection: replies to our requests and requests of
// the server's own (keep-alives such as SET_PARAMETER, GET_PARAMETER or OPTIONS).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/byte_source.h"

namespace ipcam {

inline constexpr std::size_t kRtspHeadLimit = 8192;
inline constexpr std::size_t kRtspBodyLimit = 65'536;

struct RtspMessage {
    std::string head;    // start line and header lines, the blank line included
    std::string body;    // the Content-Length bytes after the head
    int status = 0;      // a reply's status code; 0 for a request
    std::string method;  // a request's method; empty for a reply

    bool isReply() const { return status != 0; }
    // The CSeq header's value, or -1 when there is none or it is no number.
    int32_t cseq() const;
};

// True when four bytes can begin an RTSP message: "RTSP" (a reply) or capitals and '_' (a
// method name; every method has at least four letters).
bool looksLikeRtspStart(std::span<const uint8_t, 4> start);

// Reads the rest of a message whose first bytes (start, which looksLikeRtspStart accepted)
// have been read: the head up to its blank line (kRtspHeadLimit bytes at most), then the body
// its Content-Length announces (kRtspBodyLimit at most). 0, or -8 when the connection closes,
// fails or stays silent for timeoutMs, a limit is passed, or the start line is neither
// "RTSP/x.y NNN ..." nor "METHOD URI RTSP/x.y".
int readRtspMessage(ByteSource &source, std::span<const uint8_t> start, RtspMessage &out,
                    uint32_t timeoutMs);

// Our answer to a server request: 200 OK for OPTIONS, GET_PARAMETER and SET_PARAMETER, 501
// Not Implemented for any other method; the request's CSeq echoed, and "Session: " with
// session when it is not empty.
std::string answerToServerRequest(const RtspMessage &request, std::string_view session);

}  // namespace ipcam
