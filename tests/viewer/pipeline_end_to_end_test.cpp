// The whole pipeline against a simulated camera: Start creates the session and the threads,
// pictures reach the display, Stop ends everything and says so; a camera that refuses handheld
// viewers stops the pipeline with its text.
#include "viewer/pipeline_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "camsim/onvif_device.h"
#include "camsim/rtsp_server.h"
#include "support/wait.h"
#include "viewer/memory_display.h"
#include "viewer/pipeline_state.h"
#include "viewer/render_thread.h"
#include "viewer/site_list.h"
#include "viewer/text_convert.h"
#include "viewer/video_thread.h"
#include "viewer/viewer_window.h"

using namespace kestrel;

namespace {

using kestrel_test::waitFor;

class TestWindow final : public ViewerWindow {
  public:
    TestWindow() : screen(320, 240) {}
    void setStatusText(const std::u16string &text) override {
        std::lock_guard guard(lock_);
        texts_.push_back(toUtf8(text.c_str(), text.size(), 4096));
    }
    void setSiteInfoVisible(bool visible) override { siteInfoVisible = visible; }
    void setStatusVisible(bool visible) override { statusVisible = visible; }
    void repaintScreen() override { ++repaints; }
    Display &display() override { return screen; }

    bool sawText(const std::string &start) {
        std::lock_guard guard(lock_);
        for (const std::string &t : texts_)
            if (t.rfind(start, 0) == 0) return true;
        return false;
    }
    std::string last() {
        std::lock_guard guard(lock_);
        return texts_.empty() ? "" : texts_.back();
    }

    MemoryDisplay screen;
    std::atomic<bool> siteInfoVisible{false}, statusVisible{false};
    std::atomic<int> repaints{0};

  private:
    std::mutex lock_;
    std::vector<std::string> texts_;
};

SiteRecord siteFor(uint16_t port) {
    SiteRecord site = defaultSiteRecord();
    const std::u16string host = u"127.0.0.1";
    std::copy(host.begin(), host.end(), site.host);
    site.port = port;
    std::strcpy(site.password, "secret");
    site.protocolType = 1;
    return site;
}

class PipelineEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(web.start());
        web.setCredentials("admin", "secret");
        allocatePictureBuffers();
        pipeline().rotateMode = 0;
    }

    camsim::CgiServer web;
    TestWindow window;
};

TEST_F(PipelineEndToEnd, PicturesReachTheDisplayAndStopEndsEverything) {
    camsim::FamilyACamera camera(web, {.capabilities = 1});
    PipelineControl control(window);
    control.Start(siteFor(web.port()));
    EXPECT_TRUE(window.siteInfoVisible && window.statusVisible);
    ASSERT_NE(control.videoThread(), nullptr);
    // Pictures are drawn: the direct path paints the top-left of the screen.
    EXPECT_TRUE(waitFor(
        [&] {
            int lit = 0;
            for (int x = 0; x < 160; x += 8) lit += window.screen.pixel(x, 60) != 0;
            return lit > 4 && window.sawText("R:");
        },
        20000))
        << window.last();
    EXPECT_TRUE(window.sawText("IPCamCreate() ... 0"));
    EXPECT_EQ(window.screen.state(), u"");  // the pictures took the place of the state
    control.Stop();
    // Nothing of the camera stays on the screen.
    const std::vector<uint16_t> pixels = window.screen.pixels();
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), static_cast<long>(pixels.size()));
    EXPECT_EQ(window.screen.state(), u"Stopped");
    EXPECT_EQ(control.videoThread(), nullptr);
    EXPECT_EQ(control.renderThread(), nullptr);
    EXPECT_EQ(window.last(), "Stop");
    EXPECT_EQ(controlState().load(), kControlIdle);
    LockHolder hold(pipeline().queueLock);
    EXPECT_TRUE(pipeline().queue.empty());
}

TEST_F(PipelineEndToEnd, H264AndH265StreamsOfAServerSiteAreShownByAddressUrlOrOnvif) {
    camsim::StreamingServer rtsp;
    rtsp.addChannel({.codec = camsim::ChannelConfig::Codec::H264, .width = 320, .height = 240});
    rtsp.addChannel({.codec = camsim::ChannelConfig::Codec::H265, .width = 320, .height = 240});
    ASSERT_TRUE(rtsp.start());
    camsim::addServerDevice(rtsp, web);
    camsim::OnvifDevice onvif(web, rtsp, {});  // a profile per channel, account admin/secret
    enum class By { Address, Url, Onvif };
    const struct {
        uint8_t stream;  // zero-based: CH01, CH02; an ONVIF site's profile
        uint16_t marker;
        By by;
    } cases[] = {{0, kMarkerH264, By::Address},
                 {1, kMarkerH265, By::Address},
                 {1, kMarkerH265, By::Url},
                 {1, kMarkerH265, By::Onvif}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.stream) << " by " << int(c.by));
        SiteRecord site = siteFor(web.port());
        site.protocolType = 0;  // found out: a streaming server
        site.streamNumber = c.stream;
        if (c.by == By::Url) {
            const std::string url =
                "rtsp://127.0.0.1:" + std::to_string(rtsp.port()) + "/CH0" + char('1' + c.stream);
            setSiteHost(site, std::u16string(url.begin(), url.end()));
            site.protocolType = kProtocolRtspUrl;
            site.streamNumber = 0;  // a URL site's stream is its URL's
        }
        if (c.by == By::Onvif) {
            const std::string url =
                "http://127.0.0.1:" + std::to_string(web.port()) + "/onvif/device_service";
            setSiteHost(site, std::u16string(url.begin(), url.end()));
            site.protocolType = kProtocolOnvif;
        }
        PipelineControl control(window);
        control.Start(site);
        EXPECT_TRUE(waitFor(
            [&] {
                int lit = 0;
                for (int x = 0; x < 160; x += 8) lit += window.screen.pixel(x, 60) != 0;
                return lit > 4 && window.sawText("R:") &&
                       pipeline().codecMarker.load() == c.marker;
            },
            20000))
            << window.last();
        control.Stop();
    }
}

TEST_F(PipelineEndToEnd, NothingStartsWithoutAHost) {
    PipelineControl control(window);
    SiteRecord site = defaultSiteRecord();
    control.Start(site);
    EXPECT_EQ(control.videoThread(), nullptr);
    EXPECT_EQ(window.last(), "Stop");  // Start stopped first, then found nothing to view
}

TEST_F(PipelineEndToEnd, ACameraThatRefusesHandheldsEndsTheSession) {
    camsim::FamilyACamera camera(web, {.capabilities = 1});
    camera.set("GetPDA.cgi", "pda_en", "0");
    PipelineControl control(window);
    control.Start(siteFor(web.port()));
    EXPECT_EQ(window.screen.state(), u"Connecting to 127.0.0.1\u2026");
    EXPECT_TRUE(waitFor([&] { return window.sawText("Unsupported PDA or Smart-Phone!"); }, 15000));
    EXPECT_TRUE(waitFor([&] { return window.sawText("IPCamAllDelete() ... 0"); }, 5000));
    // The refusal stays in view once the session is gone, and the picture area says it too.
    EXPECT_TRUE(waitFor([&] { return window.last() == "Unsupported PDA or Smart-Phone!"; }, 5000))
        << window.last();
    EXPECT_EQ(window.screen.state(),
              u"The camera does not let handhelds view it\n"
              u"(Unsupported PDA or Smart-Phone!)");
    control.Stop();
}

TEST_F(PipelineEndToEnd, CommandsReachOnlyALiveSession) {
    // The refusing camera makes the video thread delete its session by itself while the
    // pipeline still stands; requests from the user interface then find no session.
    camsim::FamilyACamera camera(web, {.model = 20, .capabilities = 1});
    camera.set("GetPDA.cgi", "pda_en", "0");
    PipelineControl control(window);
    control.Start(siteFor(web.port()));
    VideoThread *video = control.videoThread();
    ASSERT_NE(video, nullptr);
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread ui([&] {
        while (!done) {
            PtzRequest request{};
            request.code = IPCAM_CMD_PAN_TILT;
            request.command = 4;
            video->Command(&request);
            ++sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    EXPECT_TRUE(waitFor([&] { return window.sawText("IPCamAllDelete() ... 0"); }, 15000));
    done = true;
    ui.join();
    EXPECT_GT(sent.load(), 0);
    PtzRequest request{};
    request.code = IPCAM_CMD_PAN_TILT;
    EXPECT_EQ(video->Command(&request), IPCAM_IS_NULL);
    control.Stop();
}

}  // namespace
