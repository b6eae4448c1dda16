#include "transport/jpeg_header.h"

#include <algorithm>
#include <cstring>

namespace ipcam {

namespace {

// The example tables of the JPEG standard, in natural (row by row) order.
constexpr uint8_t kLumaQuant[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                    58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                    22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                    77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                    103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
constexpr uint8_t kChromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The standard Huffman tables: code counts by length, then the symbols.
constexpr uint8_t kLumDcCodes[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kLumDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kChmDcCodes[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kChmDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kLumAcCodes[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kLumAcSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kChmAcCodes[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kChmAcSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

constexpr std::size_t kFixedHeaderBytes = 495;  // every part but the quantisation values
constexpr std::size_t kRestartBytes = 6;

class Writer {
  public:
    explicit Writer(uint8_t *out) : out_(out) {}
    void byte(unsigned v) { out_[n_++] = static_cast<uint8_t>(v); }
    void word(unsigned v) {
        byte(v >> 8);
        byte(v & 0xFF);
    }
    void bytes(const uint8_t *p, std::size_t count) {
        std::memcpy(out_ + n_, p, count);
        n_ += count;
    }
    std::size_t size() const { return n_; }

  private:
    uint8_t *out_;
    std::size_t n_ = 0;
};

void huffmanTable(Writer &w, unsigned cls, unsigned id, const uint8_t (&codes)[16],
                  const uint8_t *symbols, std::size_t symbolCount) {
    w.word(0xFFC4);
    w.word(static_cast<unsigned>(3 + 16 + symbolCount));
    w.byte(cls << 4 | id);
    w.bytes(codes, 16);
    w.bytes(symbols, symbolCount);
}

void quantTable(Writer &w, unsigned id, const uint8_t *table, std::size_t length) {
    w.word(0xFFDB);
    w.word(static_cast<unsigned>(3 + length));
    w.byte(id);
    w.bytes(table, length);
}

}  // namespace

void makeQuantTables(int q, uint8_t luma[64], uint8_t chroma[64]) {
    const int factor = std::clamp(q, 1, 99);
    const int scale = q < 50 ? 5000 / factor : 200 - factor * 2;
    for (int i = 0; i < 64; ++i) {
        luma[i] =
            static_cast<uint8_t>(std::clamp((kLumaQuant[kZigzag[i]] * scale + 50) / 100, 1, 255));
        chroma[i] =
            static_cast<uint8_t>(std::clamp((kChromaQuant[kZigzag[i]] * scale + 50) / 100, 1, 255));
    }
}

JpegHeaderResult makeJpegHeader(const uint8_t *p, std::size_t length, uint8_t *out,
                                std::size_t capacity) {
    JpegHeaderResult r;
    if (length < 8) return r;
    const uint32_t offset = static_cast<uint32_t>(p[1] << 16 | p[2] << 8 | p[3]);
    const unsigned type = p[4], q = p[5];
    const unsigned width = p[6] ? p[6] * 8u : 2048u, height = p[7] ? p[7] * 8u : 2048u;
    std::size_t at = 8;

    unsigned restartInterval = 0;
    bool hasRestart = type > 63;
    if (hasRestart) {
        if (length < at + 4) return r;
        restartInterval = static_cast<unsigned>(p[at] << 8 | p[at + 1]);
        at += 4;
    }

    uint8_t computed[128];
    const uint8_t *tables = computed;
    std::size_t tableBytes = 128;
    if (q >= 128 && offset == 0) {
        // Tables travel in-band in the first fragment: MBZ, precision, length, then the values.
        if (length < at + 4) return r;
        if (p[at] == 0) {
            tableBytes = static_cast<std::size_t>(p[at + 2] << 8 | p[at + 3]);
            at += 4;
            if (length < at + tableBytes) return r;
            tables = p + at;
            at += tableBytes;
        } else {
            at += 4;
            makeQuantTables(q, computed, computed + 64);
        }
    } else if (offset == 0) {
        makeQuantTables(static_cast<int>(q), computed, computed + 64);
    }
    r.payloadHeaders = at;
    if (offset != 0) {
        r.ok = true;
        return r;
    }

    if (!out || capacity < kFixedHeaderBytes + tableBytes + (hasRestart ? kRestartBytes : 0))
        return r;
    const bool twoTables = tableBytes > 64;
    Writer w(out);
    w.word(0xFFD8);
    static constexpr uint8_t kJfif[] = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0,
                                        1,    1,    0, 0,  1,   0,   1,   0,   0};
    w.bytes(kJfif, sizeof kJfif);
    if (hasRestart) {
        w.word(0xFFDD);
        w.word(4);
        w.word(restartInterval);
    }
    if (twoTables) {
        quantTable(w, 0, tables, tableBytes / 2);
        quantTable(w, 1, tables + tableBytes / 2, tableBytes - tableBytes / 2);
    } else {
        quantTable(w, 0, tables, tableBytes);
    }
    w.word(0xFFC0);
    w.word(17);
    w.byte(8);
    w.word(height);
    w.word(width);
    w.byte(3);
    w.byte(1);
    w.byte((type & 1) ? 0x22 : 0x21);
    w.byte(0);
    for (unsigned component = 2; component <= 3; ++component) {
        w.byte(component);
        w.byte(0x11);
        w.byte(twoTables ? 1 : 0);
    }
    huffmanTable(w, 0, 0, kLumDcCodes, kLumDcSymbols, sizeof kLumDcSymbols);
    huffmanTable(w, 1, 0, kLumAcCodes, kLumAcSymbols, sizeof kLumAcSymbols);
    huffmanTable(w, 0, 1, kChmDcCodes, kChmDcSymbols, sizeof kChmDcSymbols);
    huffmanTable(w, 1, 1, kChmAcCodes, kChmAcSymbols, sizeof kChmAcSymbols);
    static constexpr uint8_t kScan[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    w.bytes(kScan, sizeof kScan);
    r.headerLength = w.size();
    r.ok = true;
    return r;
}

}  // namespace ipcam
