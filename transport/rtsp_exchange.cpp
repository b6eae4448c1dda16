#include "transport/rtsp_exchange.h"

#include <algorithm>

#include "core/config.h"
#include "core/session.h"
#include "platform/sockets.h"
#include "transport/interleaved_unit.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr int kUnauthorized = 401;
// Answers to challenges in one exchange: the first, then fresh stale nonces.
constexpr int kAnswersPerExchange = 1 + Authenticator::kMaxStaleRepeats;

// The reply with that CSeq: blocks of media that come first are kept for the reader, and the
// server's own requests are answered on the way. Recorders that are busy and cameras that
// are waking up take many seconds over a DESCRIBE: the reply gets the session's own deadline,
// and the wait goes on (the device marked slow) rather than starting again on a new
// connection that would only meet the same delay.
bool readReply(IPCamSession *session, ByteSource &connection, int cseq, RtspReplyText &reply) {
    RtspMessage message;
    const uint32_t deadline = std::max(session->options.replyTimeoutMs.load(), settings().getTimeout);
    const int status =
        awaitRtspReply(session, connection, message, deadline, cseq, settings().getTimeout);
    if (status < 0) return false;
    reply.status = status;
    reply.head = std::move(message.head);
    reply.body = std::move(message.body);
    return true;
}

}  // namespace

std::string requestText(const RtspRequest &request, int cseq, std::string_view authorization) {
    std::string text = request.method + " " + request.uri + " RTSP/1.0\r\n";
    for (const std::string &line : request.beforeCseq) text += line + "\r\n";
    text += "CSeq: " + std::to_string(cseq) + "\r\n";
    for (const std::string &line : request.afterCseq) text += line + "\r\n";
    if (!authorization.empty()) text.append("Authorization: ").append(authorization) += "\r\n";
    text += "\r\n";
    if (request.trailingBlankLine) text += "\r\n";
    return text;
}

namespace {

bool sendRequest(IPCamSession *session, ByteSource &connection, const RtspRequest &request,
                 int cseq) {
    const std::string text =
        requestText(request, cseq, session->rtsp.auth.authorization(request.method, request.uri));
    return connection.send(text.data(), text.size(), settings().setTimeout) ==
           static_cast<int>(text.size());
}

}  // namespace

bool rtspSendOnly(IPCamSession *session, ByteSource &connection, const RtspRequest &request,
                  bool countCseq) {
    return sendRequest(session, connection, request, countCseq ? session->cseq++ : session->cseq);
}

int rtspExchange(IPCamSession *session, ByteSource &connection, const RtspRequest &request,
                 RtspReplyText &reply) {
    Authenticator &auth = session->rtsp.auth;
    for (int answers = 0;; ++answers) {
        const int cseq = session->cseq++;
        if (!sendRequest(session, connection, request, cseq)) return kVideoFailed;
        reply = {};
        if (!readReply(session, connection, cseq, reply)) return kVideoFailed;
        if (reply.status != kUnauthorized) {
            if (reply.status / 100 == 2 && auth.answering()) auth.accepted();
            return 0;
        }
        if (answers == kAnswersPerExchange) return IPCAM_USER_OR_PASSWD_IS_ER;
        // The connection is plain RTSP: Basic only when the session allows the clear text.
        auth.allowClearText(session->options.clearPassword);
        const Authenticator::Outcome outcome = auth.challenged(reply.head);
        if (outcome == Authenticator::Outcome::ClearTextRefused)
            return IPCAM_CLEAR_PASSWORD_REFUSED;
        if (outcome != Authenticator::Outcome::Answer) return IPCAM_USER_OR_PASSWD_IS_ER;
    }
}

}  // namespace ipcam
