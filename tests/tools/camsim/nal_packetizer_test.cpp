#include "tools/camsim/nal_packetizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/camsim/nal_encoder.h"
#include "tools/camsim/nal_rtp.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

// A unit of n bytes: the given header byte(s), then a counting pattern.
std::string nalOfSize(std::size_t n, std::string header) {
    std::string u = header.substr(0, n);
    for (std::size_t i = u.size(); i < n; ++i) u += static_cast<char>(i * 13 + i / 251);
    return u;
}

std::vector<int> payloadTypes(bool h265, const std::vector<std::string> &payloads) {
    std::vector<int> types;
    for (const std::string &p : payloads) types.push_back(rtpNalType(h265, p));
    return types;
}

// Real access units come back byte for byte; key frames every fps frames, their parameter
// sets together in the first packet.
TEST(NalPacketizerTest, EncoderOutputRoundTrips) {
    for (NalCodec codec : {NalCodec::H264, NalCodec::H265}) {
        const bool h265 = codec == NalCodec::H265;
        SCOPED_TRACE(h265 ? "H.265" : "H.264");
        constexpr int kFps = 5;
        NalEncoder encoder({codec, 320, 240, kFps});
        ASSERT_TRUE(encoder.ok());
        const std::vector<int> parameterTypes =
            h265 ? std::vector<int>{32, 33, 34} : std::vector<int>{7, 8};
        bool sawMiddle = false;
        for (int n = 0; n < 2 * kFps; ++n) {
            auto frame = encoder.encode(drawTestPattern(320, 240, Chroma::Yuv420, n));
            ASSERT_TRUE(frame) << n;
            EXPECT_EQ(frame->key, n % kFps == 0) << n;
            const NalPayloads packed = packetizeNal(codec, frame->units);
            for (const std::string &p : packed.payloads) EXPECT_LE(p.size(), kMaxRtpPayload);
            std::string why;
            EXPECT_EQ(unpackNalUnits(h265, packed.payloads, why), frame->units) << n;
            EXPECT_EQ(why, "") << n;
            if (frame->key) {
                ASSERT_FALSE(packed.payloads.empty());
                EXPECT_EQ(rtpNalType(h265, packed.payloads[0]), h265 ? kH265Ap : kH264StapA);
                auto first = unpackNalUnits(h265, {packed.payloads[0]}, why);
                ASSERT_GE(first.size(), parameterTypes.size());
                for (std::size_t i = 0; i < parameterTypes.size(); ++i)
                    EXPECT_EQ(rtpNalType(h265, first[i]), parameterTypes[i]) << n;
            }
            if (packed.middleFragment >= 0) {
                const std::string &p = packed.payloads.at(packed.middleFragment);
                EXPECT_EQ(rtpNalType(h265, p), h265 ? kH265Fu : kH264FuA);
                EXPECT_FALSE(fuStart(h265, p) || fuEnd(h265, p));
                sawMiddle = true;
            }
        }
        EXPECT_TRUE(sawMiddle) << "no key frame took three fragments";
    }
}

// With a limit of 100 bytes: a unit of exactly 100 goes alone, one more byte needs two
// fragments; aggregation stops where the sizes no longer fit.
TEST(NalPacketizerTest, SplitsAndAggregatesAtTheLimits) {
    constexpr std::size_t kLimit = 100;
    struct Case {
        bool h265;
        std::vector<std::size_t> sizes;
        std::vector<int> types;  // of the payloads
        int middle;
    } cases[] = {
        {false, {100}, {1}, -1},
        {false, {101}, {28, 28}, -1},
        {false, {1 + 98 * 3}, {28, 28, 28}, 1},  // the FU header leaves 98 bytes a fragment
        {false, {1 + 98 * 3 + 1}, {28, 28, 28, 28}, 2},
        {false, {47, 48}, {24}, -1},  // 1 + (2 + 47) + (2 + 48) = 100
        {false, {48, 48}, {1, 1}, -1},
        {false, {10, 20, 30, 300, 5}, {24, 28, 28, 28, 28, 1}, 3},
        {false, {1, 1}, {24}, -1},  // units of a header alone, such as end of sequence
        {true, {100}, {1}, -1},
        {true, {101}, {49, 49}, -1},
        {true, {2 + 97 * 3}, {49, 49, 49}, 1},
        {true, {2 + 97 * 3 + 1}, {49, 49, 49, 49}, 2},
        {true, {47, 47}, {48}, -1},  // 2 + (2 + 47) + (2 + 47) = 100
        {true, {47, 48}, {1, 1}, -1},
        {true, {300, 30, 30, 500}, {49, 49, 49, 49, 48, 49, 49, 49, 49, 49, 49}, 8},
    };
    for (const Case &c : cases) {
        std::vector<std::string> units;
        for (std::size_t size : c.sizes)
            units.push_back(nalOfSize(size, c.h265 ? std::string("\x02\x01", 2) : "\x61"));
        SCOPED_TRACE(::testing::PrintToString(c.sizes) + (c.h265 ? " H.265" : " H.264"));
        const NalPayloads packed =
            packetizeNal(c.h265 ? NalCodec::H265 : NalCodec::H264, units, kLimit);
        EXPECT_EQ(payloadTypes(c.h265, packed.payloads), c.types);
        EXPECT_EQ(packed.middleFragment, c.middle);
        for (const std::string &p : packed.payloads) EXPECT_LE(p.size(), kLimit);
        std::string why;
        EXPECT_EQ(unpackNalUnits(c.h265, packed.payloads, why), units);
        EXPECT_EQ(why, "");
    }
}

// Aggregation headers: F when any unit has it; H.264 the highest NRI, H.265 the lowest layer
// and temporal id. (Fragments keep their unit's, which the round trips check.)
TEST(NalPacketizerTest, AggregationHeadersSumUpTheirUnits) {
    auto stap = packetizeNal(NalCodec::H264, {"\x21\xAA", "\x68\xBB", "\xC1\xCC"}).payloads;
    ASSERT_EQ(stap.size(), 1u);
    EXPECT_EQ(static_cast<uint8_t>(stap[0][0]), 0x80 | 0x60 | 24);
    // Layer 3 tid 2, layer 33 tid 4, layer 1 tid 6 with F.
    auto ap = packetizeNal(NalCodec::H265,
                           {std::string("\x02\x1A\x11", 3), std::string("\x03\x0C\x22", 3),
                            std::string("\x82\x0E\x33", 3)})
                  .payloads;
    ASSERT_EQ(ap.size(), 1u);
    EXPECT_EQ(static_cast<uint8_t>(ap[0][0]), 0x80 | 48 << 1);
    EXPECT_EQ(static_cast<uint8_t>(ap[0][1]), 1 << 3 | 2);
}

TEST(NalPacketizerTest, SingleUnitsOnlyStayWholeUpToTheirLimit) {
    for (bool h265 : {false, true}) {
        SCOPED_TRACE(h265 ? "H.265" : "H.264");
        const std::string header = h265 ? std::string("\x02\x01", 2) : "\x41";
        const std::vector<std::string> units = {nalOfSize(5, header), nalOfSize(9, header),
                                                nalOfSize(kMaxSingleNalPayload, header)};
        const NalCodec codec = h265 ? NalCodec::H265 : NalCodec::H264;
        auto packed = packetizeNal(codec, units, kMaxSingleNalPayload, true);
        EXPECT_EQ(packed.payloads, units);  // no aggregation of the small ones either

        // Beyond even that limit a unit is fragmented rather than sent too large.
        auto huge = packetizeNal(codec, {nalOfSize(kMaxSingleNalPayload + 1, header)},
                                 kMaxSingleNalPayload, true);
        EXPECT_EQ(payloadTypes(h265, huge.payloads),
                  std::vector<int>(2, h265 ? kH265Fu : kH264FuA));
    }
}

// A grainy key frame at a huge rate: x264 cuts it into slices that each fit one packet whose
// interleaved length (16 bits) also holds the RTP header, an extension and padding.
TEST(NalPacketizerTest, SingleUnitModeSlicesFitInterleavedFrames) {
    NalEncoder encoder({NalCodec::H264, 1280, 720, 1, 50000, kMaxSingleNalPayload});
    ASSERT_TRUE(encoder.ok());
    Picture picture = drawTestPattern(1280, 720, Chroma::Yuv420, 0);
    addGrain(picture, 0, 40);
    auto frame = encoder.encode(picture);
    ASSERT_TRUE(frame);
    std::size_t slices = 0, bytes = 0;
    for (const std::string &unit : frame->units) {
        slices += rtpNalType(false, unit) == 5;
        bytes += unit.size();
        EXPECT_LE(unit.size(), kMaxSingleNalPayload);
    }
    EXPECT_GT(bytes, 0xFFFFu) << "the frame would fit one packet anyway";
    EXPECT_GE(slices, 2u);
    EXPECT_LE(kMaxSingleNalPayload + kRtpHeaderSize + 4 + 4 * 4 + 255, 0xFFFFu);
    EXPECT_EQ(packetizeNal(NalCodec::H264, frame->units, kMaxSingleNalPayload, true).payloads,
              frame->units);
}

TEST(NalPacketizerTest, NalTypesAndParameterSets) {
    struct Type {
        NalCodec codec;
        std::string unit;
        int type;
        bool parameterSet;
    } types[] = {
        {NalCodec::H264, "\x67", 7, true},      {NalCodec::H264, "\x68", 8, true},
        {NalCodec::H264, "\x65", 5, false},     {NalCodec::H265, "\x40\x01", 32, true},
        {NalCodec::H265, "\x44\x01", 34, true}, {NalCodec::H265, "\x26\x01", 19, false},
        {NalCodec::H265, "\x0E\x01", 7, false},  // 7 is no H.265 SPS
        {NalCodec::H264, "", -1, false},
    };
    for (const Type &t : types) {
        EXPECT_EQ(nalType(t.codec, t.unit), t.type) << t.type;
        EXPECT_EQ(isParameterSet(t.codec, t.unit), t.parameterSet) << t.type;
    }
}

}  // namespace
