// The pieces of RTSP/1.0 the server reads and writes: what arrives on a connection, request
// URLs, Transport headers and replies.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/camsim/http_message.h"

namespace camsim {

// One thing taken off the front of what a client sent.
struct RtspInput {
    enum class Kind {
        NeedMore,     // nothing complete yet; input unchanged but for blank lines dropped
        Interleaved,  // '$', channel, 16-bit length, packet
        Request,      // a request head and its body
        Response,     // the client's answer to a request of ours ("RTSP/1.0 200 OK...")
        TooLarge,     // no head end within kMaxRequestHead: answer 400 and close
        BadLength,    // a head whose Content-Length is malformed or too large: answer 400
                      // (with its CSeq) and close
    };
    Kind kind = Kind::NeedMore;
    int channel = -1;         // Interleaved
    std::string packet;       // Interleaved
    RecordedRequest message;  // Request, Response (method "RTSP/1.0"), BadLength
};

// Takes the next message off input. Blank lines between messages are dropped; a head ends
// at its first blank line, CRLF or LF.
RtspInput takeRtspInput(std::string &input);

struct TransportRequest {
    bool tcp = false;
    std::string profile;         // as sent: "RTP/AVP", "RTP/AVP/UDP" or "RTP/AVP/TCP"
    int channels[2] = {-1, -1};  // interleaved=a[-b]; -1 where not given
    int ports[2] = {-1, -1};     // client_port=a[-b]; -1 where not given
};

// The first transport of a Transport header; nothing when it is no unicast RTP/AVP one.
std::optional<TransportRequest> parseTransport(std::string_view header);

// How a reply's headers are written.
enum class HeaderStyle {
    Plain,  // "CSeq: 1"
    Odd,    // "cseq:1", "content-length:  120", "session:\t5A...": lower case, and blanks after
            // the colon of none, two, a tab or one, in turn
};

// "RTSP/1.0 200 OK\r\nCSeq: N\r\n", the headers in order, Content-Length when body is not
// empty, a blank line, the body.
std::string formatRtspReply(int status, std::string_view cseq, const HeaderList &headers,
                            std::string_view body = {}, HeaderStyle style = HeaderStyle::Plain);

}  // namespace camsim
