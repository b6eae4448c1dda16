#include "tools/camsim/tcp_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tools/camsim/camsim_client.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

constexpr std::size_t kLimit = 64;

// Sends every head back in brackets until the client stops sending.
void echoHeads(Connection &c) {
    std::string head;
    for (;;) {
        switch (c.readHead(head, kLimit)) {
            case Connection::Read::Done:
                if (head.find("throw") != std::string::npos) throw std::runtime_error("asked to");
                c.send("[" + head + "]");
                continue;
            case Connection::Read::TooLarge:
                c.send("too large");
                return;
            default:
                return;
        }
    }
}

TEST(TcpServerTest, HeadsAreCutWhereTheyEndWhateverThePieces) {
    TcpServer server(echoHeads);
    ASSERT_TRUE(server.start(0));
    struct Case {
        const char *name;
        std::vector<std::string> pieces;
        std::string expected;
    } cases[] = {
        {"whole", {"A\r\n\r\n"}, "[A\r\n\r\n]"},
        {"byte by byte", {"A", "\r", "\n", "\r", "\n"}, "[A\r\n\r\n]"},
        {"two at once", {"A\n\nB\r\n\r\n"}, "[A\n\n][B\r\n\r\n]"},
        {"second split", {"A\r\n\r\nB\r", "\n\r\n"}, "[A\r\n\r\n][B\r\n\r\n]"},
        {"unfinished second", {"A\n\nB\r\n"}, "[A\n\n]"},
        {"at the limit",
         {std::string(kLimit - 4, 'x') + "\r\n\r\n"},
         "[" + std::string(kLimit - 4, 'x') + "\r\n\r\n]"},
        {"one past the limit", {std::string(kLimit - 3, 'x') + "\r\n\r\n"}, "too large"},
        {"no end in sight", {std::string(kLimit, 'x')}, "too large"},
    };
    for (const Case &c : cases) {
        Client client(server.port());
        for (const std::string &piece : c.pieces) {
            client.send(piece);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (c.expected != "too large") shutdown(client.fd(), SHUT_WR);
        EXPECT_EQ(client.readToEnd(), c.expected) << c.name;
    }
    EXPECT_TRUE(server.waitUntilIdle(3000));
    EXPECT_EQ(server.connectionsAccepted(), std::size(cases));
}

TEST(TcpServerTest, AThrowingHandlerLosesOnlyItsConnection) {
    TcpServer server(echoHeads);
    ASSERT_TRUE(server.start(0));
    Client doomed(server.port());
    doomed.send("throw\n\n");
    EXPECT_TRUE(doomed.endedByServer());
    Client fine(server.port());
    fine.send("A\n\n");
    EXPECT_EQ(fine.read(5), "[A\n\n]");
    fine.close();
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

TEST(TcpServerTest, PortsAndRestarts) {
    TcpServer server(echoHeads);
    ASSERT_TRUE(server.start(0));
    const uint16_t port = server.port();
    ASSERT_NE(port, 0);
    EXPECT_FALSE(server.start(0));  // already running

    TcpServer other(echoHeads);
    EXPECT_FALSE(other.start(port));  // taken

    // A client still connected when the server stops leaves the port reusable at once.
    Client held(port);
    held.send("A\n\n");
    EXPECT_EQ(held.read(5), "[A\n\n]");
    server.stop();
    EXPECT_TRUE(held.endedByServer());
    ASSERT_TRUE(server.start(port));
    EXPECT_EQ(server.port(), port);
    Client again(port);
    again.send("B\n\n");
    EXPECT_EQ(again.read(5), "[B\n\n]");
}

}  // namespace
