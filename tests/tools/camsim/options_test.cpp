#include "tools/camsim/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/camsim/camsim_client.h"
#include "tools/camsim/rtsp_test_client.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

TEST(OptionsTest, BadArgumentsGiveOneLineErrors) {
    struct Case {
        std::vector<std::string> args;
        const char *error;
    } cases[] = {
        {{"--port", "x"}, "--port: not a port number: 'x'"},
        {{"--port"}, "--port: needs a value"},
        {{"--bogus"}, "--bogus: unknown option (see --help)"},
        {{"--cgi", "Get.cgi"}, "--cgi: expected NAME=..., got 'Get.cgi'"},
        {{"--values-a", "A.cgi=k1:v1,k2"}, "--values-a: expected k1:v1,k2:v2, got 'k1:v1,k2'"},
        {{"--redirect", "cam=127.0.0.1:0"}, "--redirect: expected ADDR[:PORT], got '127.0.0.1:0'"},
        {{"--channel", "jpeg:320x240@15,q=100"},
         "--channel: JPEG q must be from 1 to 99 or from 128 to 255"},
        {{"--rtsp-auth", "digest"},
         "--rtsp-auth: expected none, basic, digest-md5, digest-sha256, digest-both, "
         "digest-both-sha-first, basic+digest or digest+basic, got 'digest'"},
        {{"--rtsp-stale-after", "-5"}, "--rtsp-stale-after: expected seconds, got '-5'"},
        {{"--rtsp-path", "/a b"},
         "--rtsp-path: expected [N=]/PATH[?QUERY] without blanks or '#', got '/a b'"},
        {{"--rtsp-path", "3=/a"}, "--rtsp-path: there is no channel 3"},
        {{"--channel", "mpeg4:320x240@15", "--rtsp-path", "2=/a"},
         "--rtsp-path: there is no channel 2"},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_FALSE(parseOptions(c.args, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(OptionsTest, ParsedOptionsSetTheServerUp) {
    std::string error;
    auto options =
        parseOptions({"--port", "0", "--user", "admin", "--password", "secret", "--cgi",
                      "Body.cgi=a=b", "--values-a", "A.cgi=k1:v1,url:http://x", "--values-b",
                      "B.cgi=k:", "--redirect", "cam=127.0.0.1:8080", "--log"},
                     error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->log);
    EXPECT_TRUE(parseOptions({"--help"}, error)->help);

    auto streaming = parseOptions({"--rtsp-port", "8554", "--channel", "jpeg:320x240@15",
                                   "--channel", "mpeg4:160x128@10,audio", "--hide-rtsp-port"},
                                  error);
    ASSERT_TRUE(streaming) << error;
    EXPECT_EQ(streaming->rtspPort, 8554);
    ASSERT_EQ(streaming->channels.size(), 2u);
    EXPECT_EQ(streaming->channels[1].width, 160);
    EXPECT_FALSE(streaming->announceRtspPort);
    CgiServer web;
    StreamingServer rtsp;
    applyOptions(*streaming, rtsp, web);
    EXPECT_EQ(rtsp.channelCount(), 2u);
    applyOptions(*options, rtsp, web);  // no --channel: the default pair
    EXPECT_EQ(rtsp.channelCount(), 2u + defaultChannels().size());

    // RTSP paths go to the channel named, or the last one given; auth to the server.
    auto mounted = parseOptions({"--rtsp-path",        "/first",
                                 "--channel",          "mpeg4:160x128@10",
                                 "--rtsp-path",        "live/ch00_0",
                                 "--channel",          "jpeg:160x128@10",
                                 "--rtsp-path",        "1=/cam/realmonitor?channel=1&subtype=0",
                                 "--rtsp-auth",        "digest+basic",
                                 "--rtsp-user",        "u",
                                 "--rtsp-password",    "p",
                                 "--rtsp-qop",         "off",
                                 "--rtsp-stale-after", "30"},
                                error);
    ASSERT_TRUE(mounted) << error;
    EXPECT_EQ(mounted->channels[0].paths,
              (std::vector<std::string>{"/first", "/live/ch00_0",
                                        "/cam/realmonitor?channel=1&subtype=0"}));
    EXPECT_TRUE(mounted->channels[1].paths.empty());
    EXPECT_EQ(mounted->rtspAuth.scheme, RtspAuthConfig::Scheme::DigestBasic);
    EXPECT_EQ(mounted->rtspAuth.user + ":" + mounted->rtspAuth.password, "u:p");
    EXPECT_FALSE(mounted->rtspAuth.qop);
    EXPECT_EQ(mounted->rtspAuth.staleAfterSeconds, 30);
    auto defaults = parseOptions({"--rtsp-path", "2=/jpeg", "--rtsp-auth", "basic"}, error);
    ASSERT_TRUE(defaults) << error;
    StreamingServer served;
    applyOptions(*defaults, served, web);
    ASSERT_TRUE(served.start());
    RtspClient client(served.port());
    EXPECT_EQ(client.request(describe("jpeg", 1)).status, 401);
    EXPECT_EQ(client
                  .request("DESCRIBE rtsp://127.0.0.1/jpeg RTSP/1.0\r\nCSeq: 2\r\nAuthorization: "
                           "Basic YWRtaW46c2VjcmV0\r\n\r\n")
                  .status,
              200);

    CgiServer server;
    applyOptions(*options, server);
    ASSERT_TRUE(server.start(options->port));
    const std::string auth = "Authorization:Basic " + std::string(kAdminSecret) + "\r\n";
    struct Case {
        std::string request;
        std::string body;  // the reply after its head
    } cases[] = {
        {get("/Body.cgi", auth), "a=b"},
        {get("/A.cgi", auth), "k1=v1<br>\r\nurl=http://x<br>\r\n"},
        {get("/B.cgi", auth), "k = \n"},
        {get("/B.cgi"), "401 Unauthorized"},
        {"GET / HTTP/1.1\r\nHost:cam\r\n\r\n", ""},  // the 302
    };
    for (const Case &c : cases) {
        std::string reply = exchange(server.port(), c.request);
        EXPECT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), c.body) << c.request;
    }
}

}  // namespace
