#include "transport/frame_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ipcam {

bool FrameBuffer::reserve() {
    if (!storage_) storage_.reset(new (std::nothrow) uint8_t[capacity_]);
    return storage_ != nullptr;
}

bool FrameBuffer::append(const void *data, std::size_t length) {
    if (length > freeSpace() || !reserve()) return false;
    const auto *in = static_cast<const uint8_t *>(data);
    std::size_t first = std::min(length, capacity_ - write_);
    std::memcpy(storage_.get() + write_, in, first);
    std::memcpy(storage_.get(), in + first, length - first);
    write_ = (write_ + length) % capacity_;
    count_ += length;
    return true;
}

bool FrameBuffer::take(void *out, std::size_t length) const {
    if (length > count_) return false;
    auto *o = static_cast<uint8_t *>(out);
    std::size_t first = std::min(length, capacity_ - read_);
    if (length > 0) {
        std::memcpy(o, storage_.get() + read_, first);
        std::memcpy(o + first, storage_.get(), length - first);
    }
    return true;
}

void FrameBuffer::remove(std::size_t length) {
    length = std::min(length, count_);
    read_ = (read_ + length) % capacity_;
    count_ -= length;
    if (count_ == 0) read_ = write_ = 0;
}

std::span<uint8_t> FrameBuffer::contiguousFree() {
    if (!reserve() || count_ == capacity_) return {};
    std::size_t end = write_ >= read_ ? capacity_ : read_;
    return {storage_.get() + write_, end - write_};
}

void FrameBuffer::commit(std::size_t length) {
    length = std::min(length, contiguousFree().size());
    write_ = (write_ + length) % capacity_;
    count_ += length;
}

std::size_t FrameBuffer::findByte(uint8_t value, std::size_t from) const {
    // At most two contiguous runs: up to the end of the storage, then from its start.
    while (from < count_) {
        const std::size_t position = (read_ + from) % capacity_;
        const std::size_t run = std::min(count_ - from, capacity_ - position);
        const auto *start = storage_.get() + position;
        if (const void *hit = std::memchr(start, value, run))
            return from + static_cast<std::size_t>(static_cast<const uint8_t *>(hit) - start);
        from += run;
    }
    return count_;
}

std::size_t FrameBuffer::find(std::span<const uint8_t> pattern, std::size_t from) const {
    if (pattern.empty() || pattern.size() > count_) return count_;
    for (std::size_t i = findByte(pattern[0], from); i + pattern.size() <= count_;
         i = findByte(pattern[0], i + 1)) {
        std::size_t k = 1;
        while (k < pattern.size() && at(i + k) == pattern[k]) ++k;
        if (k == pattern.size()) return i;
    }
    return count_;
}

}  // namespace ipcam
