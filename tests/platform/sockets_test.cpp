#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "core/config.h"
#include "platform/stop_scope.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

// A connection made by openConnection, with the accepted end for the test to play the peer.
struct Connected {
    Listener listener;
    SocketSlot slot{-1};
    int peer = -1;

    Connected() {
        EXPECT_EQ(openConnection(&slot, "127.0.0.1", listener.port()), 1);
        peer = listener.accept();
        EXPECT_GE(peer, 0);
    }
    ~Connected() {
        closeConnection(&slot);
        if (peer >= 0) close(peer);
    }
    void closePeer() {
        close(peer);
        peer = -1;
    }
};

class SocketsTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{300};
};

TEST_F(SocketsTest, OpenAndCloseKeepTheSlotHonest) {
    Listener listener;
    SocketSlot slot{-1};
    ASSERT_EQ(openConnection(&slot, "127.0.0.1", listener.port()), 1);
    EXPECT_NE(slot.load(), -1);
    int peer = listener.accept();
    ASSERT_GE(peer, 0);

    // Reopening closes what the slot held first: the old peer sees the end of its stream.
    ASSERT_EQ(openConnection(&slot, "127.0.0.1", listener.port()), 1);
    EXPECT_EQ(readAll(peer, 2000), "");
    close(peer);
    int second = listener.accept();
    ASSERT_GE(second, 0);

    EXPECT_EQ(closeConnection(&slot), 0);
    EXPECT_EQ(slot.load(), -1);
    EXPECT_EQ(closeConnection(&slot), 0);  // already closed: nothing to do
    EXPECT_EQ(slot.load(), -1);
    EXPECT_EQ(closeConnection(nullptr), -1);
    close(second);
}

TEST_F(SocketsTest, FailedOpenLeavesTheSlotClosed) {
    const int freePort = closedPort();
    struct Case {
        const char *address;
        uint32_t port;
    } cases[] = {
        {"127.0.0.1", static_cast<uint32_t>(freePort)}, {"not-an-address", 80}, {nullptr, 80}};
    for (const Case &c : cases) {
        SocketSlot slot{-1};
        EXPECT_EQ(openConnection(&slot, c.address, c.port), 0) << (c.address ? c.address : "null");
        EXPECT_EQ(slot.load(), -1);
    }
    EXPECT_EQ(openConnection(nullptr, "127.0.0.1", 80), 0);
}

TEST_F(SocketsTest, OpenUsesOnlyTheLowSixteenBitsOfThePort) {
    Listener listener;
    SocketSlot slot{-1};
    EXPECT_EQ(openConnection(&slot, "127.0.0.1", 0x10000u | listener.port()), 1);
    int peer = listener.accept();
    EXPECT_GE(peer, 0);
    close(peer);
    closeConnection(&slot);
}

TEST_F(SocketsTest, ReceiveExactlyOutcomes) {
    struct Case {
        const char *name;
        std::vector<std::string> pieces;  // sent by the peer, 50 ms apart
        bool closeAfter;
        int expected;
    } cases[] = {
        {"all at once", {"0123456789"}, false, 10},
        {"in pieces", {"012", "3456", "789"}, false, 10},
        {"more than asked", {"0123456789abc"}, false, 10},
        {"partial then silence", {"01234"}, false, 0},
        {"partial then close", {"01234"}, true, 5},
        {"close at once", {}, true, -1},
        {"silence", {}, false, 0},
    };
    for (const Case &c : cases) {
        Connected conn;
        std::thread peer([&] {
            for (const std::string &p : c.pieces) {
                sendText(conn.peer, p);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (c.closeAfter) shutdown(conn.peer, SHUT_WR);
        });
        char buf[16] = {};
        int r = receiveExactly(conn.slot, buf, 10, 300);
        peer.join();
        EXPECT_EQ(r, c.expected) << c.name;
        if (r > 0) {
            EXPECT_EQ(std::string(buf, static_cast<size_t>(r)), std::string("0123456789", r))
                << c.name;
        }
    }
}

TEST_F(SocketsTest, ReceiveRejectsBadArguments) {
    char buf[4];
    EXPECT_EQ(receiveExactly(-1, buf, 4, 300), -1);
    EXPECT_EQ(receiveSome(-1, buf, 4, 300), -1);
    EXPECT_EQ(receiveHeader(-1, buf, 4, 300), -1);
    EXPECT_EQ(sendAll(-1, buf, 4, 300), -1);
    Connected conn;
    EXPECT_EQ(receiveExactly(conn.slot, nullptr, 4, 300), -1);
    EXPECT_EQ(receiveExactly(conn.slot, buf, 0, 300), 0);
    EXPECT_EQ(receiveHeader(conn.slot, nullptr, 4, 300), -1);
    EXPECT_EQ(sendAll(conn.slot, nullptr, 4, 300), -1);
}

TEST_F(SocketsTest, SilentPeerIsGivenUpAfterTheTimeOutPlusOneWait) {
    Connected conn;
    char buf[8];
    // 300 ms allows four waits of 100 ms.
    long long ms = elapsedMs([&] { EXPECT_EQ(receiveExactly(conn.slot, buf, 8, 300), 0); });
    EXPECT_GE(ms, 350);
    EXPECT_LT(ms, 2000);
    ms = elapsedMs([&] { EXPECT_EQ(receiveSome(conn.slot, buf, 8, 300), 0); });
    EXPECT_GE(ms, 350);
    EXPECT_LT(ms, 2000);
    ms = elapsedMs([&] { EXPECT_EQ(receiveHeader(conn.slot, buf, 8, 300), -1); });
    EXPECT_GE(ms, 350);
    EXPECT_LT(ms, 2000);
}

TEST_F(SocketsTest, ReceiveExactlyWithoutTimeOutWaitsForTheData) {
    Connected conn;
    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        sendText(conn.peer, "late");
    });
    char buf[4];
    long long ms = elapsedMs([&] { EXPECT_EQ(receiveExactly(conn.slot, buf, 4, 0), 4); });
    peer.join();
    EXPECT_GE(ms, 600);
    EXPECT_EQ(std::string(buf, 4), "late");
}

TEST_F(SocketsTest, ReceiveSomeTakesOneRead) {
    Connected conn;
    sendText(conn.peer, "abcdef");
    char buf[4];
    EXPECT_EQ(receiveSome(conn.slot, buf, 4, 300), 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(receiveSome(conn.slot, buf, 4, 300), 2);
    conn.closePeer();
    EXPECT_EQ(receiveSome(conn.slot, buf, 4, 300), 0);
}

TEST_F(SocketsTest, ReceiveHeaderStopsAtTheEndOfTheHead) {
    struct Case {
        const char *name;
        std::string sent;
        size_t capacity;
        int expected;
        std::string rest;  // what the next read finds
    } cases[] = {
        {"crlf head", "HTTP/1.0 200 OK\r\nA: b\r\n\r\nBODY", 64, 25, "BODY"},
        {"bare newlines", "RTSP/1.0 200 OK\nCSeq: 1\n\nXY", 64, 25, "XY"},
        {"mixed endings", "HTTP/1.1 401\r\n\nZ", 64, 15, "Z"},
        {"capacity reached", "HTTP/1.0 200 OK\r\n\r\n", 8, 8, " 200 OK\r\n\r\n"},
    };
    for (const Case &c : cases) {
        Connected conn;
        sendText(conn.peer, c.sent);
        std::vector<char> buf(c.capacity + 4, '#');
        EXPECT_EQ(receiveHeader(conn.slot, buf.data(), c.capacity, 300), c.expected) << c.name;
        for (size_t i = c.capacity; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << c.name;
        EXPECT_EQ(std::string(buf.data(), static_cast<size_t>(c.expected)),
                  c.sent.substr(0, static_cast<size_t>(c.expected)))
            << c.name;
        std::vector<char> rest(c.rest.size());
        EXPECT_EQ(receiveExactly(conn.slot, rest.data(), rest.size(), 300),
                  static_cast<int>(rest.size()))
            << c.name;
        EXPECT_EQ(std::string(rest.begin(), rest.end()), c.rest) << c.name;
    }
}

TEST_F(SocketsTest, ReceiveHeaderReportsAClosedPeer) {
    Connected conn;
    sendText(conn.peer, "HTTP/1.0 20");
    conn.closePeer();
    char buf[64];
    EXPECT_EQ(receiveHeader(conn.slot, buf, sizeof buf, 300), 0);
}

TEST_F(SocketsTest, SendAllDeliversEverything) {
    Connected conn;
    std::string data(3 * 1024 * 1024, 'x');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    std::string received;
    std::thread peer([&] { received = readAll(conn.peer, 3000); });
    EXPECT_EQ(sendAll(conn.slot, data.data(), data.size(), 300), static_cast<int>(data.size()));
    closeConnection(&conn.slot);
    peer.join();
    EXPECT_EQ(received, data);
}

TEST_F(SocketsTest, SendAllGivesUpOnAPeerThatStopsReading) {
    Connected conn;
    std::vector<char> data(64 * 1024 * 1024, 'z');
    int r = 0;
    long long ms = elapsedMs([&] { r = sendAll(conn.slot, data.data(), data.size(), 300); });
    EXPECT_EQ(r, -9);
    EXPECT_LT(ms, 10000);
}

TEST_F(SocketsTest, SendAllReportsAFailedSend) {
    Connected conn;
    // A reset connection: the peer closes with unread data, so sends fail.
    sendText(conn.peer, "x");
    char c;
    ASSERT_EQ(receiveExactly(conn.slot, &c, 1, 300), 1);
    linger off{1, 0};
    setsockopt(conn.peer, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    conn.closePeer();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<char> data(1024 * 1024, 'q');
    int r = sendAll(conn.slot, data.data(), data.size(), 300);
    EXPECT_TRUE(r == -11 || r == -1) << r;
}

TEST_F(SocketsTest, AStopRequestEndsALongWaitWithinASlice) {
    Connected conn;
    Relaxed<uint8_t> running{1};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        running = 0;
    });
    char buf[8];
    long long ms = elapsedMs([&] {
        StopScope scope(&running);
        EXPECT_EQ(receiveExactly(conn.slot, buf, 8, 0), 0);
        EXPECT_EQ(receiveSome(conn.slot, buf, 8, 7000), 0);
        EXPECT_EQ(receiveHeader(conn.slot, buf, 8, 7000), -1);
    });
    stopper.join();
    EXPECT_LT(ms, 1500);
    EXPECT_FALSE(stopRequested());  // the scope has ended
}

}  // namespace
