#include "transport/rtp_state.h"

#include <new>

namespace ipcam {

namespace {

// A packet this far behind the expected number is a straggler; further back, the stream has
// jumped.
constexpr uint16_t kMaxMisorder = 100;

}  // namespace

std::span<uint8_t> PacketBuffer::get() {
    if (!storage_) storage_.reset(new (std::nothrow) uint8_t[size_]);
    if (!storage_) return {};
    return {storage_.get(), size_};
}

void RtpChannels::clear() {
    std::lock_guard guard(lock_);
    records_.clear();
}

RtpChannels::Arrival RtpChannels::advance(uint8_t stream, uint32_t ssrc, uint16_t sequence,
                                          bool adopt) {
    std::lock_guard guard(lock_);
    auto [it, created] = records_.try_emplace(stream, Record{stream, ssrc, sequence});
    Record &r = it->second;
    Arrival arrival = Arrival::InOrder;
    if (!created && r.ssrc != ssrc && !adopt) {
        const bool continues =
            r.newcomerRun > 0 && r.newcomer == ssrc && r.newcomerNext == sequence;
        r.newcomerRun = continues ? r.newcomerRun + 1 : 1;
        r.newcomer = ssrc;
        r.newcomerNext = static_cast<uint16_t>(sequence + 1);
        if (r.newcomerRun < kTakeoverRun) return Arrival::Foreign;
        r.newcomerRun = 0;
        r.ssrc = ssrc;
        r.expected = static_cast<uint16_t>(sequence + 1);
        return Arrival::Takeover;
    }
    r.newcomerRun = 0;  // the stream's own came: the newcomer is a stranger after all
    if (!created && r.ssrc != ssrc) {
        r.ssrc = ssrc;
        arrival = Arrival::Gap;
    } else if (!created && r.expected != sequence) {
        const uint16_t behind = static_cast<uint16_t>(r.expected - sequence);
        if (behind <= kMaxMisorder) return Arrival::Late;
        arrival = Arrival::Gap;
    }
    r.expected = static_cast<uint16_t>(sequence + 1);
    return arrival;
}

void RtpChannels::forget(uint8_t stream) {
    std::lock_guard guard(lock_);
    records_.erase(stream);
}

uint32_t RtpChannels::ssrc(uint8_t stream) {
    std::lock_guard guard(lock_);
    auto it = records_.find(stream);
    return it == records_.end() ? 0 : it->second.ssrc;
}

bool PendingBlocks::push(uint8_t channel, std::span<const uint8_t> bytes) {
    if (blocks_.size() >= kMaxBlocks || bytes.size() > kMaxBytes - bytes_) {
        ++dropped_;
        return false;
    }
    blocks_.push_back({channel, std::vector<uint8_t>(bytes.begin(), bytes.end())});
    bytes_ += bytes.size();
    return true;
}

bool PendingBlocks::pop(Block &out) {
    if (blocks_.empty()) return false;
    out = std::move(blocks_.front());
    blocks_.pop_front();
    bytes_ -= out.bytes.size();
    return true;
}

void PendingBlocks::clear() {
    blocks_.clear();
    bytes_ = 0;
}

void RtpState::resetForConnection() {
    channels.clear();
    clearFrame();
    interleaved = {};
    sdpConfig.clear();
    inBandConfig = false;
    h264.configure("");
    h265.configure("");
    videoClock.reset();
    pending.clear();
    connectionAhead.clear();
    replies = {};
    rtcp.reset();
    udp.reset();
    peers.clear();
}

}  // namespace ipcam
