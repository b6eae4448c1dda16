// Recording and decoding in the ipcam tool: the files it writes, the codec it assumes, and
// the snapshot JPEG made from a decoded MPEG-4 picture.
#include "tools/cli/writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ipcam.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "tools/cli/decode.h"

using namespace ipcam_cli;

namespace {

const unsigned char *bytes(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

using kestrel_test::readFile;
using kestrel_test::TempDir;

// Decodes every frame, each followed by trailer: the pictures given back, or -1 at the first
// frame the decoder refuses.
int decodeEach(VideoDecoder &decoder, const std::vector<std::string> &frames,
               const std::string &trailer = "") {
    int pictures = 0;
    for (const std::string &f : frames) {
        const std::string data = f + trailer;
        const int n = decoder.decode(bytes(data), data.size());
        if (n < 0) return -1;
        pictures += n;
    }
    return pictures;
}

TEST(CliWriter, CodecFromFormatAndFromTheBytes) {
    EXPECT_EQ(codecFromFormat(0), VideoCodec::Jpeg);
    EXPECT_EQ(codecFromFormat(4), VideoCodec::Mpeg4);
    EXPECT_EQ(codecFromFormat(1), VideoCodec::Unknown);
    struct Case {
        std::string data;
        VideoCodec codec;
    } cases[] = {
        {std::string("\xFF\xD8\xFF\xDB", 4), VideoCodec::Jpeg},
        {std::string("\x00\x00\x01\xB0\x01", 5), VideoCodec::Mpeg4},
        {std::string("\x00\x00\x01\xB6", 4), VideoCodec::Mpeg4},
        {std::string("\x00\x00\x02\xB6", 4), VideoCodec::Unknown},
        {std::string("\xFF", 1), VideoCodec::Unknown},
        {std::string(), VideoCodec::Unknown},
    };
    for (const Case &c : cases) EXPECT_EQ(sniffCodec(bytes(c.data), c.data.size()), c.codec);
}

TEST(CliWriter, StreamsStartAtTheFirstKeyFrameAndDecode) {
    struct Case {
        VideoCodec codec;
        kestrel_test::TestCodec encoder;
        const char *file;
    } cases[] = {
        {VideoCodec::Mpeg4, kestrel_test::TestCodec::Mpeg4, "video.m4v"},
        {VideoCodec::H264, kestrel_test::TestCodec::H264, "video.h264"},
        {VideoCodec::H265, kestrel_test::TestCodec::H265, "video.h265"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir;
        Recorder r(dir.path + "/nested");
        ASSERT_TRUE(r.open());
        const std::vector<std::string> frames = kestrel_test::encodeVideo(c.encoder, 64, 48, 8, 4);
        ASSERT_EQ(frames.size(), 8u);
        // A dependent frame before any key frame cannot be decoded: it is left out.
        ASSERT_TRUE(r.add({c.codec, IPCAM_FRAME_DEPENDENT, bytes(frames[1]), frames[1].size()}));
        std::string expected;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const int kind = i % 4 == 0 ? IPCAM_FRAME_KEY : IPCAM_FRAME_DEPENDENT;
            ASSERT_TRUE(r.add({c.codec, kind, bytes(frames[i]), frames[i].size()}));
            expected += frames[i];
            // A picture of another codec in the middle of the stream is not written into it.
            const VideoCodec other = c.codec == VideoCodec::H264 ? VideoCodec::H265 : VideoCodec::H264;
            if (i == 5) {
                ASSERT_TRUE(r.add({other, IPCAM_FRAME_KEY, bytes(frames[0]), frames[0].size()}));
            }
        }
        ASSERT_TRUE(r.close());
        EXPECT_EQ(r.written(), frames.size());
        EXPECT_EQ(r.skipped(), 2u);
        EXPECT_EQ(readFile(r.streamPath()), expected);
        EXPECT_EQ(r.streamPath(), dir.path + "/nested/" + c.file);

        // What was written plays, picture by picture, in the tool's own decoder.
        VideoDecoder decoder(c.codec);
        ASSERT_TRUE(decoder.ready()) << decoder.error();
        EXPECT_GE(decodeEach(decoder, frames), 6) << decoder.error();
        EXPECT_EQ(decoder.width(), 64);
        EXPECT_EQ(decoder.height(), 48);
    }
}

TEST(CliWriter, JpegPicturesGoToNumberedFiles) {
    TempDir dir;
    Recorder r(dir.path);
    ASSERT_TRUE(r.open());
    std::vector<std::string> pictures;
    for (int q : {20, 50, 80}) pictures.push_back(kestrel_test::encodeJpeg({.quality = q}));
    for (const std::string &p : pictures)
        ASSERT_TRUE(r.add({VideoCodec::Jpeg, IPCAM_FRAME_KEY, bytes(p), p.size()}));
    ASSERT_TRUE(r.add({VideoCodec::Jpeg, IPCAM_FRAME_KEY, nullptr, 0}));  // empty: skipped
    ASSERT_TRUE(r.close());
    EXPECT_EQ(r.written(), 3u);
    EXPECT_EQ(r.jpegPath(1), dir.path + "/000001.jpg");
    for (std::size_t i = 0; i < pictures.size(); ++i)
        EXPECT_EQ(readFile(r.jpegPath(i + 1)), pictures[i]);
    EXPECT_FALSE(std::filesystem::exists(r.jpegPath(4)));
    EXPECT_FALSE(std::filesystem::exists(r.streamPath()));
}

TEST(CliWriter, ADirectoryThatCannotBeMadeIsReported) {
    TempDir dir;
    std::filesystem::create_directories(dir.path);
    std::ofstream(dir.path + "/file") << "x";
    Recorder r(dir.path + "/file/sub");
    EXPECT_FALSE(r.open());
    EXPECT_NE(r.error().find("cannot create directory"), std::string::npos);
}

TEST(CliDecode, Mpeg4PicturesDecodeAndCompressToAJpegOfTheSameSize) {
    VideoDecoder decoder(VideoCodec::Mpeg4);
    ASSERT_TRUE(decoder.ready()) << decoder.error();
    const std::vector<std::string> frames = kestrel_test::encodeMpeg4(96, 64, 3, 3);
    // The trailer some framings add after a picture must not disturb the decoder.
    EXPECT_GE(decodeEach(decoder, frames, std::string("\x00\x00\x01\xF8", 4)), 2)
        << decoder.error();
    EXPECT_EQ(decoder.width(), 96);
    EXPECT_EQ(decoder.height(), 64);
    const std::string jpeg = compressJpeg(decoder.picture(), 90);
    const kestrel_test::Decoded d = kestrel_test::decodeJpeg(jpeg);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.width, 96);
    EXPECT_EQ(d.height, 64);
}

TEST(CliDecode, JpegPicturesDecodeAndDamageIsAnError) {
    VideoDecoder decoder(VideoCodec::Jpeg);
    ASSERT_TRUE(decoder.ready());
    const std::string jpeg = kestrel_test::encodeJpeg({.width = 80, .height = 32});
    EXPECT_EQ(decoder.decode(bytes(jpeg), jpeg.size()), 1) << decoder.error();
    EXPECT_EQ(decoder.width(), 80);
    // The mjpeg decoder's full-range picture compresses back to the same size.
    EXPECT_EQ(kestrel_test::decodeJpeg(compressJpeg(decoder.picture(), 75)).width, 80);

    const std::string garbage(200, '\x5A');
    EXPECT_LT(decoder.decode(bytes(garbage), garbage.size()), 1);
    EXPECT_EQ(compressJpeg(nullptr, 75), "");
    EXPECT_FALSE(VideoDecoder(VideoCodec::Unknown).ready());
}

}  // namespace

// A picture cut short is an error, unless a loss was announced: then it is concealed.
TEST(CliDecode, DamageAfterALossIsConcealed) {
    const auto frames = kestrel_test::encodeVideo(kestrel_test::TestCodec::H264, 64, 48, 3, 3);
    const std::string cut = frames.at(2).substr(0, frames[2].size() / 2);
    for (const bool expected : {false, true}) {
        VideoDecoder decoder(VideoCodec::H264);
        ASSERT_EQ(decodeEach(decoder, {frames[0], frames[1]}), 2) << decoder.error();
        decoder.expectDamage(expected);
        EXPECT_EQ(decoder.decode(bytes(cut), cut.size()), expected ? 1 : -1) << expected;
    }
}
