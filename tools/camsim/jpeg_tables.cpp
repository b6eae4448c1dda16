#include "tools/camsim/jpeg_tables.h"

#include "transport/jpeg_tables.h"

namespace camsim {

// The simulator encodes with the very tables that receivers rebuild headers with.
const uint8_t (&kZigzag)[64] = ipcam::kJpegZigzag;
const HuffmanSpec &kLumaDc = ipcam::kLumaDcTable;
const HuffmanSpec &kLumaAc = ipcam::kLumaAcTable;
const HuffmanSpec &kChromaDc = ipcam::kChromaDcTable;
const HuffmanSpec &kChromaAc = ipcam::kChromaAcTable;

QuantTables tablesForQ(int q) {
    QuantTables t;
    ipcam::makeQuantTables(q, t.luma.data(), t.chroma.data());
    return t;
}

}  // namespace camsim
