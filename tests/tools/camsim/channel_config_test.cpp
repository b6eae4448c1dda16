#include "tools/camsim/channel_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

    auto quirks = parseChannelSpec(
        "mpeg4:1280x720@30,sdpconfig,bitrate=4000,path=live/ch00_0,path=/a?b=1&c=2,pathonly,"
        "lowerheaders,abscontrol,querybase,nobase,notype,sdplf,sdpblanks,sdplower,extramap,"
        "pt=127,ext2=3,pad=2,shortrtcp,channels=4,setparam=7,earlyrtp,timeout=6",
        error);
    ASSERT_TRUE(quirks) << error;
    EXPECT_FALSE(quirks->configInBand);
    EXPECT_EQ(quirks->bitrateKbps, 4000);
    EXPECT_EQ(quirks->paths, (std::vector<std::string>{"/live/ch00_0", "/a?b=1&c=2"}));
    EXPECT_FALSE(quirks->namedMount);
    StreamFaults f;
    f.oddHeaders = f.absoluteControls = f.queryInBase = f.noContentBase = f.noContentType = true;
    f.sdpLfOnly = f.sdpTrailingBlanks = f.sdpLowerCase = f.sdpExtraRtpmap = true;
    f.videoPayloadType = 127;
    f.extensionEvery = 3;
    f.twoByteExtension = true;
    f.paddingEvery = 2;
    f.shortRtcp = true;
    f.interleavedBase = 4;
    f.serverRequestSeconds = 7;
    f.serverRequestSet = true;
    f.rtpBeforePlayReply = true;
    f.sessionTimeout = 6;
    EXPECT_EQ(quirks->faults, f);
    auto tables = parseChannelSpec("jpeg:320x240@15,q=255,tables=6,getparam=2,ext=1", error);
    ASSERT_TRUE(tables) << error;
    EXPECT_EQ(tables->jpegTablesQ, 6);
    EXPECT_FALSE(tables->faults.serverRequestSet);
    EXPECT_FALSE(tables->faults.twoByteExtension);

    auto plain = parseChannelSpec("mpeg4:16x16@1", error);
    ASSERT_TRUE(plain) << error;
    EXPECT_EQ(plain->codec, ChannelConfig::Codec::Mpeg4);
    EXPECT_FALSE(plain->audio);
    EXPECT_TRUE(plain->jpegEndMarker);
    EXPECT_EQ(plain->faults, StreamFaults{});
    EXPECT_EQ(channelName(1), "CH01");

    // Even sizes for the NAL codecs, and their own switches.
    auto h264 = parseChannelSpec(
        "h264:642x362@25,bitrate=4000,sdpconfig,spropcomma,nomarker,"
        "fulossevery=7,mode0,live",
        error);
    ASSERT_TRUE(h264) << error;
    EXPECT_EQ(h264->codec, ChannelConfig::Codec::H264);
    EXPECT_EQ(h264->width, 642);
    EXPECT_EQ(h264->height, 362);
    EXPECT_EQ(h264->bitrateKbps, 4000);
    EXPECT_FALSE(h264->configInBand);
    EXPECT_TRUE(h264->live);
    StreamFaults nal;
    nal.spropTrailingComma = nal.noMarker = nal.singleNalUnits = true;
    nal.fragmentLossEvery = 7;
    EXPECT_EQ(h264->faults, nal);
    auto h265 = parseChannelSpec("h265:16x4096@1,nosprop,nomarker", error);
    ASSERT_TRUE(h265) << error;
    EXPECT_EQ(h265->codec, ChannelConfig::Codec::H265);
    EXPECT_TRUE(h265->configInBand);
    EXPECT_TRUE(h265->faults.noSprop);
    EXPECT_TRUE(h265->faults.noMarker);
    EXPECT_FALSE(h265->faults.singleNalUnits);
    // The marker switch is no NAL matter.
    EXPECT_TRUE(parseChannelSpec("jpeg:320x240@15,nomarker", error)) << error;
    EXPECT_EQ(channelName(12), "CH12");
}

TEST(ChannelConfigTest, BadSpecsSayWhy) {
    struct Case {
        const char *spec, *error;
    } cases[] = {
        {"h266:640x480@30",
         "expected CODEC:WxH@FPS with CODEC mpeg4, jpeg, h264 or h265, got 'h266:640x480@30'"},
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
        {"jpeg:320x240@15,q=255,tables=0", "JPEG tables must be from 1 to 99"},
        {"mpeg4:320x240@15,bitrate=50001", "bitrate must be from 0 to 50000 kbit/s"},
        {"mpeg4:320x240@15,path=/live/", "unknown channel setting 'path=/live/'"},
        {"mpeg4:320x240@15,path=/a b", "unknown channel setting 'path=/a b'"},
        {"mpeg4:320x240@15,pathonly", "pathonly needs a path="},
        {"mpeg4:320x240@15,pt=95", "pt must be a dynamic payload type, 96 to 127"},
        {"mpeg4:320x240@15,pt=128", "pt must be a dynamic payload type, 96 to 127"},
        {"mpeg4:320x240@15,channels=253", "channels must be from 0 to 252"},
        {"mpeg4:320x240@15,timeout=-1", "unknown channel setting 'timeout=-1'"},
        {"mpeg4:320x240@15,lowerheaders=1", "unknown channel setting 'lowerheaders=1'"},
        {"h264:641x480@30", "width and height must be even from 16 to 4096"},
        {"h264:14x480@30", "width and height must be even from 16 to 4096"},
        {"h265:640x480@61", "fps must be from 1 to 60"},
        {"mpeg4:320x240@15,nosprop",
         "nosprop, spropcomma, mode0 and fulossevery are for h264 and h265"},
        {"jpeg:320x240@15,mode0",
         "nosprop, spropcomma, mode0 and fulossevery are for h264 and h265"},
        {"mpeg4:320x240@15,fulossevery=3",
         "nosprop, spropcomma, mode0 and fulossevery are for h264 and h265"},
        {"h265:320x240@15,spropcomma", "spropcomma is for h264"},
        {"h264:320x240@15,nosprop,sdpconfig", "nosprop with sdpconfig leaves no parameter sets"},
        {"h264:320x240@15,fulossevery=-2", "unknown channel setting 'fulossevery=-2'"},
        {"h264:320x240@15,mode0=1", "unknown channel setting 'mode0=1'"},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_FALSE(parseChannelSpec(c.spec, error)) << c.spec;
        EXPECT_EQ(error, c.error) << c.spec;
    }
}

}  // namespace
