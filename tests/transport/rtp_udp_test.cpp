// The UDP video reader: strangers on the socket, and the RTSP connection it watches.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "camsim/rtsp_server.h"
#include "core/session.h"
#include "platform/sockets.h"
#include "support/frame_collector.h"
#include "support/media.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "support/wait.h"
#include "transport/rtp_reader.h"
#include "transport/rtp_udp_buffer.h"
#include "transport/rtsp_client.h"

using namespace ipcam;
using namespace kestrel_test;
using Ending = MemorySource::Ending;

namespace {

struct RtpUdpTest : ::testing::Test {
    ScopedTimeouts timeouts{200};
    LocalSession session;
    FrameCollector collector;
    const std::vector<std::string> frames = encodeMpeg4(176, 144, 5, 5);

    void SetUp() override { collector.attach(session.get()); }

    std::vector<std::string> datagrams(const std::vector<RtpPacketSpec> &packets) {
        std::vector<std::string> out;
        for (const RtpPacketSpec &p : packets) out.push_back(rtpPacket(p));
        return out;
    }
    std::vector<std::string> videoFrames() { return collector.videoFrames(); }
};

TEST_F(RtpUdpTest, TheServerClosingTheRtspConnectionEndsTheCallAtOnce) {
    const std::vector<std::string> flowing = datagrams(packetize({std::string(40'000, 'p')}, 100));
    struct Case {
        const char *name;
        std::vector<std::string> rtp;
        std::vector<std::string> control;  // what comes before the close
    } cases[] = {
        {"no RTP at all", {}, {}},
        {"no RTP, a request before the close", {}, {"OPTIONS * RTSP/1.0\r\nCSeq: 2\r\n\r\n"}},
        {"RTP flowing without the end of a frame", flowing, {}},
        {"RTP flowing, a request before the close",
         flowing,
         {"OPTIONS * RTSP/1.0\r\nCSeq: 2\r\n\r\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession fresh;
        MemorySource rtp(c.rtp, Ending::Silence);
        MemorySource control(c.control, Ending::Close);
        EXPECT_EQ(readUdpVideo(fresh.get(), rtp, nullptr, &control), -8);
        EXPECT_EQ(rtp.idleWaits(), 0u);  // not a single wait for RTP first
        EXPECT_EQ(control.sent().empty(), c.control.empty());
        if (!c.rtp.empty()) {
            EXPECT_GT(rtp.remaining(), 0u);
        }
    }
}

TEST_F(RtpUdpTest, MessagesOnTheRtspConnectionAreTakenWhileVideoFlows) {
    session->rtsp.sessionId = "77";
    MemorySource rtp(datagrams(packetize(frames, 200)), Ending::Silence);
    MemorySource control({"GET_PARAMETER rtsp://h/CH01 RTSP/1.0\r\nCSeq: 41\r\n\r\n",
                          "RTSP/1.0 200 OK\r\nCSeq: 6\r\n\r\n"},
                         Ending::Silence);
    while (rtp.remaining() > 0) ASSERT_EQ(readUdpVideo(session.get(), rtp, nullptr, &control), 0);
    EXPECT_EQ(control.sent(), "RTSP/1.0 200 OK\r\nCSeq: 41\r\nSession: 77\r\n\r\n");
    EXPECT_EQ(session->rtp.replies.lastCseq, 6);
    EXPECT_EQ(session->rtp.replies.lastStatus, 200);
    EXPECT_TRUE(videoFrames() == std::vector<std::string>(frames.begin(), frames.end() - 1));

    // Nothing more: the receive time-out ends the call, the connection still open.
    EXPECT_EQ(readUdpVideo(session.get(), rtp, nullptr, &control), -8);
    EXPECT_GE(rtp.idleWaits(), 3u);

    // The next connection's stream starts afresh, whatever the time-out left behind.
    session->rtp.resetForConnection();
    collector.clear();
    MemorySource again(datagrams(packetize(frames, 200, 1000)), Ending::Silence);
    while (again.remaining() > 0)
        ASSERT_EQ(readUdpVideo(session.get(), again, nullptr, nullptr), 0);
    EXPECT_EQ(videoFrames().size(), frames.size() - 1);
}

TEST_F(RtpUdpTest, DatagramsOfStrangersArePassedOver) {
    std::vector<RtpPacketSpec> packets = packetize(frames, 250);
    std::vector<std::string> sent;
    // A sender report of the stream's source and its SDES, as a camera sends them; its time
    // reads as the stream's SSRC where RTP has it, so only the packet type tells them apart.
    std::string senderReport("\x80\xC8\x00\x06\x44\x33\x22\x11\x44\x33\x22\x11", 12);
    senderReport += std::string(16, '\x01') + std::string("\x81\xCA\x00\x01\x44\x33\x22\x11", 8);
    for (size_t i = 0; i < packets.size(); ++i) {
        sent.push_back(rtpPacket(packets[i]));
        if (i % 3 == 1) {
            RtpPacketSpec other = packets[i];
            other.ssrc = 0x55667788;  // another source, with numbers that would fit
            other.sequence = static_cast<uint16_t>(packets[i].sequence + 1);
            other.payload = std::string("\0\0\1\xB6stranger", 12);
            sent.push_back(rtpPacket(other));
        }
        if (i % 4 == 2) sent.push_back(std::string(20, '\x17'));  // no RTP at all
        if (i % 5 == 3) sent.push_back(senderReport);  // to the RTP port, as some cameras do
    }
    MemorySource rtp(sent, Ending::Silence);
    MemorySource rtcp({senderReport, senderReport}, Ending::Silence);
    while (rtp.remaining() > 0) ASSERT_EQ(readUdpVideo(session.get(), rtp, &rtcp, nullptr), 0);
    EXPECT_TRUE(videoFrames() == std::vector<std::string>(frames.begin(), frames.end() - 1));
    EXPECT_EQ(session->awaitingFirstFrame, 0);
    EXPECT_EQ(rtcp.remaining(), 0u);  // the device's reports are read, not left to pile up
    EXPECT_EQ(session->rtp.rtcp.reportedSource(RtcpAnswerState::kVideo), 0x44332211u);
}

// Closing a stream's socket under its reader (as a reconnection does to the audio's) ends the
// read at once, however long the receive time-out.
TEST(RtpUdpSocketTest, ClosingTheSlotEndsTheRead) {
    ScopedTimeouts timeouts{20'000};
    LocalSession session;
    session->awaitingFirstFrame = 0;
    ASSERT_GE(openUdp(&session->sockets[kAudioSocket], 0), 0);
    const auto started = std::chrono::steady_clock::now();
    std::thread closer([&] { closeConnection(&session->sockets[kAudioSocket]); });
    DatagramSource socket(session->sockets[kAudioSocket], session->rtp.peers.audioRtp);
    EXPECT_EQ(readUdpAudio(session.get(), socket, nullptr), -9);
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

// A system that grants a stream's socket less than its key frames want is said once, in words.
TEST(RtpUdpBufferTest, ASystemLimitBelowWhatTheStreamWantsIsSaidOnce) {
    static std::vector<std::string> said;
    said.clear();
    long limit = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> limit;
    if (limit <= 0 || limit >= 32L << 20) GTEST_SKIP() << "net.core.rmem_max is " << limit;
    IPCamSetMessageHandler([](const char *text, const char *) { said.push_back(text); });
    LocalSession session;
    std::thread unprivileged([&] {
        // Without the right to go beyond the limit, as a process of an ordinary user.
        __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        syscall(SYS_capget, &head, caps);
        caps[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
        syscall(SYS_capset, &head, caps);
        ASSERT_GE(openUdp(&session->sockets[kVideoSocket], 0), 0);
        DatagramSource socket(session->sockets[kVideoSocket], session->rtp.peers.videoRtp);
        for (long largest : {limit, 2 * limit}) {
            session->rtp.udp.buffer.largestFrame = static_cast<std::size_t>(largest);
            fitUdpBuffer(session.get(), socket);
        }
    });
    unprivileged.join();
    IPCamSetMessageHandler(nullptr);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0], "the system allows " + std::to_string(limit / 1024) +
                           " kB for UDP; large pictures may lose packets: raise "
                           "net.core.rmem_max or use TCP");
}

// An encoder that restarts under a new SSRC is followed from its first key frame, behind a time
// step; the stranger just before it is not taken for it.
TEST_F(RtpUdpTest, AnEncoderThatRestartsUnderANewSsrcIsFollowed) {
    std::vector<RtpPacketSpec> before = packetize(frames, 250, 100);
    std::vector<RtpPacketSpec> after = packetize(frames, 250, 40000);
    for (RtpPacketSpec &p : after) p.ssrc = 0x99AABBCC;
    RtpPacketSpec stranger = after[0];
    stranger.ssrc = 0x55667788;
    std::vector<std::string> sent = {std::string(20, '\x17')};  // no RTP at all comes first
    for (const auto *stream : {&before, &after}) {
        for (const RtpPacketSpec &p : *stream) sent.push_back(rtpPacket(p));
        if (stream == &before) sent.push_back(rtpPacket(stranger));
    }
    MemorySource rtp(sent, Ending::Silence);
    while (rtp.remaining() > 0) ASSERT_EQ(readUdpVideo(session.get(), rtp, nullptr, nullptr), 0);
    // Each stream's last frame is never seen to end.
    std::vector<std::string> expected(frames.begin(), frames.end() - 1);
    expected.insert(expected.end(), frames.begin(), frames.end() - 1);
    EXPECT_TRUE(videoFrames() == expected);
    const std::vector<int32_t> kinds = collector.kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), int32_t{IPCAM_MSG_TIME_STEP}), 2);
}

// A streaming server that goes away mid-stream is noticed from its RTSP connection at once,
// not after the receive time-out.
TEST(RtpUdpEndToEndTest, AServerThatGoesAwayEndsTheStreamAtOnce) {
    ScopedTimeouts timeouts{6000};
    camsim::StreamingServer server;
    camsim::ChannelConfig channel;
    channel.codec = camsim::ChannelConfig::Codec::Jpeg;
    channel.width = 176;
    channel.height = 144;
    channel.fps = 30;
    ASSERT_FALSE(server.addChannel(channel).empty());
    ASSERT_TRUE(server.start());
    LocalSession session;
    FrameCollector collector;
    collector.attach(session.get());
    std::strcpy(session->host, "127.0.0.1");
    std::strcpy(session->channelName, "CH01");
    session->rtspPort = server.port();
    session->rtpOverUdp = 1;
    ASSERT_EQ(rtspConnect(session.get(), 0), 0);

    using Clock = std::chrono::steady_clock;
    std::atomic<int64_t> stoppedAt{0};
    std::thread stopper([&] {
        waitFor([&] { return collector.frames().size() >= 5; }, 10'000);
        stoppedAt = Clock::now().time_since_epoch().count();
        server.stop();
    });
    int r = 0;
    while ((r = rtpRunVideo(session.get())) == 0) {
    }
    const auto endedAt = Clock::now();
    stopper.join();
    EXPECT_EQ(r, -8);
    EXPECT_GE(collector.frames().size(), 5u);
    const auto afterStop = std::chrono::duration_cast<std::chrono::milliseconds>(
        endedAt - Clock::time_point(Clock::duration(stoppedAt.load())));
    EXPECT_GE(afterStop.count(), 0);     // it ended because of the stop
    EXPECT_LT(afterStop.count(), 3000);  // the receive time-out is 6 s
    rtspTeardown(session.get());
}

}  // namespace
