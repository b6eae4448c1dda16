#include "control/base64.h"

#include <cstdint>

namespace ipcam {

namespace {

// The value of a base64 digit, or -1.
int digitValue(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    if (padding > 0 && text.size() % 4 != 0) return std::nullopt;
    const std::string_view digits = text.substr(0, text.size() - padding);
    if (digits.size() % 4 == 1) return std::nullopt;  // no byte count encodes to this
    std::vector<uint8_t> bytes;
    bytes.reserve(digits.size() * 3 / 4);
    uint32_t value = 0;
    int bits = 0;
    for (char c : digits) {
        const int d = digitValue(c);
        if (d < 0) return std::nullopt;
        value = (value << 6 | static_cast<uint32_t>(d)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<uint8_t>(value >> bits));
        }
    }
    return bytes;
}

int EncodeBase64(const void *bytes, std::size_t count, char *out, std::size_t outCapacity) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t length = base64Length(count);
    if (!out || (count > 0 && !bytes) || length + 1 > outCapacity) return -1;
    const auto *in = static_cast<const uint8_t *>(bytes);
    char *o = out;
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        uint32_t v = static_cast<uint32_t>(in[i] << 16 | in[i + 1] << 8 | in[i + 2]);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (std::size_t rest = count - i; rest > 0) {
        uint32_t v = static_cast<uint32_t>(in[i] << 16 | (rest == 2 ? in[i + 1] << 8 : 0));
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    *o = '\0';
    return static_cast<int>(length);
}

}  // namespace ipcam
