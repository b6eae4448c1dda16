// Recording into .mkv and .mp4 files: every codec in both containers, read back by ffprobe
// with its size, its pictures and a duration that follows the frames' times through time
// steps and keeps the time the stream was away; and the failures a user can meet.
#include "tools/cli/container_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ipcam.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "tools/cli/file_probe.h"

using namespace ipcam_cli;

namespace {

using kestrel_test::TempDir;

constexpr uint64_t kMillisecond = 10'000;  // in frame time units of 100 ns
constexpr uint64_t kFirstTime = 130'000'000'000'000'000ULL;

const unsigned char *bytesOf(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

std::vector<std::string> picturesOf(VideoCodec codec, int count) {
    switch (codec) {
    case VideoCodec::Mpeg4: return kestrel_test::encodeVideo(kestrel_test::TestCodec::Mpeg4, 64, 48, count, 6);
    case VideoCodec::H264: return kestrel_test::encodeVideo(kestrel_test::TestCodec::H264, 64, 48, count, 6);
    case VideoCodec::H265: return kestrel_test::encodeVideo(kestrel_test::TestCodec::H265, 64, 48, count, 6);
    default: break;
    }
    std::vector<std::string> jpegs;
    for (int i = 0; i < count; ++i) jpegs.push_back(kestrel_test::encodeJpeg({.quality = 30 + i}));
    return jpegs;
}

TEST(CliContainer, EveryCodecInBothContainersReadsBackAtItsPictureTimes) {
    if (!kestrel_test::onPath("ffprobe")) GTEST_SKIP() << "ffprobe not on PATH";
    struct Case {
        VideoCodec codec;
        const char *probed;
        bool format;  // a format block came before the pictures (else their size is decoded)
        const char *mp4Tag;
    } cases[] = {
        {VideoCodec::H264, "h264", true, "avc3"},
        {VideoCodec::H265, "hevc", true, "hev1"},
        {VideoCodec::Mpeg4, "mpeg4", true, "mp4v"},
        {VideoCodec::Jpeg, "mjpeg", false, "mp4v"},
    };
    constexpr int kPictures = 12;
    for (const Case &c : cases) {
        const std::vector<std::string> pictures = picturesOf(c.codec, kPictures);
        ASSERT_EQ(pictures.size(), std::size_t{kPictures});
        for (const char *extension : {".mkv", ".mp4"}) {
            SCOPED_TRACE(std::string(c.probed) + extension);
            TempDir dir;
            std::filesystem::create_directories(dir.path);
            const std::string path = dir.path + "/video" + extension;
            ContainerWriter w(path);
            ASSERT_TRUE(w.open()) << w.error();
            if (c.format) {
                StreamFormatBlock format{};
                format.width = 64;
                format.height = 48;
                format.frameRate = 25;
                w.noteFormat(format);
            }
            // Nothing plays before the first key frame.
            if (c.codec != VideoCodec::Jpeg) {
                ASSERT_TRUE(w.add({c.codec, IPCAM_FRAME_DEPENDENT, bytesOf(pictures[1]),
                                   pictures[1].size(), kFirstTime}));
            }
            // Pictures 40 ms apart, as frame times go: two arrive together, the stream
            // restarts after 3 s away with its clock 10 s ahead, and later its time goes back
            // 5 s unannounced.
            uint64_t time = kFirstTime, arrival = 1;
            for (int i = 0; i < kPictures; ++i) {
                if (i == 7) {
                    w.noteTimeStep();
                    time += 10'000 * kMillisecond;
                    arrival += 3'000 * kMillisecond;
                }
                if (i == 10) time -= 5'000 * kMillisecond;
                const int kind = i % 6 == 0 || c.codec == VideoCodec::Jpeg ? IPCAM_FRAME_KEY
                                                                           : IPCAM_FRAME_DEPENDENT;
                ASSERT_TRUE(w.add({c.codec, kind, bytesOf(pictures[i]), pictures[i].size(),
                                   i == 2 ? time - 40 * kMillisecond : time, arrival}))
                    << w.error();
                // A picture of another codec is not mixed into the stream.
                if (i == 3) {
                    ASSERT_TRUE(w.add({c.codec == VideoCodec::H264 ? VideoCodec::H265
                                                                   : VideoCodec::H264,
                                       IPCAM_FRAME_KEY, bytesOf(pictures[0]), pictures[0].size(),
                                       time}));
                }
                time += 40 * kMillisecond;
                arrival += 40 * kMillisecond;
            }
            ASSERT_TRUE(w.close()) << w.error();
            EXPECT_EQ(w.written(), std::size_t{kPictures});
            EXPECT_EQ(w.skipped(), c.codec == VideoCodec::Jpeg ? 1u : 2u);

            const kestrel_test::FileProbe p = kestrel_test::probeFile(path);
            EXPECT_EQ(p.complaints, "");
            EXPECT_EQ(p.codec, c.probed);
            EXPECT_EQ(p.width, 64);
            EXPECT_EQ(p.height, 48);
            EXPECT_EQ(p.pictures, kPictures);
            EXPECT_EQ(p.tag, extension == std::string(".mp4") ? c.mp4Tag : "[0][0][0][0]");
            EXPECT_FALSE(p.created.empty());
            // Twelve pictures of 40 ms and the 3 s away, whatever the clock did in between.
            EXPECT_NEAR(p.duration, kPictures * 0.040 + 3, 0.011);
        }
    }
}

TEST(CliContainer, FailuresAreSaidAndNoEmptyFileIsLeft) {
    TempDir dir;
    std::filesystem::create_directories(dir.path);

    ContainerWriter missing(dir.path + "/no/such/dir/video.mp4");
    EXPECT_FALSE(missing.open());
    EXPECT_NE(missing.error().find("cannot create " + dir.path + "/no/such/dir/video.mp4"),
              std::string::npos)
        << missing.error();

    // A recording that never saw a key frame leaves nothing behind, and an earlier recording
    // of the same name as it was.
    const std::vector<std::string> h264 = picturesOf(VideoCodec::H264, 3);
    for (bool earlier : {false, true}) {
        SCOPED_TRACE(earlier ? "over an earlier file" : "no file before");
        const std::string never = dir.path + "/never.mkv";
        if (earlier) {
            std::ofstream(never) << "earlier";
        }
        ContainerWriter w(never);
        ASSERT_TRUE(w.open());
        ASSERT_TRUE(
            w.add({VideoCodec::H264, IPCAM_FRAME_DEPENDENT, bytesOf(h264[1]), h264[1].size()}));
        EXPECT_TRUE(w.close());
        EXPECT_EQ(w.written(), 0u);
        EXPECT_EQ(std::filesystem::exists(never), earlier);
        if (earlier) {
            EXPECT_EQ(kestrel_test::readFile(never), "earlier");
        }
    }

    // A key frame without its parameter sets cannot start an H.264 file.
    const std::string &key = h264[0];
    const std::size_t slice = key.find(std::string("\x00\x00\x01\x65", 4));
    ASSERT_NE(slice, std::string::npos);
    const std::string bare = key.substr(slice);
    ContainerWriter bareKey(dir.path + "/bare.mp4");
    ASSERT_TRUE(bareKey.open());
    StreamFormatBlock format{};
    format.width = 64;
    format.height = 48;
    bareKey.noteFormat(format);
    EXPECT_FALSE(bareKey.add({VideoCodec::H264, IPCAM_FRAME_KEY, bytesOf(bare), bare.size()}));
    EXPECT_NE(bareKey.error().find("no parameter sets"), std::string::npos) << bareKey.error();
}

TEST(CliContainer, TheExtensionChoosesTheContainer) {
    struct Case {
        const char *path;
        const char *format;
    } cases[] = {{"/tmp/a.mkv", "matroska"}, {"/tmp/a.MP4", "mp4"}, {"rec.Mkv", "matroska"},
                 {"/tmp/a.mov", nullptr},    {"/tmp/rec", nullptr}, {"/tmp/.mp4", nullptr},
                 {"/tmp/mp4", nullptr}};
    for (const Case &c : cases) {
        const char *format = containerFormat(c.path);
        EXPECT_EQ(format ? std::string(format) : "", c.format ? std::string(c.format) : "")
            << c.path;
    }
}

}  // namespace
