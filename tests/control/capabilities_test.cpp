#include "control/capabilities.h"

#include <gtest/gtest.h>

#include <vector>

#include "control/server_control.h"

using namespace ipcam;

namespace {

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
