#include "control/cgi_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/base64.h"

using namespace ipcam;
using Ending = MemorySource::Ending;

namespace {

struct ReadCase {
    const char *name;
    std::vector<std::string> chunks;
    Ending ending;
    int expected;
    std::string text;  // what the buffer holds afterwards
};

TEST(CgiReplyTest, ReadingEndsOnCloseFullBufferOrCompleteBody) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
    ReadCase cases[] = {
        {"closed after the reply",
         {"HTTP/1.1 200 OK\r\n\r\nabc"},
         Ending::Close,
         22,
         "HTTP/1.1 200 OK\r\n\r\nabc"},
        {"body complete, connection open",
         {head + "hello"},
         Ending::Silence,
         static_cast<int>(head.size()) + 5,
         head + "hello"},
        {"body after the head, connection open",
         {head, "hel", "lo"},
         Ending::Silence,
         static_cast<int>(head.size()),
         head + "hello"},
        {"bytes after the body stay unread",
         {head + "helloEXTRA"},
         Ending::Silence,
         static_cast<int>(head.size()) + 10,
         head + "helloEXTRA"},
        {"body that never completes",
         {head + "he"},
         Ending::Silence,
         static_cast<int>(head.size()) + 2,
         head + "he"},
        {"no length, connection open",
         {"HTTP/1.1 200 OK\r\n\r\nabc"},
         Ending::Silence,
         kCgiNoReply,
         "HTTP/1.1 200 OK\r\n\r\nabc"},
        {"zero length ends at once",
         {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
         Ending::Silence,
         38,
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        {"nothing, then closed", {}, Ending::Close, kCgiClosedEmpty, ""},
        {"nothing, silence", {}, Ending::Silence, kCgiNoReply, ""},
        {"wait fails", {}, Ending::Error, kCgiWaitFailed, ""},
        {"read error after data",
         {"HTTP/1.1 404 "},
         Ending::Error,
         kCgiWaitFailed,
         "HTTP/1.1 404 "},
        {"head in pieces, bare newlines",
         {"HTTP/1.0 200 OK\nContent-", "Length: 2\n\nok"},
         Ending::Silence,
         37,
         "HTTP/1.0 200 OK\nContent-Length: 2\n\nok"},
    };
    for (const ReadCase &c : cases) {
        MemorySource source(c.chunks, c.ending);
        char buffer[256];
        EXPECT_EQ(readReply(source, buffer, sizeof buffer, 300), c.expected) << c.name;
        EXPECT_EQ(std::string(buffer), c.text) << c.name;
    }
}

TEST(CgiReplyTest, ReadingNeverOverrunsTheBuffer) {
    // A body too large for the room left ends the reading at once; plain data fills the buffer.
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
    {
        MemorySource source({head + std::string(100, 'b')}, Ending::Silence);
        std::vector<char> buffer(64 + 8, '#');
        EXPECT_EQ(readReply(source, buffer.data(), 64, 300), 63);
        EXPECT_EQ(buffer[63], '\0');
        for (size_t i = 64; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#');
    }
    {
        MemorySource source(std::string(20000, 'x'), 1000, Ending::Silence);
        std::vector<char> buffer(8192 + 8, '#');
        EXPECT_EQ(readReply(source, buffer.data(), 8192, 300), 8191);
        EXPECT_EQ(buffer[8191], '\0');
        for (size_t i = 8192; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#');
    }
}

TEST(CgiReplyTest, ClassifiesByTheFirstMatchingStatusText) {
    struct Case {
        const char *text;
        int expected;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", kCgiAccepted},
        {"HTTP/1.1 200 ok\r\n\r\n", kCgiAccepted},
        {"HTTP/1.1 200 Ok\r\n\r\n", kCgiAccepted},
        {"HTTP/1.1 200 oK\r\n\r\n", kCgiAccepted},
        {"HTTP/1.0 200 OK\r\n\r\n", kCgiAccepted},
        {"HTTP/1.1 200 Fine\r\n\r\n", kCgiRefused},
        {"HTTP/1.1 204 No Content\r\n\r\n", kCgiAccepted},
        {"HTTP/1.0 204 No Content\r\n\r\n", kCgiAccepted},
        {"HTTP/1.1 302 Found\r\n\r\n", kCgiRefused},
        {"HTTP/1.1 401 Unauthorized\r\n\r\n", kCgiUnauthorised},
        {"HTTP/1.1 404 Not Found\r\n\r\n", kCgiNotFound},
        {"HTTP/1.1 500 Error\r\n\r\n", kCgiRefused},
        {"HTTP/1.1 401 Unauthorized\r\n\r\n 200 OK", kCgiAccepted},  // a body can decide
        {"HTTP/1.1 404 Not Found\r\n\r\nsee 401 here", kCgiUnauthorised},
        {"", kCgiRefused},
    };
    for (const Case &c : cases) EXPECT_EQ(classifyReply(c.text), c.expected) << c.text;
}

TEST(CgiReplyTest, FamilyALookup) {
    const char *reply =
        "HTTP/1.1 200 OK\r\n\r\nBrightness=50<br>\r\nBright=7<br>\r\nName=Front "
        "door<br>\r\nLast=end";
    struct Case {
        const char *key;
        int expected;
        const char *value;
    } cases[] = {
        {"Brightness", 1, "50"},
        {"Bright", 1, "50"},  // a prefix finds the longer key first
        {"Name", 1, "Front door"},
        {"Last", 1, "end"},  // no "<": to the end of the text
        {"Contrast", -18, ""},
        {"HTTP", 1, "50"},  // the header is searched too: the first "=" after it
    };
    for (const Case &c : cases) {
        char value[32] = "untouched";
        EXPECT_EQ(lookupValueA(reply, c.key, value, sizeof value), c.expected) << c.key;
        EXPECT_STREQ(value, c.value) << c.key;
    }
    EXPECT_EQ(lookupValueA(reply, "Brightness", nullptr, 8), -17);
    char small[3];
    EXPECT_EQ(lookupValueA(reply, "Name", small, sizeof small), 1);
    EXPECT_STREQ(small, "Fr");
    char none[8] = "x";
    EXPECT_EQ(lookupValueA("Key", "Key", none, sizeof none), -18);  // no "=" at all
}

TEST(CgiReplyTest, FamilyBLookup) {
    const char *reply = "HTTP/1.1 200 OK\r\n\r\nvideo_mode = 2\nvideo = 1\nname = Gate\nlast =x";
    struct Case {
        const char *key;
        int expected;
        const char *value;
    } cases[] = {
        {"video_mode", 0, "2"}, {"video", 0, "2"},          {"name", 0, "Gate"},
        {"last", 0, ""},        {"zoom", -18, "untouched"},
    };
    for (const Case &c : cases) {
        char value[32] = "untouched";
        EXPECT_EQ(lookupValueB(reply, c.key, value, sizeof value), c.expected) << c.key;
        EXPECT_STREQ(value, c.value) << c.key;
    }
    char value[8] = "keep";
    EXPECT_EQ(lookupValueB("k=", "k", value, sizeof value), 0);  // "=" ends the text
    EXPECT_STREQ(value, "");
    EXPECT_EQ(lookupValueB(reply, "video", nullptr, 8), -17);
}

TEST(CgiReplyTest, RedirectAnswers) {
    struct Case {
        const char *name;
        std::vector<std::string> chunks;
        int expected;  // 0: the byte count
        const char *host;
        int32_t port;
    } cases[] = {
        {"address and port",
         {"HTTP/1.1 302 Found\r\nLocation: http://10.1.2.3:8080/\r\n\r\n"},
         0,
         "10.1.2.3",
         8080},
        {"address only",
         {"HTTP/1.1 302 Found\r\nLocation: http://10.1.2.3/\r\n\r\n"},
         0,
         "10.1.2.3",
         80},
        {"split location",
         {"HTTP/1.1 302 Found\r\nLocation: htt", "p://10.9.8.7:81/\r\n\r\n"},
         0,
         "10.9.8.7",
         81},
        {"plain 200", {"HTTP/1.1 200 OK\r\n\r\n"}, 0, "cam.example", 80},
        {"401", {"HTTP/1.1 401 Unauthorized\r\n\r\n"}, kCgiUnauthorised, "cam.example", 80},
        {"404", {"HTTP/1.1 404 Not Found\r\n\r\n"}, kCgiRefused, "cam.example", 80},
        {"nothing", {}, kCgiClosedEmpty, "cam.example", 80},
        {"empty location line",
         {"HTTP/1.1 302 Found\r\nLocation: http://\r\nLocation: 0/\r\n\r\n"},
         kCgiRefused,
         "cam.example",
         80},
        {"empty target",
         {"HTTP/1.1 302 Found\r\nLocation: http:///\r\n\r\n"},
         kCgiRefused,
         "cam.example",
         80},
        {"host too long",
         {"HTTP/1.1 302 Found\r\nLocation: http://" + std::string(40, 'h') + ":9/\r\n\r\n"},
         kCgiRefused,
         "cam.example",
         80},
    };
    for (const Case &c : cases) {
        MemorySource source(c.chunks, Ending::Close);
        char buffer[2049];
        char host[32] = "cam.example";
        int32_t port = 80;
        int total = 0;
        for (const std::string &s : c.chunks) total += static_cast<int>(s.size());
        EXPECT_EQ(readRedirect(source, buffer, 2048, 300, host, sizeof host, &port),
                  c.expected == 0 ? total : c.expected)
            << c.name;
        EXPECT_STREQ(host, c.host) << c.name;
        EXPECT_EQ(port, c.port) << c.name;
    }
}

TEST(CgiReplyTest, Base64KnownVectors) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"admin:secret", "YWRtaW46c2VjcmV0"},
        {":pw", "OnB3"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const Case &c : cases) {
        char out[32];
        EXPECT_EQ(EncodeBase64(c.in.data(), c.in.size(), out, sizeof out),
                  static_cast<int>(c.out.size()));
        EXPECT_EQ(std::string(out), c.out);
    }
    char tight[5] = "abcd";
    EXPECT_EQ(EncodeBase64("foo", 3, tight, 4), -1);  // no room for the NUL
    EXPECT_STREQ(tight, "abcd");
    EXPECT_EQ(EncodeBase64("foo", 3, tight, 5), 4);
}

}  // namespace
