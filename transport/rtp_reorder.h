// The reorder window of RTP over UDP: packets of one stream put back in sequence order
// before they are depacketised.
//
// A network may deliver a packet after its successor. Taken as it comes, the successor makes
// a gap and the packet itself comes late, and the frame both belong to is lost. Instead a
// packet that comes ahead of the one expected is held back, and the held packets go on in
// order as soon as the missing one arrives; or, when it does not, once kMaxHeld are held or
// the oldest has waited the window's time: the missing ones then count as lost.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ipcam {

class RtpReorder {
  public:
    static constexpr std::size_t kMaxHeld = 32;

    // Forgets the stream: the next packet starts it afresh (a new connection or source).
    void reset();

    // A packet of the stream arrived at nowMs (monotonic). True when the caller is to take it
    // now, as it is: the stream's first, the one expected with nothing held, one behind the
    // packets let through (a copy or a straggler, which the caller's count drops; one far
    // behind with nothing held is where the numbering jumped back to, and the window follows
    // it), or any packet while windowMs is 0 and nothing is held. False when a copy is held instead (or
    // it duplicates one held). After each call the caller takes what release() gives.
    bool admit(std::span<const uint8_t> datagram, uint16_t sequence, uint64_t nowMs,
               uint32_t windowMs);

    // The next held packet that is due, in sequence order: the one expected, else the lowest
    // held once kMaxHeld are held or the oldest has waited windowMs by nowMs. Empty when none
    // is due. The bytes stay valid until the next call.
    std::span<const uint8_t> release(uint64_t nowMs, uint32_t windowMs);

    // When the held packets fall due if nothing else arrives (monotonic ms); 0 when none is
    // held.
    uint64_t dueAt(uint32_t windowMs) const;
    std::size_t held() const { return count_; }

  private:
    struct Slot {
        bool used = false;
        uint16_t sequence = 0;
        uint64_t arrival = 0;
        std::vector<uint8_t> bytes;
    };
    // How far a sequence number is ahead of the one expected; 0x8000 and more is behind.
    uint16_t ahead(uint16_t sequence) const { return static_cast<uint16_t>(sequence - expected_); }
    Slot *find(uint16_t sequence);

    std::array<Slot, kMaxHeld> slots_;
    std::size_t count_ = 0;
    bool started_ = false;
    uint16_t expected_ = 0;  // the next sequence number to let through
};

}  // namespace ipcam
