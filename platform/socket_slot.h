// A socket slot: where one connection's descriptor is kept, -1 when closed.
//
// A slot may be used by one thread while another closes it: the video thread closes the audio
// connections before it reconnects, and deletion wakes a thread that will not stop. Closing a
// descriptor that another thread still waits on would let the system hand its number to the
// next socket, and that thread would then read another connection's bytes. So whoever uses the
// descriptor of a slot holds a SlotLease while it does; closing the slot takes the descriptor
// out and shuts it down at once (which wakes every wait on it), and the descriptor itself is
// closed when its last lease ends.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

namespace ipcam {

class SocketSlot {
  public:
    SocketSlot(int descriptor = -1) noexcept : fd_(descriptor) {}  // NOLINT: implicit by design
    ~SocketSlot();  // closes what the slot still holds
    SocketSlot(const SocketSlot &) = delete;
    SocketSlot &operator=(const SocketSlot &) = delete;

    // The descriptor held now, or -1. A glance: a thread that uses it takes a lease instead.
    operator int() const noexcept { return fd_.load(std::memory_order_relaxed); }
    int load() const noexcept { return *this; }

    // Puts descriptor into the slot; what the slot held before is closed as by close().
    void install(int descriptor);
    // Takes the descriptor out and shuts it down both ways; it is closed now, or when the last
    // lease on it ends.
    void close();
    // Shuts the descriptor down both ways and leaves it in the slot: every wait on it ends, and
    // nothing more goes out or comes in.
    void wake();

  private:
    friend class SlotLease;
    int acquire();
    void release(int descriptor);

    struct Retired {
        int fd;
        int leases;
    };
    std::mutex lock_;
    std::atomic<int> fd_;           // written under lock_
    int leases_ = 0;                // lock_: leases on fd_
    std::vector<Retired> retired_;  // lock_: taken out of the slot while leased
};

// The use of a slot's descriptor for the lifetime of the lease. An empty lease (no slot, or a
// closed one) holds -1.
class SlotLease {
  public:
    SlotLease() = default;
    explicit SlotLease(SocketSlot &slot) : slot_(&slot), fd_(slot.acquire()) {}
    ~SlotLease() {
        if (fd_ != -1) slot_->release(fd_);
    }
    SlotLease(const SlotLease &) = delete;
    SlotLease &operator=(const SlotLease &) = delete;

    int descriptor() const { return fd_; }

  private:
    SocketSlot *slot_ = nullptr;
    int fd_ = -1;
};

}  // namespace ipcam
