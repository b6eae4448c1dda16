#include "transport/h265_sps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "support/h265_packets.h"
#include "support/media.h"
#include "support/rbsp_writer.h"

using namespace ipcam;
using kestrel_test::TestCodec;

namespace {

using Bytes = std::vector<uint8_t>;

using kestrel_test::annexBUnits;

Bytes h265SpsOfType(const std::vector<Bytes> &units, int type) {
    for (const Bytes &u : units)
        if (u.size() >= 2 && ((u[0] >> 1) & 0x3F) == type) return u;
    return {};
}

// The parameter sets libx265 writes for a picture size, a frame rate and its own options.
std::vector<Bytes> h265SpsEncoderSets(int width, int height, AVRational rate, const char *params) {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_HEVC);
    if (!codec) return {};
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->width = width;
    ctx->height = height;
    ctx->time_base = av_inv_q(rate);
    ctx->framerate = rate;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "x265-params", (std::string("log-level=error:") + params).c_str(), 0);
    av_log_set_level(AV_LOG_ERROR);
    std::vector<Bytes> units;
    if (avcodec_open2(ctx, codec, &options) >= 0)
        units = annexBUnits(std::string(reinterpret_cast<char *>(ctx->extradata),
                                            static_cast<std::size_t>(ctx->extradata_size)));
    av_dict_free(&options);
    avcodec_free_context(&ctx);
    return units;
}

// What libavcodec makes of a VPS and an SPS: the decoder reads them when it opens.
struct H265SpsDecoderView {
    bool ok = false;
    int width = 0, height = 0;
    double frameRate = 0;
};

H265SpsDecoderView h265SpsDecoderView(const Bytes &vps, const Bytes &sps) {
    H265SpsDecoderView view;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    Bytes extra;
    for (const Bytes *nal : {&vps, &sps}) {
        extra.insert(extra.end(), {0, 0, 0, 1});
        extra.insert(extra.end(), nal->begin(), nal->end());
    }
    ctx->extradata =
        static_cast<uint8_t *>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(extra.begin(), extra.end(), ctx->extradata);
    ctx->extradata_size = static_cast<int>(extra.size());
    if (avcodec_open2(ctx, codec, nullptr) >= 0 && ctx->width > 0) {
        view.ok = true;
        view.width = ctx->width;
        view.height = ctx->height;
        if (ctx->framerate.den > 0) view.frameRate = av_q2d(ctx->framerate);
    }
    avcodec_free_context(&ctx);
    return view;
}

using kestrel_test::RbspWriter;

void h265SpsProfileTierLevel(RbspWriter &w, uint32_t subLayersMinus1) {
    w.bits(0x01, 8);         // Main
    w.bits(0x60000000, 32);  // compatible with Main and Main 10
    w.bits(0b1001, 4);       // progressive, frame only
    w.bits(0, 44);
    w.bits(153, 8);  // level 5.1
    for (uint32_t i = 0; i < subLayersMinus1; ++i) {
        w.flag(i == 0);  // a sub-layer profile only for the first
        w.flag(true);
    }
    if (subLayersMinus1 > 0)
        for (uint32_t i = subLayersMinus1; i < 8; ++i) w.bits(0, 2);
    for (uint32_t i = 0; i < subLayersMinus1; ++i) {
        if (i == 0) {
            w.bits(0x01, 8);
            w.bits(0x60000000, 32);
            w.bits(0b1001, 4);
            w.bits(0, 44);
        }
        w.bits(120, 8);
    }
}

// What a hand-written SPS holds beyond the usual.
struct H265SpsShape {
    const char *name;
    uint32_t subLayersMinus1 = 0;
    uint32_t chromaFormat = 1;
    uint32_t width = 352, height = 288;
    uint32_t window[4] = {0, 0, 0, 0};  // left, right, top, bottom in chroma samples
    bool scalingLists = false;
    bool pcm = false;
    bool predictedSets = false;  // short-term sets predicted from the one before
    bool longTerm = false;
    bool vuiExtras = false;  // aspect ratio 255, signal type, chroma location, display window
    bool timing = true;
    uint32_t tick = 1, scale = 25;
};

Bytes h265SpsWriteVps(uint32_t subLayersMinus1) {
    RbspWriter w;
    w.bits(0, 4);  // id
    w.bits(0b11, 2);
    w.bits(0, 6);
    w.bits(subLayersMinus1, 3);
    w.flag(true);
    w.bits(0xFFFF, 16);
    h265SpsProfileTierLevel(w, subLayersMinus1);
    w.flag(true);
    for (uint32_t i = 0; i <= subLayersMinus1; ++i) {
        w.ue(6);
        w.ue(0);
        w.ue(0);
    }
    w.bits(0, 6);   // max layer id
    w.ue(0);        // one layer set
    w.flag(false);  // no timing here: the SPS's counts
    w.flag(false);
    return w.nal({kH265Vps << 1, 1});
}

Bytes h265SpsWrite(const H265SpsShape &s) {
    RbspWriter w;
    w.bits(0, 4);
    w.bits(s.subLayersMinus1, 3);
    w.flag(true);
    h265SpsProfileTierLevel(w, s.subLayersMinus1);
    w.ue(0);
    w.ue(s.chromaFormat);
    if (s.chromaFormat == 3) w.flag(false);
    w.ue(s.width);
    w.ue(s.height);
    const bool window = s.window[0] || s.window[1] || s.window[2] || s.window[3];
    w.flag(window);
    if (window)
        for (uint32_t offset : s.window) w.ue(offset);
    w.ue(0);  // 8-bit luma
    w.ue(0);
    w.ue(4);  // 8-bit picture order count
    w.flag(true);
    for (uint32_t i = 0; i <= s.subLayersMinus1; ++i) {
        w.ue(6);
        w.ue(0);
        w.ue(0);
    }
    for (uint32_t v : {0u, 3u, 0u, 3u, 1u, 1u}) w.ue(v);  // blocks 8 to 64, transforms 4 to 32
    w.flag(s.scalingLists);
    if (s.scalingLists) {
        w.flag(true);
        for (int sizeId = 0; sizeId < 4; ++sizeId)
            for (int matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
                const bool explicitly = matrixId % 2 == 0;
                w.flag(explicitly);
                if (!explicitly) {
                    w.ue(1);  // a copy of the matrix before
                    continue;
                }
                const int count = std::min(64, 1 << (4 + (sizeId << 1)));
                if (sizeId > 1) w.se(8);
                for (int i = 0; i < count; ++i) w.se(i % 3 - 1);
            }
    }
    w.flag(true);  // asymmetric motion partitions
    w.flag(true);  // sample adaptive offset
    w.flag(s.pcm);
    if (s.pcm) {
        w.bits(7, 4);
        w.bits(7, 4);
        w.ue(0);
        w.ue(1);
        w.flag(false);
    }
    if (s.predictedSets) {
        w.ue(4);
        // -1 -3 | +1
        w.ue(2);
        w.ue(1);
        w.ue(0), w.flag(true);
        w.ue(1), w.flag(true);
        w.ue(0), w.flag(true);
        // From the first, moved by -1: -2 -4, +1 becomes the picture itself (left out) and
        // the reference adds -1.
        const auto predict = [&](bool negative, uint32_t magnitudeMinus1,
                                 std::initializer_list<int> use) {  // 2 used, 1 kept, 0 not
            w.flag(true);
            w.flag(negative);
            w.ue(magnitudeMinus1);
            for (int u : use) {
                w.flag(u == 2);
                if (u != 2) w.flag(u == 1);
            }
        };
        predict(true, 0, {2, 1, 0, 2});
        // From the second (-1 -2 -4), moved by +2: +1, -2 and +2; -2 + 2 is left out.
        predict(false, 1, {2, 0, 1, 2});
        // From the third (-2 | +1 +2), moved by -3.
        predict(true, 2, {2, 2, 2, 2});
    } else {
        w.ue(1);
        w.ue(1);
        w.ue(0);
        w.ue(0), w.flag(true);
    }
    w.flag(s.longTerm);
    if (s.longTerm) {
        w.ue(2);
        w.bits(17, 8), w.flag(true);
        w.bits(200, 8), w.flag(false);
    }
    w.flag(true);  // temporal motion vector prediction
    w.flag(true);  // strong intra smoothing
    w.flag(true);  // VUI
    w.flag(s.vuiExtras);
    if (s.vuiExtras) {
        w.bits(255, 8);
        w.bits(40, 16);
        w.bits(33, 16);
    }
    w.flag(s.vuiExtras);
    if (s.vuiExtras) w.flag(true);
    w.flag(s.vuiExtras);
    if (s.vuiExtras) {
        w.bits(5, 3);
        w.flag(false);
        w.flag(true);
        w.bits(0x010101, 24);
    }
    w.flag(s.vuiExtras);
    if (s.vuiExtras) {
        w.ue(2);
        w.ue(2);
    }
    w.bits(0, 3);
    w.flag(s.vuiExtras);
    if (s.vuiExtras)
        for (uint32_t offset : {2u, 4u, 6u, 8u}) w.ue(offset);
    w.flag(s.timing);
    if (s.timing) {
        w.bits(s.tick, 32);
        w.bits(s.scale, 32);
        w.flag(false);
        w.flag(false);
    }
    w.flag(false);  // bitstream restriction
    w.flag(false);  // extensions
    return w.nal({kH265Sps << 1, 1});
}

TEST(H265SpsTest, EncoderParameterSetsGiveTheirSizeAndRate) {
    struct Case {
        int width, height;
        AVRational rate;
        const char *params;
    } cases[] = {
        {1920, 1080, {30, 1}, ""},  // 1088 coded, cropped by the window
        {640, 360, {25, 1}, ""},
        {320, 240, {30000, 1001}, ""},
        {176, 144, {15, 1}, ""},
        {100, 60, {30, 1}, ""},  // a window on both sides of a small picture
        {352, 288, {50, 1}, "sar=7\\:3"},
        {352,
         288,
         {24, 1},
         "sar=16\\:11:overscan=show:videoformat=pal:range=full:colorprim=bt709:"
         "transfer=bt709:colormatrix=bt709:chromaloc=2:display-window=2,4,6,8"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " + c.params);
        const std::vector<Bytes> units = h265SpsEncoderSets(c.width, c.height, c.rate, c.params);
        const Bytes sps = h265SpsOfType(units, kH265Sps);
        ASSERT_FALSE(sps.empty());
        const std::optional<VideoParameters> read = readH265Sps(sps);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->width, c.width);
        EXPECT_EQ(read->height, c.height);
        EXPECT_NEAR(read->frameRate, av_q2d(c.rate), 1e-9);
        EXPECT_EQ(h265ParameterSetId(sps), 0u);
        EXPECT_EQ(h265ParameterSetId(h265SpsOfType(units, kH265Vps)), 0u);
        EXPECT_EQ(h265ParameterSetId(h265SpsOfType(units, kH265Pps)), 0u);
    }
}

TEST(H265SpsTest, RarerSyntaxIsReadAsTheDecoderReadsIt) {
    H265SpsShape shapes[] = {
        {.name = "plain"},
        {.name = "sub-layers", .subLayersMinus1 = 2},
        {.name = "4:2:2 window",
         .chromaFormat = 2,
         .width = 360,
         .height = 200,
         .window = {1, 3, 2, 5}},
        {.name = "4:4:4 window",
         .chromaFormat = 3,
         .width = 360,
         .height = 200,
         .window = {1, 3, 2, 5}},
        {.name = "monochrome",
         .chromaFormat = 0,
         .width = 360,
         .height = 200,
         .window = {0, 7, 0, 1}},
        {.name = "scaling lists", .scalingLists = true},
        {.name = "pcm", .pcm = true},
        {.name = "predicted sets", .predictedSets = true, .tick = 1001, .scale = 60000},
        {.name = "long-term", .longTerm = true, .scale = 12},
        {.name = "vui extras", .vuiExtras = true, .tick = 2, .scale = 25},
        {.name = "no timing", .timing = false},
        {.name = "everything",
         .subLayersMinus1 = 1,
         .scalingLists = true,
         .pcm = true,
         .predictedSets = true,
         .longTerm = true,
         .vuiExtras = true,
         .tick = 1,
         .scale = 120},
    };
    for (const H265SpsShape &s : shapes) {
        SCOPED_TRACE(s.name);
        const Bytes sps = h265SpsWrite(s);
        const H265SpsDecoderView expected =
            h265SpsDecoderView(h265SpsWriteVps(s.subLayersMinus1), sps);
        ASSERT_TRUE(expected.ok);
        const std::optional<VideoParameters> read = readH265Sps(sps);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->width, expected.width);
        EXPECT_EQ(read->height, expected.height);
        EXPECT_NEAR(read->frameRate, s.timing ? expected.frameRate : 0, 1e-6);
        if (s.timing) {
            EXPECT_GT(read->frameRate, 0);
        }
    }
}

TEST(H265SpsTest, ACutSetGivesNothingOrTheTruth) {
    std::vector<Bytes> sets = {
        h265SpsOfType(h265SpsEncoderSets(1920, 1080, {30, 1}, ""), kH265Sps),
        h265SpsWrite({.name = "",
                      .scalingLists = true,
                      .predictedSets = true,
                      .longTerm = true,
                      .vuiExtras = true}),
    };
    for (const Bytes &sps : sets) {
        ASSERT_FALSE(sps.empty());
        const std::optional<VideoParameters> whole = readH265Sps(sps);
        ASSERT_TRUE(whole);
        ASSERT_GT(whole->frameRate, 0);
        bool sizeSeenWithoutRate = false;
        for (std::size_t length = 0; length < sps.size(); ++length) {
            SCOPED_TRACE(length);
            const std::optional<VideoParameters> cut =
                readH265Sps(std::span<const uint8_t>(sps.data(), length));
            if (!cut) continue;
            EXPECT_EQ(cut->width, whole->width);
            EXPECT_EQ(cut->height, whole->height);
            EXPECT_TRUE(cut->frameRate == 0 || cut->frameRate == whole->frameRate);
            sizeSeenWithoutRate |= cut->frameRate == 0;
        }
        EXPECT_TRUE(sizeSeenWithoutRate);  // the size does not need the rest
    }
}

TEST(H265SpsTest, WhatIsNotASensibleSetIsRefused) {
    const Bytes good = h265SpsWrite({.name = ""});
    ASSERT_TRUE(readH265Sps(good));
    const auto withHeader = [&](uint8_t first, uint8_t second) {
        Bytes nal = good;
        nal[0] = first;
        nal[1] = second;
        return nal;
    };
    struct Case {
        const char *name;
        Bytes nal;
    } cases[] = {
        {"a PPS", withHeader(kH265Pps << 1, 1)},
        {"a slice", withHeader(1 << 1, 1)},
        {"forbidden bit", withHeader(0x80 | kH265Sps << 1, 1)},
        {"another layer", withHeader(kH265Sps << 1, 1 << 3 | 1)},
        {"header only", {kH265Sps << 1, 1}},
        {"zero width", h265SpsWrite({.name = "", .width = 0})},
        {"zero height", h265SpsWrite({.name = "", .height = 0})},
        {"absurd width", h265SpsWrite({.name = "", .width = 1 << 20})},
        {"absurd height", h265SpsWrite({.name = "", .height = 40000})},
        {"window as wide as the picture", h265SpsWrite({.name = "", .window = {100, 76, 0, 0}})},
        {"window as high as the picture", h265SpsWrite({.name = "", .window = {0, 0, 144, 0}})},
        {"chroma format 4", h265SpsWrite({.name = "", .chromaFormat = 4})},
        {"eight sub-layers", h265SpsWrite({.name = "", .subLayersMinus1 = 7})},
    };
    for (const Case &c : cases) EXPECT_FALSE(readH265Sps(c.nal)) << c.name;
    // Zero in either timing count is no rate, and neither is a rate no camera has.
    for (auto [tick, scale] : {std::pair{0u, 30u}, {1u, 0u}, {1u, 100000u}}) {
        const auto read = readH265Sps(h265SpsWrite({.name = "", .tick = tick, .scale = scale}));
        ASSERT_TRUE(read);
        EXPECT_EQ(read->frameRate, 0) << tick << "/" << scale;
    }
}

}  // namespace
