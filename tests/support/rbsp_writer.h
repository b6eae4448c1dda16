// Writes the syntax elements of a parameter set bit by bit, then the NAL unit: its header, the
// payload with the stop bit, emulation prevention bytes wherever 00 00 would be followed by a
// byte up to 03. For the sets no encoder will produce.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace kestrel_test {

class RbspWriter {
  public:
    void bits(uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
            ++used_;
        }
    }
    void flag(bool value) { bits(value ? 1 : 0, 1); }
    void ue(uint64_t value) {
        int length = 0;
        while ((value + 1) >> (length + 1)) ++length;
        bits(0, length);
        bits(value + 1, length + 1);
    }
    void se(int64_t value) {
        ue(value > 0 ? 2 * static_cast<uint64_t>(value) - 1 : 2 * static_cast<uint64_t>(-value));
    }
    std::vector<uint8_t> nal(std::initializer_list<uint8_t> header) {
        flag(true);
        std::vector<uint8_t> out = header;
        int zeros = 0;
        for (uint8_t b : bytes_) {
            if (zeros == 2 && b <= 3) out.push_back(3), zeros = 0;
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }

  private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

}  // namespace kestrel_test
