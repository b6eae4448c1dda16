// How a session lives on the server: requests of the server's own, media before the PLAY
// reply, time-outs, and connections closed under a playing session.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/rtsp_play.h"
#include "tools/camsim/rtsp_server.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

using Clock = std::chrono::steady_clock;

ChannelConfig channel(const std::string &spec) {
    std::string error;
    auto c = parseChannelSpec(spec, error);
    EXPECT_TRUE(c) << error;
    return c.value_or(ChannelConfig{});
}

// Runs each job on a thread of its own, so rows that take seconds overlap.
void concurrently(const std::vector<std::function<void()>> &jobs) {
    std::vector<std::thread> threads;
    for (const auto &job : jobs) threads.emplace_back(job);
    for (auto &t : threads) t.join();
}

// The next request of the server's own, skipping media; nothing within timeoutMs.
std::optional<RtspReply> serverRequest(RtspClient &c, int timeoutMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < until) {
        Incoming in = c.next(timeoutMs);
        if (in.message) return in.message;
        if (!in.frame) break;
    }
    return std::nullopt;
}

TEST(RtspSessionFaultsTest, ServerRequestsWantTheirCSeqBack) {
    struct Case {
        const char *spec, *method;
        bool body;
    } cases[] = {
        {"mpeg4:160x128@30,getparam=1", "GET_PARAMETER", false},
        {"mpeg4:160x128@30,setparam=1,path=/Streaming/Channels/101", "SET_PARAMETER", true},
    };
    std::vector<std::function<void()>> jobs;
    for (const Case &k : cases)
        jobs.push_back([k] {
            SCOPED_TRACE(k.spec);
            StreamingServer server;
            const ChannelConfig config = channel(k.spec);
            ASSERT_FALSE(server.addChannel(config).empty());
            ASSERT_TRUE(server.start());
            RtspClient c(server.port());
            const std::string path = config.paths.empty() ? "/CH01" : config.paths[0];
            const Played p = playTcp(c, rtspUrl(server, path));
            std::string cseqs[2];
            for (std::string &cseq : cseqs) {
                auto r = serverRequest(c, 3000);
                ASSERT_TRUE(r);
                EXPECT_TRUE(r->head.starts_with(std::string(k.method) + " " +
                                                rtspUrl(server, path) + " RTSP/1.0\r\n"))
                    << r->head;
                EXPECT_EQ(r->header("Session"), p.session);
                EXPECT_EQ(r->body.empty(), !k.body);
                cseq = r->header("CSeq");
                const std::string answered = &cseq == &cseqs[0] ? cseq : "3";  // then a wrong one
                c.raw().send("RTSP/1.0 200 OK\r\nCSeq: " + answered + "\r\nSession: " + p.session +
                             "\r\n\r\n");
            }
            EXPECT_NE(cseqs[0], cseqs[1]);
            EXPECT_GT(std::stoi(cseqs[0]), 3);  // not one of the client's
            EXPECT_TRUE(eventually([&] {
                const RtspStatistics s = server.statistics();
                return s.serverRequestAnswers == 1 && s.serverRequestWrongAnswers == 1;
            }));
            EXPECT_EQ(server.statistics().serverRequestsSent, 2u);
            // The connection still serves: the answers were not taken for requests.
            EXPECT_EQ(c.request("OPTIONS * RTSP/1.0\r\nCSeq: 9\r\n\r\n").status, 200);
        });
    concurrently(jobs);
}

TEST(RtspSessionFaultsTest, EarlyRtpComesBeforeThePlayReply) {
    StreamingServer server;
    ASSERT_FALSE(server.addChannel(channel("mpeg4:160x128@30,earlyrtp")).empty());
    ASSERT_TRUE(server.start());
    RtspClient c(server.port());
    const std::string url = rtspUrl(server, "/CH01");
    c.request("DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
    const std::string session = sessionOf(
        c.request("SETUP " + url +
                  "/track1 RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n\r\n"));
    c.raw().send("PLAY " + url + " RTSP/1.0\r\nCSeq: 3\r\nSession: " + session + "\r\n\r\n");
    std::vector<int> channels;
    for (Incoming in = c.next(); in.frame && channels.size() < 100; in = c.next())
        channels.push_back(in.frame->channel);
    ASSERT_GE(channels.size(), 2u);  // the first frame's RTP and the sender report
    EXPECT_EQ(channels.front(), 0);
    EXPECT_EQ(channels.back(), 1);
}

TEST(RtspSessionFaultsTest, SessionsWithoutRequestsTimeOut) {
    UdpPorts udp;
    ASSERT_GE(udp.rtcp, 0);
    struct Case {
        const char *what;
        bool udp;
        int keepAliveMs;  // 0: none
        bool reports;     // receiver reports on the interleaved connection
        bool stays;       // open after 2 s
    } cases[] = {
        {"silent", false, 0, false, false},
        {"receiver reports only", false, 0, true, false},
        {"GET_PARAMETER every 300 ms", false, 300, false, true},
        {"UDP, silent", true, 0, false, false},
    };
    std::vector<std::function<void()>> jobs;
    for (const Case &k : cases)
        jobs.push_back([&, k] {
            SCOPED_TRACE(k.what);
            StreamingServer server;
            ASSERT_FALSE(server.addChannel(channel("mpeg4:160x128@30,timeout=1")).empty());
            ASSERT_TRUE(server.start());
            RtspClient c(server.port());
            const std::string url = rtspUrl(server, "/CH01");
            const std::string transport =
                k.udp ? "RTP/AVP;unicast;client_port=" + std::to_string(udp.port) + "-" +
                            std::to_string(udp.port + 1)
                      : "RTP/AVP/TCP;interleaved=0-1";
            RtspReply s = c.request("SETUP " + url + "/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: " +
                                    transport + "\r\n\r\n");
            EXPECT_EQ(s.header("Session"), sessionOf(s) + ";timeout=1");
            EXPECT_EQ(c.request("PLAY " + url + " RTSP/1.0\r\nCSeq: 2\r\nSession: " + sessionOf(s) +
                                "\r\n\r\n")
                          .status,
                      200);
            const auto played = Clock::now();
            int cseq = 3;
            while (Clock::now() - played < std::chrono::milliseconds(2000) &&
                   !c.raw().peerClosed()) {
                if (k.reports)
                    c.raw().send(std::string("$\x01\x00\x08\x80\xC9\x00\x01\0\0\0\1", 12));
                if (k.keepAliveMs)
                    c.raw().send("GET_PARAMETER " + url +
                                 " RTSP/1.0\r\nCSeq: " + std::to_string(cseq++) +
                                 "\r\nSession: " + sessionOf(s) + "\r\n\r\n");
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(k.keepAliveMs ? k.keepAliveMs : 100));
            }
            const auto elapsed = Clock::now() - played;
            if (k.stays) {
                EXPECT_FALSE(c.raw().peerClosed());
                EXPECT_EQ(server.activeSessions(), 1u);
                // once the keep-alives stop
                EXPECT_TRUE(eventually([&] { return c.raw().peerClosed(); }, 3000));
            } else {
                EXPECT_TRUE(c.raw().peerClosed());
                EXPECT_GE(elapsed, std::chrono::milliseconds(900));
            }
            EXPECT_TRUE(server.waitUntilIdle(3000));
            EXPECT_EQ(server.statistics().sessionsTimedOut, 1u);
        });
    concurrently(jobs);
    // The UDP session's ports are closed: nothing arrives after what the socket holds.
    for (int n = 0; n < 10000 && UdpPorts::receive(udp.rtp, 50); ++n) {
    }
    EXPECT_FALSE(UdpPorts::receive(udp.rtp, 300));
}

TEST(RtspSessionFaultsTest, ClosedConnectionsLeaveOrStopTheMedia) {
    for (bool keepMedia : {true, false}) {
        SCOPED_TRACE(keepMedia ? "media goes on" : "media stops");
        UdpPorts udp;
        ASSERT_GE(udp.rtcp, 0);
        StreamingServer server;
        ASSERT_FALSE(server.addChannel(channel("mpeg4:160x128@30,timeout=2")).empty());
        ASSERT_FALSE(server.addChannel(channel("mpeg4:160x128@30")).empty());
        ASSERT_TRUE(server.start());
        RtspClient tcp(server.port()), c(server.port());
        const std::string url = rtspUrl(server, "/CH01");
        playTcp(tcp, rtspUrl(server, "/CH02"));  // interleaved sessions keep their connection
        RtspReply s = c.request("SETUP " + url + "/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: " +
                                "RTP/AVP;unicast;client_port=" + std::to_string(udp.port) + "-" +
                                std::to_string(udp.port + 1) + "\r\n\r\n");
        c.request("PLAY " + url + " RTSP/1.0\r\nCSeq: 2\r\nSession: " + sessionOf(s) + "\r\n\r\n");
        ASSERT_TRUE(UdpPorts::receive(udp.rtp));

        server.closeUdpSessionConnections(keepMedia);
        EXPECT_TRUE(c.raw().endedByServer(2000));
        // What was on its way drains within a few datagrams; then the media flows or not.
        for (int n = 0; n < 20 && !keepMedia && UdpPorts::receive(udp.rtp, 50); ++n) {
        }
        EXPECT_EQ(UdpPorts::receive(udp.rtp, 500).has_value(), keepMedia);
        EXPECT_FALSE(tcp.raw().peerClosed());
        EXPECT_TRUE(tcp.frame());
        // The UDP session ends: at once, or at its time-out when its media went on.
        EXPECT_TRUE(eventually([&] { return server.activeSessions() == 1; }, 4000));
    }
}

}  // namespace
