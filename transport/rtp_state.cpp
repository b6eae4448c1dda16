#include "transport/rtp_state.h"

#include <new>

namespace ipcam {

std::span<uint8_t> PacketBuffer::get() {
    if (!storage_) storage_.reset(new (std::nothrow) uint8_t[size_]);
    if (!storage_) return {};
    return {storage_.get(), size_};
}

void RtpChannels::clear() {
    std::lock_guard guard(lock_);
    records_.clear();
}

bool RtpChannels::advance(uint8_t channel, uint32_t ssrc, uint16_t sequence) {
    std::lock_guard guard(lock_);
    auto [it, created] = records_.try_emplace(channel, Record{channel, ssrc, sequence});
    bool expected = it->second.expected == sequence;
    it->second.expected = static_cast<uint16_t>(sequence + 1);
    return created || expected;
}

RtpChannels::Record RtpChannels::record(uint8_t channel, uint32_t ssrc) {
    std::lock_guard guard(lock_);
    return records_.try_emplace(channel, Record{channel, ssrc, 0}).first->second;
}

}  // namespace ipcam
