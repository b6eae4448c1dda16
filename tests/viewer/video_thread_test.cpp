// The video thread's main loop, pass by pass: format changes reopen the decoder and re-arm
// skipping to the first key frame, whose picture is decoded but not shown; pictures too big or
// of an unknown encoding are refused with their texts; the status line and the pacing.
#include "viewer/video_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "support/loopback.h"
#include "support/media.h"
#include "viewer/display.h"
#include "viewer/pipeline_fixture.h"
#include "viewer/text_convert.h"
#include "viewer/viewer_window.h"

using namespace kestrel;

namespace {

// Records the status line.
class RecordingWindow final : public ViewerWindow {
  public:
    void setStatusText(const std::u16string &text) override {
        std::lock_guard guard(lock_);
        texts_.push_back(toUtf8(text.c_str(), text.size(), 4096));
    }
    void setSiteInfoVisible(bool) override {}
    void setStatusVisible(bool) override {}
    void repaintScreen() override {}
    Display &display() override { std::abort(); }

    std::vector<std::string> texts() {
        std::lock_guard guard(lock_);
        return texts_;
    }
    std::string last() {
        std::lock_guard guard(lock_);
        return texts_.empty() ? "" : texts_.back();
    }
    void clear() {
        std::lock_guard guard(lock_);
        texts_.clear();
    }

  private:
    std::mutex lock_;
    std::vector<std::string> texts_;
};

class VideoThreadTest : public kestrel_test::PipelineFixture {
  protected:
    void SetUp() override {
        PipelineFixture::SetUp();
        video.statusLine = &window;
    }
    void push(EncodedFrame *f) {
        LockHolder hold(pipeline().queueLock);
        pipeline().queue.push_back(f);
    }
    // Pushes one frame and runs one pass over it.
    void pass(EncodedFrame *f) {
        push(f);
        video.processOne();
    }

    RecordingWindow window;
    VideoThread video;  // never resumed: the test drives its passes
};

TEST_F(VideoThreadTest, FramesBeforeAnyFormatAreAnInvalidEncoding) {
    pass(frame(IPCAM_FRAME_KEY, "abc"));
    EXPECT_EQ(window.last(), "Invalid encode stand");
    EXPECT_EQ(pipeline().newPicture.load(), 0);
}

TEST_F(VideoThreadTest, AfterAFormatChangeTheFirstKeyFrameIsDecodedButNotShown) {
    const std::vector<std::string> mpeg4 = kestrel_test::encodeMpeg4(176, 144, 6, 3);
    pass(formatFrame(4, 176, 144));
    EXPECT_EQ(pipeline().codecMarker.load(), kMarkerMpeg4);
    // Frames before the first key frame are skipped.
    pass(frame(IPCAM_FRAME_DEPENDENT, mpeg4[1]));
    pass(frame(IPCAM_FRAME_DEPENDENT, mpeg4[2]));
    EXPECT_EQ(pipeline().newPicture.load(), 0);
    char expected[64];
    std::snprintf(expected, sizeof expected, "R:00 Q:001 F:0002 S:%03zu", mpeg4[2].size());
    EXPECT_EQ(window.last(), expected);
    pass(frame(IPCAM_FRAME_KEY, mpeg4[3]));  // decoded, not shown
    EXPECT_EQ(pipeline().newPicture.load(), 0);
    pass(frame(IPCAM_FRAME_DEPENDENT, mpeg4[4]));
    EXPECT_EQ(pipeline().newPicture.load(), 1);
    EXPECT_NE(window.last().find("F:0004"), std::string::npos) << window.last();
    int w = 4096, h = 4096;
    std::vector<uint8_t> rgb(176 * 144 * 3);
    {
        LockHolder hold(pipeline().decoderLock);
        EXPECT_TRUE(video.decoder.convert(rgb.data(), w, h, PixelFormat::Bgr24));
    }
    EXPECT_EQ(w, 176);
    EXPECT_EQ(h, 144);

    // The same format again changes nothing: no reopening, no skipping, F counts on.
    pipeline().newPicture = 0;
    pass(formatFrame(4, 176, 144));
    pass(frame(IPCAM_FRAME_DEPENDENT, mpeg4[5]));
    EXPECT_EQ(pipeline().newPicture.load(), 1);
    EXPECT_NE(window.last().find("F:0005"), std::string::npos) << window.last();
}

TEST_F(VideoThreadTest, AChangeToMotionJpegReopensTheDecoder) {
    const std::string jpeg = kestrel_test::encodeJpeg({.width = 64, .height = 48});
    pass(formatFrame(4, 176, 144));
    pass(formatFrame(0, 64, 48));
    EXPECT_EQ(pipeline().codecMarker.load(), kMarkerMotionJpeg);
    EXPECT_EQ(video.decoder.codec(), VideoDecoder::Codec::MotionJpeg);
    pass(frame(IPCAM_FRAME_KEY, jpeg));  // first key frame: not shown
    EXPECT_EQ(pipeline().newPicture.load(), 0);
    pass(frame(IPCAM_FRAME_KEY, jpeg));
    EXPECT_EQ(pipeline().newPicture.load(), 1);
    // An encoding the viewer has no decoder for: every frame says so.
    pass(formatFrame(7, 64, 48));
    pass(frame(IPCAM_FRAME_KEY, jpeg));
    EXPECT_EQ(window.last(), "Invalid encode stand");
}

TEST_F(VideoThreadTest, PicturesTooBigAreNeverDecoded) {
    const std::string jpeg = kestrel_test::encodeJpeg({.width = 64, .height = 48});
    pass(formatFrame(0, 1281, 720));
    std::vector<std::string> shown;
    for (int i = 0; i < 5; ++i) {
        pass(frame(IPCAM_FRAME_KEY, jpeg));
        shown.push_back(window.last());
    }
    // The text turns through four characters, one per frame; each frame costs 100 ms.
    EXPECT_EQ(shown[0], "Can't decode!The image is too big\xEF\xBC\xBC");
    EXPECT_EQ(shown[1], "Can't decode!The image is too big\xEF\xBD\x9C");
    EXPECT_EQ(shown[3], "Can't decode!The image is too big\xEF\xBC\x8D");
    EXPECT_EQ(shown[4], shown[0]);
    std::size_t pauses = 0;
    for (int ms : takeSleeps()) pauses += ms == 100;
    EXPECT_EQ(pauses, 5u);
    EXPECT_EQ(pipeline().newPicture.load(), 0);
}

TEST_F(VideoThreadTest, APayloadTheDecoderNeverTakesIsDroppedAfterItsTries) {
    const std::vector<std::string> mpeg4 = kestrel_test::encodeMpeg4(176, 144, 2, 1);
    pass(formatFrame(4, 176, 144));
    pass(frame(IPCAM_FRAME_KEY, mpeg4[0]));
    // An empty payload is never consumed; the pass ends anyway and counts it.
    pass(frame(IPCAM_FRAME_DEPENDENT, ""));
    EXPECT_EQ(video.decodeErrors(), 1u);
    std::size_t tries = 0;
    for (int ms : takeSleeps()) tries += ms == 1;
    EXPECT_GE(tries, static_cast<std::size_t>(VideoThread::kDecodeTries));
}

TEST_F(VideoThreadTest, AnEmptyQueueShowsTheLibrarysStatus) {
    video.processOne();  // no session: the library answers IPCAM_IS_NULL
    EXPECT_EQ(window.last(), "IPCAM_IS_NULL");
    EXPECT_EQ(takeSleeps(), (std::vector<int>{1000, 1}));
}

TEST_F(VideoThreadTest, TheConnectionWaitCountsItsAttempts) {
    // A device that accepts and never answers: the session stays unconnected.
    kestrel_test::Listener silent;
    VideoThread waiting;
    waiting.statusLine = &window;
    const std::u16string host = u"127.0.0.1";
    std::copy(host.begin(), host.end(), waiting.site.host);
    waiting.site.port = silent.port();
    waiting.site.protocolType = 1;
    waiting.Resume();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto connecting = [&] {
        std::vector<std::string> c;
        for (const std::string &t : window.texts())
            if (t.rfind("Connecting", 0) == 0 || t.rfind("IPCAM_", 0) == 0) c.push_back(t);
        return c;
    };
    while (connecting().size() < 8 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    waiting.RequestStop();
    waiting.Wait();
    const std::vector<std::string> seen = connecting();
    ASSERT_GE(seen.size(), 8u);
    // Two to five full stops, the library's status after every fifth attempt, then one again.
    const std::vector<std::string> expected = {"Connecting..\n",  "Connecting...\n",
                                               "Connecting....\n", "Connecting.....\n",
                                               "IPCAM_IS_UNCONNECTED", "Connecting.\n",
                                               "Connecting..\n", "Connecting...\n"};
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 8), expected);
    const std::vector<int> sleeps = takeSleeps();
    ASSERT_GE(sleeps.size(), 7u);
    // 500 ms between attempts; after the fourth, the status's second and one more.
    EXPECT_EQ(std::vector<int>(sleeps.begin(), sleeps.begin() + 7),
              (std::vector<int>{500, 500, 500, 1000, 1000, 500, 500}));
}

TEST(ResolutionWindow, LowestBitOfTheSizeClassesWindow) {
    struct Case {
        uint32_t size, mask, bit;
    } cases[] = {
        {0, 0x7FF, 0x1},        {0, 0x30, 0x10},       {0, 0x40, 0},
        {1, 0x7FF, 0x40},       {1, 0x401, 0x400},     {1, 0x800, 0},
        {2, 0x1FFFFF, 0x800},   {2, 0x100000, 0x100000}, {2, 0x200000, 0},
        {7, 0x3, 0x1},  // any other class is Small
    };
    for (const Case &c : cases) EXPECT_EQ(resolutionForSize(c.size, c.mask), c.bit) << c.size;
}

}  // namespace
