#include "transport/nal_units.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/base64.h"

using namespace ipcam;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(NalUnitsTest, Base64DecodesWhatEncodingMakesAndRefusesTheRest) {
    // Round trips over every length and byte value pattern up to a few blocks.
    for (std::size_t length = 0; length < 12; ++length) {
        Bytes bytes(length);
        for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(0xF3 * i + 0x81);
        char text[32];
        ASSERT_GE(EncodeBase64(bytes.data(), bytes.size(), text, sizeof text), 0);
        EXPECT_EQ(DecodeBase64(text), bytes) << text;
        std::string unpadded = text;
        while (!unpadded.empty() && unpadded.back() == '=') unpadded.pop_back();
        EXPECT_EQ(DecodeBase64(unpadded), bytes) << unpadded;
    }
    struct Case {
        const char *text;
        bool accepted;
    } cases[] = {
        {"Z2QAHqzZQFAe", true}, {"aOvjyyLA", true}, {"Zg==", true}, {"Zm8=", true},
        {"Z", false},           {"Zg=", false},     {"Z===", false}, {"Zg==Zg==", false},
        {"Zm9v YmFy", false},   {"Zm9v\n", false},  {"Zm-_", false}, {"=", false},
    };
    for (const Case &c : cases) EXPECT_EQ(DecodeBase64(c.text).has_value(), c.accepted) << c.text;
}

TEST(NalUnitsTest, ParameterSetListsSkipWhatCannotBeUsed) {
    const Bytes sps = {0x67, 0x64, 0x00, 0x1E, 0xAC, 0xD9, 0x40, 0x50, 0x1E};
    const Bytes pps = {0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
    struct Case {
        const char *text;
        std::vector<Bytes> sets;
    } cases[] = {
        {"Z2QAHqzZQFAe,aOvjyyLA", {sps, pps}},
        {"Z2QAHqzZQFAe,aOvjyyLA,", {sps, pps}},  // the trailing comma some cameras send
        {" Z2QAHqzZQFAe , aOvjyyLA", {sps, pps}},
        {"Z2QAHqzZQFAe,,aOvjyyLA", {sps, pps}},
        {"Z2QAHqzZQFAe,not base64!,aOvjyyLA", {sps, pps}},
        {"==,aOvjyyLA", {pps}},
        {"", {}},
        {",", {}},
    };
    for (const Case &c : cases) EXPECT_EQ(parameterSetList(c.text), c.sets) << c.text;
}

TEST(NalUnitsTest, EmulationPreventionBytesAreRemoved) {
    struct Case {
        Bytes nal;
        std::size_t offset;
        Bytes rbsp;
    } cases[] = {
        {{0x67, 0x00, 0x00, 0x03, 0x01}, 1, {0x00, 0x00, 0x01}},
        {{0x67, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03}, 1, {0x00, 0x00, 0x00, 0x00}},
        {{0x67, 0x00, 0x03, 0x00}, 1, {0x00, 0x03, 0x00}},        // one zero is not enough
        {{0x40, 0x01, 0x00, 0x00, 0x03}, 2, {0x00, 0x00}},          // a two-byte header
        {{0x00, 0x00, 0x03, 0x03}, 0, {0x00, 0x00, 0x03}},          // only the first 03 goes
        {{0x67}, 1, {}},
        {{0x67}, 5, {}},
    };
    for (const Case &c : cases) EXPECT_EQ(unescapeRbsp(c.nal, c.offset), c.rbsp);
}

TEST(NalUnitsTest, BitReaderReadsCodesAndFailsPastTheEnd) {
    // 1 | 010 | 011 | 00100 | 00101 | 00111 | 0000 1000 0: ue 0,1,2,3,4,6,15 ...
    const Bytes bytes = {0b10100110, 0b01000010, 0b10011100, 0b00100000};
    BitReader r(bytes);
    EXPECT_EQ(r.ue(), 0u);
    EXPECT_EQ(r.ue(), 1u);
    EXPECT_EQ(r.ue(), 2u);
    EXPECT_EQ(r.ue(), 3u);
    EXPECT_EQ(r.ue(), 4u);
    EXPECT_EQ(r.ue(), 6u);
    EXPECT_EQ(r.ue(), 15u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.bits(8), 0u);  // only one bit is left
    EXPECT_FALSE(r.ok());

    const Bytes signs = {0b01001100, 0b10000000};  // ue 1, 2, 3 as se: 1, -1, 2
    BitReader s(signs);
    EXPECT_EQ(s.se(), 1);
    EXPECT_EQ(s.se(), -1);
    EXPECT_EQ(s.se(), 2);
    EXPECT_TRUE(s.ok());

    // 32 leading zeros make a code longer than 32 bits: refused, not wrapped.
    const Bytes tooWide = {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    BitReader z(tooWide);
    EXPECT_EQ(z.ue(), 0u);
    EXPECT_FALSE(z.ok());

    const Bytes widest = {0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFE};  // 31 zeros, 1, 31 ones
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
