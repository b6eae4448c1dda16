#include "transport/interleaved_unit.h"

#include <algorithm>
#include <array>

#include "core/config.h"
#include "core/session.h"
#include "platform/clock.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

constexpr int kFailed = -8;
constexpr int kUnauthorized = 401;
constexpr std::size_t kUnitHead = 4;
// Line ends a server leaves after a message (a body shorter than its Content-Length says)
// are passed over, a few at most.
constexpr int kStrayLineEnds = 16;

bool isLineEnd(uint8_t c) {
    return c == '\r' || c == '\n';
}

std::size_t blockLength(const std::array<uint8_t, kUnitHead> &head) {
    return static_cast<std::size_t>(head[2] << 8 | head[3]);
}

enum class Input { Arrived, TimedOut, Failed };

// Waits until the connection has something to read (or has closed, which the read will tell),
// marking the server slow once slowAt has passed. Stop requests end the wait.
Input awaitInput(ByteSource &connection, uint64_t slowAt, uint64_t deadline,
                 Relaxed<int32_t> &reach) {
    for (;;) {
        switch (connection.waitReadable()) {
            case WaitResult::Ready:
                return Input::Arrived;
            case WaitResult::Error:
            case WaitResult::Exception:
                return Input::Failed;
            case WaitResult::Idle:
                break;
        }
        if (stopRequested()) return Input::Failed;
        const uint64_t now = monotonicMs();
        if (now >= deadline) return Input::TimedOut;
        if (now >= slowAt) reach = IPCAM_REACH_SLOW;
    }
}

// Reads what follows the first four bytes of a message.
int completeMessage(ByteSource &connection, const std::array<uint8_t, kUnitHead> &head,
                    RtspMessage &message, uint32_t timeoutMs) {
    if (!looksLikeRtspStart(head)) return kFailed;
    return readRtspMessage(connection, head, message, timeoutMs);
}

}  // namespace

int readInterleavedUnit(ByteSource &connection, std::span<uint8_t> area, InterleavedUnit &unit,
                        uint32_t timeoutMs) {
    std::array<uint8_t, kUnitHead> head;
    if (receiveExactly(connection, head.data(), head.size(), timeoutMs) != kUnitHead)
        return kFailed;
    for (int skipped = 0; isLineEnd(head[0]) && skipped < kStrayLineEnds; ++skipped) {
        std::copy(head.begin() + 1, head.end(), head.begin());
        if (receiveExactly(connection, &head.back(), 1, timeoutMs) != 1) return kFailed;
    }
    if (head[0] != '$') {
        unit.kind = InterleavedUnit::Kind::Message;
        return completeMessage(connection, head, unit.message, timeoutMs);
    }
    const std::size_t length = blockLength(head);
    if (length > area.size()) return kFailed;
    if (length > 0 &&
        receiveExactly(connection, area.data(), length, timeoutMs) != static_cast<int>(length))
        return kFailed;
    unit.kind = InterleavedUnit::Kind::Block;
    unit.channel = head[1];
    unit.block = area.first(length);
    return 0;
}

int takeRtspMessage(IPCamSession *session, ByteSource &connection, const RtspMessage &message) {
    RtspReplyLog &log = session->rtp.replies;
    if (message.isReply()) {
        log.lastStatus = message.status;
        log.lastCseq = message.cseq();
        if (message.status == kUnauthorized) log.lastChallenge = message.head;
        ++log.replies;
        return 0;
    }
    ++log.serverRequests;
    const std::string answer = answerToServerRequest(message, session->rtsp.sessionId);
    return connection.send(answer.data(), answer.size(), settings().setTimeout) ==
                   static_cast<int>(answer.size())
               ? 0
               : kFailed;
}

int awaitRtspReply(IPCamSession *session, ByteSource &connection, RtspMessage &reply,
                   uint32_t timeoutMs, int32_t expectedCseq, uint32_t slowAfterMs) {
    const std::span<uint8_t> area = session->rtp.packet.get();
    if (area.empty()) return kFailed;
    const uint64_t start = monotonicMs(), deadline = start + timeoutMs;
    bool heard = false;
    for (;;) {
        if (slowAfterMs > 0) {
            switch (awaitInput(connection, start + slowAfterMs, deadline, session->reach)) {
                case Input::Arrived:
                    heard = true;
                    break;
                case Input::TimedOut:
                    if (!heard) session->reach = IPCAM_REACH_SILENT;
                    return kFailed;
                case Input::Failed:
                    return kFailed;
            }
        }
        // Each unit gets what is left of the time, the first at least one wait.
        const uint64_t now = monotonicMs();
        const uint32_t left = now < deadline ? static_cast<uint32_t>(deadline - now) : 1;
        InterleavedUnit unit;
        if (readInterleavedUnit(connection, area, unit, left) != 0) return kFailed;
        if (unit.kind == InterleavedUnit::Kind::Block) {
            session->rtp.pending.push(unit.channel, unit.block);
        } else {
            if (takeRtspMessage(session, connection, unit.message) != 0) return kFailed;
            const int32_t cseq = unit.message.cseq();
            if (unit.message.isReply() && (expectedCseq < 0 || cseq < 0 || cseq == expectedCseq)) {
                if (slowAfterMs > 0) session->reach = IPCAM_REACH_ANSWERED;
                reply = std::move(unit.message);
                return reply.status;
            }
        }
        if (monotonicMs() >= deadline) return kFailed;
    }
}

int watchRtspConnection(IPCamSession *session, ByteSource &connection) {
    std::array<uint8_t, kUnitHead> head;
    const int n = connection.read(head.data(), 1);
    if (n == ByteSource::kNothingYet) return 0;
    if (n <= 0) return kFailed;  // closed by the server, or failed
    if (isLineEnd(head[0])) return 0;
    const uint32_t timeout = settings().getTimeout;
    if (receiveExactly(connection, head.data() + 1, kUnitHead - 1, timeout) != kUnitHead - 1)
        return kFailed;
    if (head[0] == '$') {
        // Nothing is expected here while media comes over UDP; a block is passed over whole.
        std::array<uint8_t, 1024> skip;
        for (std::size_t left = blockLength(head); left > 0;) {
            const std::size_t part = std::min(left, skip.size());
            if (receiveExactly(connection, skip.data(), part, timeout) != static_cast<int>(part))
                return kFailed;
            left -= part;
        }
        return 0;
    }
    RtspMessage message;
    if (completeMessage(connection, head, message, timeout) != 0) return kFailed;
    return takeRtspMessage(session, connection, message);
}

}  // namespace ipcam
