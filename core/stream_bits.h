// Bit reading and the MPEG-4 configuration header of a key frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ipcam {

// Bit i of data: bit (7 - i mod 8) of byte i / 8, so bit 0 is the top bit of the first byte.
int readBit(const uint8_t *data, uint32_t index);

// count bits from index on, most significant first; 0 for a count above 32.
uint32_t readBits(const uint8_t *data, uint32_t first, uint32_t count);

// Reads bits most significant first and never past the end: a read beyond it yields 0 and
// leaves the reader failed, which the caller checks once at the end.
class BitReader {
  public:
    BitReader(const uint8_t *data, std::size_t size) : data_(data), bits_(uint64_t{size} * 8) {}
    explicit BitReader(std::span<const uint8_t> bytes) : BitReader(bytes.data(), bytes.size()) {}
    uint32_t read(uint32_t count);  // 0 to 32 bits
    bool flag() { return read(1) != 0; }
    void skip(uint32_t count);
    // Exp-Golomb codes (H.264, H.265) of up to 32 bits; a longer one fails the reader.
    uint32_t ue();
    int32_t se();
    bool ok() const { return ok_; }
    void fail() { ok_ = false; }
    uint64_t position() const { return position_; }

  private:
    const uint8_t *data_;
    uint64_t bits_;
    uint64_t position_ = 0;
    bool ok_ = true;
};

// Copies the configuration header at the start of a key frame's payload: from the visual
// object sequence start code 00 00 01 B0 up to, not including, the first group-of-VOP start
// code 00 00 01 B3. frame is an EncodedFrame block (16-byte head, then the payload). Returns
// true with *length set when a header was copied; false, with *length 0, when the payload has
// no such header or the header does not fit in capacity. A payload of 3 bytes or less is
// left alone (false, *length unchanged).
bool extractVideoConfig(const void *frame, uint8_t *destination, std::size_t capacity,
                        std::size_t *length);

}  // namespace ipcam
