// The talk channel against a loopback peer: what goes on the wire for each kind of stream.
#include "transport/talk_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "core/session.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"
#include "transport/family_a_stream.h"

using namespace ipcam;
using kestrel_test::Listener;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

class TalkChannelTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{1000};

  protected:
    void SetUp() override {
        std::strcpy(session->host, "127.0.0.1");
        std::strcpy(session->authText, "YWRtaW46c2VjcmV0");
        session->port = device.port();
        session->stream.talkPort = device.port();
        session->stream.talkAvailable = 1;
        session->driver.runVideo = huntRunVideo;
    }
    void TearDown() override { closeConnection(&session->sockets[kThirdSocket]); }

    // Opens the channel while a peer accepts, answers the head with answer and keeps what
    // arrived until the client closes.
    int open(const std::string &answer, std::string &received, int on = 1) {
        int result = 0;
        std::thread client([&] {
            result = talkOpen(session.get(), on);
        });
        int peer = device.accept(3000);
        if (peer >= 0) {
            char head[512];
            ssize_t n = recv(peer, head, sizeof head, 0);
            if (n > 0) received.assign(head, static_cast<std::size_t>(n));
            if (!answer.empty()) kestrel_test::sendText(peer, answer);
        }
        client.join();
        peer_ = peer;
        return result;
    }
    std::string rest() {
        closeConnection(&session->sockets[kThirdSocket]);
        std::string more = peer_ >= 0 ? kestrel_test::readAll(peer_, 2000) : "";
        if (peer_ >= 0) close(peer_);
        peer_ = -1;
        return more;
    }

    Listener device;
    kestrel_test::LocalSession session;
    int peer_ = -1;
};

TEST_F(TalkChannelTest, TaggedStreamsStartWithATalkPacket) {
    session->driver.runVideo = taggedRunVideo;
    session->format.audioCodec = 6;
    session->format.channels = 1;
    session->format.bitsPerSample = 16;
    session->format.sampleRate = 8000;
    std::string received;
    ASSERT_EQ(open("HTTP/1.1 200 OK\r\n\r\n", received), 0);
    EXPECT_EQ(received, "GET /Chatting.cgi?Chatting=1 HTTP/1.1\r\nAuthorization:Basic "
                        "YWRtaW46c2VjcmV0\r\n\r\n");
    const std::string audio(1000, 'a');
    EXPECT_EQ(talkSend(session.get(), audio.data(), audio.size()), 0);
    const std::string start = taggedTalkHeader(11, 3) + bytes({5, 2 | 16 << 2, 0x80 | (8000 & 0x7F)});
    const std::string header = bytes({'3', '2', '9', '7', 0x14, 0x05, 0x01, 0x78, 0x00, 0x80, 0x00,
                                      0x00, 0xD1, 0x07, 0x00, 0xFE, 0x00, 0x80, 0x00, 0x80});
    EXPECT_EQ(rest(), start + header + audio);
}

TEST_F(TalkChannelTest, HuntStreamsSendAudioBehindHtadHeaders) {
    std::string received;
    ASSERT_EQ(open("HTTP/1.1 200 OK\r\n\r\n", received), 0);
    EXPECT_EQ(talkSend(session.get(), "xyz", 3), 0);
    const std::string header = bytes({'H', 'T', 'A', 'D', 0, 0, 0, 0, 0, 0x40, 0x12, 0, 0, 3, 0,
                                      0, 0, 0, 0, 0});
    EXPECT_EQ(rest(), header + "xyz");
}

TEST_F(TalkChannelTest, ATalkPortOfItsOwnTakesTheLoginBlock) {
    Listener talk;
    session->stream.talkPort = talk.port();
    int result = -1;
    std::thread client([&] { result = talkOpen(session.get(), 1); });
    int peer = talk.accept(3000);
    client.join();
    ASSERT_EQ(result, 0);
    ASSERT_GE(peer, 0);
    closeConnection(&session->sockets[kThirdSocket]);
    std::string login(56, '\0');
    std::memcpy(login.data(), session->authText, std::strlen(session->authText));
    EXPECT_EQ(kestrel_test::readAll(peer, 2000), login);
    close(peer);
}

TEST_F(TalkChannelTest, Failures) {
    // Not available: nothing is touched.
    session->stream.talkAvailable = 0;
    EXPECT_EQ(talkOpen(session.get(), 1), kTalkNotAvailable);
    EXPECT_EQ(device.accept(100), -1);
    session->stream.talkAvailable = 1;

    // A device that sends no head.
    std::string received;
    EXPECT_EQ(open("", received), kTalkLoginFailed);
    EXPECT_EQ(session->sockets[kThirdSocket], -1);
    rest();

    // Nobody listening.
    {
        Listener gone;
        session->stream.talkPort = gone.port();
    }
    EXPECT_EQ(talkOpen(session.get(), 1), kTalkConnectFailed);

    // Closed: sending does nothing, and closing twice is fine.
    EXPECT_EQ(talkOpen(session.get(), 0), 0);
    EXPECT_EQ(talkSend(session.get(), "x", 1), 0);
}

}  // namespace
