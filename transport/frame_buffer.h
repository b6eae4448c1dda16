// The circular byte buffer a video frame is assembled in.
//
// Storage is reserved on first use. Appends are refused whole when they do not fit; reads
// index from the read position with wrap-around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace ipcam {

class FrameBuffer {
  public:
    static constexpr std::size_t kRtpCapacity = 409'600;
    static constexpr std::size_t kDataChannelCapacity = 307'200;

    explicit FrameBuffer(std::size_t capacity = kRtpCapacity) : capacity_(capacity) {}

    // Chooses the capacity while no storage has been reserved yet; later calls change nothing.
    void useCapacity(std::size_t capacity) {
        if (!storage_) capacity_ = capacity;
    }
    std::size_t capacity() const { return capacity_; }
    bool reserved() const { return storage_ != nullptr; }
    std::size_t count() const { return count_; }
    std::size_t freeSpace() const { return capacity_ - count_; }

    void clear() { count_ = read_ = write_ = 0; }
    // Copies data in, or refuses it whole (false) when it exceeds the free space.
    bool append(const void *data, std::size_t length);
    // Copies the first length bytes out without removing them; false when fewer are there.
    bool take(void *out, std::size_t length) const;
    // Byte i counted from the read position; i must be below count().
    uint8_t at(std::size_t i) const { return storage_[(read_ + i) % capacity_]; }
    // Drops the first length bytes (at most count()).
    void remove(std::size_t length);
    // The contiguous free room at the write position, for receiving straight into the buffer.
    std::span<uint8_t> contiguousFree();
    // Counts length bytes written into contiguousFree() (at most its size).
    void commit(std::size_t length);
    // Position of the first byte equal to value at or after from, or count() when none.
    std::size_t findByte(uint8_t value, std::size_t from = 0) const;
    // Position of the first occurrence of pattern at or after from, or count() when none.
    std::size_t find(std::span<const uint8_t> pattern, std::size_t from = 0) const;

  private:
    bool reserve();

    std::size_t capacity_;
    std::unique_ptr<uint8_t[]> storage_;
    std::size_t count_ = 0, read_ = 0, write_ = 0;
};

}  // namespace ipcam
