#include "tools/camsim/jpeg_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace camsim {

namespace {

struct Code {
    uint16_t bits = 0;
    uint8_t length = 0;
};

// Code per symbol, assigned in order of length as a decoder assigns them.
struct HuffmanCodes {
    std::array<Code, 256> bySymbol{};

    explicit HuffmanCodes(const HuffmanSpec &spec) {
        uint16_t code = 0;
        int k = 0;
        for (int length = 1; length <= 16; ++length, code <<= 1)
            for (int i = 0; i < spec.counts[length - 1]; ++i, ++code)
                bySymbol[spec.symbols[k++]] = {code, static_cast<uint8_t>(length)};
    }
};

const HuffmanCodes &codes(const HuffmanSpec &spec) {
    static const HuffmanCodes lumaDc(kLumaDc), lumaAc(kLumaAc), chromaDc(kChromaDc),
        chromaAc(kChromaAc);
    if (&spec == &kLumaDc) return lumaDc;
    if (&spec == &kLumaAc) return lumaAc;
    if (&spec == &kChromaDc) return chromaDc;
    return chromaAc;
}

// cos((2x+1)u pi/16) scaled so that the two passes give the orthonormal DCT.
struct DctMatrix {
    float m[8][8];
    DctMatrix() {
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                m[u][x] = static_cast<float>((u == 0 ? std::sqrt(0.125) : 0.5) *
                                             std::cos((2 * x + 1) * u * M_PI / 16));
    }
};

class BitWriter {
  public:
    explicit BitWriter(std::string &out) : out_(out) {}

    void put(uint32_t bits, int length) {
        buffer_ = (buffer_ << length) | (bits & ((1u << length) - 1));
        count_ += length;
        while (count_ >= 8) {
            count_ -= 8;
            byte(static_cast<uint8_t>(buffer_ >> count_));
        }
        buffer_ &= (1u << count_) - 1;
    }

    // Pads to a byte boundary with one-bits, as a marker or the end of the scan needs.
    void align() {
        if (count_ > 0) put(0x7F, 8 - count_);
    }

    void marker(uint8_t code) {
        out_ += '\xFF';
        out_ += static_cast<char>(code);
    }

  private:
    void byte(uint8_t b) {
        out_ += static_cast<char>(b);
        if (b == 0xFF) out_ += '\0';  // stuffing, so the byte is not read as a marker
    }

    std::string &out_;
    uint32_t buffer_ = 0;
    int count_ = 0;
};

// Bits needed for the magnitude of v, and those bits in JPEG's one's-complement form.
int magnitudeBits(int v) {
    int n = 0;
    for (int a = std::abs(v); a != 0; a >>= 1) ++n;
    return n;
}

uint32_t magnitudeCode(int v, int bits) {
    return static_cast<uint32_t>(v < 0 ? v + (1 << bits) - 1 : v);
}

class ScanEncoder {
  public:
    ScanEncoder(const JpegParams &params, std::string &out) : params_(params), bits_(out) {
        for (int i = 0; i < 64; ++i) {
            lumaQuant_[kZigzag[i]] = params.tables.luma[i];
            chromaQuant_[kZigzag[i]] = params.tables.chroma[i];
        }
    }

    void encode(const Picture &p) {
        const int mcuW = 16, mcuH = p.chroma == Chroma::Yuv420 ? 16 : 8;
        const int lumaRows = mcuH / 8;
        int mcus = 0, restarts = 0;
        for (int my = 0; my < p.height / mcuH; ++my) {
            for (int mx = 0; mx < p.width / mcuW; ++mx, ++mcus) {
                if (params_.restartInterval > 0 && mcus > 0 &&
                    mcus % params_.restartInterval == 0) {
                    bits_.align();
                    bits_.marker(static_cast<uint8_t>(0xD0 + restarts++ % 8));
                    dc_ = {0, 0, 0};
                }
                for (int by = 0; by < lumaRows; ++by)
                    for (int bx = 0; bx < 2; ++bx)
                        block(p.y.data(), p.width, mx * 16 + bx * 8, my * mcuH + by * 8, 0);
                block(p.cb.data(), p.chromaWidth(), mx * 8, my * 8, 1);
                block(p.cr.data(), p.chromaWidth(), mx * 8, my * 8, 2);
            }
        }
        bits_.align();
    }

  private:
    void block(const uint8_t *plane, int stride, int x0, int y0, int component) {
        static const DctMatrix dct;
        const uint8_t *quant = component == 0 ? lumaQuant_.data() : chromaQuant_.data();
        int coefficients[64] = {};
        if (flat(plane, stride, x0, y0)) {
            // Most of the pattern is flat: only DC, 8 * (level - 128), without the transform.
            coefficients[0] =
                static_cast<int>(std::lround(8.0f * (plane[y0 * stride + x0] - 128) / quant[0]));
            emit(coefficients, component);
            return;
        }
        float rows[8][8];  // the first pass: transform along each row
        for (int y = 0; y < 8; ++y) {
            const uint8_t *line = plane + static_cast<std::size_t>(y0 + y) * stride + x0;
            for (int u = 0; u < 8; ++u) {
                float sum = 0;
                for (int x = 0; x < 8; ++x) sum += dct.m[u][x] * (line[x] - 128.0f);
                rows[y][u] = sum;
            }
        }
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) {
                float sum = 0;
                for (int y = 0; y < 8; ++y) sum += dct.m[v][y] * rows[y][u];
                // Ten bits is the largest AC size the Huffman tables code.
                long q = std::lround(sum / quant[v * 8 + u]);
                coefficients[v * 8 + u] = static_cast<int>(std::clamp(q, -1023L, 1023L));
            }
        emit(coefficients, component);
    }

    static bool flat(const uint8_t *plane, int stride, int x0, int y0) {
        const uint8_t first = plane[y0 * stride + x0];
        for (int y = 0; y < 8; ++y) {
            const uint8_t *line = plane + static_cast<std::size_t>(y0 + y) * stride + x0;
            for (int x = 0; x < 8; ++x)
                if (line[x] != first) return false;
        }
        return true;
    }

    void emit(const int (&coefficients)[64], int component) {
        const HuffmanCodes &dcCodes = codes(component == 0 ? kLumaDc : kChromaDc);
        const HuffmanCodes &acCodes = codes(component == 0 ? kLumaAc : kChromaAc);
        const int diff = coefficients[0] - dc_[component];
        dc_[component] = coefficients[0];
        const int dcBits = magnitudeBits(diff);
        put(dcCodes.bySymbol[dcBits]);
        if (dcBits > 0) bits_.put(magnitudeCode(diff, dcBits), dcBits);

        int zeros = 0;
        for (int i = 1; i < 64; ++i) {
            const int c = coefficients[kZigzag[i]];
            if (c == 0) {
                ++zeros;
                continue;
            }
            for (; zeros > 15; zeros -= 16) put(acCodes.bySymbol[0xF0]);  // sixteen zeros
            const int n = magnitudeBits(c);
            put(acCodes.bySymbol[(zeros << 4) | n]);
            bits_.put(magnitudeCode(c, n), n);
            zeros = 0;
        }
        if (zeros > 0) put(acCodes.bySymbol[0x00]);  // end of block
    }

    void put(Code code) { bits_.put(code.bits, code.length); }

    const JpegParams &params_;
    BitWriter bits_;
    std::array<uint8_t, 64> lumaQuant_{}, chromaQuant_{};  // natural order
    std::array<int, 3> dc_{0, 0, 0};                       // DC predictors per component
};

void segment(std::string &out, uint8_t marker, const std::string &body) {
    out += '\xFF';
    out += static_cast<char>(marker);
    const std::size_t length = body.size() + 2;
    out += static_cast<char>(length >> 8);
    out += static_cast<char>(length & 0xFF);
    out += body;
}

std::string huffmanTable(uint8_t classAndId, const HuffmanSpec &spec) {
    std::string body(1, static_cast<char>(classAndId));
    body.append(std::begin(spec.counts), std::end(spec.counts));
    body.append(spec.symbols, spec.symbols + spec.symbolCount);
    return body;
}

}  // namespace

std::string encodeJpegScan(const Picture &picture, const JpegParams &params) {
    std::string scan;
    scan.reserve(picture.y.size() / 4);
    ScanEncoder(params, scan).encode(picture);
    return scan;
}

std::string jpegHeaders(int width, int height, Chroma chroma, const JpegParams &params) {
    std::string out = "\xFF\xD8";
    for (int id = 0; id < 2; ++id) {
        const QuantTable &t = id == 0 ? params.tables.luma : params.tables.chroma;
        std::string body(1, static_cast<char>(id));
        body.append(t.begin(), t.end());
        segment(out, 0xDB, body);
    }
    const char lumaSampling = chroma == Chroma::Yuv420 ? 0x22 : 0x21;
    segment(out, 0xC0,
            {8, static_cast<char>(height >> 8), static_cast<char>(height & 0xFF),
             static_cast<char>(width >> 8), static_cast<char>(width & 0xFF), 3, 1, lumaSampling, 0,
             2, 0x11, 1, 3, 0x11, 1});
    segment(out, 0xC4, huffmanTable(0x00, kLumaDc));
    segment(out, 0xC4, huffmanTable(0x10, kLumaAc));
    segment(out, 0xC4, huffmanTable(0x01, kChromaDc));
    segment(out, 0xC4, huffmanTable(0x11, kChromaAc));
    if (params.restartInterval > 0)
        segment(out, 0xDD,
                {static_cast<char>(params.restartInterval >> 8),
                 static_cast<char>(params.restartInterval & 0xFF)});
    segment(out, 0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
    return out;
}

}  // namespace camsim
