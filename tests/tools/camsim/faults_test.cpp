#include "tools/camsim/faults.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/camsim/camsim_client.h"
#include "tools/camsim/cgi_server.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

const std::string kHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\nConnection: close\r\n\r\n";
const std::string kReply = kHead + "hello";

class FaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.setBody("Get.cgi", "hello");
        ASSERT_TRUE(server.start());
    }
    CgiServer server;
};

TEST_F(FaultsTest, ReplyShapes) {
    struct Case {
        const char *name;
        ReplyBehaviour behaviour;
        std::string expected;
    } cases[] = {
        {"plain", {}, kReply},
        {"no length",
         {.contentLength = false},
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\nhello"},
        {"own status line",
         {.statusLine = "HTTP/1.0 204 No Content"},
         "HTTP/1.0 204 No Content\r\nContent-Type: text/html\r\nContent-Length: 5\r\n"
         "Connection: close\r\n\r\nhello"},
        {"split inside the head", {.splitAt = 7}, kReply},
        {"split past the end", {.splitAt = 1000, .pauseMs = 5000}, kReply},
    };
    for (const Case &c : cases) {
        server.setBehaviour("Get.cgi", c.behaviour);
        EXPECT_EQ(exchange(server.port(), get("/Get.cgi")), c.expected) << c.name;
    }
}

TEST_F(FaultsTest, DelayHoldsBackEveryAnswerOfItsPath) {
    server.setBehaviour("Get.cgi", {.delayMs = 300});
    std::string reply;
    long long ms = elapsedMs([&] { reply = exchange(server.port(), get("/Get.cgi")); });
    EXPECT_EQ(reply, kReply);
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 3000);

    // A refusal is delayed the same way.
    server.setCredentials("admin", "secret");
    ms = elapsedMs([&] { reply = exchange(server.port(), get("/Get.cgi")); });
    EXPECT_EQ(reply.substr(0, 26), "HTTP/1.1 401 Unauthorized\r");
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 3000);
}

TEST_F(FaultsTest, SplitPausesBetweenTheTwoParts) {
    server.setBehaviour("Get.cgi", {.splitAt = 10, .pauseMs = 300});
    Client c(server.port());
    c.send(get("/Get.cgi"));
    std::string first = c.read(10);
    EXPECT_EQ(first, kReply.substr(0, 10));
    std::string rest;
    long long ms = elapsedMs([&] { rest = c.readToEnd(); });
    EXPECT_EQ(first + rest, kReply);
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 3000);
}

// Behaviours that leave the connection open: what arrives, then silence until the client
// closes, and the server lets go of the connection once it does.
TEST_F(FaultsTest, OpenConnectionsLastUntilTheClientCloses) {
    struct Case {
        const char *name;
        ReplyBehaviour behaviour;
        std::string expected;
    } cases[] = {
        {"never", {.never = true}, ""},
        {"never, even with a delay", {.delayMs = 50, .never = true}, ""},
        {"head only", {.headerOnlyThenSilence = true}, kHead},
        {"head only keeps its length",
         {.contentLength = false, .headerOnlyThenSilence = true},
         kHead},
        {"keep open",
         {.keepOpen = true},
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello"},
    };
    for (const Case &c : cases) {
        server.setBehaviour("Get.cgi", c.behaviour);
        server.clearRequests();
        Client client(server.port());
        client.send(get("/Get.cgi"));
        ASSERT_TRUE(server.waitForRequests(1, 2000)) << c.name;
        EXPECT_EQ(client.read(c.expected.size()), c.expected) << c.name;
        EXPECT_TRUE(client.silentFor(250)) << c.name;
        EXPECT_EQ(server.openConnections(), 1u) << c.name;
        client.close();
        EXPECT_TRUE(server.waitUntilIdle(3000)) << c.name;
    }
}

TEST_F(FaultsTest, KeepOpenServesFurtherRequestsOnTheSameConnection) {
    server.setBehaviour("Get.cgi", {.keepOpen = true});
    server.setBody("Other.cgi", "other");
    const std::string kept =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello";
    const std::string closing =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\nConnection: "
        "close\r\n\r\n"
        "other";

    Client c(server.port());
    c.send(get("/Get.cgi"));
    EXPECT_EQ(c.read(kept.size()), kept);
    // Two at once, the second without the behaviour: answered in order, then closed.
    c.send(get("/Get.cgi") + get("/Other.cgi"));
    EXPECT_EQ(c.readToEnd(), kept + closing);
    EXPECT_EQ(server.connectionsAccepted(), 1u);
    EXPECT_EQ(server.requests().size(), 3u);
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

}  // namespace
