#include "tools/camsim/channel_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace camsim;

namespace {

TEST(ChannelConfigTest, SpecsSetEveryField) {
    using Codec = ChannelConfig::Codec;
    const auto with = [](auto change) {
        ChannelConfig c;
        change(c);
        return c;
    };
    const struct Case {
        const char *spec;
        ChannelConfig expected;
    } cases[] = {
        {"mpeg4:16x16@1", with([](ChannelConfig &c) { c.width = c.height = 16, c.fps = 1; })},
        {"jpeg:2048x64@60,type=0,q=255,restart=4,audio,live,noeoi,drop=3,stall=4,garbage=5,"
         "nocontrol",
         with([](ChannelConfig &c) {
             c.codec = Codec::Jpeg, c.width = 2048, c.height = 64, c.fps = 60;
             c.jpegType = 0, c.jpegQ = 255, c.restartInterval = 4, c.jpegEndMarker = false;
             c.audio = c.live = true;
             c.faults = {3, 4, 5, true};
         })},
        {"mpeg4:1280x720@30,sdpconfig,bitrate=4000,path=live/ch00_0,path=/a?b=1&c=2,pathonly,"
         "lowerheaders,abscontrol,querybase,nobase,notype,sdplf,sdpblanks,sdplower,extramap,"
         "pt=127,ext2=3,pad=2,shortrtcp,channels=4,setparam=7,earlyrtp,timeout=6",
         with([](ChannelConfig &c) {
             c.width = 1280, c.height = 720, c.configInBand = false, c.bitrateKbps = 4000;
             c.paths = {"/live/ch00_0", "/a?b=1&c=2"}, c.namedMount = false;
             StreamFaults &f = c.faults;
             f.oddHeaders = f.absoluteControls = f.queryInBase = f.noContentBase = true;
             f.noContentType = f.sdpLfOnly = f.sdpTrailingBlanks = f.sdpLowerCase = true;
             f.sdpExtraRtpmap = f.twoByteExtension = f.shortRtcp = f.rtpBeforePlayReply = true;
             f.videoPayloadType = 127, f.extensionEvery = 3, f.paddingEvery = 2;
             f.interleavedBase = 4, f.serverRequestSeconds = 7, f.serverRequestSet = true;
             f.sessionTimeout = 6;
         })},
        {"jpeg:320x240@15,q=255,tables=6,getparam=2,ext=1", with([](ChannelConfig &c) {
             c.codec = Codec::Jpeg, c.width = 320, c.height = 240, c.fps = 15;
             c.jpegQ = 255, c.jpegTablesQ = 6;
             c.faults.serverRequestSeconds = 2, c.faults.extensionEvery = 1;
         })},
        // Even sizes for the NAL codecs, and their own switches.
        {"h264:642x362@25,bitrate=4000,sdpconfig,spropcomma,nomarker,fulossevery=7,mode0,live,"
         "rtpclock=102,refresh,start=1000,noserverport,otherport,swap=5,newssrc=9,keypad=1000",
         with([](ChannelConfig &c) {
             c.codec = Codec::H264, c.width = 642, c.height = 362, c.fps = 25;
             c.bitrateKbps = 4000, c.configInBand = false, c.live = true;
             c.intraRefresh = true, c.startFrame = 1000;
             c.faults.spropTrailingComma = c.faults.noMarker = c.faults.singleNalUnits = true;
             c.faults.fragmentLossEvery = 7, c.faults.rtpClockPercent = 102;
             c.faults.noServerPort = c.faults.rtpFromOtherPort = true;
             c.faults.swapEveryNth = 5, c.faults.newSsrcAfterFrames = 9;
             c.faults.keyFramePadding = 1000;
         })},
        {"h265:16x4096@1,nosprop,nomarker,pause=3,resize=2", with([](ChannelConfig &c) {
             c.codec = Codec::H265, c.width = 16, c.height = 4096, c.fps = 1;
             c.faults.noSprop = c.faults.noMarker = true;
             c.faults.pauseSeconds = 3, c.faults.resizeAfterFrames = 2;
         })},
        // The marker switch is no NAL matter.
        {"jpeg:320x240@15,nomarker", with([](ChannelConfig &c) {
             c.codec = Codec::Jpeg, c.width = 320, c.height = 240, c.fps = 15;
             c.faults.noMarker = true;
         })},
    };
    for (const Case &c : cases) {
        std::string error;
        const auto got = parseChannelSpec(c.spec, error);
        ASSERT_TRUE(got) << c.spec << ": " << error;
        EXPECT_TRUE(*got == c.expected) << c.spec;
    }
    EXPECT_EQ(channelName(1), "CH01");
    EXPECT_EQ(channelName(12), "CH12");
}

TEST(ChannelConfigTest, BadSpecsSayWhy) {
    struct Case {
        const char *spec, *error;
    } cases[] = {
        {"h266:640x480@30",
         "expected CODEC:WxH@FPS with CODEC mpeg4, jpeg, h264 or h265, got 'h266:640x480@30'"},
        {"mpeg4", "expected WxH@FPS, got ''"},
        {"mpeg4:640x480@30,loud", "unknown channel setting 'loud'"},
        {"mpeg4:648x480@30", "width and height must be multiples of 16 from 16 to 4096"},
        {"jpeg:2064x480@30", "width and height must be multiples of 16 from 16 to 2048"},
        {"jpeg:320x240@61", "fps must be from 1 to 60"},
        {"jpeg:320x240@15,type=2", "JPEG type must be 0 or 1"},
        {"jpeg:320x240@15,q=127", "JPEG q must be from 1 to 99 or from 128 to 255"},
        {"jpeg:320x240@15,restart=65536", "restart interval must be from 0 to 65535"},
        {"jpeg:320x240@15,q=255,tables=0", "JPEG tables must be from 1 to 99"},
        {"mpeg4:320x240@15,bitrate=50001", "bitrate must be from 0 to 50000 kbit/s"},
        {"mpeg4:320x240@15,path=/live/", "unknown channel setting 'path=/live/'"},
        {"mpeg4:320x240@15,pathonly", "pathonly needs a path="},
        {"mpeg4:320x240@15,pt=95", "pt must be a dynamic payload type, 96 to 127"},
        {"mpeg4:320x240@15,channels=253", "channels must be from 0 to 252"},
        {"mpeg4:320x240@15,rtpclock=49", "rtpclock must be from 50 to 200 (percent)"},
        {"mpeg4:320x240@15,rtpclock=201", "rtpclock must be from 50 to 200 (percent)"},
        {"h264:641x480@30", "width and height must be even from 16 to 4096"},
        {"mpeg4:320x240@15,nosprop",
         "nosprop, spropcomma, mode0, fulossevery and keypad are for h264 and h265"},
        {"h265:320x240@15,spropcomma", "spropcomma is for h264"},
        {"h264:320x240@15,keypad=8000001", "keypad must be at most 8000000 bytes"},
        {"h264:320x240@15,nosprop,sdpconfig", "nosprop with sdpconfig leaves no parameter sets"},
        {"mpeg4:320x240@15,sdpconfig,resize=5", "resize needs the configuration in band"},
        {"h265:320x240@15,refresh", "refresh is for h264"},
        {"mpeg4:320x240@15,start=1001", "start must be from 0 to 1000"},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_FALSE(parseChannelSpec(c.spec, error)) << c.spec;
        EXPECT_EQ(error, c.error) << c.spec;
    }
}

}  // namespace
