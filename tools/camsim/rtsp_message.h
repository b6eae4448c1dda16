// The pieces of RTSP/1.0 the server reads and writes: request URLs, Transport headers and
// replies.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/camsim/http_message.h"

namespace camsim {

// The path of a request URL, without host, port, query and the slashes around it:
// "rtsp://127.0.0.1:8554/CH01/track1/" gives "CH01/track1". Any host[:port] goes.
std::string urlPath(std::string_view url);

struct TransportRequest {
    bool tcp = false;
    std::string profile;         // as sent: "RTP/AVP", "RTP/AVP/UDP" or "RTP/AVP/TCP"
    int channels[2] = {-1, -1};  // interleaved=a[-b]; -1 where not given
    int ports[2] = {-1, -1};     // client_port=a[-b]; -1 where not given
};

// The first transport of a Transport header; nothing when it is no unicast RTP/AVP one.
std::optional<TransportRequest> parseTransport(std::string_view header);

// "RTSP/1.0 200 OK\r\nCSeq: N\r\n", the headers in order, Content-Length when body is not
// empty, a blank line, the body.
std::string formatRtspReply(int status, std::string_view cseq, const HeaderList &headers,
                            std::string_view body = {});

}  // namespace camsim
