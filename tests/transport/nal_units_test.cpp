#include "transport/nal_units.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
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

TEST(NalUnitsTest, AnnexBSplitsAtEveryStartCode) {
    using Units = std::vector<std::string_view>;
    struct Case {
        std::string_view stream;
        Units units;
    } cases[] = {
        {{"\0\0\0\1\x67\x42\0\0\1\x68\xCE", 11}, {"\x67\x42", "\x68\xCE"}},
        {{"junk\0\0\1\x65\x88", 9}, {"\x65\x88"}},
        {{"\0\0\1\x41\x9A\0\0\0\0\1\x41\x9B\0\0", 14}, {"\x41\x9A", "\x41\x9B"}},
        {{"\0\0\1\0\0\1\x06\x05", 8}, {"\x06\x05"}},  // no empty unit
        {{"\x67\x42\x00\x1E", 4}, {}},
        {"", {}},
    };
    for (const Case &c : cases) EXPECT_EQ(splitAnnexB(c.stream), c.units) << c.stream.size();
}

}  // namespace
