// Opening family A streams against the simulated camera, and reading them through the
// operations the connect step installs, as the session threads will.
#include "transport/family_a_connect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "camsim/rtsp_server.h"
#include "control/base64.h"
#include "core/session.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"
#include "transport/family_a_stream.h"
#include "transport/rtp_reader.h"
#include "transport/rtsp_client.h"
#include "transport/talk_channel.h"

using namespace ipcam;
using camsim::Framing;

namespace {

TEST(NetworkPortsTest, KeysOfTheNetworkReply) {
    struct Case {
        const char *reply;
        int32_t stream;
        int32_t video, audio, rtsp;
        const char *path;  // nullptr: none taken
    } cases[] = {
        {"Video_Port=8000<br>Audio_Port=8001<br>Rtsp_Port=554<br>Path_Live1=live/ch0<br>", 0,
         8000, 8001, 554, "live/ch0"},
        {"Audio_Port=8001<br>Audio_I2P_Port=9001<br>RTSP_Port=7070<br>", 0, 0, 9001, 7070,
         nullptr},
        {"Path_Live1=a<br>Path_Live2=b<br>Path_3GPP=c<br>", 1, 0, 0, 0, "b"},
        {"Path_Live1=a<br>Path_Live2=b<br>Path_3GPP=c<br>", 2, 0, 0, 0, "c"},
        {"Path_Live1=a<br>Path_3GPP=mobile<br>", 2, 0, 0, 0, "mobilex"},
        {"Path_Live1=cut", 0, 0, 0, 0, nullptr},  // no "<br>": the path stays
        {"Path_Live1=a<br>", 3, 0, 0, 0, nullptr},
        {"", 0, 0, 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        NetworkPorts p = readNetworkPorts(c.reply, c.stream);
        EXPECT_EQ(p.videoPort, c.video) << c.reply;
        EXPECT_EQ(p.audioPort, c.audio) << c.reply;
        EXPECT_EQ(p.rtspPort, c.rtsp) << c.reply;
        EXPECT_EQ(p.pathFound, c.path != nullptr) << c.reply;
        if (c.path) {
            EXPECT_STREQ(p.path, c.path) << c.reply;
        }
    }
    // A path longer than the field is not taken.
    const std::string longPath = "Path_Live1=" + std::string(100, 'p') + "<br>";
    EXPECT_FALSE(readNetworkPorts(longPath.c_str(), 0).pathFound);
    const std::string longest = "Path_3GPP=" + std::string(62, 'p') + "<br>";
    EXPECT_TRUE(readNetworkPorts(longest.c_str(), 2).pathFound);  // 63 with the "x"
    const std::string tooLong = "Path_3GPP=" + std::string(63, 'p') + "<br>";
    EXPECT_FALSE(readNetworkPorts(tooLong.c_str(), 2).pathFound);  // no room for the "x"
}

class FamilyAConnectTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{1500};

  protected:
    void SetUp() override {
        ASSERT_TRUE(web.start());
        web.setCredentials("admin", "secret");
        frames.attach(session.get());
        std::strcpy(session->host, "127.0.0.1");
        std::strcpy(session->user, "admin");
        std::strcpy(session->password, "secret");
        EncodeBase64("admin:secret", 12, session->authText, sizeof session->authText);
        std::strcpy(session->extraQuery, "&EnableBackupDevice=1&ALiveInterval=300");
        session->port = web.port();
        session->deviceNumber = 1.06;
        session->protocolType = 1;
        session->driver.connect = familyAConnect;
    }
    void TearDown() override {
        for (auto &slot : session->sockets) closeConnection(&slot);
    }

    void camera(camsim::FamilyAConfig config) {
        device = std::make_unique<camsim::FamilyACamera>(web, std::move(config));
        ASSERT_TRUE(device->streamsReady());
        session->modelCode = device->config().modelNumber();
    }

    // Calls runVideo until count video frames have arrived or a call fails.
    int readVideoFrames(std::size_t count) {
        for (int calls = 0; calls < 200; ++calls) {
            const int r = session->driver.runVideo.load()(session.get());
            if (r != 0) return r;
            std::size_t video = 0;
            for (int32_t kind : frames.kinds()) video += kind >= 2 && kind <= 4;
            if (video >= count) return 0;
        }
        return -1000;
    }

    camsim::CgiServer web;
    std::unique_ptr<camsim::FamilyACamera> device;
    kestrel_test::LocalSession session;
    kestrel_test::FrameCollector frames;
};

TEST_F(FamilyAConnectTest, EachStreamFormFromTheNetworkReply) {
    struct Case {
        const char *name;
        int32_t type;
        int capabilities;
        bool announcePorts, separatePorts;
        Framing framing;
        ConnectOp expectConnect;
        RunOp expectReader;
        int32_t typeAfter;
    } cases[] = {
        {"HTTP stream offered", 1, 1, true, false, Framing::Hunt, httpStreamConnect,
         huntRunVideo, 4},
        {"no port keys and no capabilities", 1, 0, false, false, Framing::Hunt, httpStreamConnect,
         huntRunVideo, 4},
        {"type 4 asks for the HTTP stream", 4, 1, true, true, Framing::Hunt, httpStreamConnect,
         huntRunVideo, 4},
        {"separate ports", 1, 0, true, true, Framing::Hunt, separatePortConnect, huntRunVideo, 1},
        {"HTTP stream in the tagged framing", 1, 1, true, false, Framing::Tagged,
         httpStreamConnect, taggedRunVideo, 4},
        {"separate ports in the tagged framing", 1, 0, true, true, Framing::Tagged,
         separatePortConnect, taggedRunVideo, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camsim::FamilyAConfig config;
        config.capabilities = c.capabilities;
        config.announcePorts = c.announcePorts;
        config.stream.framing = c.framing;
        if (c.separatePorts) config.stream.videoListenPort = config.stream.audioListenPort = 0;
        camera(config);
        session->protocolType = c.type;
        session->driver.connect = familyAConnect;
        session->driver.runVideo = nullptr;
        session->awaitingFirstFrame = 1;
        frames.clear();

        ASSERT_EQ(familyAConnect(session.get(), 0), 0);
        EXPECT_EQ(session->driver.connect.load(), c.expectConnect);
        EXPECT_EQ(session->protocolType, c.typeAfter);
        EXPECT_EQ(session->talkOpen.load(), &talkOpen);
        EXPECT_EQ(session->talkSend.load(), &talkSend);
        EXPECT_EQ(session->stream.talkPort, static_cast<int32_t>(web.port()));
        ASSERT_EQ(readVideoFrames(3), 0);
        EXPECT_EQ(session->driver.runVideo.load(), c.expectReader);
        auto kinds = frames.kinds();
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), IPCAM_FRAME_KEY), kinds.end());
        EXPECT_EQ(session->format.width, 640);
        EXPECT_EQ(session->format.videoCodec, 4);

        auto records = device->streams().records();
        ASSERT_FALSE(records.empty());
        if (c.expectConnect == separatePortConnect) {
            std::string login(64, '\0');
            std::memcpy(login.data(), session->authText, std::strlen(session->authText));
            EXPECT_EQ(records[0].received, login);
        } else {
            EXPECT_TRUE(records[0].received.starts_with(
                "GET /GetStream.cgi?Video=0&EnableBackupDevice=1&ALiveInterval=300 HTTP/1.1\r\n"
                "Authorization:Basic YWRtaW46c2VjcmV0\r\n\r\n"))
                << records[0].received;
        }

        // The audio side of the same form.
        session->audioDisconnected = 1;
        ASSERT_EQ(session->driver.connect.load()(session.get(), 1), 0);
        int audioFrames = 0;
        for (int calls = 0; calls < 50 && audioFrames == 0; ++calls) {
            ASSERT_EQ(session->driver.runAudio.load()(session.get()), 0);
            for (int32_t kind : frames.kinds()) audioFrames += kind == IPCAM_FRAME_AUDIO;
        }
        EXPECT_GT(audioFrames, 0);
        for (auto &slot : session->sockets) closeConnection(&slot);
        device.reset();
    }
}

TEST_F(FamilyAConnectTest, RefusedAndSilentStreams) {
    struct Case {
        const char *name;
        camsim::FamilyAConfig config;
        const char *password;
        int connect;  // result of the connect step
        int read;     // then of the first read
    } cases[] = {
        {"wrong password", {.capabilities = 1}, "wrong", IPCAM_USER_OR_PASSWD_IS_ER, 0},
        {"not found", {.capabilities = 1, .stream = {.refuseStatus = 404}}, "secret", -8, 0},
        {"full house", {.capabilities = 1, .stream = {.fullHouse = true}}, "secret", 0,
         kNoStreamSlot},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camera(c.config);
        const std::string credentials = std::string("admin:") + c.password;
        EncodeBase64(credentials.data(), credentials.size(), session->authText,
                     sizeof session->authText);
        session->driver.connect = familyAConnect;
        session->awaitingFirstFrame = 1;
        EXPECT_EQ(familyAConnect(session.get(), 0), c.connect);
        if (c.connect == 0) {
            EXPECT_EQ(session->driver.runVideo.load()(session.get()), c.read);
        } else {
            EXPECT_EQ(session->sockets[kVideoSocket], -1);
        }
        for (auto &slot : session->sockets) closeConnection(&slot);
        device.reset();
    }
    // No network settings at all.
    web.setBody("GetNetwork.cgi", "", 404);
    session->awaitingFirstFrame = 1;
    EXPECT_EQ(familyAConnect(session.get(), 0), -7);
}

TEST_F(FamilyAConnectTest, WrongChecksumStopsForGood) {
    camera({.capabilities = 1,
            .stream = {.cues = {{.frame = 2, .what = camsim::StreamCue::What::BadChecksum}}}});
    ASSERT_EQ(familyAConnect(session.get(), 0), 0);
    int last = 0;
    for (int calls = 0; calls < 100 && last == 0; ++calls)
        last = session->driver.runVideo.load()(session.get());
    EXPECT_EQ(last, kChecksumMismatch);
    EXPECT_EQ(session->sockets[kVideoSocket], -1);
}

TEST_F(FamilyAConnectTest, FramingSwitchMidStreamResynchronisesAndTheReaderFollows) {
    camera({.capabilities = 1,
            .stream = {.cues = {{.frame = 3, .what = camsim::StreamCue::What::SwitchFraming}}}});
    ASSERT_EQ(familyAConnect(session.get(), 0), 0);
    int last = 0;
    for (int calls = 0; calls < 100 && last == 0; ++calls)
        last = session->driver.runVideo.load()(session.get());
    EXPECT_EQ(last, kVideoFramingError);  // a "3297" magic inside a "HUNT" stream

    // The next connection of the same camera starts in its new framing from the first byte.
    device->streams().setFraming(Framing::Tagged);
    device->streams().setCues({});
    session->awaitingFirstFrame = 1;
    ASSERT_EQ(session->driver.connect.load()(session.get(), 0), 0);
    frames.clear();
    ASSERT_EQ(readVideoFrames(2), 0);
    EXPECT_EQ(session->driver.runVideo.load(), &taggedRunVideo);
}

TEST_F(FamilyAConnectTest, RtspWhenTheCameraOffersIt) {
    camsim::StreamingServer rtsp;
    rtsp.addChannel({});
    ASSERT_TRUE(rtsp.start());
    camera({.capabilities = 2, .rtspPort = rtsp.port(), .pathLive1 = "CH01"});
    session->protocolType = 5;
    ASSERT_EQ(familyAConnect(session.get(), 0), 0);
    EXPECT_EQ(session->driver.connect.load(), &rtspConnect);
    EXPECT_EQ(session->rtspPort, rtsp.port());
    EXPECT_STREQ(session->channelName, "CH01");
    ASSERT_EQ(readVideoFrames(2), 0);
    rtspTeardown(session.get());
}

}  // namespace
