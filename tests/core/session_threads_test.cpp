// Sessions running by themselves against the simulated devices: from IPCamAction through
// detection, preparation and connection to frames at the callback, and IPCamAllDelete.
#include "core/session_threads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "camsim/rtsp_server.h"
#include "core/session.h"
#include "core/session_api.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;
using camsim::Framing;

namespace {

bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::size_t videoFrames(const kestrel_test::FrameCollector &frames) {
    std::size_t n = 0;
    for (int32_t kind : frames.kinds()) n += kind >= IPCAM_FRAME_KEY && kind <= IPCAM_FRAME_DROPPABLE;
    return n;
}

class SessionThreadsTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{1500};

  protected:
    void SetUp() override {
        ASSERT_TRUE(web.start());
        web.setCredentials("admin", "secret");
    }
    void TearDown() override { EXPECT_EQ(IPCamAllDelete(), 0); }

    IPCamSession *start(int type, const char *host = "127.0.0.1", const char *password = "secret") {
        IPCamSession *s = nullptr;
        EXPECT_EQ(IPCamCreate(&s, host, web.port(), "admin", password, nextId++, type), 0);
        EXPECT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 0), 0);
        return s;
    }

    camsim::CgiServer web;
    kestrel_test::FrameCollector frames;
    int nextId = 1;
};

TEST_F(SessionThreadsTest, EveryDeviceKindStreamsByItself) {
    struct Case {
        const char *name;
        int type;  // as the caller gives it
        std::function<void(camsim::CgiServer &, std::unique_ptr<camsim::StoredDevice> &,
                           camsim::StreamingServer &)>
            device;
        int32_t typeAfter;
    } cases[] = {
        {"family A, HTTP stream, Auto", 0,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyACamera>(
                 web, camsim::FamilyAConfig{.capabilities = 1});
         },
         4},
        {"family A, 3297 framing", 1,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyACamera>(
                 web, camsim::FamilyAConfig{.capabilities = 1,
                                            .stream = {.framing = Framing::Tagged}});
         },
         4},
        {"family A, separate ports", 1,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyACamera>(
                 web, camsim::FamilyAConfig{
                          .stream = {.videoListenPort = 0, .audioListenPort = 0}});
         },
         1},
        {"family A, RTSP", 5,
         [](auto &web, auto &camera, auto &rtsp) {
             rtsp.addChannel({});
             ASSERT_TRUE(rtsp.start());
             camera = std::make_unique<camsim::FamilyACamera>(
                 web, camsim::FamilyAConfig{.capabilities = 2, .rtspPort = rtsp.port()});
         },
         5},
        {"family B, Auto", 0,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyBCamera>(
                 web, camsim::FamilyBConfig{.stream = {.fps = 30}});
         },
         2},
        {"streaming server, Auto", 0,
         [](auto &web, auto &, auto &rtsp) {
             rtsp.addChannel({});
             ASSERT_TRUE(rtsp.start());
             camsim::addServerDevice(rtsp, web);
         },
         9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camsim::CgiServer device;
        ASSERT_TRUE(device.start());
        device.setCredentials("admin", "secret");
        std::unique_ptr<camsim::StoredDevice> camera;
        camsim::StreamingServer rtsp;
        c.device(device, camera, rtsp);
        frames.clear();
        IPCamSession *s = nullptr;
        ASSERT_EQ(IPCamCreate(&s, "127.0.0.1", device.port(), "admin", "secret", nextId++, c.type),
                  0);
        ASSERT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 0), 0);
        EXPECT_TRUE(waitFor([&] { return videoFrames(frames) >= 5; }, 15000))
            << "status " << IPCamGetLastError(s);
        EXPECT_GE(IPCamGetStatus(s), 0);
        EXPECT_EQ(s->protocolType, c.typeAfter);
        EXPECT_LT(kestrel_test::elapsedMs([] { IPCamAllDelete(); }), 2000);
    }
}

TEST_F(SessionThreadsTest, SessionsThatCannotConnectSayWhy) {
    struct Case {
        const char *name;
        const char *host;
        const char *password;
        int type;
        int status;
    } cases[] = {
        {"multicast address", "230.0.0.1", "secret", 0, IPCAM_CANT_DETECT_TYPE_ER},
        {"account refused during detection", "127.0.0.1", "wrong", 0, IPCAM_USER_OR_PASSWD_IS_ER},
    };
    camsim::FamilyACamera camera(web, {.capabilities = 1});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        IPCamSession *s = start(c.type, c.host, c.password);
        EXPECT_TRUE(waitFor([&] { return IPCamGetStatus(s) == c.status; }, 10000))
            << IPCamGetLastError(s);
    }
    // The refusal at "GetMyself.cgi" ended detection: the third probe was never tried.
    bool askedFamilyB = false;
    for (const auto &r : web.requests()) {
        EXPECT_NE(r.path, "GetServerInfo.cgi");
        askedFamilyB = askedFamilyB || r.path == "GetMyself.cgi";
    }
    EXPECT_TRUE(askedFamilyB);
}

TEST_F(SessionThreadsTest, AFullDeviceAndARefusedAccountAreToldApart) {
    camsim::FamilyACamera camera(web, {.capabilities = 1, .stream = {.fullHouse = true}});
    IPCamSession *s = start(1);
    EXPECT_TRUE(waitFor([&] { return IPCamGetStatus(s) == IPCAM_IS_FULL; }, 15000))
        << IPCamGetLastError(s);
}

TEST_F(SessionThreadsTest, AChecksumFailureStopsTheSessionForGood) {
    camsim::FamilyACamera camera(
        web, {.capabilities = 1,
              .stream = {.cues = {{.frame = 2, .what = camsim::StreamCue::What::BadChecksum}}}});
    IPCamSession *s = start(1);
    EXPECT_TRUE(waitFor([&] { return IPCamGetStatus(s) == IPCAM_IS_OVER; }, 15000))
        << IPCamGetLastError(s);
    const std::size_t streams = camera.streams().records().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(camera.streams().records().size(), streams);  // no further attempt
}

TEST_F(SessionThreadsTest, ADeviceThatRestartsIsReconnected) {
    auto camera = std::make_unique<camsim::FamilyACamera>(web, camsim::FamilyAConfig{
                                                                   .capabilities = 1});
    IPCamSession *s = start(1);
    ASSERT_TRUE(waitFor([&] { return videoFrames(frames) >= 3; }, 15000));
    // The stream breaks off: the session reconnects after its pause and frames resume.
    camera->streams().setCues({{.frame = 0, .what = camsim::StreamCue::What::Garbage}});
    web.stop();
    ASSERT_TRUE(waitFor([&] { return IPCamGetStatus(s) < 0; }, 10000));
    ASSERT_TRUE(web.start(web.port()));
    camera->streams().setCues({});
    frames.clear();
    EXPECT_TRUE(waitFor([&] { return videoFrames(frames) >= 3; }, 15000))
        << IPCamGetLastError(s);
}

TEST_F(SessionThreadsTest, DeletionEndsSessionsWhereverTheyAre) {
    // One device that accepts and never answers (the session sits in detection), one whose
    // stream stalls (the session waits in a read), one that streams.
    kestrel_test::Listener silent;
    camsim::CgiServer stalling;
    ASSERT_TRUE(stalling.start());
    camsim::FamilyACamera stalled(
        stalling, {.capabilities = 1,
                   .stream = {.cues = {{.frame = 1, .what = camsim::StreamCue::What::Stall}}}});
    camsim::FamilyACamera streaming(web, {.capabilities = 1});

    const uint32_t abandonedBefore = abandonedThreadCount();
    std::vector<IPCamSession *> sessions;
    for (auto [port, type] : {std::pair<int, int>{silent.port(), 0}, {stalling.port(), 1},
                              {web.port(), 1}, {web.port(), 0}}) {
        IPCamSession *s = nullptr;
        ASSERT_EQ(IPCamCreate(&s, "127.0.0.1", port, "admin", "secret", nextId++, type), 0);
        ASSERT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 0), 0);
        ASSERT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 1), 0);
        sessions.push_back(s);
    }
    const int silentPeer = silent.accept(5000);
    ASSERT_TRUE(waitFor([&] { return videoFrames(frames) >= 3; }, 15000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(kestrel_test::elapsedMs([] { EXPECT_EQ(IPCamAllDelete(), 0); }), 1500);
    EXPECT_EQ(abandonedThreadCount(), abandonedBefore);
    if (silentPeer >= 0) close(silentPeer);
}

}  // namespace
