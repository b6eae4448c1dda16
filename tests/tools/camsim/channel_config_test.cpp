#include "tools/camsim/channel_config.h"

#include <gtest/gtest.h>

#include <string>

using namespace camsim;

namespace {

TEST(ChannelConfigTest, SpecsSetEveryField) {
    std::string error;
    auto c = parseChannelSpec(
        "jpeg:2048x64@60,type=0,q=255,restart=4,audio,live,noeoi,drop=3,stall=4,garbage=5,"
        "nocontrol",
        error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->codec, ChannelConfig::Codec::Jpeg);
    EXPECT_EQ(c->width, 2048);
    EXPECT_EQ(c->height, 64);
    EXPECT_EQ(c->fps, 60);
    EXPECT_EQ(c->jpegType, 0);
    EXPECT_EQ(c->jpegQ, 255);
    EXPECT_EQ(c->restartInterval, 4);
    EXPECT_TRUE(c->audio);
    EXPECT_TRUE(c->live);
    EXPECT_FALSE(c->jpegEndMarker);
    EXPECT_EQ(c->faults, (StreamFaults{3, 4, 5, true}));

    auto plain = parseChannelSpec("mpeg4:16x16@1", error);
    ASSERT_TRUE(plain) << error;
    EXPECT_EQ(plain->codec, ChannelConfig::Codec::Mpeg4);
    EXPECT_FALSE(plain->audio);
    EXPECT_TRUE(plain->jpegEndMarker);
    EXPECT_EQ(plain->faults, StreamFaults{});
    EXPECT_EQ(channelName(1), "CH01");
    EXPECT_EQ(channelName(12), "CH12");
}

TEST(ChannelConfigTest, BadSpecsSayWhy) {
    struct Case {
        const char *spec, *error;
    } cases[] = {
        {"h264:640x480@30", "expected mpeg4:WxH@FPS or jpeg:WxH@FPS, got 'h264:640x480@30'"},
        {"mpeg4", "expected WxH@FPS, got ''"},
        {"mpeg4:640@30x480", "expected WxH@FPS, got '640@30x480'"},
        {"mpeg4:640x480@30,loud", "unknown channel setting 'loud'"},
        {"mpeg4:640x480@30,q=", "unknown channel setting 'q='"},
        {"mpeg4:648x480@30", "width and height must be multiples of 16 from 16 to 4096"},
        {"jpeg:2064x480@30", "width and height must be multiples of 16 from 16 to 2048"},
        {"jpeg:320x240@61", "fps must be from 1 to 60"},
        {"jpeg:320x240@15,type=2", "JPEG type must be 0 or 1"},
        {"jpeg:320x240@15,q=100", "JPEG q must be from 1 to 99 or from 128 to 255"},
        {"jpeg:320x240@15,q=127", "JPEG q must be from 1 to 99 or from 128 to 255"},
        {"jpeg:320x240@15,restart=65536", "restart interval must be from 0 to 65535"},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_FALSE(parseChannelSpec(c.spec, error)) << c.spec;
        EXPECT_EQ(error, c.error) << c.spec;
    }
}

}  // namespace
