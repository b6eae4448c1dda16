#include "viewer/snapshot_writer.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "support/temp_dir.h"
#include "viewer/data_directory.h"

namespace kestrel {
namespace {

using kestrel_test::TempDir;

struct Picture {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> rgb;
};

struct ErrorJump {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

void jumpBack(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorJump *>(cinfo->err)->back, 1);
}

// Decodes a JPEG file with libjpeg into R,G,B rows.
bool decode(std::FILE *f, Picture &out) {
    jpeg_decompress_struct cinfo;
    ErrorJump err;
    cinfo.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = jumpBack;
    if (setjmp(err.back)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    out.components = cinfo.num_components;
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            out.rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

Picture readJpeg(const std::string &path) {
    Picture out;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    out.ok = decode(f, out);
    std::fclose(f);
    return out;
}

// B,G,R rows: the top rows one colour, the rest another.
std::vector<uint8_t> twoBands(int width, int height, int split, const uint8_t top[3],
                              const uint8_t bottom[3]) {
    std::vector<uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                bgr[(static_cast<std::size_t>(y) * width + x) * 3 + c] =
                    (y < split ? top : bottom)[c];
    return bgr;
}

TEST(SnapshotWriter, FileNameFromLocalTime) {
    const struct {
        int mon, mday, hour, min, sec;
        const char *expected;
    } cases[] = {{0, 2, 3, 4, 5, "0102_030405.jpg"},
                 {11, 31, 23, 59, 59, "1231_235959.jpg"},
                 {8, 10, 0, 0, 0, "0910_000000.jpg"}};
    for (const auto &c : cases) {
        std::tm t{};
        t.tm_mon = c.mon;
        t.tm_mday = c.mday;
        t.tm_hour = c.hour;
        t.tm_min = c.min;
        t.tm_sec = c.sec;
        EXPECT_EQ(snapshotFileName(t), c.expected);
    }
}

TEST(SnapshotWriter, PictureSurvivesTheRoundTrip) {
    TempDir dir;
    const uint8_t red[3] = {0, 0, 255}, blue[3] = {255, 0, 0};
    // Odd width: rows of 99 bytes with nothing between them.
    const int width = 33, height = 17;
    const std::vector<uint8_t> bgr = twoBands(width, height, 8, red, blue);
    const std::string path = dir.path + "/round.jpg";
    ASSERT_TRUE(writeSnapshotFile(path, bgr.data(), width, height));
    const Picture p = readJpeg(path);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
    EXPECT_EQ(p.components, 3);
    auto at = [&](int x, int y, int c) {
        return p.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c];
    };
    for (int x : {0, 16, 32}) {
        // The top band stays red, the bottom band blue: channels and rows in order.
        EXPECT_GT(at(x, 2, 0), 240);
        EXPECT_LT(at(x, 2, 1), 16);
        EXPECT_LT(at(x, 2, 2), 16);
        EXPECT_LT(at(x, 14, 0), 16);
        EXPECT_LT(at(x, 14, 1), 16);
        EXPECT_GT(at(x, 14, 2), 240);
    }
}

TEST(SnapshotWriter, TwoInOneSecondLeaveOneFile) {
    TempDir dir;
    setDataDirectory(dir.path);
    const uint8_t red[3] = {0, 0, 255};
    const std::vector<uint8_t> bgr = twoBands(16, 16, 16, red, red);
    bool sameSecond = false;
    for (int attempt = 0; attempt < 3 && !sameSecond; ++attempt) {
        for (const std::string &f : dir.entries()) unlink((dir.path + "/" + f).c_str());
        const std::time_t before = std::time(nullptr);
        writeSnapshot(bgr.data(), 16, 16);
        writeSnapshot(bgr.data(), 16, 16);
        sameSecond = std::time(nullptr) == before;
        if (!sameSecond) continue;
        const std::vector<std::string> files = dir.entries();
        ASSERT_EQ(files.size(), 1u);
        std::tm local{};
        localtime_r(&before, &local);
        EXPECT_EQ(files[0], snapshotFileName(local));
        EXPECT_TRUE(readJpeg(dir.path + "/" + files[0]).ok);
    }
    EXPECT_TRUE(sameSecond);
    setDataDirectory("");
}

TEST(SnapshotWriter, FailuresReportAndReturn) {
    const uint8_t red[3] = {0, 0, 255};
    const std::vector<uint8_t> bgr = twoBands(8, 8, 8, red, red);
    std::string problem;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeSnapshotFile("/nonexistent-kestrel-dir/x.jpg", bgr.data(), 8, 8, &problem));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "can't open file \n");
    EXPECT_EQ(problem, "No such file or directory");

    // A directory that is missing: writeSnapshot reports the same way, says why and where, and
    // the program goes on.
    setDataDirectory("/nonexistent-kestrel-dir");
    testing::internal::CaptureStderr();
    const SnapshotResult missing = writeSnapshot(bgr.data(), 8, 8);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "can't open file \n");
    setDataDirectory("");
    EXPECT_FALSE(missing.saved);
    EXPECT_EQ(missing.path.rfind("/nonexistent-kestrel-dir/", 0), 0u) << missing.path;
    EXPECT_EQ(snapshotReport(missing),
              u"Snapshot not saved: No such file or directory\n" +
                  std::u16string(missing.path.begin(), missing.path.end()));

    // libjpeg refuses pictures wider than 65500 pixels; its error must not end the process.
    TempDir dir;
    const std::vector<uint8_t> wide(70000 * 3, 0x80);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeSnapshotFile(dir.path + "/wide.jpg", wide.data(), 70000, 1, &problem));
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(problem, "the picture could not be compressed");

    // Written: the report names the file.
    setDataDirectory(dir.path);
    const SnapshotResult saved = writeSnapshot(bgr.data(), 8, 8);
    setDataDirectory("");
    EXPECT_TRUE(saved.saved);
    EXPECT_TRUE(saved.problem.empty());
    EXPECT_EQ(snapshotReport(saved),
              u"Snapshot saved:\n" + std::u16string(saved.path.begin(), saved.path.end()));
    EXPECT_TRUE(readJpeg(saved.path).ok);
}

}  // namespace
}  // namespace kestrel
