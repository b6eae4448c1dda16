// SHA-1 and Base64 written out for the ONVIF tests, so that a UsernameToken digest the tests
// compute owes nothing to the simulator's hashing or coding.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel_test {

inline std::array<uint8_t, 20> sha1Reference(std::string_view text) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string m(text);
    const uint64_t bits = static_cast<uint64_t>(text.size()) * 8;
    m += static_cast<char>(0x80);
    while (m.size() % 64 != 56) m += '\0';
    for (int i = 7; i >= 0; --i) m += static_cast<char>(bits >> (8 * i));
    auto rotl = [](uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (std::size_t block = 0; block < m.size(); block += 64) {
        uint32_t w[80];
        for (int t = 0; t < 16; ++t) {
            w[t] = 0;
            for (int k = 0; k < 4; ++k)
                w[t] = w[t] << 8 | static_cast<uint8_t>(m[block + 4 * t + k]);
        }
        for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t next = rotl(a, 5) + f + e + k + w[t];
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::array<uint8_t, 20> out{};
    for (int i = 0; i < 20; ++i) out[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return out;
}

inline std::string base64Reference(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += i + 1 < bytes.size() ? kAlphabet[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
    }
    return out;
}

// Base64(SHA-1(nonce + created + password)), as a UsernameToken's PasswordDigest.
inline std::string tokenDigestReference(std::string_view nonce, std::string_view created,
                                        std::string_view password) {
    const auto digest = sha1Reference(std::string(nonce) + std::string(created) +
                                      std::string(password));
    return base64Reference(std::string_view(reinterpret_cast<const char *>(digest.data()), 20));
}

}  // namespace kestrel_test
