#include "tools/camsim/base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace camsim {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> table{};
    for (auto &v : table) v = -1;
    for (size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}

constexpr auto kDecode = makeDecodeTable();

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 == 0 && !text.empty()) {
        // Padding may only close the text, at most two characters of it.
        size_t pad = text.size() - text.find_last_not_of('=') - 1;
        if (pad > 2) return std::nullopt;
        text.remove_suffix(pad);
    }
    if (text.size() % 4 == 1) return std::nullopt;

    std::string out;
    out.reserve(text.size() * 3 / 4);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int8_t v = kDecode[static_cast<unsigned char>(c)];
        if (v < 0) return std::nullopt;
        acc = (acc << 6 | static_cast<uint32_t>(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(acc >> bits & 0xFF);
        }
    }
    return out;
}

std::string encodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t at = 0; at < bytes.size(); at += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - at);
        uint32_t group = 0;
        for (size_t i = 0; i < 3; ++i)
            group = group << 8 | (i < n ? static_cast<unsigned char>(bytes[at + i]) : 0u);
        for (size_t i = 0; i < 4; ++i)
            out += i <= n ? kAlphabet[group >> (18 - 6 * i) & 0x3F] : '=';
    }
    return out;
}

}  // namespace camsim
