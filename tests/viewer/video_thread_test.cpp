// The video thread's main loop, pass by pass: format changes reopen the decoder and re-arm
// skipping to the first key frame, whose picture is decoded but not shown; pictures too big or
// of an unknown encoding are refused with their texts; the status line and the pacing.
#include "viewer/video_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/media.h"
#include "support/wait.h"
#include "viewer/display.h"
#include "viewer/memory_display.h"
#include "viewer/pipeline_fixture.h"
#include "viewer/site_list.h"
#include "viewer/text_convert.h"
#include "viewer/viewer_window.h"

using namespace kestrel;

namespace {

// Records the status line; the picture area is a display in memory.
class RecordingWindow final : public ViewerWindow {
  public:
    RecordingWindow() : screen(64, 48) {}
    void setStatusText(const std::u16string &text) override {
        std::lock_guard guard(lock_);
        texts_.push_back(toUtf8(text.c_str(), text.size(), 4096));
    }
    void setSiteInfoVisible(bool) override {}
    void setStatusVisible(bool) override {}
    void repaintScreen() override {}
    Display &display() override { return screen; }

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

    MemoryDisplay screen;

  private:
    std::mutex lock_;
    std::vector<std::string> texts_;
};

using Clock = std::chrono::steady_clock;

SiteRecord siteAt(const char16_t *name, uint16_t port) {
    SiteRecord site = defaultSiteRecord();
    setSiteName(site, name);
    setSiteHost(site, u"127.0.0.1");
    site.port = port;
    site.protocolType = 1;
    return site;
}

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

    // What the picture area first says once a video thread starts on site; empty when it
    // said nothing within 5 s.
    std::string firstState(const SiteRecord &site) {
        VideoThread starting;
        starting.statusLine = &window;
        starting.site = site;
        window.screen.showState(u"");
        starting.Resume();
        kestrel_test::waitFor([&] { return !window.screen.state().empty(); }, 5000);
        const std::string state = toUtf8(window.screen.state().c_str(), 400, 800);
        starting.RequestStop();
        starting.Wait();
        return state;
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

    // The same format again changes nothing: no reopening, no skipping, F counts on; the
    // losses the callback counted show from the next frame on, until the next format.
    OnFrame(nullptr, 0, frame(IPCAM_MSG_DAMAGE), 0);
    pipeline().newPicture = 0;
    pass(formatFrame(4, 176, 144));
    pass(frame(IPCAM_FRAME_DEPENDENT, mpeg4[5]));
    EXPECT_EQ(pipeline().newPicture.load(), 1);
    EXPECT_NE(window.last().find("F:0005"), std::string::npos) << window.last();
    EXPECT_EQ(window.last().substr(window.last().size() - 4), " L:1") << window.last();
    pass(formatFrame(4, 352, 288));
    pass(frame(IPCAM_FRAME_KEY, mpeg4[3]));
    EXPECT_EQ(window.last().find("L:"), std::string::npos) << window.last();
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

TEST_F(VideoThreadTest, H264AndH265OpenTheirDecodersAndShowPictures) {
    struct Case {
        int32_t encoding;
        kestrel_test::TestCodec encoder;
        VideoDecoder::Codec codec;
        uint16_t marker;
    } cases[] = {
        {IPCAM_VIDEO_H264, kestrel_test::TestCodec::H264, VideoDecoder::Codec::H264, kMarkerH264},
        {IPCAM_VIDEO_H265, kestrel_test::TestCodec::H265, VideoDecoder::Codec::H265, kMarkerH265},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::vector<std::string> frames = kestrel_test::encodeVideo(c.encoder, 176, 144, 3, 3);
        ASSERT_EQ(frames.size(), 3u);
        pipeline().newPicture = 0;
        pass(formatFrame(c.encoding, 176, 144));
        EXPECT_EQ(video.decoder.codec(), c.codec);
        EXPECT_EQ(pipeline().codecMarker.load(), c.marker);
        pass(frame(IPCAM_FRAME_KEY, frames[0]));  // first key frame: decoded, not shown
        EXPECT_EQ(pipeline().newPicture.load(), 0);
        pass(frame(IPCAM_FRAME_DEPENDENT, frames[1]));
        pass(frame(IPCAM_FRAME_DEPENDENT, frames[2]));
        EXPECT_EQ(pipeline().newPicture.load(), 1);
        EXPECT_NE(window.last().find("F:0003"), std::string::npos) << window.last();
    }
}

TEST_F(VideoThreadTest, PicturesTooBigAreNeverDecoded) {
    const std::string jpeg = kestrel_test::encodeJpeg({.width = 64, .height = 48});
    pass(formatFrame(0, 3841, 2160));
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

// 1080p and 4K main streams are decoded, and converted whole into the picture buffer's room.
TEST_F(VideoThreadTest, PicturesUpToTheLargestAreDecoded) {
    for (const auto &[width, height] : {std::pair{1920, 1080}, {3840, 2160}}) {
        SCOPED_TRACE(width);
        const std::string jpeg = kestrel_test::encodeJpeg({.width = width, .height = height});
        pipeline().newPicture = 0;
        pass(formatFrame(0, width, height));
        pass(frame(IPCAM_FRAME_KEY, jpeg));  // first key frame: not shown
        pass(frame(IPCAM_FRAME_KEY, jpeg));
        EXPECT_EQ(pipeline().newPicture.load(), 1) << window.last();
        int w = kLargestPictureWidth, h = kLargestPictureHeight;
        std::vector<uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
        LockHolder hold(pipeline().decoderLock);
        EXPECT_TRUE(video.decoder.convert(rgb.data(), w, h, PixelFormat::Bgr24));
        EXPECT_EQ(w, width);
        EXPECT_EQ(h, height);
    }
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

// Paced, a short queue costs a frame interval after every frame; with low latency nothing
// holds a picture back, and the callback never holds the queue either.
TEST_F(VideoThreadTest, LowLatencyDrawsEachPictureWithoutPacing) {
    const std::vector<std::string> mpeg4 = kestrel_test::encodeMpeg4(176, 144, 3, 3);
    const std::string jpeg = kestrel_test::encodeJpeg({.width = 64, .height = 48});
    for (const bool lowLatency : {false, true}) {
        SCOPED_TRACE(lowLatency);
        pipeline().lowLatency = lowLatency;
        pipeline().newPicture = 0;
        pass(formatFrame(4, 176, 144));
        for (const std::string &payload : mpeg4)
            pass(frame(payload == mpeg4[0] ? IPCAM_FRAME_KEY : IPCAM_FRAME_DEPENDENT, payload));
        EXPECT_EQ(pipeline().newPicture.load(), 1);
        EXPECT_EQ(takeSleeps(), lowLatency ? std::vector<int>{} : std::vector<int>(4, 33));
        // Motion-JPEG between the marks: the callback holds the queue a moment, unless low.
        OnFrame(nullptr, 0, formatFrame(0, 320, 240), 0);  // low 5, high 10
        OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY, jpeg), 0);
        while (queued() < 6) OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY, jpeg), 0);
        EXPECT_EQ(takeSleeps(), lowLatency ? std::vector<int>{} : std::vector<int>{1});
        kestrel::releaseQueuedFrames();
        video.format = {};
    }
}

TEST_F(VideoThreadTest, AnEmptyQueueShowsTheLibrarysStatus) {
    video.processOne();  // no session: the library answers IPCAM_IS_NULL
    EXPECT_EQ(window.last(), "The connection failed (IPCAM_IS_NULL)");
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
            if (t.rfind("Connecting", 0) == 0 || t.find("(IPCAM_") != std::string::npos)
                c.push_back(t);
        return c;
    };
    while (connecting().size() < 8 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    waiting.RequestStop();
    waiting.Wait();
    const std::vector<std::string> seen = connecting();
    ASSERT_GE(seen.size(), 8u);
    // Two to five full stops, the library's status after every fifth attempt, then one again.
    const std::vector<std::string> expected = {"Connecting..\n",
                                               "Connecting...\n",
                                               "Connecting....\n",
                                               "Connecting.....\n",
                                               "Not connected yet (IPCAM_IS_UNCONNECTED)",
                                               "Connecting.\n",
                                               "Connecting..\n",
                                               "Connecting...\n"};
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 8), expected);
    const std::vector<int> sleeps = takeSleeps();
    ASSERT_GE(sleeps.size(), 7u);
    // 500 ms between attempts; after the fourth, the status's second and one more.
    EXPECT_EQ(std::vector<int>(sleeps.begin(), sleeps.begin() + 7),
              (std::vector<int>{500, 500, 500, 1000, 1000, 500, 500}));
}

TEST_F(VideoThreadTest, WhileConnectingThePictureAreaSaysWhatWentWrong) {
    pipeline().sleepMs = nullptr;  // real pauses between the attempts
    const uint16_t closed = kestrel_test::closedPort();
    // A site of a known type and an Auto one: detection meets the refused port either way,
    // and the picture area says so rather than only "not connected".
    for (const int type : {1, 0}) {
        SCOPED_TRACE(type);
        window.screen.showState(u"");
        VideoThread connecting;
        connecting.statusLine = &window;
        connecting.site = siteAt(u"Porch", closed);
        connecting.site.protocolType = type;
        connecting.Resume();
        // First the site's name, then the library's reason below it.
        EXPECT_TRUE(kestrel_test::waitFor(
            [&] { return window.screen.state().find(u'\n') != std::u16string::npos; }, 10000))
            << toUtf8(window.screen.state().c_str(), 200, 800);
        const std::u16string state = window.screen.state();
        const int code = IPCamGetLastError(connecting.session);
        const int reach = IPCamGetItem(connecting.session, IPCAM_ITEM_REACH);
        connecting.RequestStop();
        connecting.Wait();
        EXPECT_EQ(state, connectingState(connecting.site, code, reach));
        EXPECT_EQ(state.rfind(u"Connecting to Porch\u2026\nConnection refused", 0), 0u)
            << toUtf8(state.c_str(), 200, 800);
    }

    SiteRecord unnamed = siteAt(u"", 80);
    EXPECT_EQ(connectingState(unnamed, IPCAM_IS_UNCONNECTED), u"Connecting to 127.0.0.1\u2026");
    EXPECT_EQ(connectingState(unnamed, IPCAM_USER_OR_PASSWD_IS_ER),
              u"Connecting to 127.0.0.1\u2026\nWrong account or password "
              u"(IPCAM_USER_OR_PASSWD_IS_ER)");
}

// An account the library cannot send whole is refused at creation; the picture area says
// which limit the site broke, at the bound and one past it.
TEST_F(VideoThreadTest, AnAccountTooLongToSendIsNamedAsSuch) {
    struct Case {
        std::size_t accountLength, passwordLength;
        bool refused;
    };
    const Case cases[] = {{19, 19, false}, {19, 20, true}, {38, 0, false}, {0, 39, true}};
    for (const Case &c : cases) {
        pipeline().sleepMs = nullptr;
        SiteRecord site = siteAt(u"Porch", 9);
        std::memset(site.account, 0, sizeof site.account);
        std::memset(site.password, 0, sizeof site.password);
        std::memset(site.account, 'a', c.accountLength);
        std::memset(site.password, 'p', c.passwordLength);
        const std::string state = firstState(site);
        EXPECT_EQ(state.find("too long") != std::string::npos, c.refused)
            << c.accountLength << "+" << c.passwordLength << ": " << state;
        EXPECT_EQ(state.rfind("Connecting to Porch", 0), 0u) << state;
    }
}

// A URL site whose URL the library refuses says what is wrong with it.
TEST_F(VideoThreadTest, AUrlTheLibraryRefusesIsNamedAsSuch) {
    const struct {
        uint8_t protocol;
        const char16_t *url;
        const char *words;
    } cases[] = {
        {kProtocolRtspUrl, u"http://127.0.0.1/live",
         "This is not an RTSP URL: rtsp://host[:port]/path (IPCAM_IS_NULL)"},
        {kProtocolRtspUrl, u"rtsp://127.0.0.1:70000/live",
         "The URL's port must be 1 to 65535 (IPCAM_PORT_IS_ER)"},
        {kProtocolOnvif, u"rtsp://127.0.0.1/onvif/device_service",
         "This is not an ONVIF device URL: http://host[:port]/onvif/device_service (IPCAM_IS_NULL)"},
        {kProtocolOnvif, u"http://127.0.0.1:0/onvif/device_service",
         "The URL's port must be 1 to 65535 (IPCAM_PORT_IS_ER)"},
    };
    for (const auto &c : cases) {
        pipeline().sleepMs = nullptr;
        SiteRecord site = siteAt(u"Street", 0);
        setSiteHost(site, c.url);
        site.protocolType = c.protocol;
        EXPECT_EQ(firstState(site), std::string("Connecting to Street\xE2\x80\xA6\n") + c.words);
    }
}

// Stop never waits for a pause to run out: every pause of the video thread and of the frame
// callback ends once the thread is stopping.
TEST_F(VideoThreadTest, PausesEndWhenTheThreadStops) {
    pipeline().sleepMs = nullptr;  // real pauses
    video.RequestStop();
    const auto timed = [](const std::function<void()> &step) {
        const auto start = Clock::now();
        step();
        return Clock::now() - start;
    };
    const auto bound = std::chrono::milliseconds(500);
    // The library's status costs a second; the session is gone, so there is one.
    EXPECT_LT(timed([&] { video.ShowLastStatus(); }), bound);
    EXPECT_LT(timed([&] { video.processOne(); }), bound);

    // The frame callback's longest pause: a full queue of large MPEG-4 pictures while the
    // picture is turned drops the frame and holds the session's thread for six seconds.
    pipeline().rotateMode = 1;
    OnFrame(&video, 0, formatFrame(4, 640, 480), 0);
    EXPECT_EQ(pipeline().admission.dropDelay.load(), 6000);
    pipeline().admission.waitingForKeyFrame = 0;
    for (int i = 0; i < pipeline().admission.highMark; ++i) push(frame(IPCAM_FRAME_DEPENDENT));
    EXPECT_LT(timed([&] { OnFrame(&video, 0, frame(IPCAM_FRAME_DEPENDENT), 0); }), bound);
    EXPECT_EQ(pipeline().admission.waitingForKeyFrame.load(), 1);  // dropped as before
    // Waiting for a key frame with the queue long: a second.
    EXPECT_LT(timed([&] { OnFrame(&video, 0, frame(IPCAM_FRAME_KEY), 0); }), bound);
    pipeline().rotateMode = 0;
}

TEST_F(VideoThreadTest, StopWhileConnectingEndsWithinAFractionOfASecond) {
    pipeline().sleepMs = nullptr;   // real pauses
    kestrel_test::Listener silent;  // accepts and never answers
    VideoThread waiting;
    waiting.statusLine = &window;
    waiting.site = siteAt(u"Silent", silent.port());
    waiting.Resume();
    // After the fifth attempt's status the thread pauses for two seconds in all.
    ASSERT_TRUE(kestrel_test::waitFor(
        [&] {
            for (const std::string &t : window.texts())
                if (t.find("(IPCAM_") != std::string::npos) return true;
            return false;
        },
        15000));
    const auto start = Clock::now();
    waiting.RequestStop();
    waiting.Wait();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

TEST(ResolutionWindow, LowestBitOfTheSizeClassesWindow) {
    struct Case {
        uint32_t size, mask, bit;
    } cases[] = {
        {0, 0x7FF, 0x1},   {0, 0x30, 0x10}, {0, 0x40, 0},         {1, 0x7FF, 0x40},
        {1, 0x401, 0x400}, {1, 0x800, 0},   {2, 0x1FFFFF, 0x800}, {2, 0x100000, 0x100000},
        {2, 0x200000, 0},  {7, 0x3, 0x1},  // any other class is Small
    };
    for (const Case &c : cases) EXPECT_EQ(resolutionForSize(c.size, c.mask), c.bit) << c.size;
}

}  // namespace
