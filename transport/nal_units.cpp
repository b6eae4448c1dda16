#include "transport/nal_units.h"

#include "control/base64.h"

namespace ipcam {

void appendNalUnit(std::vector<uint8_t> &out, std::span<const uint8_t> nal) {
    out.insert(out.end(), std::begin(kAnnexBStart), std::end(kAnnexBStart));
    out.insert(out.end(), nal.begin(), nal.end());
}

std::vector<std::vector<uint8_t>> parameterSetList(std::string_view text) {
    std::vector<std::vector<uint8_t>> sets;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view value = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (auto bytes = DecodeBase64(value); bytes && !bytes->empty())
            sets.push_back(std::move(*bytes));
    }
    return sets;
}

std::vector<uint8_t> unescapeRbsp(std::span<const uint8_t> nal, std::size_t offset) {
    std::vector<uint8_t> rbsp;
    if (offset >= nal.size()) return rbsp;
    rbsp.reserve(nal.size() - offset);
    int zeros = 0;
    for (std::size_t i = offset; i < nal.size(); ++i) {
        const uint8_t b = nal[i];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        rbsp.push_back(b);
    }
    return rbsp;
}

uint32_t BitReader::bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        if (position_ >= bytes_.size() * 8) {
            failed_ = true;
            return 0;
        }
        const uint8_t byte = bytes_[position_ / 8];
        value = value << 1 | ((byte >> (7 - position_ % 8)) & 1u);
        ++position_;
    }
    return value;
}

void BitReader::skip(std::size_t count) {
    if (count > bytes_.size() * 8 - position_) {
        position_ = bytes_.size() * 8;
        failed_ = true;
        return;
    }
    position_ += count;
}

uint32_t BitReader::ue() {
    int zeros = 0;
    while (bits(1) == 0) {
        if (failed_ || ++zeros > 31) {
            failed_ = true;
            return 0;
        }
    }
    if (zeros == 0) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
}

int32_t BitReader::se() {
    const uint32_t code = ue();
    const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
    return static_cast<int32_t>(code % 2 ? magnitude : -magnitude);
}

}  // namespace ipcam
