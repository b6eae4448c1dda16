#include <gtest/gtest.h>

#include "transport/rtsp_client.h"

using namespace ipcam;

namespace {

TEST(SdpTest, MediaLines) {
    struct Case {
        const char *section;
        int result;
        int32_t codec, clock, channels;  // -9 where nothing is stored
    } cases[] = {
        {"m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=control:track1\r\n", 1, 4, 90000,
         0},
        {"m=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/8000/1\r\n", 1, 7, 8000, 0},
        {"m=audio 0 RTP/AVP 97\r\na=rtpmap:97 ADPCM/16000/2\r\n", 1, 6, 16000, 1},
        {"m=audio 0 RTP/AVP 98\r\na=rtpmap:98 AMR/8000/8000\r\n", 1, 7, 8000,
         0},  // count equal to the clock: one
        {"m=video 0 RTP/AVP 26\r\na=control:track1\r\n", 1, 0, 8000, 0},
        {"m=audio 0 RTP/AVP 14\r\n", 1, 3, 8000, 0},
        {"m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", 0, -1, -9, -9},
        {"m=video 0 RTP/AVP 96\r\na=control:x\r\n", 0, -1, -9, -9},  // no rtpmap: no name
        {"m=audio 0 RTP/AVP 0\r\n", 0, -9, -9, -9},
        {"m=video 0 RTP/AVP 96", 0, -9, -9, -9},                             // no line end
        {"m=video 0 RTP/AVP 99\r\na=rtpmap:99 MP4V-ES\r\n", 0, -1, -9, -9},  // no clock
        {"m=video 0 RTP/AVP 99999999999999999999\r\n", 0, -9, -9, -9},
    };
    for (const Case &c : cases) {
        int32_t codec = -9, clock = -9, channels = -9;
        EXPECT_EQ(parseMediaLine(c.section, &codec, &clock, &channels), c.result) << c.section;
        EXPECT_EQ(codec, c.codec) << c.section;
        EXPECT_EQ(clock, c.clock) << c.section;
        EXPECT_EQ(channels, c.channels) << c.section;
    }
    int32_t codec = -9;
    EXPECT_EQ(parseMediaLine("m=video 0 RTP/AVP 26\r\n", &codec, nullptr, nullptr), 1);
    EXPECT_EQ(codec, 0);
    EXPECT_EQ(parseMediaLine(nullptr, &codec, nullptr, nullptr), 0);
}

}  // namespace
