#include "tools/camsim/jpeg_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tools/camsim/av_decode.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

TEST(JpegEncoderTest, TablesFromQAreTheExampleTablesScaledInZigzagOrder) {
    // Entries 0, 1, 2 of the zig-zag order are natural 0, 1 and 8: 16, 11, 12 and 17, 18, 18
    // in the example tables.
    struct Case {
        int q;
        int luma[3], chroma[3];
    } cases[] = {
        {50, {16, 11, 12}, {17, 18, 18}},       // factor 100: the tables themselves
        {25, {32, 22, 24}, {34, 36, 36}},       // 5000 / 25 = 200
        {75, {8, 6, 6}, {9, 9, 9}},             // 200 - 150 = 50, rounded half up
        {99, {1, 1, 1}, {1, 1, 1}},             // factor 2 rounds to 0, clamped to 1
        {1, {255, 255, 255}, {255, 255, 255}},  // factor 5000, clamped to 255
        {0, {255, 255, 255}, {255, 255, 255}},  // below 1 counts as 1
        {120, {1, 1, 1}, {1, 1, 1}},            // above 99 counts as 99
    };
    for (const Case &c : cases) {
        QuantTables t = tablesForQ(c.q);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(t.luma[i], c.luma[i]) << "q " << c.q << " entry " << i;
            EXPECT_EQ(t.chroma[i], c.chroma[i]) << "q " << c.q << " entry " << i;
        }
    }
    EXPECT_EQ(tablesForQ(50).luma[63], 99);  // natural 63, the last of the example table
}

TEST(JpegEncoderTest, ScansDecodeWithLibavcodec) {
    constexpr int kWidth = 96, kHeight = 64;
    struct Case {
        Chroma chroma;
        int q, restart;
        AVPixelFormat format;
        double maxError;  // mean absolute luma error
    } cases[] = {
        {Chroma::Yuv420, 80, 0, AV_PIX_FMT_YUVJ420P, 3},
        {Chroma::Yuv422, 80, 0, AV_PIX_FMT_YUVJ422P, 3},
        {Chroma::Yuv420, 30, 5, AV_PIX_FMT_YUVJ420P, 8},
        {Chroma::Yuv422, 95, 1, AV_PIX_FMT_YUVJ422P, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("q " + std::to_string(c.q) + " restart " + std::to_string(c.restart));
        const Picture picture = drawTestPattern(kWidth, kHeight, c.chroma, 123, true);
        const JpegParams params{tablesForQ(c.q), c.restart};
        const std::string scan = encodeJpegScan(picture, params);

        // Restart markers cycle through RST0..RST7 between MCUs, and nowhere else.
        const int mcus = (kWidth / 16) * (kHeight / (c.chroma == Chroma::Yuv420 ? 16 : 8));
        int markers = 0;
        for (std::size_t i = 0; i + 1 < scan.size(); ++i) {
            if (scan[i] != '\xFF' || scan[i + 1] == '\0') continue;
            EXPECT_EQ(static_cast<uint8_t>(scan[i + 1]), 0xD0 + markers % 8) << "at " << i;
            ++markers;
        }
        EXPECT_EQ(markers, c.restart ? (mcus - 1) / c.restart : 0);
        EXPECT_NE(scan.substr(scan.size() - 2), "\xFF\xD9");

        auto decoded =
            decodeFrames(AV_CODEC_ID_MJPEG,
                         {jpegHeaders(kWidth, kHeight, c.chroma, params) + scan + "\xFF\xD9"});
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, kWidth);
        EXPECT_EQ(decoded->height, kHeight);
        EXPECT_EQ(decoded->format, c.format);
        double error = 0;
        for (std::size_t i = 0; i < picture.y.size(); ++i)
            error += std::abs(static_cast<uint8_t>(decoded->luma[i]) - picture.y[i]);
        EXPECT_LT(error / picture.y.size(), c.maxError);
    }
}

}  // namespace
