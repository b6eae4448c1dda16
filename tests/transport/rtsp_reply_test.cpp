#include "transport/rtsp_reply.h"

#include <gtest/gtest.h>

#include <string>

using namespace ipcam;

namespace {

// Reply heads as servers write them, and what each lookup makes of them. -2 stands for
// "refused" (nullopt), -3 for "not looked at".
TEST(RtspReplyTest, ReadsReplyHeads) {
    struct Case {
        const char *name;
        std::string head;
        int status;
        long long length;  // contentLength
        std::string session;
        int timeout;
        long long cseq;
    } cases[] = {
        {"plain",
         "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Length: 120\r\nSession: 1234;timeout=30\r\n\r\n",
         200, 120, "1234", 30, 3},
        {"lower-case names, no blanks",
         "RTSP/1.0 200 OK\r\ncseq:4\r\ncontent-length:7\r\nsession:ab\r\n\r\n", 200, 7, "ab", 60,
         4},
        {"Content-length spelling and tabs",
         "RTSP/1.0 200 OK\r\nContent-length: \t 15 \r\nSESSION:\t x-y_z ; TimeOut = 5\r\n\r\n", 200,
         15, "x-y_z", 5, -2},
        {"timeout without blanks", "RTSP/1.0 200 OK\r\nSession: 9;timeout=5\r\n\r\n", 200, 0, "9",
         5, -2},
        {"LF only", "RTSP/1.0 454 Session Not Found\nCSeq: 9\nSession: q\n\n", 454, 0, "q", 60, 9},
        {"folded session header", "RTSP/1.0 200 OK\r\nSession: 77\r\n ;timeout=10\r\n\r\n", 200, 0,
         "77", 10, -2},
        {"stray line end before the status", "\r\nRTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n\r\n",
         401, 0, "", 0, 1},
        {"body not read as headers", "RTSP/1.0 200 OK\r\n\r\nContent-Length: 5\r\nCSeq: 5\r\n", 200,
         0, "", 0, -2},
        {"absurd length", "RTSP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n", 200, -2, "", 0, -2},
        {"largest length", "RTSP/1.0 200 OK\r\nContent-Length: 1048576\r\n\r\n", 200, 1048576, "",
         0, -2},
        {"huge length", "RTSP/1.0 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", 200,
         -2, "", 0, -2},
        {"negative length", "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", 200, -2, "", 0, -2},
        {"two lengths that disagree",
         "RTSP/1.0 200 OK\r\nContent-Length: 10\r\nContent-Length: 11\r\n\r\n", 200, -2, "", 0, -2},
        {"session id of 127", "RTSP/1.0 200 OK\r\nSession: " + std::string(127, 's') + "\r\n\r\n",
         200, 0, std::string(127, 's'), 60, -2},
        {"session id of 128", "RTSP/1.0 200 OK\r\nSession: " + std::string(128, 's') + "\r\n\r\n",
         200, 0, "", 0, -2},
        {"empty session id", "RTSP/1.0 200 OK\r\nSession: ;timeout=5\r\n\r\n", 200, 0, "", 0, -2},
        {"absurd timeouts", "RTSP/1.0 200 OK\r\nSession: a;timeout=0\r\n\r\n", 200, 0, "a", 60, -2},
        {"huge timeout", "RTSP/1.0 200 OK\r\nSession: a;timeout=2147483648\r\n\r\n", 200, 0, "a",
         60, -2},
        {"huge CSeq", "RTSP/1.0 200 OK\r\nCSeq: 2147483648\r\n\r\n", 200, 0, "", 0, -2},
        {"largest CSeq", "RTSP/1.0 200 OK\r\nCSeq: 2147483647\r\n\r\n", 200, 0, "", 0, 2147483647},
        {"HTTP status", "HTTP/1.1 404 Not Found\r\n\r\n", 404, 0, "", 0, -2},
        {"a request is no status", "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\n", -1, 0, "", 0, 1},
        {"status of two digits", "RTSP/1.0 20 OK\r\n\r\n", -1, 0, "", 0, -2},
        {"status of four digits", "RTSP/1.0 2000 OK\r\n\r\n", -1, 0, "", 0, -2},
        {"garbage", "\x01\x02 200 \r\n:\r\n::::\r\n", -1, 0, "", 0, -2},
        {"empty", "", -1, 0, "", 0, -2},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(statusCode(c.head), c.status) << c.name;
        auto length = contentLength(c.head);
        EXPECT_EQ(length ? static_cast<long long>(*length) : -2, c.length) << c.name;
        auto session = sessionHeader(c.head);
        EXPECT_EQ(session ? session->id : "", c.session) << c.name;
        EXPECT_EQ(session ? session->timeout : 0, c.timeout) << c.name;
        auto cseq = cseqNumber(c.head);
        EXPECT_EQ(cseq ? *cseq : -2, c.cseq) << c.name;
    }
}

TEST(RtspReplyTest, FindsEveryHeaderOfAName) {
    const std::string head =
        "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
        "www-authenticate:Digest nonce=\"n\",\r\n\trealm=\"b\"\r\nX:\r\n"
        "WWW-AUTHENTICATE   :   NTLM   \r\nno colon here\r\n\r\nWWW-Authenticate: body\r\n";
    const std::vector<std::string> expected = {"Basic realm=\"a\"",
                                               "Digest nonce=\"n\", realm=\"b\"", "NTLM"};
    EXPECT_EQ(headerValues(head, "WWW-Authenticate"), expected);
    EXPECT_EQ(headerValue(head, "www-authenticate"), expected[0]);
    EXPECT_EQ(headerValue(head, "X"), "");
    EXPECT_FALSE(headerValue(head, "Y").has_value());
    EXPECT_FALSE(headerValue(head, "RTSP/1.0 401 Unauthorized").has_value());
}

TEST(RtspReplyTest, ReadsTransportNumbers) {
    struct Case {
        const char *transport;
        bool accepted;
        int channel0, channel1, port0, port1;  // -1: not in the header
    } cases[] = {
        {"RTP/AVP/TCP;unicast;interleaved=0-1", true, 0, 1, -1, -1},
        {"RTP/AVP/TCP;unicast;interleaved=4-5;ssrc=1234ABCD;mode=\"PLAY\"", true, 4, 5, -1, -1},
        {"RTP/AVP/TCP;unicast;INTERLEAVED = 6", true, -1, -1, -1, -1},  // not a parameter name
        {"RTP/AVP/TCP;unicast;interleaved=254", true, 254, 255, -1, -1},
        {"RTP/AVP/TCP;unicast;interleaved=255", false, 0, 0, 0, 0},
        {"RTP/AVP/TCP;unicast;interleaved=254-255", true, 254, 255, -1, -1},
        {"RTP/AVP/TCP;unicast;interleaved=256-257", false, 0, 0, 0, 0},
        {"RTP/AVP/TCP;unicast;interleaved=a-b", false, 0, 0, 0, 0},
        {"RTP/AVP/TCP;unicast;interleaved=", false, 0, 0, 0, 0},
        {"RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971", true, -1, -1, 6970, 6971},
        {"RTP/AVP;unicast;Server_Port=6970", true, -1, -1, 6970, 6971},
        {"RTP/AVP;unicast;server_port=65534-65535", true, -1, -1, 65534, 65535},
        {"RTP/AVP;unicast;server_port=65535", false, 0, 0, 0, 0},
        {"RTP/AVP;unicast;server_port=2147483647-2147483648", false, 0, 0, 0, 0},
        {"RTP/AVP;unicast;server_port=0-1", false, 0, 0, 0, 0},
        {"RTP/AVP;unicast;server_port=-5", false, 0, 0, 0, 0},
        {"RTP/AVP;unicast;server_port=99999999999999999999999-1", false, 0, 0, 0, 0},
        {"RTP/AVP;unicast;server_port=6970-6971,RTP/AVP/TCP;interleaved=300", true, -1, -1, 6970,
         6971},
        {"", true, -1, -1, -1, -1},
    };
    for (const Case &c : cases) {
        const std::string head =
            std::string("RTSP/1.0 200 OK\r\nTransport: ") + c.transport + "\r\n\r\n";
        auto t = transportHeader(head);
        ASSERT_EQ(t.has_value(), c.accepted) << c.transport;
        if (!t) continue;
        EXPECT_EQ(t->interleaved ? t->interleaved->first : -1, c.channel0) << c.transport;
        EXPECT_EQ(t->interleaved ? t->interleaved->second : -1, c.channel1) << c.transport;
        EXPECT_EQ(t->serverPort ? t->serverPort->first : -1, c.port0) << c.transport;
        EXPECT_EQ(t->serverPort ? t->serverPort->second : -1, c.port1) << c.transport;
    }
    EXPECT_FALSE(transportHeader("RTSP/1.0 200 OK\r\n\r\n").has_value());
}

TEST(RtspReplyTest, ReadsPublicAndBase) {
    const std::string options =
        "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE,SETUP , TEARDOWN, PLAY\r\n"
        "public: get_parameter\r\n\r\n";
    EXPECT_TRUE(publicLists(options, "SETUP"));
    EXPECT_TRUE(publicLists(options, "GET_PARAMETER"));
    EXPECT_FALSE(publicLists(options, "SET_PARAMETER"));
    EXPECT_FALSE(publicLists(options, "PLAY, TEARDOWN"));
    EXPECT_FALSE(publicLists("RTSP/1.0 200 OK\r\n\r\n", "OPTIONS"));

    EXPECT_EQ(contentBase("RTSP/1.0 200 OK\r\nContent-Location: rtsp://h/l/\r\nContent-Base: "
                          "rtsp://h/b/\r\n\r\n"),
              "rtsp://h/b/");
    EXPECT_EQ(contentBase("RTSP/1.0 200 OK\r\ncontent-location:rtsp://h/l/\r\n\r\n"),
              "rtsp://h/l/");
    EXPECT_EQ(contentBase("RTSP/1.0 200 OK\r\nContent-Base:\r\nContent-Location: x\r\n\r\n"), "x");
    EXPECT_FALSE(contentBase("RTSP/1.0 200 OK\r\n\r\n").has_value());

    auto request = requestLine("SET_PARAMETER rtsp://h/cam RTSP/1.0\r\nCSeq: 9\r\n\r\n");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->method, "SET_PARAMETER");
    EXPECT_EQ(request->uri, "rtsp://h/cam");
    EXPECT_FALSE(requestLine("RTSP/1.0 200 OK\r\n\r\n").has_value());
    EXPECT_FALSE(requestLine("get / RTSP/1.0\r\n\r\n").has_value());
    EXPECT_FALSE(requestLine("OPTIONS RTSP/1.0\r\n\r\n").has_value());
}

TEST(RtspReplyTest, JoinsControls) {
    struct Case {
        const char *base, *control, *expected;
    } cases[] = {
        {"rtsp://h/CH01/", "trackID=1", "rtsp://h/CH01/trackID=1"},
        {"rtsp://h/CH01", "trackID=1", "rtsp://h/CH01/trackID=1"},
        {"rtsp://h/CH01", "rtsp://h:554/CH01/trackID=1", "rtsp://h:554/CH01/trackID=1"},
        {"rtsp://h/CH01", "RTSP://H/x", "RTSP://H/x"},
        {"rtsp://h/CH01", "rtsps://h/x?y=1", "rtsps://h/x?y=1"},
        {"rtsp://h/cam/realmonitor?channel=1&subtype=0", "trackID=0",
         "rtsp://h/cam/realmonitor?channel=1&subtype=0/trackID=0"},
        {"rtsp://h/Streaming/Channels/101/", "trackID=1?transportmode=unicast",
         "rtsp://h/Streaming/Channels/101/trackID=1?transportmode=unicast"},
        {"rtsp://h/live", "*", "rtsp://h/live"},
        {"rtsp://h/live", "", "rtsp://h/live"},
        {"rtsp://h/live", "  track1  ", "rtsp://h/live/track1"},
        {"rtsp://h/live/", "/track1", "rtsp://h/live/track1"},
        {"/path/", "track1", "/path/track1"},
        {"host/path", "track1", "host/path/track1"},
        {"", "track1", "/track1"},
        {"rtsp://h/x", "rtspx://h/y", "rtsp://h/x/rtspx://h/y"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(resolveControl(c.base, c.control), c.expected) << c.base << " + " << c.control;
}

}  // namespace
