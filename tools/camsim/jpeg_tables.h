// The fixed tables of baseline JPEG as RTP/JPEG receivers assume them: the zig-zag order, the
// example quantisation tables scaled by Q, and the example Huffman tables.
#pragma once

#include <array>
#include <cstdint>

#include "transport/jpeg_tables.h"

namespace camsim {

using QuantTable = std::array<uint8_t, 64>;  // zig-zag order, as a DQT segment carries it

// Natural (row-major) index of the i-th coefficient in zig-zag order.
extern const uint8_t (&kZigzag)[64];

struct QuantTables {
    QuantTable luma, chroma;
};

// The tables a receiver derives from a Q of 1..99 (other values are clamped into that range).
QuantTables tablesForQ(int q);

// A Huffman table as a DHT segment carries it: code counts per length 1..16, then symbols.
using HuffmanSpec = ipcam::HuffmanTable;

extern const HuffmanSpec &kLumaDc, &kLumaAc, &kChromaDc, &kChromaAc;

}  // namespace camsim
