#include "transport/jpeg_header.h"

#include "transport/jpeg_tables.h"

#include <algorithm>
#include <cstring>

namespace ipcam {

namespace {

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

void huffmanTable(Writer &w, unsigned cls, unsigned id, const HuffmanTable &table) {
    w.word(0xFFC4);
    w.word(static_cast<unsigned>(3 + 16 + table.symbolCount));
    w.byte(cls << 4 | id);
    w.bytes(table.counts, 16);
    w.bytes(table.symbols, table.symbolCount);
}

void quantTable(Writer &w, unsigned id, const uint8_t *table, std::size_t length) {
    w.word(0xFFDB);
    w.word(static_cast<unsigned>(3 + length));
    w.byte(id);
    w.bytes(table, length);
}

}  // namespace

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
    huffmanTable(w, 0, 0, kLumaDcTable);
    huffmanTable(w, 1, 0, kLumaAcTable);
    huffmanTable(w, 0, 1, kChromaDcTable);
    huffmanTable(w, 1, 1, kChromaAcTable);
    static constexpr uint8_t kScan[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    w.bytes(kScan, sizeof kScan);
    r.headerLength = w.size();
    r.ok = true;
    return r;
}

bool jpegPictureSize(const uint8_t *p, std::size_t length, int32_t &width, int32_t &height) {
    std::size_t at = 2;  // after FF D8
    while (at + 4 <= length) {
        if (p[at] != 0xFF) return false;
        const uint8_t marker = p[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return false;  // no frame header before the scan
        const std::size_t segment = static_cast<std::size_t>(p[at + 2] << 8 | p[at + 3]);
        const bool frameHeader =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            if (segment < 7 || at + 9 > length) return false;
            height = p[at + 5] << 8 | p[at + 6];
            width = p[at + 7] << 8 | p[at + 8];
            return true;
        }
        if (segment < 2) return false;
        at += 2 + segment;
    }
    return false;
}

}  // namespace ipcam
