#include "core/hashes.h"

#include <bit>
#include <cstring>

namespace ipcam {

// The steps the hashes share: whole blocks from any pieces, and the padding.
struct HashSteps {
    // They pad alike: 0x80, zeros up to 56 bytes into a block, then the bit length
    // (little-endian for MD5, big-endian for the SHAs).
    template <typename Hash>
    static void pad(Hash &hash, uint64_t length, bool bigEndian) {
        static constexpr uint8_t kPad[64] = {0x80};
        const std::size_t used = length % 64;
        const std::size_t fill = used < 56 ? 56 - used : 120 - used;
        hash.update(std::string_view(reinterpret_cast<const char *>(kPad), fill));
        uint8_t bits[8];
        const uint64_t count = length * 8;
        for (int i = 0; i < 8; ++i)
            bits[bigEndian ? 7 - i : i] = static_cast<uint8_t>(count >> (8 * i));
        hash.update(std::string_view(reinterpret_cast<const char *>(bits), 8));
    }

    // Fills the block buffer from bytes and runs every complete block.
    template <typename Hash>
    static void feed(Hash &hash, std::string_view bytes) {
        uint8_t(&buffer)[64] = hash.buffer_;
        std::size_t &used = hash.used_;
        hash.length_ += bytes.size();
        if (bytes.empty()) return;
        auto p = reinterpret_cast<const uint8_t *>(bytes.data());
        std::size_t n = bytes.size();
        if (used) {
            std::size_t take = n < 64 - used ? n : 64 - used;
            std::memcpy(buffer + used, p, take);
            used += take;
            p += take;
            n -= take;
            if (used < 64) return;
            hash.block(buffer);
            used = 0;
        }
        for (; n >= 64; p += 64, n -= 64) hash.block(p);
        if (n) std::memcpy(buffer, p, n);
        used = n;
    }
};

namespace {

constexpr uint32_t kMd5Constants[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5Shifts[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr uint32_t kSha256Constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, buffer_{} {}

void Md5::update(std::string_view bytes) {
    HashSteps::feed(*this, bytes);
}

std::array<uint8_t, 16> Md5::finish() {
    HashSteps::pad(*this, length_, false);
    std::array<uint8_t, 16> out{};
    for (int i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
    return out;
}

void Md5::block(const uint8_t *p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t{p[4 * i]} | uint32_t{p[4 * i + 1]} << 8 | uint32_t{p[4 * i + 2]} << 16 |
               uint32_t{p[4 * i + 3]} << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int g;
        switch (round) {
            case 0:
                f = (b & c) | (~b & d), g = i;
                break;
            case 1:
                f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d, g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d), g = (7 * i) % 16;
                break;
        }
        const uint32_t sum = a + f + kMd5Constants[i] + m[g];
        a = d;
        d = c;
        c = b;
        b += std::rotl(sum, kMd5Shifts[round][i % 4]);
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      buffer_{} {}

void Sha256::update(std::string_view bytes) {
    HashSteps::feed(*this, bytes);
}

std::array<uint8_t, 32> Sha256::finish() {
    HashSteps::pad(*this, length_, true);
    std::array<uint8_t, 32> out{};
    for (int i = 0; i < 32; ++i) out[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (3 - i % 4)));
    return out;
}

void Sha256::block(const uint8_t *p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t{p[4 * i]} << 24 | uint32_t{p[4 * i + 1]} << 16 |
               uint32_t{p[4 * i + 2]} << 8 | uint32_t{p[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = std::rotr(w[i - 15], 7) ^ std::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = std::rotr(w[i - 2], 17) ^ std::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t v[8];
    std::memcpy(v, state_, sizeof v);
    for (int i = 0; i < 64; ++i) {
        const uint32_t s1 = std::rotr(v[4], 6) ^ std::rotr(v[4], 11) ^ std::rotr(v[4], 25);
        const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const uint32_t t1 = v[7] + s1 + ch + kSha256Constants[i] + w[i];
        const uint32_t s0 = std::rotr(v[0], 2) ^ std::rotr(v[0], 13) ^ std::rotr(v[0], 22);
        const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        std::memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + s0 + maj;
    }
    for (int i = 0; i < 8; ++i) state_[i] += v[i];
}

Sha1::Sha1() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0}, buffer_{} {}

void Sha1::update(std::string_view bytes) {
    HashSteps::feed(*this, bytes);
}

std::array<uint8_t, 20> Sha1::finish() {
    HashSteps::pad(*this, length_, true);
    std::array<uint8_t, 20> out{};
    for (int i = 0; i < 20; ++i) out[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (3 - i % 4)));
    return out;
}

void Sha1::block(const uint8_t *p) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t{p[4 * i]} << 24 | uint32_t{p[4 * i + 1]} << 16 |
               uint32_t{p[4 * i + 2]} << 8 | uint32_t{p[4 * i + 3]};
    for (int i = 16; i < 80; ++i) w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20)
            f = (b & c) | (~b & d), k = 0x5a827999;
        else if (i < 40)
            f = b ^ c ^ d, k = 0x6ed9eba1;
        else if (i < 60)
            f = (b & c) | (b & d) | (c & d), k = 0x8f1bbcdc;
        else
            f = b ^ c ^ d, k = 0xca62c1d6;
        const uint32_t t = std::rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

std::string hexText(const uint8_t *bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(count * 2, '0');
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return out;
}

std::string md5Hex(std::string_view bytes) {
    Md5 hash;
    hash.update(bytes);
    const auto digest = hash.finish();
    return hexText(digest.data(), digest.size());
}

std::string sha256Hex(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes);
    const auto digest = hash.finish();
    return hexText(digest.data(), digest.size());
}

std::string sha1Hex(std::string_view bytes) {
    Sha1 hash;
    hash.update(bytes);
    const auto digest = hash.finish();
    return hexText(digest.data(), digest.size());
}

}  // namespace ipcam
