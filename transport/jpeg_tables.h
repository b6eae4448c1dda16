// The tables of baseline JPEG that RTP/JPEG senders and receivers share: the example
// quantisation tables with their scaling by quality, the zig-zag order and the four standard
// Huffman tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ipcam {

extern const uint8_t kJpegZigzag[64];       // position in natural order of zig-zag entry i
extern const uint8_t kJpegLumaQuant[64];    // natural order
extern const uint8_t kJpegChromaQuant[64];  // natural order

struct HuffmanTable {
    uint8_t counts[16];  // codes of each length, 1 to 16 bits
    const uint8_t *symbols;
    std::size_t symbolCount;
};

extern const HuffmanTable kLumaDcTable, kLumaAcTable, kChromaDcTable, kChromaAcTable;

// The 64-byte luminance and chrominance tables for quality q (clamped to 1..99: factor 5000/q
// below 50, else 200 - 2q), in zig-zag order.
void makeQuantTables(int q, uint8_t luma[64], uint8_t chroma[64]);

}  // namespace ipcam
