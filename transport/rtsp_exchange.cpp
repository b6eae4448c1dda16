#include "transport/rtsp_exchange.h"

#include "core/config.h"
#include "core/session.h"
#include "platform/sockets.h"
#include "transport/rtsp_reply.h"

namespace ipcam {

namespace {

constexpr int kVideoFailed = -8;
constexpr std::size_t kReplyHead = 8192;
constexpr int kUnauthorized = 401;
// Replies to earlier requests (a late keep-alive answer) skipped before ours.
constexpr int kStaleRepliesSkipped = 4;
// Answers to challenges in one exchange: the first, then fresh stale nonces.
constexpr int kAnswersPerExchange = 1 + Authenticator::kMaxStaleRepeats;

// The next reply on the connection: its head, then the body its Content-Length announces.
bool readReply(IPCamSession *session, ByteSource &connection, RtspReplyText &reply,
               bool mediaMayArrive) {
    const uint32_t timeout = settings().getTimeout;
    if (mediaMayArrive) {
        return awaitRtspReply(session, connection, reply.head, reply.body, timeout) == 0 &&
               (reply.status = statusCode(reply.head)) > 0;
    }
    std::string head(kReplyHead, '\0');
    const int n = receiveHeader(connection, head.data(), head.size(), timeout);
    if (n <= 0) return false;
    head.resize(static_cast<std::size_t>(n));
    reply.status = statusCode(head);
    const std::optional<std::size_t> length = contentLength(head);
    if (reply.status < 0 || !length) return false;
    reply.head = std::move(head);
    reply.body.assign(*length, '\0');
    return *length == 0 ||
           receiveExactly(connection, reply.body.data(), *length, timeout) ==
               static_cast<int>(*length);
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

bool rtspSendOnly(IPCamSession *session, ByteSource &connection, const RtspRequest &request) {
    return sendRequest(session, connection, request, session->cseq++);
}

int rtspExchange(IPCamSession *session, ByteSource &connection, const RtspRequest &request,
                 RtspReplyText &reply, bool mediaMayArrive) {
    Authenticator &auth = session->rtsp.auth;
    for (int answers = 0;; ++answers) {
        const int cseq = session->cseq++;
        if (!sendRequest(session, connection, request, cseq)) return kVideoFailed;
        for (int skipped = 0;; ++skipped) {
            reply = {};
            if (!readReply(session, connection, reply, mediaMayArrive)) return kVideoFailed;
            const std::optional<int32_t> echoed = cseqNumber(reply.head);
            if (!echoed || *echoed == static_cast<uint16_t>(cseq)) break;
            if (skipped == kStaleRepliesSkipped) return kVideoFailed;
        }
        if (reply.status != kUnauthorized) {
            if (reply.status / 100 == 2 && auth.answering()) auth.accepted();
            return 0;
        }
        if (answers == kAnswersPerExchange ||
            auth.challenged(reply.head) != Authenticator::Outcome::Answer)
            return IPCAM_USER_OR_PASSWD_IS_ER;
    }
}

}  // namespace ipcam
