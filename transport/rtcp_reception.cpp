#include "transport/rtcp_reception.h"

#include <random>

namespace ipcam {

namespace {

// A jump forward of fewer packets than this is loss; back by no more than kMaxMisorder, a
// straggler; anything else a jump the next packet must confirm.
constexpr uint16_t kMaxDropout = 3000;
constexpr uint16_t kMaxMisorder = 100;
constexpr uint32_t kSequenceModulo = 1u << 16;

}  // namespace

RtpReception::Numbering RtpReception::startAt(uint16_t sequence) {
    Numbering n;
    n.maxSequence = sequence;
    n.base = sequence;
    n.badSequence = kSequenceModulo + 1;  // matches no sequence number
    return n;
}

bool RtpReception::count(uint16_t sequence) {
    Numbering &n = numbering_;
    const uint16_t ahead = static_cast<uint16_t>(sequence - n.maxSequence);
    if (ahead < kMaxDropout) {
        if (sequence < n.maxSequence) n.cycles += kSequenceModulo;
        n.maxSequence = sequence;
    } else if (ahead <= kSequenceModulo - kMaxMisorder) {
        if (sequence != n.badSequence) {
            n.badSequence = (sequence + 1u) & (kSequenceModulo - 1);
            return false;
        }
        // Two in a row from the new place: the source restarted, its timestamps with it.
        n = startAt(sequence);
        timed_ = false;
    }
    ++n.received;
    return true;
}

void RtpReception::packet(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, uint64_t arrivalUs,
                          uint32_t clockRate) {
    if (!started_ || ssrc != ssrc_) {
        started_ = true;
        ssrc_ = ssrc;
        numbering_ = startAt(sequence);
        timed_ = false;
        jitter16_ = 0;
    }
    if (!count(sequence)) return;
    // Transit time in timestamp units; only its changes count, so both clocks may wrap.
    const uint32_t arrival = static_cast<uint32_t>(arrivalUs * clockRate / 1'000'000);
    const uint32_t transit = arrival - timestamp;
    if (timed_) {
        const int32_t change = static_cast<int32_t>(transit - transit_);
        const uint32_t d =
            change < 0 ? 0u - static_cast<uint32_t>(change) : static_cast<uint32_t>(change);
        jitter16_ += d - ((jitter16_ + 8) >> 4);
    }
    timed_ = true;
    transit_ = transit;
}

void RtpReception::senderReport(const RtcpSenderReport &report, uint64_t arrivalUs) {
    reported_ = true;
    lastReport_ = static_cast<uint32_t>(report.ntp >> 16);
    lastReportArrivalUs_ = arrivalUs;
}

std::optional<ReportBlock> RtpReception::report(uint64_t nowUs) {
    if (!started_) return std::nullopt;
    ReportBlock block;
    block.ssrc = ssrc_;
    Numbering &n = numbering_;
    const uint32_t highest = n.cycles + n.maxSequence;
    const uint32_t expected = highest - n.base + 1;
    block.highestSequence = highest;
    block.cumulativeLost = static_cast<int32_t>(expected - n.received);
    const uint32_t expectedInterval = expected - n.expectedPrior;
    const uint32_t receivedInterval = n.received - n.receivedPrior;
    n.expectedPrior = expected;
    n.receivedPrior = n.received;
    const int64_t lostInterval =
        static_cast<int64_t>(expectedInterval) - static_cast<int64_t>(receivedInterval);
    if (expectedInterval != 0 && lostInterval > 0)
        block.fractionLost = static_cast<uint8_t>((lostInterval << 8) / expectedInterval);
    block.jitter = jitter16_ >> 4;
    if (reported_) {
        block.lastSenderReport = lastReport_;
        const uint64_t since = nowUs > lastReportArrivalUs_ ? nowUs - lastReportArrivalUs_ : 0;
        block.delaySinceLast = static_cast<uint32_t>(since * 65536 / 1'000'000);
    }
    return block;
}

uint32_t RtcpAnswerState::ownSsrc() {
    std::lock_guard guard(lock_);
    thread_local std::mt19937 bits{std::random_device{}()};
    while (own_ == 0) own_ = static_cast<uint32_t>(bits());
    return own_;
}

void RtcpAnswerState::reset() {
    std::lock_guard guard(lock_);
    for (PerStream &s : streams_) s = {};
}

void RtcpAnswerState::packet(Stream s, uint32_t ssrc, uint16_t sequence, uint32_t timestamp,
                             uint64_t arrivalUs, uint32_t clockRate) {
    std::lock_guard guard(lock_);
    streams_[s].reception.packet(ssrc, sequence, timestamp, arrivalUs, clockRate);
}

void RtcpAnswerState::deviceReport(Stream s, const RtcpContents &contents, uint64_t arrivalUs) {
    std::lock_guard guard(lock_);
    PerStream &stream = streams_[s];
    if (contents.sender) stream.sender = contents.sender;
    if (contents.report) stream.reception.senderReport(*contents.report, arrivalUs);
}

bool RtcpAnswerState::due(Stream s, uint64_t nowMs, uint64_t intervalMs) {
    std::lock_guard guard(lock_);
    uint64_t &next = streams_[s].nextReportMs;
    if (next != 0 && nowMs < next) return false;
    next = nowMs + intervalMs;
    return true;
}

std::optional<ReportBlock> RtcpAnswerState::report(Stream s, uint64_t nowUs) {
    std::lock_guard guard(lock_);
    return streams_[s].reception.report(nowUs);
}

uint32_t RtcpAnswerState::reportedSource(Stream s) {
    std::lock_guard guard(lock_);
    const PerStream &stream = streams_[s];
    return stream.sender ? *stream.sender : stream.reception.ssrc();
}

}  // namespace ipcam
