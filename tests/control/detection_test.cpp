#include "control/detection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "camsim/cgi_server.h"
#include "core/session.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;
using kestrel_test::LocalSession;

namespace {

class DetectionTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{500};

  protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        server.setCredentials("admin", "secret");
        std::strcpy(session->host, "127.0.0.1");
        std::strcpy(session->user, "admin");
        std::strcpy(session->password, "secret");
        session->port = server.port();
    }
    void TearDown() override { server.stop(); }

    camsim::CgiServer server;
    LocalSession session;
};

uint32_t modelNumber(uint32_t code, uint32_t videoCode = 0, uint32_t audioCode = 0) {
    return code | videoCode << 16 | audioCode << 20;
}

TEST_F(DetectionTest, FamilyACamerasByModel) {
    struct Case {
        const char *name;
        std::string reply;
        int videoIn, audioIn;
        int expected;
        uint32_t model;
        int inputs, outputs, video, audio;
    } cases[] = {
        {"plain camera", "CameraType=" + std::to_string(modelNumber(20)) + "<br>", 0, 0, 0, 20, 2,
         2, 0, 0},
        {"four channels, fifth chosen", "CameraType=" + std::to_string(modelNumber(58, 2)) + "<br>",
         5, 0, 0, modelNumber(58, 2), 4, 4, 0, 0},
        {"four channels, fourth chosen",
         "CameraType=" + std::to_string(modelNumber(58, 2)) + "<br>", 3, 0, 0, modelNumber(58, 2),
         4, 4, 3, 0},
        {"two audio channels", "CameraType=" + std::to_string(modelNumber(57, 0, 1)) + "<br>", 0, 2,
         0, modelNumber(57, 0, 1), 4, 1, 0, 0},
        {"undefined channel code counts as one",
         "CameraType=" + std::to_string(modelNumber(61, 9)) + "<br>", 1, 0, 0, modelNumber(61, 9),
         1, 1, 0, 0},
        {"recorder row wins", "CameraType=95<br>", 0, 0, 0, 95, 0, 0, 0, 0},
        {"unlisted model keeps the counts", "CameraType=200<br>", 0, 0, 0, 200, -7, -7, 0, 0},
        {"refused model", "CameraType=92<br>", 0, 0, -18, 0, -7, -7, 0, 0},
        {"no type key", "Model=5<br>", 0, 0, -3, 0, -7, -7, 0, 0},
        {"device camera",
         "CameraType=7<br>Device=1<br>IO_InputNum=3<br>IO_OutputNum=1<br>VideoNum=2<br>AudioNum=0<"
         "br>",
         4, 0, 0, 0xFF000007u, 3, 1, 0, -1},
        // Only "Device=" makes a device camera, whatever the type value's upper byte says.
        {"type value above 24 bits", "CameraType=16777236<br>IO_InputNum=3<br>", 0, 0, 0, 20, 2, 2,
         0, 0},
        {"negative type value", "CameraType=-16777196<br>AudioNum=0<br>", 0, 0, 0, 20, 2, 2, 0, 0},
        {"device camera keeps a valid channel",
         "CameraType=7<br>Device=0<br>VideoNum=4<br>AudioNum=2<br>", 3, 1, 0, 0xFF000007u, 0, 0, 3,
         1},
    };
    for (const Case &c : cases) {
        server.setBody("GetCameraType.cgi", c.reply);
        session->modelCode = 0;
        session->protocolType = 0;
        session->inputCount = -7;
        session->outputCount = -7;
        session->videoStream = c.videoIn;
        session->audioStream = c.audioIn;
        EXPECT_EQ(DetectFamilyA(session.get()), c.expected) << c.name;
        EXPECT_EQ(session->modelCode.load(), c.model) << c.name;
        EXPECT_EQ(session->inputCount.load(), c.inputs) << c.name;
        EXPECT_EQ(session->outputCount.load(), c.outputs) << c.name;
        EXPECT_EQ(session->videoStream.load(), c.video) << c.name;
        EXPECT_EQ(session->audioStream.load(), c.audio) << c.name;
        EXPECT_EQ(session->protocolType.load(), c.expected == 0 ? 1 : 0) << c.name;
    }
}

TEST_F(DetectionTest, OlderFamilyACameraAnswersOnlyForItsNetwork) {
    server.setBody("GetNetwork.cgi", "IPAddress=10.0.0.5<br>");
    session->protocolType = 0;
    EXPECT_EQ(DetectFamilyA(session.get()), 0);
    EXPECT_EQ(session->modelCode.load(), 0u);
    EXPECT_EQ(session->inputCount.load(), 2);
    EXPECT_EQ(session->outputCount.load(), 2);
    EXPECT_EQ(session->protocolType.load(), 1);
    session->protocolType = 4;  // a type chosen by the user stays
    EXPECT_EQ(DetectFamilyA(session.get()), 0);
    EXPECT_EQ(session->protocolType.load(), 4);

    auto requests = server.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "GetCameraType.cgi");
    EXPECT_EQ(requests[1].path, "GetNetwork.cgi");
    EXPECT_EQ(requests[0].header("Authorization"), "Basic YWRtaW46c2VjcmV0");
}

TEST_F(DetectionTest, ProbeResultsForTheOtherFamilies) {
    const int closedPort = kestrel_test::closedPort();
    struct Case {
        const char *name;
        int (*probe)(IPCamSession *);
        const char *cgi;
        int status;  // 0: no such CGI
        bool wrongPassword, noServer;
        int expected, type;
    } cases[] = {
        {"family B", DetectFamilyB, "GetMyself.cgi", 200, false, false, 0, 2},
        {"family B, account refused", DetectFamilyB, "GetMyself.cgi", 200, true, false, -4, 0},
        {"family B, nobody there", DetectFamilyB, "GetMyself.cgi", 200, false, true, -12, 0},
        {"family B, not this dialect", DetectFamilyB, "GetMyself.cgi", 0, false, false, -16, 0},
        {"family A, account refused", DetectFamilyA, "GetCameraType.cgi", 200, true, false, -15, 0},
        {"server", DetectServer, "GetServerInfo.cgi", 200, false, false, 0, 9},
        {"server ignores the account", DetectServer, "GetServerInfo.cgi", 200, true, false, 0, 9},
        {"server, nobody there", DetectServer, "GetServerInfo.cgi", 200, false, true, -12, 0},
    };
    for (const Case &c : cases) {
        camsim::CgiServer device;
        ASSERT_TRUE(device.start());
        device.setCredentials("admin", "secret");
        if (c.status) device.setBody(c.cgi, "Name=x<br>", c.status);
        if (c.cgi == std::string("GetServerInfo.cgi")) device.setCredentials("", "");
        session->port = c.noServer ? static_cast<uint32_t>(closedPort) : device.port();
        std::strcpy(session->password, c.wrongPassword ? "wrong" : "secret");
        session->protocolType = 0;
        EXPECT_EQ(c.probe(session.get()), c.expected) << c.name;
        EXPECT_EQ(session->protocolType.load(), c.type) << c.name;
    }
}

TEST_F(DetectionTest, ServerChannelsAndRtspPort) {
    struct Case {
        const char *reply;
        int channelIn;
        int channel;
        uint32_t rtspPort;
    } cases[] = {
        {"Channel=4<br>Rtsp_Port=8554<br>", 2, 2, 8554},
        {"Channel=2<br>", 2, 0, 554},
        {"Name=server<br>", 3, 3, 600},  // no channel count: nothing else is read
    };
    server.setCredentials("", "");
    for (const Case &c : cases) {
        server.setBody("GetServerInfo.cgi", c.reply);
        session->videoStream = c.channelIn;
        session->rtspPort = 600;
        EXPECT_EQ(DetectServer(session.get()), 0) << c.reply;
        EXPECT_EQ(session->videoStream.load(), c.channel) << c.reply;
        EXPECT_EQ(session->rtspPort, c.rtspPort) << c.reply;
        EXPECT_TRUE(server.requests().back().header("Authorization").empty());
    }
}

// Whatever a detector concludes, the caller learns whether the device refused the connection,
// took it and stayed silent, or answered (here: with 404 to everything).
TEST_F(DetectionTest, NotesWhetherTheDeviceTookTheConnectionAndAnswered) {
    const int closedPort = kestrel_test::closedPort();
    struct Case {
        const char *name;
        bool listening, answering;
        int reach;
    } cases[] = {
        {"answers, of no known kind", true, true, IPCAM_REACH_ANSWERED},
        {"takes the connection, never answers", true, false, IPCAM_REACH_SILENT},
        {"nothing listens", false, false, IPCAM_REACH_REFUSED},
    };
    for (const Case &c : cases) {
        for (const char *cgi :
             {"GetCameraType.cgi", "GetNetwork.cgi", "GetMyself.cgi", "GetServerInfo.cgi"})
            server.setBehaviour(cgi, {.never = !c.answering});
        session->port = c.listening ? server.port() : static_cast<uint32_t>(closedPort);
        for (int (*detect)(IPCamSession *) : {DetectFamilyA, DetectFamilyB, DetectServer}) {
            session->reach = -1;
            session->protocolType = 0;
            EXPECT_LT(detect(session.get()), 0) << c.name;
            EXPECT_EQ(IPCamGetItem(session.get(), IPCAM_ITEM_REACH), c.reach) << c.name;
        }
    }
}

}  // namespace
