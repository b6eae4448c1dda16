#include "tools/camsim/cgi_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/camsim_client.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

const std::string kUnauthorized =
    "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/html\r\n"
    "WWW-Authenticate: Basic realm=\"camsim\"\r\nContent-Length: 16\r\nConnection: close\r\n\r\n"
    "401 Unauthorized";
const std::string kNotFound =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 13\r\n"
    "Connection: close\r\n\r\n404 Not Found";
const std::string kBadRequest =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\nContent-Length: 15\r\n"
    "Connection: close\r\n\r\n400 Bad Request";

class CgiServerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    CgiServer server;
};

TEST_F(CgiServerTest, RepliesByteForByte) {
    const Values pairs = {{"a", "1"}, {"name", "cam 1"}};
    server.setValues("A.cgi", ReplyStyle::FamilyA, pairs);
    server.setValues("B.cgi", ReplyStyle::FamilyB, pairs);
    server.setBody("Empty.cgi", "", 204);
    server.setBody("Odd.cgi", "x", 299);
    server.setBody("Moved.cgi", "", 302);
    server.setHandler("Echo.cgi", [](const RecordedRequest &r) {
        return Reply{200, r.method + " " + r.query};
    });
    struct Case {
        const char *target;
        std::string expected;
    } cases[] = {
        {"/A.cgi",
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 25\r\n"
         "Connection: close\r\n\r\na=1<br>\r\nname=cam 1<br>\r\n"},
        {"/B.cgi?ignored=1",
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 19\r\n"
         "Connection: close\r\n\r\na = 1\nname = cam 1\n"},
        {"/Empty.cgi",
         "HTTP/1.1 204 No Content\r\nContent-Type: text/html\r\nContent-Length: 0\r\n"
         "Connection: close\r\n\r\n"},
        {"/Odd.cgi",
         "HTTP/1.1 299 Status\r\nContent-Type: text/html\r\nContent-Length: 1\r\n"
         "Connection: close\r\n\r\nx"},
        {"/Moved.cgi",
         "HTTP/1.1 302 Found\r\nContent-Type: text/html\r\nContent-Length: 0\r\n"
         "Connection: close\r\n\r\n"},
        {"/Echo.cgi?A=1&B=2",
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 11\r\n"
         "Connection: close\r\n\r\nGET A=1&B=2"},
        {"/Nothing.cgi", kNotFound},
        {"/a.cgi", kNotFound},  // paths are case-sensitive, as on the devices
    };
    for (const Case &c : cases)
        EXPECT_EQ(exchange(server.port(), get(c.target)), c.expected) << c.target;
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

TEST_F(CgiServerTest, AuthorisationIsCheckedBeforeRouting) {
    server.setCredentials("admin", "secret");
    server.setBody("Get.cgi", "ok");
    const std::string ok =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n"
        "Connection: close\r\n\r\nok";
    const std::string good = kAdminSecret;
    struct Case {
        const char *target;
        std::string headers;
        std::string expected;
    } cases[] = {
        {"/Get.cgi", "Authorization:Basic " + good + "\r\n", ok},  // our client's form
        {"/Get.cgi", "Authorization: Basic " + good + "\r\n", ok},
        {"/Get.cgi", "authorization:  basic\t" + good + "  \r\n", ok},
        {"/Get.cgi", "Accept: */*\r\nAuthorization:Basic " + good + "\r\n", ok},
        {"/Get.cgi", "", kUnauthorized},
        {"/Get.cgi", "Authorization:Basic YWRtaW46d3Jvbmc=\r\n", kUnauthorized},  // admin:wrong
        {"/Get.cgi", "Authorization:Basic YWRtaW46\r\n", kUnauthorized},          // admin:
        {"/Get.cgi", "Authorization:Basic " + good + "x\r\n", kUnauthorized},
        {"/Get.cgi", "Authorization:Basic" + good + "\r\n", kUnauthorized},
        {"/Get.cgi", "Authorization:Digest " + good + "\r\n", kUnauthorized},
        {"/Get.cgi", "X-Authorization:Basic " + good + "\r\n", kUnauthorized},
        {"/Missing.cgi", "", kUnauthorized},
        {"/Missing.cgi", "Authorization:Basic " + good + "\r\n", kNotFound},
    };
    for (const Case &c : cases)
        EXPECT_EQ(exchange(server.port(), get(c.target, c.headers)), c.expected)
            << c.target << " with " << c.headers;

    // Both empty again: anything goes, a wrong header included.
    server.setCredentials("", "");
    EXPECT_EQ(exchange(server.port(), get("/Get.cgi", "Authorization:Basic eDp5\r\n")), ok);
}

TEST_F(CgiServerTest, RecordsEveryRequestAsReceived) {
    server.setCredentials("admin", "secret");
    server.setBody("Set.cgi", "");
    const std::string heads[] = {
        "GET /Set.cgi?A=1&B=2 HTTP/1.1\r\nHost:127.0.0.1\r\nAuthorization:Basic " +
            std::string(kAdminSecret) + "\r\nX-Odd:  spaced value \t\r\n\r\n",
        "GET /Set.cgi HTTP/1.0\nHost: 127.0.0.1\n\n",               // refused, still recorded
        "POST /Other.cgi?q HTTP/1.1\r\nContent-Length: 5\r\n\r\n",  // and its body
        "NONSENSE\r\n\r\n",
        "GET /Set.cgi?Name=Front door HTTP/1.1\r\n\r\n",  // a raw blank breaks the line
    };
    exchange(server.port(), heads[0]);
    exchange(server.port(), heads[1]);
    exchange(server.port(), heads[2] + "a=b&c");
    EXPECT_EQ(exchange(server.port(), heads[3]), kBadRequest);
    EXPECT_EQ(exchange(server.port(), heads[4]), kBadRequest);
    ASSERT_TRUE(server.waitForRequests(5, 2000));

    auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 5u);
    for (size_t i = 0; i < recorded.size(); ++i) EXPECT_EQ(recorded[i].raw, heads[i]) << i;

    const RecordedRequest &first = recorded[0];
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.target, "/Set.cgi?A=1&B=2");
    EXPECT_EQ(first.path, "Set.cgi");
    EXPECT_EQ(first.query, "A=1&B=2");
    const HeaderList expectedHeaders = {{"Host", "127.0.0.1"},
                                        {"Authorization", "Basic " + std::string(kAdminSecret)},
                                        {"X-Odd", "spaced value"}};
    EXPECT_EQ(first.headers, expectedHeaders);
    EXPECT_EQ(first.header("HOST"), "127.0.0.1");
    EXPECT_EQ(recorded[2].body, "a=b&c");

    server.clearRequests();
    EXPECT_TRUE(server.requests().empty());
    long long ms = elapsedMs([&] { EXPECT_FALSE(server.waitForRequests(1, 250)); });
    EXPECT_GE(ms, 240);
    EXPECT_LT(ms, 2000);
}

TEST_F(CgiServerTest, OversizedRequestsAreRefusedAndClosed) {
    server.setBody("Get.cgi", "ok");
    const std::string longHeader = "X-Fill: " + std::string(kMaxRequestHead, 'f') + "\r\n";
    struct Case {
        const char *name;
        std::string request;
    } cases[] = {
        {"head without end", "GET /Get.cgi HTTP/1.1\r\n" + longHeader},
        {"head ending too late", get("/Get.cgi", longHeader)},
        {"body too long", "POST /Get.cgi HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n"},
        {"body length not a number", "POST /Get.cgi HTTP/1.1\r\nContent-Length: 5x\r\n\r\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(exchange(server.port(), c.request), kBadRequest) << c.name;
    EXPECT_TRUE(server.requests().empty());  // nothing a handler could have used
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

}  // namespace

namespace {

// Pushes numbered lines until the client leaves or the server stops.
void countingStream(Connection &c, const RecordedRequest &) {
    if (!c.send("HTTP/1.1 200 OK\r\n\r\n")) return;
    for (int i = 0; !c.peerClosed(); ++i)
        if (!c.send("frame " + std::to_string(i) + "\n") || !c.pause(10)) return;
}

TEST_F(CgiServerTest, AStreamOwnsItsConnectionUntilTheClientLeaves) {
    server.setCredentials("admin", "secret");
    server.setStream("Live.cgi", countingStream);

    Client c(server.port());
    c.send(get("/Live.cgi", "Authorization:Basic " + std::string(kAdminSecret) + "\r\n"));
    const std::string start = "HTTP/1.1 200 OK\r\n\r\nframe 0\nframe 1\nframe 2\n";
    EXPECT_EQ(c.read(start.size()), start);
    EXPECT_EQ(server.openConnections(), 1u);
    c.close();
    EXPECT_TRUE(server.waitUntilIdle(3000));

    EXPECT_EQ(exchange(server.port(), get("/Live.cgi")), kUnauthorized);
}

TEST_F(CgiServerTest, ServesManyClientsAtOnce) {
    server.setHandler("Echo.cgi", [](const RecordedRequest &r) { return Reply{200, r.query}; });
    constexpr int kClients = 40;
    std::vector<std::string> replies(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] {
            replies[i] = exchange(server.port(), get("/Echo.cgi?n=" + std::to_string(i)));
        });
    for (auto &t : clients) t.join();

    for (int i = 0; i < kClients; ++i) {
        std::string body = "n=" + std::to_string(i);
        EXPECT_EQ(replies[i], "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                  body);
    }
    EXPECT_EQ(server.requests().size(), static_cast<size_t>(kClients));
    EXPECT_EQ(server.connectionsAccepted(), static_cast<size_t>(kClients));
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

TEST(CgiServerStopTest, EndsEveryConnectionPromptlyAndLeaksNothing) {
    const int descriptorsBefore = openDescriptors();
    {
        CgiServer server;
        server.setBody("Get.cgi", "hello");
        for (const char *cgi : {"Never.cgi", "Kept.cgi", "Slow.cgi", "Split.cgi"})
            server.setBody(cgi, "hello");
        server.setBehaviour("Never.cgi", {.never = true});
        server.setBehaviour("Kept.cgi", {.keepOpen = true});
        server.setBehaviour("Slow.cgi", {.delayMs = 60000});
        server.setBehaviour("Split.cgi", {.splitAt = 5, .pauseMs = 60000});
        server.setStream("Live.cgi", countingStream);
        server.setBody("Huge.cgi", std::string(16 << 20, 'h'));  // more than the socket buffers
        ASSERT_TRUE(server.start());

        Client idle(server.port());
        Client partial(server.port());
        partial.send("GET /Get.cgi HTTP/1.1\r\nHost:");
        std::vector<std::unique_ptr<Client>> busy;
        for (const char *cgi :
             {"/Never.cgi", "/Kept.cgi", "/Slow.cgi", "/Split.cgi", "/Live.cgi", "/Huge.cgi"}) {
            busy.push_back(std::make_unique<Client>(server.port()));
            busy.back()->send(get(cgi));
        }
        ASSERT_TRUE(server.waitForRequests(busy.size(), 2000));
        for (int begun : {1, 3, 5}) EXPECT_EQ(busy[begun]->read(1), "H");  // replies under way
        ASSERT_TRUE(eventually([&] { return server.openConnections() == 8; }));

        long long ms = elapsedMs([&] { server.stop(); });
        EXPECT_LT(ms, 1000);
        EXPECT_EQ(server.openConnections(), 0u);
        EXPECT_TRUE(idle.endedByServer());
        EXPECT_TRUE(partial.endedByServer());
        for (auto &c : busy) EXPECT_TRUE(c->endedByServer());

        EXPECT_LT(elapsedMs([&] { server.stop(); }), 100);  // again: nothing left to do
        EXPECT_FALSE(Client(server.port()).connected());
    }
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

}  // namespace
