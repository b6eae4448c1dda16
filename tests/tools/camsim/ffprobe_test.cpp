// Other clients play the simulator: FFmpeg's RTSP client over TCP and over UDP.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/camsim/rtsp_server.h"

using namespace camsim;

namespace {

bool onPath(const std::string &tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The command's standard output and error together; a hung tool is ended by timeout(1).
std::string run(const std::string &command) {
    std::string out;
    if (FILE *p = popen(("timeout 10 " + command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            out.append(buffer, n);
        pclose(p);
    }
    return out;
}

class FfmpegPlaysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!onPath("ffprobe") || !onPath("ffmpeg")) GTEST_SKIP() << "ffprobe/ffmpeg not on PATH";
        server.addChannel({.width = 320, .height = 240, .audio = true});
        server.addChannel({.codec = ChannelConfig::Codec::Jpeg,
                           .width = 320,
                           .height = 176,
                           .jpegType = 0,
                           .jpegQ = 255,
                           .restartInterval = 4});
        ASSERT_TRUE(server.start());
    }

    std::string url(const std::string &path) const {
        return "rtsp://127.0.0.1:" + std::to_string(server.port()) + "/" + path;
    }

    StreamingServer server;
};

TEST_F(FfmpegPlaysTest, FfprobeSeesCodecAndSizeOverBothTransports) {
    struct Case {
        const char *transport, *path, *expected;
    } cases[] = {
        {"tcp", "CH01", "codec_name=mpeg4|width=320|height=240\ncodec_name=mp2\n"},
        {"udp", "CH01", "codec_name=mpeg4|width=320|height=240\ncodec_name=mp2\n"},
        {"tcp", "CH02", "codec_name=mjpeg|width=320|height=176\n"},
        {"udp", "CH02", "codec_name=mjpeg|width=320|height=176\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(
            run(std::string("ffprobe -v error -rtsp_transport ") + c.transport +
                " -show_entries stream=codec_name,width,height -of compact=p=0 " + url(c.path)),
            c.expected)
            << c.transport << " " << c.path;
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

TEST_F(FfmpegPlaysTest, FfmpegDecodesWithoutErrors) {
    for (const char *path : {"CH01", "CH02"})
        EXPECT_EQ(run("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + url(path) +
                      " -frames:v 10 -f null -"),
                  "")
            << path;
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

}  // namespace
