#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ipcam.h"
#include "transport/rtsp_reply.h"
#include "transport/sdp.h"

using namespace ipcam;

namespace {

// Descriptions in the forms servers send, and what the client takes from each: the video and
// audio it would play and the URLs it would set up against the base.
TEST(SdpDescriptionTest, ReadsDescriptionsAsAWhole) {
    const std::string base = "rtsp://10.1.1.1/cam/realmonitor?channel=1&subtype=0";
    struct Case {
        const char *name;
        std::string body;
        bool accepted;
        int32_t video;  // videoCodec of firstVideo, -9 for none
        int32_t audio, clock, channels;
        std::string videoUrl, audioUrl;
    } cases[] = {
        {"CRLF, MPEG-4 and AMR",
         "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=cam\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\n"
         "a=rtpmap:96 MP4V-ES/90000\r\na=control:track1\r\nm=audio 0 RTP/AVP 97\r\n"
         "a=rtpmap:97 AMR/8000/1\r\na=control:track2\r\n",
         true, 4, 7, 8000, 0, base + "/track1", base + "/track2"},
        {"LF only, lower-case names",
         "v=0\nm=video 0 RTP/AVP 96\na=rtpmap:96 mp4v-es/90000\na=control:trackID=0\n"
         "m=audio 0 RTP/AVP 97\na=rtpmap:97 adpcm/16000/2\na=control:trackID=1\n",
         true, 4, 6, 16000, 1, base + "/trackID=0", base + "/trackID=1"},
        {"trailing blanks",
         "v=0 \r\nm=video 0 RTP/AVP 26 \r\na=control:track1  \t\r\nm=audio 0 RTP/AVP 14\t\r\n"
         "a=control:track2 \r\n",
         true, 0, 3, 8000, 0, base + "/track1", base + "/track2"},
        {"rtpmap of another format ignored",
         "v=0\r\nm=video 0 RTP/AVP 97\r\na=rtpmap:96 MP4V-ES/90000\r\na=rtpmap:97 JPEG/90000\r\n"
         "a=control:v\r\n",
         true, 0, -9, 0, 0, base + "/v", ""},
        {"only another format's rtpmap",
         "v=0\r\nm=video 0 RTP/AVP 97\r\na=rtpmap:96 MP4V-ES/90000\r\na=control:v\r\n", true, -9,
         -9, 0, 0, "", ""},
        {"payload types 100-127",
         "v=0\r\nm=video 0 RTP/AVP 127\r\na=rtpmap:127 MP4V-ES/90000\r\na=control:v\r\n"
         "m=audio 0 RTP/AVP 100\r\na=rtpmap:100 AMR/8000\r\na=control:a\r\n",
         true, 4, 7, 8000, 0, base + "/v", base + "/a"},
        {"payload type above 127",
         "v=0\r\nm=video 0 RTP/AVP 128\r\na=rtpmap:128 MP4V-ES/90000\r\na=control:v\r\n", true, -9,
         -9, 0, 0, "", ""},
        {"absolute controls with a query",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n"
         "a=control:rtsp://10.1.1.1:554/cam/realmonitor?channel=1&subtype=0/trackID=0\r\n",
         true, 4, -9, 0, 0, "rtsp://10.1.1.1:554/cam/realmonitor?channel=1&subtype=0/trackID=0",
         ""},
        {"relative control with a query",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n"
         "a=control:trackID=1?transportmode=unicast\r\n",
         true, 4, -9, 0, 0, base + "/trackID=1?transportmode=unicast", ""},
        {"session-level control and '*'",
         "v=0\r\na=control:*\r\nm=video 0 RTP/AVP 26\r\na=control:*\r\n", true, 0, -9, 0, 0, base,
         ""},
        {"several video sections: the first usable wins",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 VP8/90000\r\na=control:vp8\r\n"
         "m=video 0 RTP/AVP 97\r\na=rtpmap:97 MP4V-ES/90000\r\na=control:mp4\r\n"
         "m=video 0 RTP/AVP 26\r\na=control:jpeg\r\n",
         true, 4, -9, 0, 0, base + "/mp4", ""},
        {"unknown video codec only",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 VP8/90000\r\na=control:v\r\n", true, -9, -9,
         0, 0, "", ""},
        {"H.264 and H.265, names in any case",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 h264/90000\r\na=control:a\r\n"
         "m=video 0 RTP/AVP 97\r\na=rtpmap:97 H265/90000\r\na=control:b\r\n",
         true, IPCAM_VIDEO_H264, -9, 0, 0, base + "/a", ""},
        {"audio only", "v=0\r\nm=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/8000/1\r\na=control:a\r\n",
         true, -9, 7, 8000, 0, "", base + "/a"},
        {"no media", "v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=x\r\n", false, -9, -9, 0, 0, "", ""},
        {"garbage", "\x01\x02\x03m\r\n=\n\n=m=video", false, -9, -9, 0, 0, "", ""},
        {"too many sections",
         [] {
             std::string b = "v=0\r\n";
             for (std::size_t i = 0; i <= kMaxSections; ++i) b += "m=video 0 RTP/AVP 26\r\n";
             return b;
         }(),
         false, -9, -9, 0, 0, "", ""},
        {"too long", "m=video 0 RTP/AVP 26\r\n" + std::string(kMaxDescription, ' '), false, -9, -9,
         0, 0, "", ""},
    };
    for (const Case &c : cases) {
        auto d = parseDescription(c.body);
        ASSERT_EQ(d.has_value(), c.accepted) << c.name;
        if (!d) continue;
        const MediaSection *video = firstVideo(*d);
        const MediaSection *audio = firstAudio(*d);
        EXPECT_EQ(video ? videoCodec(*video) : -9, c.video) << c.name;
        EXPECT_EQ(audio ? audioCodec(*audio) : -9, c.audio) << c.name;
        EXPECT_EQ(audio ? clockRate(*audio) : 0, c.clock) << c.name;
        EXPECT_EQ(audio ? channelCode(*audio) : 0, c.channels) << c.name;
        EXPECT_EQ(video ? resolveControl(base, video->control) : "", c.videoUrl) << c.name;
        EXPECT_EQ(audio ? resolveControl(base, audio->control) : "", c.audioUrl) << c.name;
    }
}

TEST(SdpDescriptionTest, ReadsSectionsAndSessionControl) {
    auto d = parseDescription(
        "v=0\r\na=control:rtsp://h/s/\r\na=control:second\r\nm=video 5000 RTP/AVP 96 26\r\n"
        "a=fmtp:96 profile-level-id=1;config=000001B0F5;x=1\r\na=rtpmap:96 MP4V-ES/90000\r\n"
        "a=control:v1\r\na=control:v2\r\nm=application 0 RTP/AVP x\r\nm=audio 0 RTP/AVP 8\r\n");
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->control, "rtsp://h/s/");
    ASSERT_EQ(d->media.size(), 3u);
    EXPECT_EQ(d->media[0].kind, "video");
    EXPECT_EQ(d->media[0].payloadType, 96);
    EXPECT_EQ(d->media[0].encoding, "MP4V-ES");
    EXPECT_EQ(d->media[0].clockRate, 90000);
    EXPECT_EQ(d->media[0].control, "v1");
    EXPECT_EQ(d->media[1].kind, "application");
    EXPECT_EQ(d->media[1].payloadType, -1);
    EXPECT_EQ(d->media[2].payloadType, 8);
    EXPECT_EQ(audioCodec(d->media[2]), -1);
    EXPECT_EQ(firstAudio(*d), nullptr);
}

TEST(SdpDescriptionTest, ReadsFmtpAndConfig) {
    struct Case {
        const char *fmtp;
        const char *name;
        const char *value;            // nullptr: absent
        std::vector<uint8_t> config;  // empty: refused or absent
    } cases[] = {
        {"profile-level-id=1;config=000001B0F5",
         "config",
         "000001B0F5",
         {0x00, 0x00, 0x01, 0xB0, 0xF5}},
        {"profile-level-id=1; CONFIG = 000001b0f5 ;x=1",
         "Config",
         "000001b0f5",
         {0x00, 0x00, 0x01, 0xB0, 0xF5}},
        {"config=000001B", "config", "000001B", {}},  // odd length
        {"config=000001BG", "config", "000001BG", {}},
        {"config=", "config", "", {}},
        {"profile-level-id=1", "config", nullptr, {}},
        {"configuration=00", "config", nullptr, {}},
        {"", "config", nullptr, {}},
    };
    for (const Case &c : cases) {
        auto d =
            parseDescription(std::string("m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n"
                                         "a=fmtp:97 config=FFFF\r\na=fmtp:96 ") +
                             c.fmtp + "\r\n");
        ASSERT_TRUE(d.has_value()) << c.fmtp;
        auto value = fmtpParameter(d->media[0], c.name);
        EXPECT_EQ(value.has_value(), c.value != nullptr) << c.fmtp;
        if (value && c.value) {
            EXPECT_EQ(*value, c.value) << c.fmtp;
        }
        auto config = mpeg4Config(d->media[0]);
        EXPECT_EQ(config.value_or(std::vector<uint8_t>{}), c.config) << c.fmtp;
    }
}

// The frame rate a section states: the first a=framerate or a=x-framerate of the section
// itself, a plain decimal within range; anything else counts as not stated.
TEST(SdpDescriptionTest, ReadsTheStatedFrameRate) {
    struct Case {
        const char *lines;
        double rate;
    } cases[] = {
        {"a=framerate:25\r\n", 25},
        {"a=framerate: 29.97 \r\n", 29.97},
        {"a=x-framerate:15\r\n", 15},
        {"a=FrameRate:12.5\r\na=framerate:30\r\n", 12.5},
        {"a=framerate:240\r\n", 240},
        {"a=framerate:241\r\n", 0},
        {"a=framerate:0\r\n", 0},
        {"a=framerate:-5\r\n", 0},
        {"a=framerate:1e3\r\n", 0},
        {"a=framerate:nan\r\n", 0},
        {"a=framerate:inf\r\n", 0},
        {"a=framerate:25fps\r\n", 0},
        {"a=framerate:\r\n", 0},
        {"a=framerate\r\n", 0},
        {"", 0},
    };
    for (const Case &c : cases) {
        auto d = parseDescription(std::string("v=0\r\na=framerate:50\r\nm=video 0 RTP/AVP 26\r\n") +
                                  c.lines + "m=audio 0 RTP/AVP 14\r\na=framerate:7\r\n");
        ASSERT_TRUE(d.has_value()) << c.lines;
        EXPECT_DOUBLE_EQ(d->media[0].frameRate, c.rate) << c.lines;
    }
}

}  // namespace
