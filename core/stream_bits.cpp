#include "core/stream_bits.h"

#include <cstring>
#include <string_view>

#include "ipcam.h"

namespace ipcam {

int readBit(const uint8_t *data, uint32_t index) {
    return (data[index / 8] >> (7 - index % 8)) & 1;
}

uint32_t readBits(const uint8_t *data, uint32_t first, uint32_t count) {
    if (count > 32) return 0;
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i)
        value = (value << 1) | static_cast<uint32_t>(readBit(data, first + i));
    return value;
}

uint32_t BitReader::read(uint32_t count) {
    if (!ok_ || count > 32 || position_ + count > bits_) {
        ok_ = false;
        return 0;
    }
    uint32_t value = readBits(data_, static_cast<uint32_t>(position_), count);
    position_ += count;
    return value;
}

void BitReader::skip(uint32_t count) {
    if (!ok_ || position_ + count > bits_) {
        ok_ = false;
        return;
    }
    position_ += count;
}

uint32_t BitReader::ue() {
    uint32_t zeros = 0;
    while (read(1) == 0) {
        if (!ok_ || ++zeros > 31) {
            ok_ = false;
            return 0;
        }
    }
    if (zeros == 0) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + read(zeros));
}

int32_t BitReader::se() {
    const uint32_t code = ue();
    const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
    return static_cast<int32_t>(code % 2 ? magnitude : -magnitude);
}

bool extractVideoConfig(const void *frame, uint8_t *destination, std::size_t capacity,
                        std::size_t *length) {
    if (!frame || !length) return false;
    EncodedFrame head;
    std::memcpy(&head, frame, sizeof head);
    if (head.totalSize <= IPCAM_FRAME_HEAD_SIZE + 3) return false;

    std::string_view payload(reinterpret_cast<const char *>(frame) + IPCAM_FRAME_HEAD_SIZE,
                             head.totalSize - IPCAM_FRAME_HEAD_SIZE);
    *length = 0;
    static constexpr char kSequenceStart[] = {0, 0, 1, char(0xB0)};
    static constexpr char kGroupStart[] = {0, 0, 1, char(0xB3)};
    std::size_t start = payload.find(std::string_view(kSequenceStart, 4));
    if (start == std::string_view::npos) return false;
    std::size_t end = payload.find(std::string_view(kGroupStart, 4), start + 4);
    if (end == std::string_view::npos) return false;
    std::size_t n = end - start;
    if (!destination || n > capacity) return false;
    std::memcpy(destination, payload.data() + start, n);
    *length = n;
    return true;
}

}  // namespace ipcam
