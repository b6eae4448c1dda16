#include "transport/jpeg_header.h"

#include <gtest/gtest.h>

#include <string>

#include "support/media.h"
#include "support/rtp_packets.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

TEST(JpegHeaderTest, RebuiltPicturesDecodeToTheirSize) {
    struct Case {
        const char *name;
        JpegOptions picture;
        int type, q;
        bool inBand;
        bool widthZero;
    } cases[] = {
        {"4:2:2, Q 50", {64, 48, 50, false, 0}, 0, 50, false, false},
        {"4:2:0, Q 30", {64, 48, 30, true, 0}, 1, 30, false, false},
        {"4:2:2, Q 90", {320, 240, 90, false, 0}, 0, 90, false, false},
        {"in-band tables", {64, 48, 75, false, 0}, 0, 255, true, false},
        {"in-band tables 4:2:0", {96, 64, 60, true, 0}, 1, 128, true, false},
        {"restart markers 4:2:2", {64, 48, 50, false, 2}, 64, 50, false, false},
        {"restart markers 4:2:0, in-band", {64, 64, 50, true, 1}, 65, 200, true, false},
        {"width field 0 means 2048", {2048, 16, 50, false, 0}, 0, 50, false, true},
    };
    for (const Case &c : cases) {
        std::string jpeg = encodeJpeg(c.picture);
        std::string payload =
            rtpJpegPayload(jpeg, c.type, c.q, c.widthZero ? 0 : c.picture.width / 8,
                           c.picture.height / 8, c.picture.restartInterval, c.inBand);
        uint8_t header[kJpegHeaderArea];
        JpegHeaderResult r = makeJpegHeader(reinterpret_cast<const uint8_t *>(payload.data()),
                                            payload.size(), header);
        ASSERT_TRUE(r.ok) << c.name;
        EXPECT_EQ(payload.size() - r.payloadHeaders, scanData(jpeg).size()) << c.name;
        std::string rebuilt(reinterpret_cast<char *>(header), r.headerLength);
        rebuilt += payload.substr(r.payloadHeaders);
        Decoded d = decodeJpeg(rebuilt);
        EXPECT_TRUE(d.ok) << c.name;
        EXPECT_EQ(d.width, c.picture.width) << c.name;
        EXPECT_EQ(d.height, c.picture.height) << c.name;
        // The tables in the rebuilt header are the ones the picture was made with.
        EXPECT_EQ(quantTables(rebuilt), quantTables(jpeg)) << c.name;
    }
}

TEST(JpegHeaderTest, TablesFromQMatchTheUsualScaling) {
    for (int q : {1, 10, 49, 50, 51, 75, 99}) {
        uint8_t luma[64], chroma[64];
        makeQuantTables(q, luma, chroma);
        std::string tables = quantTables(encodeJpeg({16, 16, q, false, 0}));
        ASSERT_EQ(tables.size(), 128u);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(luma), 64), tables.substr(0, 64)) << q;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(chroma), 64), tables.substr(64)) << q;
    }
}

TEST(JpegHeaderTest, DamagedOrLaterFragments) {
    std::string jpeg = encodeJpeg({});
    struct Case {
        const char *name;
        std::string payload;
        bool ok;
        size_t headerLength, payloadHeaders;
    } cases[] = {
        {"shorter than the main header", std::string("\0\0\0\0\0\x32\x08", 7), false, 0, 0},
        {"restart header cut short", std::string("\0\0\0\0\x40\x32\x08\x06\0", 9), false, 0, 0},
        {"table header cut short", std::string("\0\0\0\0\0\xFF\x08\x06\0\0", 10), false, 0, 0},
        {"tables longer than the payload",
         std::string("\0\0\0\0\0\xFF\x08\x06\0\0\0\x80", 12) + std::string(100, 'q'), false, 0, 0},
        {"later fragment", rtpJpegPayload(jpeg, 0, 50, 8, 6, 0, false, 1000), true, 0, 8},
        {"later fragment with restart header", rtpJpegPayload(jpeg, 64, 255, 8, 6, 4, true, 1000),
         true, 0, 12},
    };
    for (const Case &c : cases) {
        uint8_t header[kJpegHeaderArea];
        JpegHeaderResult r = makeJpegHeader(reinterpret_cast<const uint8_t *>(c.payload.data()),
                                            c.payload.size(), header);
        EXPECT_EQ(r.ok, c.ok) << c.name;
        EXPECT_EQ(r.headerLength, c.headerLength) << c.name;
        if (c.ok) {
            EXPECT_EQ(r.payloadHeaders, c.payloadHeaders) << c.name;
        }
    }
    // In-band tables that would not fit the header area are refused.
    std::string big = std::string("\0\0\0\0\0\xFF\x08\x06\0\0\x02\x40", 12) + std::string(576, 'q');
    uint8_t header[kJpegHeaderArea];
    EXPECT_FALSE(
        makeJpegHeader(reinterpret_cast<const uint8_t *>(big.data()), big.size(), header).ok);
}

TEST(JpegPictureSizeTest, FromTheFrameHeader) {
    const std::string jpeg = kestrel_test::encodeJpeg({.width = 176, .height = 144});
    const auto *p = reinterpret_cast<const uint8_t *>(jpeg.data());
    int32_t w = 0, h = 0;
    ASSERT_TRUE(jpegPictureSize(p, jpeg.size(), w, h));
    EXPECT_EQ(w, 176);
    EXPECT_EQ(h, 144);
    // Cut before the frame header, or not a JPEG at all.
    EXPECT_FALSE(jpegPictureSize(p, 20, w, h));
    const std::string junk = "\xFF\xD8\x00\x01\x02\x03\x04\x05";
    EXPECT_FALSE(
        jpegPictureSize(reinterpret_cast<const uint8_t *>(junk.data()), junk.size(), w, h));
    const std::string zeroLength = "\xFF\xD8\xFF\xE0\x00\x00\xFF\xC0";
    EXPECT_FALSE(jpegPictureSize(reinterpret_cast<const uint8_t *>(zeroLength.data()),
                                 zeroLength.size(), w, h));
}

}  // namespace
