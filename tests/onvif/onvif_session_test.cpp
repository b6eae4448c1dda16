// ONVIF sessions, discovery and PTZ through the whole library against the simulated device:
// real SOAP over HTTP, real multicast on the loopback interface, real RTSP.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ipcam.h"
#include "onvif/onvif_device.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/media.h"
#include "support/wait.h"
#include "tools/camsim/cgi_server.h"
#include "tools/camsim/onvif_device.h"
#include "tools/camsim/rtsp_server.h"

namespace ipcam {
namespace {

using SimCodec = camsim::ChannelConfig::Codec;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kPatienceMs = 20000;
#else
constexpr int kPatienceMs = 8000;
#endif

// A simulated ONVIF camera: H.264, then H.265, then Motion-JPEG, account admin/secret.
struct OnvifCamera {
    explicit OnvifCamera(camsim::OnvifConfig config = {}) {
        rtsp.addChannel({.codec = SimCodec::H264, .width = 320, .height = 240, .fps = 15});
        rtsp.addChannel({.codec = SimCodec::H265, .width = 320, .height = 240, .fps = 15});
        rtsp.addChannel({.codec = SimCodec::Jpeg, .width = 320, .height = 240, .fps = 10});
        camsim::RtspAuthConfig auth;
        auth.scheme = camsim::RtspAuthConfig::Scheme::DigestMd5;
        rtsp.setAuth(auth);
        ok = rtsp.start() && web.start();
        device = std::make_unique<camsim::OnvifDevice>(web, rtsp, std::move(config));
    }
    std::string url() const {
        return "http://127.0.0.1:" + std::to_string(web.port()) + "/onvif/device_service";
    }

    bool ok = false;
    camsim::CgiServer web;
    camsim::StreamingServer rtsp;
    std::unique_ptr<camsim::OnvifDevice> device;
};

struct Found {
    std::string url, name, hardware;
};

void collectDevice(void *context, const char *url, const char *name, const char *hardware) {
    static_cast<std::vector<Found> *>(context)->push_back({url, name, hardware});
}

void collectProfile(void *context, const IPCamOnvifProfile *p) {
    static_cast<std::vector<IPCamOnvifProfile> *>(context)->push_back(*p);
}

// Two cameras on one discovery port, one of them giving 0.0.0.0 for its address: each is
// found once, both at the address the answer came from.
TEST(OnvifSessionTest, DiscoveryFindsEveryCameraOnceAtItsAddress) {
    const uint16_t port = kestrel_test::freeUdpPort();
    camsim::OnvifConfig first, second;
    first.discoveryPort = second.discoveryPort = port;
    first.name = "Front Door";
    second.xaddrAny = true;
    second.hardware = "IPC-42";
    OnvifCamera a(first), b(second);
    ASSERT_TRUE(a.ok && b.ok);
    ASSERT_TRUE(a.device->startDiscovery());
    ASSERT_TRUE(b.device->startDiscovery());
    setenv("IPCAM_DISCOVERY_PORT", std::to_string(port).c_str(), 1);
    std::vector<Found> found;
    const int count = IPCamDiscover(1, &collectDevice, &found);
    unsetenv("IPCAM_DISCOVERY_PORT");

    ASSERT_EQ(count, 2);
    ASSERT_EQ(found.size(), 2u);
    for (const OnvifCamera *camera : {&a, &b}) {
        int seen = 0;
        for (const Found &f : found) seen += f.url == camera->url();
        EXPECT_EQ(seen, 1) << camera->url();
    }
    for (const Found &f : found) {
        if (f.url == a.url()) {
            EXPECT_EQ(f.name, "Front Door");
        } else {
            EXPECT_EQ(f.hardware, "IPC-42");
        }
    }
    // Nothing listens on another port.
    setenv("IPCAM_DISCOVERY_PORT", std::to_string(kestrel_test::freeUdpPort()).c_str(), 1);
    found.clear();
    EXPECT_EQ(IPCamDiscover(1, &collectDevice, &found), 0);
    unsetenv("IPCAM_DISCOVERY_PORT");
}

// A session plays the profile it names, the device's clock two minutes ahead and its stream
// address naming an internal host; nothing but that profile's codec arrives.
TEST(OnvifSessionTest, SessionPlaysItsProfileWithSkewAndInternalAddress) {
    camsim::OnvifConfig config;
    config.clockSkewSeconds = 120;
    config.internalUri = true;
    OnvifCamera camera(config);
    ASSERT_TRUE(camera.ok);
    const struct {
        int profile;
        kestrel_test::TestCodec codec;
    } rows[] = {{0, kestrel_test::TestCodec::H264}, {1, kestrel_test::TestCodec::H265}};
    int id = 7300;
    for (const auto &row : rows) {
        IPCamSession *session = nullptr;
        ASSERT_EQ(IPCamCreateOnvif(&session, camera.url().c_str(), "admin", "secret", row.profile,
                                   ++id),
                  IPCAM_OK);
        kestrel_test::FrameCollector frames;
        ASSERT_EQ(IPCamAction(session, &kestrel_test::FrameCollector::callback, &frames,
                              IPCAM_ACTION_VIDEO),
                  0);
        EXPECT_TRUE(kestrel_test::waitFor([&] { return frames.videoFrames().size() >= 20; },
                                          kPatienceMs))
            << "profile " << row.profile << " status " << IPCamGetLastError(session);
        IPCamDelete(session);
        const auto decoded = kestrel_test::decodeVideo(row.codec, frames.videoFrames());
        EXPECT_TRUE(decoded.ok) << "profile " << row.profile;
        EXPECT_EQ(decoded.width, 320);
    }
}

// What a session says when it cannot play, as its last status.
TEST(OnvifSessionTest, FailuresAreNamed) {
    OnvifCamera camera;
    ASSERT_TRUE(camera.ok);
    const std::string missing = "http://127.0.0.1:" + std::to_string(camera.web.port()) + "/nothing";
    const struct {
        std::string url;
        const char *password;
        int profile, status;
    } rows[] = {
        {camera.url(), "wrong", 0, IPCAM_USER_OR_PASSWD_IS_ER},
        {camera.url(), "secret", 3, IPCAM_ONVIF_NO_PROFILE},
        {missing, "secret", 0, IPCAM_ONVIF_NOT_DEVICE},
    };
    int id = 7400;
    for (const auto &row : rows) {
        IPCamSession *session = nullptr;
        ASSERT_EQ(IPCamCreateOnvif(&session, row.url.c_str(), "admin", row.password, row.profile,
                                   ++id),
                  IPCAM_OK);
        kestrel_test::FrameCollector frames;
        IPCamAction(session, &kestrel_test::FrameCollector::callback, &frames, IPCAM_ACTION_VIDEO);
        EXPECT_TRUE(kestrel_test::waitFor(
            [&] { return IPCamGetLastError(session) == row.status; }, kPatienceMs))
            << row.url << " " << row.profile << ": " << IPCamGetLastError(session);
        IPCamDelete(session);
        EXPECT_TRUE(frames.videoFrames().empty());
    }
}

// The device two minutes ahead takes our token only when it is made in the device's time.
TEST(OnvifSessionTest, TokensAreSignedInTheDeviceTime) {
    camsim::OnvifConfig config;
    config.clockSkewSeconds = 120;
    OnvifCamera camera(config);
    ASSERT_TRUE(camera.ok);
    RtspUrl url;
    ASSERT_EQ(parseUrl(camera.url(), "http://", 80, url), 0);
    SocketSlot slot{-1};
    std::vector<MediaProfile> profiles;

    // A token in our time is refused; the clock is read then and the request sent again.
    OnvifDevice unaware(url, "127.0.0.1", "admin", "secret");
    ASSERT_EQ(unaware.findServices(slot), 0);  // asked before authentication
    EXPECT_EQ(unaware.readProfiles(slot, profiles), 0);
    EXPECT_NEAR(static_cast<double>(unaware.clockOffset()), 120.0, 2.0);

    OnvifDevice aware(url, "127.0.0.1", "admin", "secret");
    ASSERT_EQ(aware.readClock(slot), 0);
    EXPECT_NEAR(static_cast<double>(aware.clockOffset()), 120.0, 2.0);
    ASSERT_EQ(aware.findServices(slot), 0);
    ASSERT_EQ(aware.readProfiles(slot, profiles), 0);
    EXPECT_EQ(profiles.size(), 3u);
}

// Profiles as the tool and the editor list them, through WS-Security and through HTTP Digest.
TEST(OnvifSessionTest, ProfilesWithEitherAuthentication) {
    for (bool digest : {false, true}) {
        camsim::OnvifConfig config;
        config.digest = digest;
        OnvifCamera camera(config);
        ASSERT_TRUE(camera.ok);
        std::vector<IPCamOnvifProfile> profiles;
        ASSERT_EQ(IPCamOnvifProfiles(camera.url().c_str(), "admin", "secret", &collectProfile,
                                     &profiles),
                  3)
            << "digest " << digest;
        const std::string rtsp = "rtsp://127.0.0.1:" + std::to_string(camera.rtsp.port()) + "/";
        const char *codecs[] = {"H264", "H265", "JPEG"};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(profiles[i].index, i);
            EXPECT_STREQ(profiles[i].codec, codecs[i]);
            EXPECT_EQ(profiles[i].width, 320);
            EXPECT_EQ(std::string(profiles[i].streamUri).rfind(rtsp, 0), 0u) << profiles[i].streamUri;
        }
        EXPECT_EQ(IPCamOnvifProfiles(camera.url().c_str(), "admin", "wrong", &collectProfile,
                                     &profiles),
                  IPCAM_USER_OR_PASSWD_IS_ER)
            << "digest " << digest;
    }
    std::vector<IPCamOnvifProfile> none;
    EXPECT_EQ(IPCamOnvifProfiles("http://127.0.0.1:1/onvif/device_service", "a", "b",
                                 &collectProfile, &none),
              IPCAM_SETSOCKET_IS_ER);
    EXPECT_EQ(IPCamOnvifProfiles("rtsp://127.0.0.1/x", "a", "b", &collectProfile, &none),
              IPCAM_IS_NULL);
}

PtzRequest ptzRequest(int32_t command, int32_t number = -1, const char *name = "") {
    PtzRequest r;
    std::memset(&r, 0xFF, sizeof r);
    r.code = IPCAM_CMD_PAN_TILT;
    r.command = command;
    r.number = number;
    std::snprintf(r.text, sizeof r.text, "%s", name);
    return r;
}

// The PTZ buttons move the simulated head, stop it, and presets come back where they were set.
TEST(OnvifSessionTest, PtzMovesTheHeadAndPresetsRoundTrip) {
    OnvifCamera camera;
    ASSERT_TRUE(camera.ok);
    IPCamSession *session = nullptr;
    ASSERT_EQ(IPCamCreateOnvif(&session, camera.url().c_str(), "admin", "secret", 0, 7500), 0);
    kestrel_test::FrameCollector frames;
    IPCamAction(session, &kestrel_test::FrameCollector::callback, &frames, IPCAM_ACTION_VIDEO);
    ASSERT_TRUE(kestrel_test::waitFor([&] { return IPCamGetStatus(session) >= 0; }, kPatienceMs));
    camsim::PtzHead &head = camera.device->head();
    auto command = [&](PtzRequest r) { return IPCamCommand(session, &r, nullptr); };

    const double startPan = head.position(0).pan;
    ASSERT_EQ(command(ptzRequest(IPCAM_PTZ_RIGHT_START)), 1);
    EXPECT_TRUE(kestrel_test::waitFor([&] { return head.position(0).pan > startPan + 1; }, 3000));
    ASSERT_EQ(command(ptzRequest(IPCAM_PTZ_STOP)), 1);
    EXPECT_TRUE(kestrel_test::waitFor([&] { return !head.position(0).panTiltMoving; }, 3000));
    const camsim::HeadPosition set = head.position(0);

    ASSERT_EQ(command(ptzRequest(IPCAM_PTZ_PRESET_SET, 3, "door")), 1);
    ASSERT_EQ(command(ptzRequest(IPCAM_PTZ_UP_START)), 1);
    EXPECT_TRUE(kestrel_test::waitFor([&] { return head.position(0).tilt > set.tilt + 1; }, 3000));
    ASSERT_EQ(command(ptzRequest(IPCAM_PTZ_STOP)), 1);
    ASSERT_EQ(command(ptzRequest(IPCAM_PTZ_PRESET_GO, 3)), 1);
    EXPECT_TRUE(kestrel_test::waitFor(
        [&] {
            const camsim::HeadPosition p = head.position(0);
            return std::abs(p.pan - set.pan) < 0.5 && std::abs(p.tilt - set.tilt) < 0.5 &&
                   !p.panTiltMoving;
        },
        5000));
    // Found again by its name, removed, then no longer there.
    ASSERT_EQ(command(ptzRequest(IPCAM_PTZ_PRESET_REMOVE, 99, "door")), 1);
    EXPECT_EQ(command(ptzRequest(IPCAM_PTZ_PRESET_GO, 3)), IPCAM_ONVIF_FAULT);
    EXPECT_EQ(command(ptzRequest(IPCAM_PTZ_FOCUS_NEAR)), -99);
    IPCamSettingsRecord other{};
    other.code = 4099;
    EXPECT_EQ(IPCamCommand(session, &other, nullptr), -99);
    IPCamDelete(session);
}

}  // namespace
}  // namespace ipcam
