#include "core/stream_bits.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "transport/encoded_frame.h"

using namespace ipcam;

namespace {

TEST(StreamBitsTest, ReadsBitsMostSignificantFirst) {
    const uint8_t data[] = {0xA5, 0x3C, 0xFF, 0x00, 0x81};
    struct Case {
        uint32_t first, count, expected;
    } cases[] = {
        {0, 8, 0xA5}, {8, 8, 0x3C}, {4, 8, 0x53},        {0, 1, 1},
        {1, 1, 0},    {7, 2, 0x02}, {0, 32, 0xA53CFF00}, {8, 32, 0x3CFF0081},
        {3, 0, 0},    {0, 33, 0},   {39, 1, 1},          {33, 6, 0x00},
    };
    for (const Case &c : cases)
        EXPECT_EQ(readBits(data, c.first, c.count), c.expected) << c.first << "+" << c.count;
    const int bits[] = {1, 0, 1, 0, 0, 1, 0, 1};
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(readBit(data, i), bits[i]) << i;
}

std::vector<uint8_t> frameOf(const std::vector<uint8_t> &payload) {
    EncodedFrame *f = makeFrame(IPCAM_FRAME_KEY, payload.data(), payload.size(), 0);
    std::vector<uint8_t> block(reinterpret_cast<uint8_t *>(f),
                               reinterpret_cast<uint8_t *>(f) + f->totalSize);
    IPCamFreeFrame(f);
    return block;
}

TEST(StreamBitsTest, ExtractsTheConfigurationHeaderOfAKeyFrame) {
    const std::vector<uint8_t> vos = {0,    0,    1, 0xB0, 0x01, 0,    0,    1,
                                      0xB5, 0x09, 0, 0,    1,    0x20, 0x08, 0xC8};
    const std::vector<uint8_t> gov = {0, 0, 1, 0xB3, 0x11, 0, 0, 1, 0xB6, 0x10};
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char *name;
        std::vector<uint8_t> payload;
        size_t capacity;
        bool copied;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"header then pictures", join(vos, gov), 64, true, vos},
        {"leading bytes are skipped", join({0xAA, 0xBB}, join(vos, gov)), 64, true, vos},
        {"no group start", vos, 64, false, {}},
        {"no sequence start", gov, 64, false, {}},
        {"header larger than the destination", join(vos, gov), vos.size() - 1, false, {}},
        {"exactly fits", join(vos, gov), vos.size(), true, vos},
        {"group start only before the sequence", join(gov, vos), 64, false, {}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> block = frameOf(c.payload);
        std::vector<uint8_t> dest(c.capacity + 8, 0xEE);
        size_t length = 999;
        EXPECT_EQ(extractVideoConfig(block.data(), dest.data(), c.capacity, &length), c.copied)
            << c.name;
        EXPECT_EQ(length, c.expected.size()) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(dest.begin(), dest.begin() + static_cast<long>(length)),
                  c.expected)
            << c.name;
        for (size_t i = c.capacity; i < dest.size(); ++i) EXPECT_EQ(dest[i], 0xEE) << c.name;
    }
}

TEST(StreamBitsTest, ShortPayloadsAreLeftAlone) {
    for (size_t n = 0; n <= 3; ++n) {
        std::vector<uint8_t> block = frameOf(std::vector<uint8_t>(n, 0));
        uint8_t dest[8];
        size_t length = 77;
        EXPECT_FALSE(extractVideoConfig(block.data(), dest, sizeof dest, &length));
        EXPECT_EQ(length, 77u);
    }
}

TEST(StreamBitsTest, ExpGolombCodesAndReadsPastTheEnd) {
    // 1 | 010 | 011 | 00100 | 00101 | 00111 | 0000 1000 0: ue 0,1,2,3,4,6,15 ...
    const std::vector<uint8_t> bytes = {0b10100110, 0b01000010, 0b10011100, 0b00100000};
    BitReader r(bytes);
    EXPECT_EQ(r.ue(), 0u);
    EXPECT_EQ(r.ue(), 1u);
    EXPECT_EQ(r.ue(), 2u);
    EXPECT_EQ(r.ue(), 3u);
    EXPECT_EQ(r.ue(), 4u);
    EXPECT_EQ(r.ue(), 6u);
    EXPECT_EQ(r.ue(), 15u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.read(8), 0u);  // only one bit is left
    EXPECT_FALSE(r.ok());

    const std::vector<uint8_t> signs = {0b01001100, 0b10000000};  // ue 1, 2, 3 as se: 1, -1, 2
    BitReader s(signs);
    EXPECT_EQ(s.se(), 1);
    EXPECT_EQ(s.se(), -1);
    EXPECT_EQ(s.se(), 2);
    EXPECT_TRUE(s.ok());

    // 32 leading zeros make a code longer than 32 bits: refused, not wrapped.
    const std::vector<uint8_t> tooWide = {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    BitReader z(tooWide);
    EXPECT_EQ(z.ue(), 0u);
    EXPECT_FALSE(z.ok());

    const std::vector<uint8_t> widest = {0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFE};  // 31 zeros, 1, 31 ones
    BitReader w(widest);
    EXPECT_EQ(w.ue(), 0xFFFFFFFEu);
    EXPECT_TRUE(w.ok());

    BitReader k(bytes);
    k.skip(30);
    EXPECT_TRUE(k.ok());
    k.skip(3);
    EXPECT_FALSE(k.ok());
}

}  // namespace
