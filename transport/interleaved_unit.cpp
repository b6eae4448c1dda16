#include "transport/interleaved_unit.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "core/config.h"
#include "core/session.h"
#include "platform/clock.h"
#include "platform/stop_scope.h"
#include "transport/rtsp_reply.h"

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

// A start line is short; one that runs longer is no start line.
constexpr std::size_t kStartLineLimit = 512;

std::size_t blockLength(const std::array<uint8_t, kUnitHead> &head) {
    return static_cast<std::size_t>(head[2] << 8 | head[3]);
}

bool assigned(const InterleavedChannels &c, uint8_t channel) {
    return channel == c.videoRtp || channel == c.videoRtcp || channel == c.audioRtp ||
           channel == c.audioRtcp;
}

// Bytes read from the connection that no unit has taken yet; a unit may begin at the front.
// A block's head is never read past, so at most its four bytes are held when it begins.
class Held {
  public:
    Held(ByteSource &connection, uint32_t timeoutMs)
        : connection_(connection), timeoutMs_(timeoutMs) {}
    // Reads until n bytes are held; false when the connection could not give them.
    bool fill(std::size_t n) {
        while (bytes_.size() < n)
            if (!readOne()) return false;
        return true;
    }
    // Reads on to the end of the line that begins at the front, stopping early at a '$' or
    // the limit. True when the bytes held make a status or request line.
    bool startLine() {
        while (bytes_.back() != '\n' && bytes_.back() != '$' && bytes_.size() < kStartLineLimit)
            if (!readOne()) return false;
        if (bytes_.back() != '\n') return false;
        const std::string_view line(bytes_);
        return statusCode(line) > 0 || requestLine(line).has_value();
    }
    uint8_t at(std::size_t i) const { return static_cast<uint8_t>(bytes_[i]); }
    std::size_t size() const { return bytes_.size(); }
    void dropFront() { bytes_.erase(0, 1); }
    std::span<const uint8_t> all() const {
        return {reinterpret_cast<const uint8_t *>(bytes_.data()), bytes_.size()};
    }

  private:
    bool readOne() {
        uint8_t byte;
        if (receiveExactly(connection_, &byte, 1, timeoutMs_) != 1) return false;
        bytes_ += static_cast<char>(byte);
        return true;
    }

    ByteSource &connection_;
    uint32_t timeoutMs_;
    std::string bytes_;
};

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
                        uint32_t timeoutMs, const InterleavedChannels &channels) {
    Held held(connection, timeoutMs);
    unit.skipped = 0;
    for (int lineEnds = 0;;) {
        if (!held.fill(kUnitHead)) return kFailed;
        const std::array<uint8_t, kUnitHead> head{held.at(0), held.at(1), held.at(2), held.at(3)};
        // Line ends a server leaves after a message are no sign of trouble.
        if (unit.skipped == 0 && isLineEnd(head[0]) && lineEnds < kStrayLineEnds) {
            ++lineEnds;
            held.dropFront();
            continue;
        }
        // Once astray, only a block of our own channels counts: a stray '$' is no block.
        if (head[0] == '$' && (unit.skipped == 0 || assigned(channels, head[1]))) break;
        if (head[0] != '$' && looksLikeRtspStart(head) && held.startLine()) {
            unit.kind = InterleavedUnit::Kind::Message;
            return readRtspMessage(connection, held.all(), unit.message, timeoutMs);
        }
        if (++unit.skipped > kMaxStrayBytes) return kFailed;
        held.dropFront();
    }
    const std::array<uint8_t, kUnitHead> head{held.at(0), held.at(1), held.at(2), held.at(3)};
    const std::size_t length = blockLength(head);
    if (length > area.size() || held.size() != kUnitHead) return kFailed;
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
        const int r = readInterleavedUnit(connection, area, unit, left, session->rtp.interleaved);
        session->rtp.strayBytes += unit.skipped;
        if (r != 0) return kFailed;
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
