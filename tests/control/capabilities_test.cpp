#include "control/capabilities.h"

#include <gtest/gtest.h>

#include <vector>

#include "control/server_control.h"

using namespace ipcam;

namespace {

TEST(CapabilitiesTest, ModelSetsHoldTheirMembersOnly) {
    struct Case {
        ModelSet set;
        std::vector<uint32_t> in, out;
    } cases[] = {
        {ModelSet::S1, {60, 71, 77, 80, 84, 88, 122, 124, 126}, {61, 76, 81, 89, 123, 125}},
        {ModelSet::S2, {61, 64, 67, 69, 72, 81, 83, 89, 123, 127, 130}, {60, 65, 66, 68, 82, 131}},
        {ModelSet::S3, {68, 73, 76, 121, 125}, {72, 77, 122}},
        {ModelSet::S4, {57, 58, 59}, {56, 60}},
        {ModelSet::S5, {90, 91, 99}, {92, 98}},
        {ModelSet::S6, {61, 76, 80, 81, 135}, {62, 77, 134}},
        {ModelSet::S7, {93, 98}, {92, 99}},
        {ModelSet::S8, {60, 64, 71, 84, 90, 91, 99}, {61, 92}},
        {ModelSet::S9,
         {0, 10, 56, 82, 88, 89, 90, 120, 121, 123},
         {1, 9, 57, 81, 83, 87, 124, 0x100}},
    };
    for (const Case &c : cases) {
        for (uint32_t m : c.in)
            EXPECT_TRUE(inModelSet(c.set, m)) << static_cast<int>(c.set) << " " << m;
        for (uint32_t m : c.out)
            EXPECT_FALSE(inModelSet(c.set, m)) << static_cast<int>(c.set) << " " << m;
    }
}

TEST(CapabilitiesTest, CodecsStandardsAndQualities) {
    EXPECT_EQ(codecFromText("mpeg4"), 1);
    EXPECT_EQ(codecFromText("mjpge"), 2);
    EXPECT_EQ(codecFromText("h.264"), 4);
    EXPECT_EQ(codecFromText("MPEG4"), 0);  // camera texts compare exactly
    EXPECT_EQ(codecDisplayText(4), "H.264");
    EXPECT_EQ(codecDisplayText(3), "");
    EXPECT_EQ(standardText(2), "PAL");
    ASSERT_NE(qualityLevel(5), nullptr);
    EXPECT_EQ(qualityLevel(5)->text, "Best");
    EXPECT_EQ(qualityLevel(1)->jpegQuality, 19);
    EXPECT_EQ(qualityLevel(3)->bitRate, 1000);
    EXPECT_EQ(qualityLevel(2)->jpegQuality161, 27);
    EXPECT_EQ(qualityLevel(0), nullptr);
    EXPECT_EQ(qualityLevel(6), nullptr);
}

TEST(CapabilitiesTest, ResolutionsAndTheirMasks) {
    ASSERT_EQ(resolutionTexts().size(), 30u);
    EXPECT_EQ(resolutionBit("160x112"), 1u);
    EXPECT_EQ(resolutionBit("640x480"), 1u << 11);
    EXPECT_EQ(resolutionBit("1280x1024"), 1u << 24);
    EXPECT_EQ(resolutionBit("2560x2048"), 1u << 29);
    EXPECT_EQ(resolutionBit("704x240x2"), 1u << 14);  // not "704x240"
    EXPECT_EQ(resolutionBit("704x240"), 1u << 12);
    EXPECT_EQ(resolutionBit("1280x720p"), 1u << 22);
    EXPECT_EQ(resolutionBit("999x999"), 0u);
    EXPECT_EQ(resolutionOfMask((1u << 6) | (1u << 11)), "640x480");
    EXPECT_EQ(resolutionOfMask(1u << 29), "2560x2048");
    EXPECT_EQ(resolutionOfMask(0), "");
    EXPECT_EQ(resolutionOfMask(1u << 31), "");  // no such entry
}

TEST(CapabilitiesTest, StreamingServersTakeNoCommands) {
    ServerControl control;
    int request[2] = {3, 0};
    EXPECT_EQ(control.Command(nullptr, request, nullptr), -99);
    EXPECT_EQ(control.GetValue(), 0);
    EXPECT_TRUE(control.CanQueryItems());
}

}  // namespace
