// One RTSP request on the session's RTSP connection and its reply, with the server's
// authentication challenges answered on the way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipcam.h"
#include "platform/byte_source.h"

namespace ipcam {

// A request as it goes out: the request line, the header lines before "CSeq", CSeq, the lines
// after it, the answer to the server's challenge when there is one, the empty line.
struct RtspRequest {
    std::string method;
    std::string uri;
    std::vector<std::string> beforeCseq;  // "Session: 1234", without the line end
    std::vector<std::string> afterCseq;
    bool trailingBlankLine = false;  // TEARDOWN's: one more CRLF after the head
};

// The request's bytes with that CSeq and authorization value ("" for none).
std::string requestText(const RtspRequest &request, int cseq, std::string_view authorization);

struct RtspReplyText {
    int status = -1;
    std::string head;
    std::string body;
};

// Sends request with the session's next CSeq and reads the reply that echoes it (media that
// comes first, as after PLAY, is kept for the reader). A 401 is answered with the session's
// account (once; again only for a stale nonce); Basic only when the session's
// IPCAM_OPTION_CLEAR_PASSWORD allows it and nothing else is offered. Returns 0 with any status
// in reply, -4 when the server refuses the account or asks for a scheme we cannot answer,
// IPCAM_CLEAR_PASSWORD_REFUSED when it asks for Basic that the session does not allow, -8
// when sending or reading fails.
int rtspExchange(IPCamSession *session, ByteSource &connection, const RtspRequest &request,
                 RtspReplyText &reply);

// Sends request without waiting for its reply (keep-alives: the stream reader takes the reply
// between the media). TEARDOWN, the last request of a connection, goes with the current CSeq
// without counting it (countCseq false). True when it went out whole.
bool rtspSendOnly(IPCamSession *session, ByteSource &connection, const RtspRequest &request,
                  bool countCseq = true);

}  // namespace ipcam
