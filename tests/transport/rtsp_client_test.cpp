#include "transport/rtsp_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "camsim/rtsp_server.h"
#include "core/config.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/media.h"
#include "support/scoped_timeouts.h"
#include "transport/rtp_reader.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

camsim::ChannelConfig channel(camsim::ChannelConfig::Codec codec, bool audio) {
    camsim::ChannelConfig c;
    c.codec = codec;
    c.width = 320;
    c.height = 240;
    c.fps = 30;
    c.audio = audio;
    return c;
}

class RtspClientTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{2000};

  protected:
    void SetUp() override { collector.attach(session.get()); }
    void TearDown() override {
        rtspTeardown(session.get());
        EXPECT_TRUE(server.waitUntilIdle(3000)) << "the server still holds a session";
        server.stop();
    }
    void start(std::vector<camsim::ChannelConfig> channels, bool udp = false) {
        for (const auto &c : channels) ASSERT_FALSE(server.addChannel(c).empty());
        ASSERT_TRUE(server.start());
        std::strcpy(session->host, "127.0.0.1");
        std::strcpy(session->channelName, "CH01");
        session->rtspPort = server.port();
        session->rtpOverUdp = udp ? 1 : 0;
    }
    std::vector<std::string> requestHeads() {
        std::vector<std::string> heads;
        for (const auto &r : server.rtspRequests()) heads.push_back(r.raw);
        return heads;
    }
    // Runs the video reader until count pictures have arrived (or ten seconds have passed).
    std::vector<std::string> pictures(size_t count) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<std::string> got;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            int r = rtpRunVideo(session.get());
            if (r != 0) ADD_FAILURE() << "reader stopped with " << r;
            if (r != 0) break;
            got.clear();
            for (const Delivered &d : collector.frames())
                if (d.kind == IPCAM_FRAME_KEY || d.kind == IPCAM_FRAME_DEPENDENT)
                    got.push_back(d.payload);
        }
        return got;
    }

    camsim::StreamingServer server;
    LocalSession session;
    FrameCollector collector;
};

TEST_F(RtspClientTest, HandshakeTextsByteForByte) {
    start({channel(camsim::ChannelConfig::Codec::Mpeg4, true)});
    session->protocolType = IPCAM_PROTOCOL_TYPE5;
    ASSERT_EQ(rtspConnect(session.get(), 0), 0);
    const std::string video = session->rtsp.videoUrl, audio = session->rtsp.audioUrl,
                      id = session->rtsp.sessionId;
    ASSERT_FALSE(video.empty());
    ASSERT_FALSE(audio.empty());
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(id.find_first_of(";\r"), std::string::npos);
    rtspTeardown(session.get());
    ASSERT_TRUE(server.waitForRtspRequests(5, 3000));
    const std::string base = "rtsp://127.0.0.1/CH01";
    EXPECT_EQ(
        requestHeads(),
        (std::vector<std::string>{
            "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 0\r\n\r\n",
            "SETUP " + video +
                " RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0\r\n\r\n",
            "SETUP " + audio + " RTSP/1.0\r\nSession: " + id +
                "\r\nCSeq: 2\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2\r\n\r\n",
            "PLAY " + base + " RTSP/1.0\r\nCSeq: 3\r\nSession: " + id + "\r\n\r\n",
            "TEARDOWN " + base + " RTSP/1.0\r\nCSeq: 4\r\nSession: " + id + "\r\n\r\n",
        }));
    // The format carries the codecs the description names.
    EXPECT_EQ(session->format.videoCodec, 4);
    EXPECT_EQ(session->format.audioCodec, 3);
    const double rate = session->format.frameRate;  // the field is packed: read it by value
    EXPECT_EQ(rate, 30.0);
}

TEST_F(RtspClientTest, UdpHandshakeNamesTheLocalPorts) {
    start({channel(camsim::ChannelConfig::Codec::Jpeg, true)}, true);
    ASSERT_EQ(rtspConnect(session.get(), 0), 0);
    const int base = session->clientPortBase;
    ASSERT_GT(base, 0);
    std::vector<std::string> heads = requestHeads();
    ASSERT_EQ(heads.size(), 4u);
    EXPECT_NE(heads[1].find("Transport: RTP/AVP/UDP;unicast;client_port=" + std::to_string(base) +
                            "\r\n"),
              std::string::npos);
    EXPECT_NE(heads[2].find("\r\nCSeq: 2\r\nSession: " + session->rtsp.sessionId +
                            "\r\nTransport: RTP/AVP/UDP;unicast;client_port=" +
                            std::to_string(base + 2) + "-" + std::to_string(base + 3) + "\r\n"),
              std::string::npos);
    for (int slot : {kVideoSocket, kAudioSocket, kSixthSocket, kSeventhSocket})
        EXPECT_NE(session->sockets[slot], -1);
}

TEST_F(RtspClientTest, WithoutAudioPlayFollowsOneSetup) {
    start({channel(camsim::ChannelConfig::Codec::Mpeg4, false)});
    ASSERT_EQ(rtspConnect(session.get(), 0), 0);
    EXPECT_TRUE(session->rtsp.audioUrl.empty());
    std::vector<std::string> heads = requestHeads();
    ASSERT_EQ(heads.size(), 3u);
    EXPECT_EQ(heads[2].rfind("PLAY ", 0), 0u);
    EXPECT_NE(heads[2].find("CSeq: 2\r\n"), std::string::npos);

    // A reconnection goes on counting.
    rtspTeardown(session.get());
    server.clearRtspRequests();
    ASSERT_EQ(rtspConnect(session.get(), 0), 0);
    ASSERT_FALSE(requestHeads().empty());
    EXPECT_EQ(requestHeads()[0], "DESCRIBE rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 3\r\n\r\n");
}

TEST_F(RtspClientTest, FailuresOfTheVideoPath) {
    camsim::ChannelConfig noControl = channel(camsim::ChannelConfig::Codec::Mpeg4, false);
    noControl.faults.omitVideoControl = true;
    start({noControl});
    EXPECT_EQ(rtspConnect(session.get(), 0), -8);
    EXPECT_EQ(session->sockets[kRtspSocket], -1);
    std::strcpy(session->channelName, "CH09");  // no such channel
    EXPECT_EQ(rtspConnect(session.get(), 0), -8);
    session->rtspPort = 1;  // nobody listens
    EXPECT_EQ(rtspConnect(session.get(), 0), -8);
    session->videoRunning = 0;
    EXPECT_EQ(rtspConnect(session.get(), 0), IPCAM_IS_OVER);
    EXPECT_EQ(rtspConnect(session.get(), 1), 0);  // audio needs no connection of its own
}

struct TransportCase {
    const char *name;
    camsim::ChannelConfig::Codec codec;
    bool udp;
};

class RtspPicturesTest : public RtspClientTest,
                         public ::testing::WithParamInterface<TransportCase> {};

TEST_P(RtspPicturesTest, DeliversDecodablePictures) {
    const TransportCase &c = GetParam();
    start({channel(c.codec, false)}, c.udp);
    ASSERT_EQ(rtspConnect(session.get(), 0), 0);
    std::vector<std::string> got = pictures(40);
    ASSERT_GE(got.size(), 40u);
    std::vector<int32_t> kinds = collector.kinds();
    auto firstVideo =
        std::find_if(kinds.begin(), kinds.end(), [](int32_t k) { return k == 2 || k == 3; });
    ASSERT_NE(firstVideo, kinds.end());
    EXPECT_EQ(*firstVideo, IPCAM_FRAME_KEY);
    if (c.codec == camsim::ChannelConfig::Codec::Mpeg4) {
        Decoded d = decodeMpeg4(got);
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.width, 320);
        EXPECT_EQ(d.height, 240);
        EXPECT_EQ(session->format.width, 320);
    } else {
        for (const std::string &p : got) {
            Decoded d = decodeJpeg(p);
            EXPECT_TRUE(d.ok);
            EXPECT_EQ(d.width, 320);
            EXPECT_EQ(d.height, 240);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transports, RtspPicturesTest,
    ::testing::Values(TransportCase{"Mpeg4Interleaved", camsim::ChannelConfig::Codec::Mpeg4, false},
                      TransportCase{"Mpeg4Udp", camsim::ChannelConfig::Codec::Mpeg4, true},
                      TransportCase{"JpegInterleaved", camsim::ChannelConfig::Codec::Jpeg, false},
                      TransportCase{"JpegUdp", camsim::ChannelConfig::Codec::Jpeg, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(RtspClientTest, AGapInTheStreamWaitsForTheNextKeyFrame) {
    camsim::ChannelConfig lossy = channel(camsim::ChannelConfig::Codec::Mpeg4, false);
    lossy.faults.dropEveryNth = 25;
    start({lossy});
    ASSERT_EQ(rtspConnect(session.get(), 0), 0);
    std::vector<std::string> got = pictures(45);
    ASSERT_GE(got.size(), 45u);
    // Whatever was lost, what is delivered decodes: every run restarts at a key frame.
    Decoded d = decodeMpeg4(got);
    EXPECT_TRUE(d.ok);
}

}  // namespace

namespace {

// A device that answers each request head with the next scripted reply.
void scriptedDevice(kestrel_test::Listener &listener, std::vector<std::string> replies) {
    int peer = listener.accept();
    if (peer < 0) return;
    for (const std::string &reply : replies) {
        std::string head;
        char c;
        while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
            if (recv(peer, &c, 1, 0) != 1) break;
            head += c;
        }
        kestrel_test::sendText(peer, reply);
    }
    kestrel_test::readAll(peer, 500);
    close(peer);
}

std::string describeReply(const std::string &sdp) {
    return "RTSP/1.0 200 OK\r\nCSeq: 0\r\nContent-Length: " + std::to_string(sdp.size()) +
           "\r\n\r\n" + sdp;
}

TEST(RtspScriptedTest, LengthsFromTheDeviceAreChecked) {
    const std::string video =
        "m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=control:track1\r\n";
    const std::string setupOk = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nSession: 1234;timeout=60\r\n\r\n";
    const std::string playOk = "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n";
    struct Case {
        const char *name;
        std::vector<std::string> replies;
        int expected;
    } cases[] = {
        {"plain", {describeReply(video), setupOk, playOk}, 0},
        {"session of 31 characters",
         {describeReply(video), "RTSP/1.0 200 OK\r\nSession: " + std::string(31, 's') + "\r\n\r\n",
          playOk},
         0},
        {"session of 127 characters",
         {describeReply(video), "RTSP/1.0 200 OK\r\nSession: " + std::string(127, 's') + "\r\n\r\n",
          playOk},
         0},
        {"session of 128 characters",
         {describeReply(video),
          "RTSP/1.0 200 OK\r\nSession: " + std::string(128, 's') + "\r\n\r\n"},
         -8},
        {"setup without session", {describeReply(video), "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n"}, -8},
        {"long controls",
         {describeReply("m=video 0 RTP/AVP 26\r\na=control:" + std::string(500, 'c') +
                        "\r\nm=audio 0 RTP/AVP 14\r\na=control:" + std::string(500, 'a') + "\r\n"),
          setupOk, "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n", "RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n"},
         0},
        {"unknown video codec",
         {describeReply("m=video 0 RTP/AVP 96\r\na=rtpmap:96 VP8/90000\r\n"
                        "a=control:v\r\n")},
         -8},
        {"channel out of range",
         {describeReply(video),
          "RTSP/1.0 200 OK\r\nSession: 1\r\n"
          "Transport: RTP/AVP/TCP;interleaved=0-256\r\n\r\n"},
         -8},
        {"empty audio control: no audio",
         {describeReply(video + "m=audio 0 RTP/AVP 14\r\na=control:\r\n"), setupOk, playOk},
         0},
        {"description too long", {"RTSP/1.0 200 OK\r\nContent-Length: 9999999\r\n\r\n"}, -8},
        {"description cut short", {"RTSP/1.0 200 OK\r\nContent-Length: 500\r\n\r\n" + video}, -8},
        {"refused without a challenge", {"RTSP/1.0 401 Unauthorized\r\n\r\n"}, -4},
        {"not found", {"RTSP/1.0 404 Not Found\r\n\r\n"}, -8},
        {"no video", {describeReply("m=audio 0 RTP/AVP 14\r\na=control:a\r\n")}, -8},
    };
    kestrel_test::ScopedTimeouts timeouts(300);
    for (const Case &c : cases) {
        kestrel_test::Listener listener;
        std::thread device(scriptedDevice, std::ref(listener), c.replies);
        LocalSession session;
        std::strcpy(session->host, "127.0.0.1");
        std::strcpy(session->channelName, "CH01");
        session->rtspPort = listener.port();
        SCOPED_TRACE(c.name);
        EXPECT_EQ(rtspConnect(session.get(), 0), c.expected);
        EXPECT_LE(session->rtsp.sessionId.size(), 127u) << c.name;
        rtspTeardown(session.get());
        device.join();
    }
}

}  // namespace
