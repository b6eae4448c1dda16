#include "transport/h264_sps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/annex_b.h"
#include "support/media.h"
#include "support/rbsp_writer.h"

using namespace ipcam;
using kestrel_test::TestCodec;

namespace {

using Bytes = std::vector<uint8_t>;

// The SPS of the first access unit of an encoding.
Bytes h264EncodedSps(int width, int height) {
    const std::vector<std::string> frames =
        kestrel_test::encodeVideo(TestCodec::H264, width, height, 1, 1);
    for (const Bytes &nal : kestrel_test::annexBUnits(frames.empty() ? "" : frames[0]))
        if ((nal[0] & 0x1F) == 7) return nal;
    return {};
}

struct H264SpsFields {
    uint32_t profile = 100, chroma = 1;
    bool separatePlanes = false, scaling = false;
    uint32_t pocType = 0;
    uint64_t widthMbs = 20, heightUnits = 15;
    bool frameMbsOnly = true;
    uint64_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
    bool vui = true;
    uint32_t unitsInTick = 1001, timeScale = 60000;
    uint8_t header = 0x67;
};

Bytes h264BuildSps(const H264SpsFields &f) {
    kestrel_test::RbspWriter w;
    w.bits(f.profile, 8);
    w.bits(0x00, 8);
    w.bits(40, 8);  // level 4.0
    w.ue(0);
    if (f.profile >= 100) {
        w.ue(f.chroma);
        if (f.chroma == 3) w.bits(f.separatePlanes, 1);
        w.ue(2), w.ue(2), w.bits(0, 1);  // 10-bit
        w.bits(f.scaling, 1);
        for (int i = 0; f.scaling && i < (f.chroma == 3 ? 12 : 8); ++i) {
            w.bits(i % 3 != 1, 1);  // some lists present, some not
            if (i % 3 == 1) continue;
            const int size = i < 6 ? 16 : 64;
            for (int j = 0; j < size; ++j) w.se(i == 2 && j == 3 ? -16 : (j % 5) - 2);
        }
    }
    w.ue(4);
    w.ue(f.pocType);
    if (f.pocType == 0) w.ue(6);
    if (f.pocType == 1) {
        w.bits(0, 1), w.se(-3), w.se(7), w.ue(3), w.se(1), w.se(-2), w.se(300);
    }
    w.ue(4), w.bits(0, 1);
    w.ue(f.widthMbs - 1), w.ue(f.heightUnits - 1);
    w.bits(f.frameMbsOnly, 1);
    if (!f.frameMbsOnly) w.bits(1, 1);
    w.bits(1, 1);
    const bool cropping = f.crop[0] || f.crop[1] || f.crop[2] || f.crop[3];
    w.bits(cropping, 1);
    for (int i = 0; cropping && i < 4; ++i) w.ue(f.crop[i]);
    w.bits(f.vui, 1);
    if (f.vui) {
        w.bits(1, 1), w.bits(255, 8), w.bits(0x00040003, 32);  // extended sample aspect ratio
        w.bits(0, 1);
        w.bits(1, 1), w.bits(0b0101, 4), w.bits(1, 1), w.bits(0x010101, 24);
        w.bits(1, 1), w.ue(1), w.ue(1);
        w.bits(1, 1), w.bits(f.unitsInTick, 32), w.bits(f.timeScale, 32), w.bits(1, 1);
        w.bits(0, 5);  // no HRD, no picture structure, no bitstream restriction
    }
    return w.nal({f.header});
}

TEST(H264SpsTest, EncodedSizesAreReadAfterCroppingWithTheFrameRate) {
    const struct {
        int width, height;
    } sizes[] = {{1920, 1080}, {640, 360}, {320, 240}, {176, 144}, {98, 58}};
    for (const auto &s : sizes) {
        const Bytes sps = h264EncodedSps(s.width, s.height);
        ASSERT_FALSE(sps.empty()) << s.width;
        // The encoder's time base is 1/30 s.
        EXPECT_EQ(readH264Sps(sps), (VideoParameters{s.width, s.height, 30}))
            << s.width << "x" << s.height;
    }
}

TEST(H264SpsTest, HandBuiltParameterSetsAreRead) {
    constexpr double kNtsc = 60000.0 / 2002;  // the builder's timing: 1001 / 60000 s a tick
    const auto fields = [](auto change) {
        H264SpsFields f;
        change(f);
        return f;
    };
    const struct Case {
        const char *name;
        H264SpsFields fields;
        std::optional<VideoParameters> expected;
    } cases[] = {
        {"high 4:2:0", {}, VideoParameters{320, 240, kNtsc}},
        {"scaling matrices", fields([](auto &f) { f.scaling = true; }),
         VideoParameters{320, 240, kNtsc}},
        {"4:4:4 scaling", fields([](auto &f) { f.scaling = true, f.chroma = 3, f.crop[1] = 3; }),
         VideoParameters{317, 240, kNtsc}},
        {"4:2:0 crop in pairs", fields([](auto &f) { f.crop[0] = 1, f.crop[3] = 3; }),
         VideoParameters{318, 234, kNtsc}},
        {"4:2:2 crops rows singly", fields([](auto &f) { f.chroma = 2, f.crop[3] = 3; }),
         VideoParameters{320, 237, kNtsc}},
        {"monochrome", fields([](auto &f) { f.chroma = 0, f.crop[0] = 1, f.crop[2] = 1; }),
         VideoParameters{319, 239, kNtsc}},
        {"separate planes",
         fields([](auto &f) { f.chroma = 3, f.separatePlanes = true, f.crop[1] = 1; }),
         VideoParameters{319, 240, kNtsc}},
        {"fields 1080", fields([](auto &f) {
             f.widthMbs = 120, f.heightUnits = 34, f.frameMbsOnly = false, f.crop[3] = 2;
         }),
         VideoParameters{1920, 1080, kNtsc}},
        {"order type 1, baseline", fields([](auto &f) { f.profile = 66, f.pocType = 1; }),
         VideoParameters{320, 240, kNtsc}},
        {"order type 2, no VUI", fields([](auto &f) { f.pocType = 2, f.vui = false; }),
         VideoParameters{320, 240, 0}},
        {"no tick", fields([](auto &f) { f.unitsInTick = 0; }), VideoParameters{320, 240, 0}},
        {"absurd rate", fields([](auto &f) { f.unitsInTick = 1, f.timeScale = 90000; }),
         VideoParameters{320, 240, 0}},
        {"largest", fields([](auto &f) { f.widthMbs = 1024, f.heightUnits = 1024; }),
         VideoParameters{16384, 16384, kNtsc}},
        {"too wide", fields([](auto &f) { f.widthMbs = 1025; }), std::nullopt},
        {"huge height", fields([](auto &f) { f.heightUnits = uint64_t{1} << 20; }), std::nullopt},
        {"cropped away", fields([](auto &f) { f.crop[0] = 80, f.crop[1] = 80; }), std::nullopt},
        {"huge crop", fields([](auto &f) { f.crop[2] = 0xFFFFFFF0; }), std::nullopt},
        {"chroma format 4", fields([](auto &f) { f.chroma = 4; }), std::nullopt},
        {"order type 3", fields([](auto &f) { f.pocType = 3; }), std::nullopt},
        {"a PPS", fields([](auto &f) { f.header = 0x68; }), std::nullopt},
        {"an H.265 SPS header", fields([](auto &f) { f.header = 0x42; }), std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(readH264Sps(h264BuildSps(c.fields)), c.expected) << c.name;
}

TEST(H264SpsTest, CutParameterSetsGiveNothingOrTheWholeAnswer) {
    H264SpsFields scaled;
    scaled.scaling = true;
    for (const Bytes &sps : {h264EncodedSps(640, 360), h264BuildSps(scaled), h264BuildSps({})}) {
        ASSERT_FALSE(sps.empty());
        const std::optional<VideoParameters> whole = readH264Sps(sps);
        ASSERT_TRUE(whole);
        for (std::size_t length = 0; length < sps.size(); ++length) {
            const std::optional<VideoParameters> cut = readH264Sps(std::span(sps).first(length));
            if (cut || length < sps.size() / 2) {
                EXPECT_EQ(cut, length < sps.size() / 2 ? std::nullopt : whole) << length;
            }
        }
    }
    // An Exp-Golomb code longer than 32 bits where the id belongs.
    EXPECT_EQ(readH264Sps(Bytes{0x67, 0x42, 0x00, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x01, 0xFF}),
              std::nullopt);
}

}  // namespace
