// The once-a-second line and the summary of the ipcam tool over a scripted frame sequence;
// the status names it prints.
#include "tools/cli/stats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ipcam.h"
#include "tools/cli/status.h"

using namespace ipcam_cli;

namespace {

void add(FrameStats &s, int kind, std::string payload) {
    s.add(kind, reinterpret_cast<const unsigned char *>(payload.data()), payload.size());
}

std::string formatBlock(int codec, int width, int height, double rate) {
    StreamFormatBlock b{};
    b.videoCodec = codec;
    b.width = width;
    b.height = height;
    b.frameRate = rate;
    b.audioCodec = -1;
    return std::string(reinterpret_cast<const char *>(&b), sizeof b);
}

bool has(const std::string &line, const std::string &part) {
    return line.find(part) != std::string::npos;
}

TEST(CliStats, LinesCountEachIntervalByKind) {
    FrameStats s;
    // First second: a format block, one key and 4 dependent frames of 100 bytes, 3 audio
    // frames of 50, event 5, inputs 0x0201 (two bytes, little-endian).
    add(s, IPCAM_MSG_FORMAT, formatBlock(4, 640, -480, 25));
    add(s, IPCAM_FRAME_KEY, std::string(100, 'k'));
    for (int i = 0; i < 4; ++i) add(s, IPCAM_FRAME_DEPENDENT, std::string(100, 'd'));
    for (int i = 0; i < 3; ++i) add(s, IPCAM_FRAME_AUDIO, std::string(50, 'a'));
    add(s, IPCAM_MSG_EVENT, "\x05");
    add(s, IPCAM_MSG_INPUT, std::string("\x01\x02", 2));
    const std::string first = s.tick(1.0);
    // 44 + 500 + 150 + 1 + 2 bytes
    for (const char *part : {"key 1 ", "dependent 4 ", "droppable 0 ", "audio 3 ", "0.7 kB/s",
                             "MPEG-4 640x480 @25", "events 1", "event 5", "inputs 0x201"})
        EXPECT_TRUE(has(first, part)) << part << " in " << first;

    // Two seconds with droppable frames only: rates are per second, the last event, inputs and
    // format stay.
    for (int i = 0; i < 6; ++i) add(s, IPCAM_FRAME_DROPPABLE, std::string(1000, 'p'));
    const std::string second = s.tick(2.0);
    for (const char *part : {"key 0 ", "dependent 0 ", "droppable 3 ", "audio 0 ", "3.0 kB/s",
                             "MPEG-4 640x480", "events 0", "event 5", "inputs 0x201"})
        EXPECT_TRUE(has(second, part)) << part << " in " << second;

    EXPECT_EQ(s.videoFrames(), 11u);
    const std::string summary = s.summary(3.0);
    for (const char *part : {"summary: 3.0 s", "11 video frames (1 key, 4 dependent, 6 droppable)",
                             "3 audio frames", "6697 bytes", "1 events", "1 input changes"})
        EXPECT_TRUE(has(summary, part)) << part << " in " << summary;
}

TEST(CliStats, FormatAndDecodingAreShownAsTheyCome) {
    FrameStats s;
    EXPECT_TRUE(has(s.tick(1.0), "format unknown"));
    EXPECT_TRUE(has(s.tick(1.0), "event - inputs -"));
    add(s, IPCAM_MSG_FORMAT, formatBlock(0, -320, 240, 7.5));
    add(s, IPCAM_MSG_INPUT, "\x03");
    s.addDecoded();
    s.addDecoded();
    s.addDecodeError();
    const std::string line = s.tick(1.0);
    EXPECT_TRUE(has(line, "JPEG 320x240 @7.5")) << line;
    EXPECT_TRUE(has(line, "inputs 0x03")) << line;
    EXPECT_TRUE(has(line, "decoded 2 errors 1")) << line;
    EXPECT_FALSE(has(line, "losses")) << line;
    add(s, IPCAM_MSG_DAMAGE, "");
    const std::string lossLine = s.tick(1.0);
    EXPECT_FALSE(has(lossLine, "decoded")) << "decoding counts are per interval";
    EXPECT_TRUE(has(lossLine, "| losses 1")) << lossLine;
    EXPECT_TRUE(has(s.summary(2.0), "decoded 2, decode errors 1, losses 1"));
    EXPECT_EQ(s.videoFrames(), 0u);  // the loss is no frame
    // A block too short for a format leaves the format as it was.
    add(s, IPCAM_MSG_FORMAT, "short");
    EXPECT_EQ(s.format().videoCodec, 0);
    add(s, IPCAM_MSG_FORMAT, formatBlock(9, 16, 16, 1));
    EXPECT_TRUE(has(s.tick(1.0), "H.265 16x16 @1"));
    add(s, IPCAM_MSG_FORMAT, formatBlock(11, 16, 16, 1));  // a number the tool has no name for
    EXPECT_TRUE(has(s.tick(1.0), "codec 11 16x16 @1"));
}

TEST(CliStatus, NamedAndUnknownCodes) {
    struct Case {
        int code;
        const char *name;
    } cases[] = {
        {IPCAM_OK, "IPCAM_OK"},
        {IPCAM_USER_OR_PASSWD_IS_ER, "IPCAM_USER_OR_PASSWD_IS_ER"},
        {IPCAM_IS_OVER, "IPCAM_IS_OVER"},
        {-8, "Unknow status:-8"},
        {-18, "Unknow status:-18"},
        {5, "Unknow status:5"},
    };
    for (const Case &c : cases) EXPECT_EQ(statusName(c.code), c.name);
    // Waiting goes on through passing trouble and stops at what retrying cannot mend.
    EXPECT_FALSE(statusIsFinal(IPCAM_IS_UNCONNECTED));
    EXPECT_FALSE(statusIsFinal(IPCAM_VIDEO_GETFRAME_IS_ER));
    EXPECT_TRUE(statusIsFinal(IPCAM_DDNS_IS_ER));
    EXPECT_TRUE(statusIsFinal(IPCAM_USER_OR_PASSWD_IS_ER));
}

}  // namespace
