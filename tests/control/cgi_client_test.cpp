#include "control/cgi_client.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "core/config.h"
#include "core/reachability.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"
#include "support/tcp_states.h"

using namespace ipcam;
using kestrel_test::elapsedMs;
using kestrel_test::openDescriptors;

namespace {

class CgiClientTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{300};

  protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        server.setCredentials("admin", "secret");
        descriptors = openDescriptors();
    }
    void TearDown() override {
        EXPECT_TRUE(server.waitUntilIdle(2000));
        EXPECT_EQ(openDescriptors(), descriptors) << "a socket was left open";
        server.stop();
    }
    void prepare(CgiClient &c, const char *user = "admin", const char *password = "secret") {
        ASSERT_EQ(c.SetAddress("127.0.0.1", server.port()), 0);
        ASSERT_EQ(c.SetCredentials(user, password), 0);
    }
    std::string lastRequest() {
        auto r = server.requests();
        return r.empty() ? std::string() : r.back().raw;
    }

    camsim::CgiServer server;
    int descriptors = 0;
};

TEST_F(CgiClientTest, RequestTextsByteForByte) {
    server.setCredentials("", "");
    server.setBody("GetStatus.cgi", "Status=1<br>");
    server.setBody("SetImage.cgi", "OK");
    server.setRedirect("cam.example", "127.0.0.1:81");
    struct Case {
        const char *name;
        const char *user, *password;
        int (*call)(CgiClient &);
        std::string expected;
    } cases[] = {
        {"Get with account", "admin", "secret", [](CgiClient &c) { return c.Get("GetStatus.cgi"); },
         "GET /GetStatus.cgi HTTP/1.1\r\nAuthorization:Basic YWRtaW46c2VjcmV0\r\n\r\n"},
        {"Get without account", "", "", [](CgiClient &c) { return c.Get("GetStatus.cgi"); },
         "GET /GetStatus.cgi HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n"},
        {"Set with account", "admin", "secret",
         [](CgiClient &c) { return c.Set("SetImage.cgi", "CH=1&Hue=3"); },
         "GET /SetImage.cgi?CH=1&Hue=3 HTTP/1.1\r\nAuthorization:Basic YWRtaW46c2VjcmV0\r\n\r\n"},
        {"Set without account", "", "", [](CgiClient &c) { return c.Set("SetImage.cgi", "CH=1"); },
         "GET /SetImage.cgi?CH=1 HTTP/1.1\r\n\r\n"},
        {"password without account", "", "pw", [](CgiClient &c) { return c.Get("GetStatus.cgi"); },
         "GET /GetStatus.cgi HTTP/1.1\r\nAuthorization:Basic OnB3\r\n\r\n"},
        {"redirect probe", "admin", "secret",
         [](CgiClient &c) {
             char host[128] = "cam.example";
             int32_t port = 80;
             return c.ProbeRedirect(host, sizeof host, &port) > 0 ? 1 : -1;
         },
         "GET / HTTP/1.1\r\nHost:cam.example\r\n\r\n"},
    };
    for (const Case &c : cases) {
        CgiClient client;
        prepare(client, c.user, c.password);
        EXPECT_EQ(c.call(client), 1) << c.name;
        EXPECT_EQ(lastRequest(), c.expected) << c.name;
    }
}

TEST_F(CgiClientTest, ClassifiesWhatTheCameraAnswers) {
    struct Case {
        const char *name;
        camsim::ReplyBehaviour behaviour;
        int status;
        int expected;
    } cases[] = {
        {"200 OK", {}, 200, 1},
        {"200 Ok", {.statusLine = "HTTP/1.1 200 Ok"}, 200, 1},
        {"HTTP/1.0 200", {.statusLine = "HTTP/1.0 200 OK"}, 200, 1},
        {"204", {}, 204, 1},
        {"HTTP/1.0 204", {.statusLine = "HTTP/1.0 204 No Content"}, 204, 1},
        {"302", {}, 302, -14},
        {"500", {}, 500, -14},
        {"open connection, length given", {.keepOpen = true}, 200, 1},
        {"split reply, length given", {.keepOpen = true, .splitAt = 20, .pauseMs = 50}, 200, 1},
        {"open connection, no length", {.contentLength = false, .keepOpen = true}, 200, -10},
        {"closed connection, no length", {.contentLength = false}, 200, 1},
        {"never answers", {.never = true}, 200, -10},
    };
    for (const Case &c : cases) {
        server.setBody("Test.cgi", "Value=9<br>", c.status);
        server.setBehaviour("Test.cgi", c.behaviour);
        CgiClient client;
        prepare(client);
        EXPECT_EQ(client.Get("Test.cgi"), c.expected) << c.name;
        if (c.expected == 1 && c.status == 200) {
            char value[8];
            EXPECT_EQ(client.GetValueA("Value", value, sizeof value), 1) << c.name;
            EXPECT_STREQ(value, "9") << c.name;
        }
    }
}

TEST_F(CgiClientTest, ReplyWithLengthOnAnOpenConnectionDoesNotWaitForTheTimeOut) {
    Settings s = settings();
    s.getTimeout = 3000;
    setSettings(s);
    server.setBody("Test.cgi", "Value=9<br>");
    server.setBehaviour("Test.cgi", {.keepOpen = true});
    CgiClient client;
    prepare(client);
    EXPECT_LT(elapsedMs([&] { EXPECT_EQ(client.Get("Test.cgi"), 1); }), 1500);
}

TEST_F(CgiClientTest, BodyThatNeverArrivesIsClassifiedAfterTheTimeOut) {
    server.setBody("Test.cgi", "Value=9<br>");
    server.setBehaviour("Test.cgi", {.headerOnlyThenSilence = true});
    CgiClient client;
    prepare(client);
    long long ms = elapsedMs([&] { EXPECT_EQ(client.Get("Test.cgi"), 1); });
    EXPECT_GE(ms, 300);
}

TEST_F(CgiClientTest, ZeroLengthAndBufferFillingBodies) {
    server.setBody("Empty.cgi", "");
    server.setBehaviour("Empty.cgi", {.keepOpen = true});
    CgiClient client;
    prepare(client);
    EXPECT_LT(elapsedMs([&] { EXPECT_EQ(client.Get("Empty.cgi"), 1); }), 250);

    server.setBody("Big.cgi", std::string(9000, 'x'));
    server.setBehaviour("Big.cgi", {.contentLength = false});
    EXPECT_EQ(client.Get("Big.cgi"), 1);
    EXPECT_EQ(std::strlen(client.ReplyText()), CgiClient::kReplySize - 1);
}

TEST_F(CgiClientTest, AccountAndPathFailures) {
    server.setBody("Test.cgi", "x");
    CgiClient wrong;
    prepare(wrong, "admin", "wrong");
    EXPECT_EQ(wrong.Get("Test.cgi"), -15);
    CgiClient right;
    prepare(right);
    EXPECT_EQ(right.Get("Missing.cgi"), -16);

    const int closedPort = kestrel_test::closedPort();
    CgiClient nobody;
    ASSERT_EQ(nobody.SetAddress("127.0.0.1", closedPort), 0);
    EXPECT_EQ(nobody.Get("Test.cgi"), -6);
    EXPECT_EQ(nobody.Get(nullptr), -7);
    EXPECT_EQ(nobody.Set(nullptr, "a=b"), -7);
    EXPECT_EQ(nobody.Get(std::string(3000, 'c').c_str()), -7);  // longer than the request buffer
}

TEST_F(CgiClientTest, FireAndForgetReturnsOnceSent) {
    for (const char *cgi :
         {"Reboot.cgi", "SetFactoryDefault.cgi", "SetNetwork.cgi", "SetMultimedia.cgi"}) {
        server.setBody(cgi, "");
        server.setBehaviour(cgi, {.never = true});
        CgiClient client;
        prepare(client);
        EXPECT_LT(elapsedMs([&] { EXPECT_EQ(client.Set(cgi, "now=1"), 0) << cgi; }), 250) << cgi;
        ASSERT_TRUE(server.waitForRequests(1, 2000));
        EXPECT_EQ(server.requests().back().path, cgi);
        server.clearRequests();
    }
}

TEST_F(CgiClientTest, AddressAndCredentialChecks) {
    CgiClient c;
    EXPECT_EQ(c.SetAddress("127.0.0.1", -1), -2);
    EXPECT_EQ(c.SetAddress(nullptr, 80), -7);
    EXPECT_EQ(c.SetAddress("255.255.255.255.x12", 80), 0);  // 19 characters fit
    EXPECT_EQ(c.SetAddress("255.255.255.255.x123", 81), -7);
    EXPECT_STREQ(c.host(), "255.255.255.255.x12");
    EXPECT_EQ(c.port(), 80);

    EXPECT_EQ(c.SetCredentials(nullptr, "pw"), -19);
    EXPECT_EQ(c.SetCredentials("user", nullptr), -19);
    struct Case {
        std::string user, password;
        int expected;
        const char *auth;
    } cases[] = {
        {"admin", "secret", 0, "YWRtaW46c2VjcmV0"},
        {"", "", 0, ""},
        {"ab", "", 0, "YWI6"},
        {std::string(19, 'u'), std::string(19, 'p'), 0, nullptr},  // 39 characters fit
        {std::string(20, 'u'), std::string(19, 'p'), -19, nullptr},
    };
    for (const Case &k : cases) {
        EXPECT_EQ(c.SetCredentials(k.user.c_str(), k.password.c_str()), k.expected) << k.user;
        if (k.auth) {
            EXPECT_STREQ(c.authorisation(), k.auth) << k.user;
        }
        EXPECT_LT(std::strlen(c.authorisation()), CgiClient::kAuthSize);
    }
}

TEST_F(CgiClientTest, AnAccountThatDoesNotFitIsRefusedNotLeftOut) {
    const std::string user(19, 'u'), password(19, 'p');  // 39 characters: the longest
    server.setCredentials(user, password);
    server.setBody("Test.cgi", "x");
    struct Case {
        const char *what;
        std::string user, password;
        int set, request;  // what SetCredentials, then Get and Set answer
        std::size_t reachedCamera;
    } cases[] = {
        {"39 characters", user, password, 0, 1, 2},
        {"40 characters", user, password + "p", -19, -19, 0},
        {"127 and 127", std::string(127, 'u'), std::string(127, 'p'), -19, -19, 0},
    };
    for (const Case &c : cases) {
        CgiClient client;
        ASSERT_EQ(client.SetAddress("127.0.0.1", server.port()), 0);
        EXPECT_EQ(client.SetCredentials(c.user.c_str(), c.password.c_str()), c.set) << c.what;
        EXPECT_EQ(client.Get("Test.cgi"), c.request) << c.what;
        EXPECT_EQ(client.Set("Test.cgi", "a=1"), c.request) << c.what;
        const auto requests = server.requests();
        EXPECT_EQ(requests.size(), c.reachedCamera) << c.what;
        for (const auto &r : requests) EXPECT_NE(r.header("Authorization"), "") << c.what;
        server.clearRequests();
    }

    // Credentials that fit make a refused client usable again.
    CgiClient client;
    ASSERT_EQ(client.SetAddress("127.0.0.1", server.port()), 0);
    EXPECT_EQ(client.SetCredentials(user.c_str(), nullptr), -19);
    EXPECT_EQ(client.Get("Test.cgi"), -19);
    EXPECT_EQ(client.SetCredentials(user.c_str(), password.c_str()), 0);
    EXPECT_EQ(client.Get("Test.cgi"), 1);
}

TEST_F(CgiClientTest, RedirectProbe) {
    server.setRedirect("withport.example", "127.0.0.2:8081");
    server.setRedirect("noport.example", "127.0.0.3");
    server.setRedirect("refused.example", "x");
    server.setRedirectReply("refused.example", {401, ""});
    struct Case {
        const char *name;
        int expected;  // 1: positive byte count
        const char *host;
        int32_t port;
    } cases[] = {
        {"withport.example", 1, "127.0.0.2", 8081},
        {"noport.example", 1, "127.0.0.3", 80},
        {"refused.example", -15, "refused.example", 80},
        {"unknown.example", -14, "unknown.example", 80},
    };
    for (const Case &c : cases) {
        CgiClient client;
        prepare(client);
        char host[128];
        std::strcpy(host, c.name);
        int32_t port = 80;
        int r = client.ProbeRedirect(host, sizeof host, &port);
        EXPECT_EQ(r > 0 ? 1 : r, c.expected) << c.name;
        EXPECT_STREQ(host, c.host) << c.name;
        EXPECT_EQ(port, c.port) << c.name;
    }
    CgiClient client;
    prepare(client);
    EXPECT_EQ(client.ProbeRedirect(nullptr, 0, nullptr), -7);
}

bool neverReplies(int, in_addr_t, const void *, std::size_t, uint32_t) {
    return false;
}
int openAny() {
    return 99;
}
void closeNone(int) {}
constexpr EchoMethod kSilentEcho[] = {{"silent", openAny, neverReplies, closeNone}};

TEST_F(CgiClientTest, AnUnreachableCameraIsNotConnected) {
    ASSERT_EQ(loadEchoFunctions(kSilentEcho), 0);
    Settings s = settings();
    s.pingEnable = true;
    s.pingTimeout = 100;
    setSettings(s);
    server.setBody("Test.cgi", "x");
    CgiClient client;
    prepare(client);
    EXPECT_EQ(client.Get("Test.cgi"), -5);
    EXPECT_TRUE(server.requests().empty());
    loadEchoFunctions();
}

}  // namespace
