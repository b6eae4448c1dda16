#include "tools/camsim/dyndns_redirector.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/camsim/camsim_client.h"
#include "tools/camsim/cgi_server.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

std::string askFor(const std::string &host) {
    return "GET / HTTP/1.1\r\nHost:" + host + "\r\n\r\n";
}

TEST(DynDnsRedirectorTest, AnswersByTheHostItIsAskedFor) {
    CgiServer server;
    ASSERT_TRUE(server.start());
    server.setCredentials("admin", "secret");  // the redirector asks for none
    server.setRedirect("cam.example.net", "127.0.0.1:8080");
    server.setRedirect("plain.example.net", "127.0.0.1");
    server.setRedirect("refused.example.net", "127.0.0.1:1");
    server.setRedirectReply("refused.example.net", {401, "no"});
    server.setRedirectReply("empty.example.net", {200, "parked"});

    const std::string toCam =
        "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:8080/\r\n"
        "Content-Length: 0\r\n\r\n";
    struct Case {
        std::string request;
        std::string expected;
    } cases[] = {
        {askFor("cam.example.net"), toCam},
        {askFor("CAM.Example.NET:80"), toCam},
        {"GET / HTTP/1.1\r\nHost: cam.example.net \r\n\r\n", toCam},
        {"GET /?ver=2 HTTP/1.1\r\nHost:cam.example.net\r\n\r\n", toCam},
        {askFor("plain.example.net"),
         "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/\r\nContent-Length: 0\r\n\r\n"},
        {askFor("refused.example.net"),
         "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/html\r\nContent-Length: 2\r\n"
         "Connection: close\r\n\r\nno"},
        {askFor("empty.example.net"),
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 6\r\n"
         "Connection: close\r\n\r\nparked"},
        {askFor("unknown.example.net"),
         "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 13\r\n"
         "Connection: close\r\n\r\n404 Not Found"},
        {"GET / HTTP/1.1\r\n\r\n",
         "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 13\r\n"
         "Connection: close\r\n\r\n404 Not Found"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(exchange(server.port(), c.request), c.expected) << c.request;

    auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), std::size(cases));
    EXPECT_EQ(recorded[0].raw, cases[0].request);
    EXPECT_EQ(recorded[0].header("host"), "cam.example.net");
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

TEST(DynDnsRedirectorTest, SharesTheRootWithTheSite) {
    CgiServer server;
    ASSERT_TRUE(server.start());
    server.setRedirect("cam.example.net", "127.0.0.1:8080");
    server.setBody("", "index");
    server.setBehaviour("cam.example.net", {.statusLine = "HTTP/1.0 302 Moved Temporarily"});

    // A registered name still goes to the redirector, with its behaviour; any other host gets
    // the site's page.
    EXPECT_EQ(exchange(server.port(), askFor("cam.example.net")),
              "HTTP/1.0 302 Moved Temporarily\r\nLocation: http://127.0.0.1:8080/\r\n"
              "Content-Length: 0\r\n\r\n");
    EXPECT_EQ(exchange(server.port(), askFor("127.0.0.1")),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n"
              "Connection: close\r\n\r\nindex");
}

}  // namespace
