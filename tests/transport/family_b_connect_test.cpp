// Family B data channels and the talk channel against the simulated cameras, driven through
// the operations a session installs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "control/base64.h"
#include "core/session.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"
#include "transport/family_a_connect.h"
#include "transport/family_a_stream.h"
#include "transport/family_b_stream.h"
#include "transport/talk_channel.h"

using namespace ipcam;

namespace {

constexpr const char *kAccept =
    "Accept:image/gif,image/x-xbitmap, image/jpeg,image/pjpeg, */*\r\nHost:127.0.0.1\r\n"
    "Connection:Keep-Alive\r\nAccept-Language:zh-tw\r\n\r\n";

class FamilyBConnectTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{1500};

  protected:
    void SetUp() override {
        ASSERT_TRUE(web.start());
        web.setCredentials("admin", "secret");
        frames.attach(session.get());
        std::strcpy(session->host, "127.0.0.1");
        useAccount("admin:secret");
        session->port = web.port();
        session->protocolType = 2;
    }
    void TearDown() override {
        for (auto &slot : session->sockets) closeConnection(&slot);
    }
    void useAccount(const std::string &credentials) {
        EncodeBase64(credentials.data(), credentials.size(), session->authText,
                     sizeof session->authText);
    }
    std::size_t count(int32_t kind) {
        std::size_t n = 0;
        for (int32_t k : frames.kinds()) n += k == kind;
        return n;
    }
    // Reads with the session's current operation (a reader may hand over to another) until n
    // frames of kind have come or a call fails.
    int readUntil(int32_t kind, std::size_t n) {
        const bool audio = kind == IPCAM_FRAME_AUDIO;
        for (int calls = 0; calls < 500 && count(kind) < n; ++calls) {
            RunOp run = audio ? session->driver.runAudio.load() : session->driver.runVideo.load();
            if (int r = run(session.get()); r != 0) return r;
        }
        return count(kind) >= n ? 0 : -1000;
    }

    camsim::CgiServer web;
    kestrel_test::LocalSession session;
    kestrel_test::FrameCollector frames;
};

TEST_F(FamilyBConnectTest, PicturesAndSoundInBothRequestVariants) {
    camsim::FamilyBCamera camera(web, {});
    for (int authorised = 0; authorised < 2; ++authorised) {
        SCOPED_TRACE(authorised ? "with authorisation" : "without");
        if (!authorised) web.setCredentials("", "");
        else web.setCredentials("admin", "secret");
        session->authRequired = static_cast<uint8_t>(authorised);
        camera.streams().clearRecords();
        frames.clear();

        session->driver.runVideo = familyBRunVideo;
        session->driver.runAudio = familyBRunAudio;
        ASSERT_EQ(familyBConnect(session.get(), 0), 0);
        ASSERT_EQ(readUntil(IPCAM_FRAME_KEY, 3), 0);
        EXPECT_EQ(session->format.width, 640);
        EXPECT_EQ(session->format.height, 480);
        EXPECT_EQ(count(IPCAM_MSG_EVENT), 0u);  // the status bytes do not change

        session->audioDisconnected = 1;
        ASSERT_EQ(familyBConnect(session.get(), 1), 0);
        ASSERT_EQ(readUntil(IPCAM_FRAME_AUDIO, 3), 0);
        for (const auto &d : frames.frames()) {
            if (d.kind == IPCAM_FRAME_AUDIO) {
                EXPECT_EQ(d.payload.size(), kAudioBlockSize);
            }
        }
        EXPECT_EQ(session->format.sampleRate, 8000);

        auto records = camera.streams().records();
        ASSERT_EQ(records.size(), 2u);
        const std::string auth = authorised ? "Authorization:Basic YWRtaW46c2VjcmV0\r\n" : "";
        EXPECT_EQ(records[0].head, "GET /GetData.cgi?Status=true HTTP/1.1\r\n" + auth + kAccept);
        EXPECT_EQ(records[1].head, std::string(authorised ? "GET /GetAudioData.cgi=?Format=Pcm"
                                                          : "GET /GetAudioData.cgi?Format=Pcm") +
                                       " HTTP/1.1\r\n" + auth + kAccept);
        for (auto &slot : session->sockets) closeConnection(&slot);
    }
}

TEST_F(FamilyBConnectTest, ARefusalCutBeforeItsHeadEndsStillSaysWhy) {
    // Cut short: the 401 is all the client learns. A whole head is read only for " 200 ".
    camsim::FamilyBCamera camera(web, {.stream = {.refuseStatus = 401, .cutRefusal = true}});
    session->authRequired = 1;
    EXPECT_EQ(familyBConnect(session.get(), 0), IPCAM_USER_OR_PASSWD_IS_ER);
    EXPECT_EQ(session->sockets[kVideoSocket], -1);
    useAccount("admin:wrong");
    EXPECT_EQ(familyBConnect(session.get(), 0), -8);
}

TEST_F(FamilyBConnectTest, ChangingStatusBytesMakeAnEvent) {
    camsim::FamilyBCamera camera(
        web, {.stream = {.fps = 30, .cues = {{.picture = 3, .what = camsim::DataCue::What::Changing}}}});
    session->authRequired = 1;
    session->driver.runVideo = familyBRunVideo;
    ASSERT_EQ(familyBConnect(session.get(), 0), 0);
    ASSERT_EQ(readUntil(IPCAM_FRAME_KEY, 6), 0);
    ASSERT_EQ(count(IPCAM_MSG_EVENT), 1u);
    EXPECT_EQ(session->eventState, 1);
}

TEST_F(FamilyBConnectTest, TalkAudioReachesTheCamera) {
    camsim::FamilyACamera camera(
        web, {.capabilities = 1, .stream = {.framing = camsim::Framing::Tagged, .talkSlots = 1}});
    session->protocolType = 1;
    session->modelCode = camera.config().modelNumber();
    session->awaitingFirstFrame = 1;
    ASSERT_EQ(familyAConnect(session.get(), 0), 0);
    ASSERT_EQ(readUntil(IPCAM_FRAME_KEY, 2), 0);
    ASSERT_EQ(session->stream.talkAvailable, 1);

    ASSERT_EQ(IPCamTalkOpen(session.get(), 1), 0);
    const std::string audio(1000, '\x11');
    ASSERT_EQ(IPCamTalkSend(session.get(), audio.data(), 1000), 0);
    ASSERT_TRUE(camera.talk().waitForBytes(23 + 20 + 1000, 3000));
    const std::string received = camera.talk().received();
    const std::string header("3297\x14\x05\x01\x78\x00\x80\x00\x00\xD1\x07\x00\xFE\x00\x80\x00\x80", 20);
    ASSERT_EQ(received.size(), 23u + 20u + 1000u);
    EXPECT_EQ(received.substr(0, 6), std::string("3297\x14\x0B", 6));  // talk start
    EXPECT_EQ(received.substr(23, 20), header);
    EXPECT_EQ(received.substr(43), audio);
    EXPECT_EQ(IPCamTalkOpen(session.get(), 0), 0);
    EXPECT_TRUE(camera.talk().waitUntilEnded(3000));
}

TEST_F(FamilyBConnectTest, NoTalkWithoutAFreeTalkChannel) {
    camsim::FamilyACamera camera(
        web, {.capabilities = 1, .stream = {.framing = camsim::Framing::Tagged, .talkSlots = 0}});
    session->protocolType = 1;
    session->modelCode = camera.config().modelNumber();
    session->awaitingFirstFrame = 1;
    ASSERT_EQ(familyAConnect(session.get(), 0), 0);
    ASSERT_EQ(readUntil(IPCAM_FRAME_KEY, 2), 0);
    EXPECT_EQ(IPCamTalkOpen(session.get(), 1), IPCAM_TALK_NOT_AVAILABLE);
    EXPECT_FALSE(camera.talk().waitForConnections(1, 300));
}

}  // namespace
