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
#include "support/wait.h"

using namespace ipcam;
using camsim::Framing;

namespace {

using kestrel_test::waitFor;

std::size_t videoFrames(const kestrel_test::FrameCollector &frames) {
    std::size_t n = 0;
    for (int32_t kind : frames.kinds()) n += kind >= IPCAM_FRAME_KEY && kind <= IPCAM_FRAME_DROPPABLE;
    return n;
}

std::size_t audioFrames(const kestrel_test::FrameCollector &frames) {
    std::size_t n = 0;
    for (int32_t kind : frames.kinds()) n += kind == IPCAM_FRAME_AUDIO;
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
    using Device = std::function<void(camsim::CgiServer &, std::unique_ptr<camsim::StoredDevice> &,
                                      camsim::StreamingServer &)>;
    auto rtspCamera = [](auto &web, auto &camera, auto &rtsp) {
        rtsp.addChannel({.audio = true});
        ASSERT_TRUE(rtsp.start());
        camera = std::make_unique<camsim::FamilyACamera>(
            web, camsim::FamilyAConfig{.capabilities = 2, .rtspPort = rtsp.port()});
    };
    auto server = [](auto &web, auto &, auto &rtsp) {
        rtsp.addChannel({.audio = true});
        ASSERT_TRUE(rtsp.start());
        camsim::addServerDevice(rtsp, web);
    };
    struct Case {
        const char *name;
        int type;  // as the caller gives it
        bool udp;
        Device device;
        int32_t typeAfter;
        bool sound;  // whether the device has sound for the audio thread
    } cases[] = {
        {"family A, HTTP stream, Auto", 0, false,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyACamera>(
                 web, camsim::FamilyAConfig{.capabilities = 1});
         },
         4, true},
        {"family A, 3297 framing", 1, false,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyACamera>(
                 web, camsim::FamilyAConfig{.capabilities = 1,
                                            .stream = {.framing = Framing::Tagged}});
         },
         4, true},
        {"family A, separate ports", 1, false,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyACamera>(
                 web, camsim::FamilyAConfig{
                          .stream = {.videoListenPort = 0, .audioListenPort = 0}});
         },
         1, true},
        {"family A, RTSP interleaved", 5, false, rtspCamera, 5, true},
        {"family A, RTSP over UDP", 5, true, rtspCamera, 5, true},
        {"family B, Auto", 0, false,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyBCamera>(
                 web, camsim::FamilyBConfig{.stream = {.fps = 30}});
         },
         2, true},
        {"family B without sound", 2, false,
         [](auto &web, auto &camera, auto &) {
             camera = std::make_unique<camsim::FamilyBCamera>(
                 web, camsim::FamilyBConfig{.stream = {.fps = 30, .audioStream = false}});
         },
         2, false},
        {"streaming server, Auto, interleaved", 0, false, server, 9, true},
        {"streaming server, Auto, UDP", 0, true, server, 9, true},
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
        ASSERT_EQ(IPCamSetTransport(s, c.udp ? 1 : 0, 0), 0);
        ASSERT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 0), 0);
        ASSERT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 1), 0);
        EXPECT_TRUE(waitFor([&] { return videoFrames(frames) >= 5; }, 15000))
            << "status " << IPCamGetLastError(s);
        if (c.sound) {
            EXPECT_TRUE(waitFor([&] { return audioFrames(frames) >= 5; }, 8000));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        }
        EXPECT_GE(IPCamGetStatus(s), 0);
        EXPECT_EQ(s->protocolType, c.typeAfter);
        if (!c.sound) {
            EXPECT_EQ(audioFrames(frames), 0u);
        }
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
    IPCamSession *multicast = nullptr;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        IPCamSession *s = start(c.type, c.host, c.password);
        if (!multicast) multicast = s;
        EXPECT_TRUE(waitFor([&] { return IPCamGetStatus(s) == c.status; }, 10000))
            << IPCamGetLastError(s);
    }
    // The multicast session keeps trying: its thread still runs and the status holds.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(IPCamGetStatus(multicast), IPCAM_CANT_DETECT_TYPE_ER);
    EXPECT_EQ(multicast->videoRunning.load(), 1);
    // The refusal at "GetMyself.cgi" ended detection: the third probe was never tried.
    bool askedFamilyB = false;
    for (const auto &r : web.requests()) {
        EXPECT_NE(r.path, "GetServerInfo.cgi");
        askedFamilyB = askedFamilyB || r.path == "GetMyself.cgi";
    }
    EXPECT_TRUE(askedFamilyB);
}

TEST_F(SessionThreadsTest, AFullDeviceAndARefusedAccountAreToldApart) {
    // Both devices take the stream request and send nothing; only the user list differs.
    for (bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "user list refused" : "user list answered");
        camsim::CgiServer device;
        ASSERT_TRUE(device.start());
        device.setCredentials("admin", "secret");
        camsim::FamilyACamera camera(device, {.capabilities = 1, .stream = {.fullHouse = true}});
        if (refused) device.setBody("GetUser.cgi", "", 401);
        IPCamSession *s = nullptr;
        ASSERT_EQ(IPCamCreate(&s, "127.0.0.1", device.port(), "admin", "secret", nextId++, 1), 0);
        ASSERT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 0), 0);
        const int expected = refused ? IPCAM_USER_OR_PASSWD_IS_ER : IPCAM_IS_FULL;
        EXPECT_TRUE(waitFor([&] { return IPCamGetStatus(s) == expected; }, 15000))
            << IPCamGetLastError(s);
        bool askedUsers = false;
        for (const auto &r : device.requests()) askedUsers = askedUsers || r.path == "GetUser.cgi";
        EXPECT_TRUE(askedUsers);
        IPCamAllDelete();
    }
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
