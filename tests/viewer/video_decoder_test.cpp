// The pipeline's decoder on real pictures: conversion sizes, limits, colours in both formats,
// and what a closed or failing decoder does.
#include "viewer/video_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/media.h"

using namespace kestrel;

namespace {

TEST(VideoDecoder, MotionJpegConvertsWithinItsLimits) {
    VideoDecoder decoder;
    EXPECT_TRUE(decoder.isOpen());
    EXPECT_EQ(decoder.codec(), VideoDecoder::Codec::Mpeg4);  // what a new decoder opens
    decoder.reopen(VideoDecoder::Codec::MotionJpeg);
    const std::string jpeg = kestrel_test::encodeJpeg({.width = 96, .height = 64, .quality = 90});
    const auto r = decoder.decode(reinterpret_cast<const uint8_t *>(jpeg.data()), jpeg.size());
    EXPECT_TRUE(r.consumed);
    EXPECT_TRUE(r.picture);

    struct Case {
        int limitW, limitH;
        PixelFormat format;
        bool converts;
    } cases[] = {
        {96, 64, PixelFormat::Bgr24, true},  {1280, 1024, PixelFormat::Rgb565, true},
        {95, 64, PixelFormat::Bgr24, false}, {96, 63, PixelFormat::Rgb565, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.limitW << "x" << c.limitH);
        // A guard zone after the picture must stay untouched: rows are tightly packed.
        const std::size_t bytes = 96 * 64 * (c.format == PixelFormat::Rgb565 ? 2 : 3);
        std::vector<uint8_t> out(bytes + 64, 0xAB);
        int w = c.limitW, h = c.limitH;
        EXPECT_EQ(decoder.convert(out.data(), w, h, c.format), c.converts);
        EXPECT_EQ(w, 96);
        EXPECT_EQ(h, 64);
        for (std::size_t i = bytes; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB) << i;
        if (!c.converts) {
            EXPECT_EQ(out[0], 0xAB);
        }
    }
}

TEST(VideoDecoder, ColoursComeOutInTheirByteOrder) {
    // A picture of one colour, converted to B,G,R and to RGB 5-6-5.
    const std::vector<std::string> frames = kestrel_test::encodeMpeg4(64, 48, 1, 1);
    VideoDecoder decoder;
    for (const std::string &f : frames)
        decoder.decode(reinterpret_cast<const uint8_t *>(f.data()), f.size());
    // The MPEG-4 decoder may hold the picture until more data comes: flush it with the frame
    // again.
    decoder.decode(reinterpret_cast<const uint8_t *>(frames[0].data()), frames[0].size());
    std::vector<uint8_t> bgr(64 * 48 * 3), rgb565(64 * 48 * 2);
    int w = 64, h = 48;
    ASSERT_TRUE(decoder.convert(bgr.data(), w, h, PixelFormat::Bgr24));
    w = 64, h = 48;
    ASSERT_TRUE(decoder.convert(rgb565.data(), w, h, PixelFormat::Rgb565));
    // Whatever the test pattern, both conversions agree on every pixel's colour.
    for (int i = 0; i < 64 * 48; i += 97) {
        const int b = bgr[i * 3], g = bgr[i * 3 + 1], r = bgr[i * 3 + 2];
        const int p = rgb565[i * 2] | rgb565[i * 2 + 1] << 8;
        EXPECT_NEAR((p >> 11) & 0x1F, r >> 3, 1) << i;
        EXPECT_NEAR((p >> 5) & 0x3F, g >> 2, 1) << i;
        EXPECT_NEAR(p & 0x1F, b >> 3, 1) << i;
    }
}

TEST(VideoDecoder, ClosedAndEmptyDecodersHaveNoPicture) {
    VideoDecoder decoder;
    std::vector<uint8_t> out(16);
    int w = 4, h = 4;
    EXPECT_FALSE(decoder.convert(out.data(), w, h, PixelFormat::Bgr24));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    // Nothing to consume: the caller's retries are bounded by the caller.
    EXPECT_FALSE(decoder.decode(nullptr, 0).consumed);
    decoder.close();
    EXPECT_FALSE(decoder.isOpen());
    const uint8_t junk[] = {0, 0, 1, 0xB6, 1, 2, 3};
    EXPECT_FALSE(decoder.decode(junk, sizeof junk).consumed);
    // Garbage for an open decoder is used up without a picture.
    decoder.open(VideoDecoder::Codec::MotionJpeg);
    const auto r = decoder.decode(junk, sizeof junk);
    EXPECT_TRUE(r.consumed);
    EXPECT_FALSE(r.picture);
}

}  // namespace
