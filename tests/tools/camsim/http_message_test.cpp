#include "tools/camsim/http_message.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/camsim/base64.h"

using namespace camsim;

namespace {

TEST(HttpMessageTest, RequestLinesAndHeaders) {
    struct Case {
        std::string head;
        const char *method, *target, *path, *query;
        HeaderList headers;
        bool wellFormed;
    } cases[] = {
        {"GET /a/b.cgi?x=1?y HTTP/1.1\r\nHost:h\r\n\r\n",
         "GET",
         "/a/b.cgi?x=1?y",
         "a/b.cgi",
         "x=1?y",
         {{"Host", "h"}},
         true},
        {"GET  /?  HTTP/1.0\n\n", "GET", "/?", "", "", {}, true},
        {"GET /x.cgi\r\n\r\n", "GET", "/x.cgi", "x.cgi", "", {}, false},  // no version
        {"GET x.cgi HTTP/1.1\r\n\r\n", "GET", "x.cgi", "x.cgi", "", {}, false},
        // A raw blank ends the target, as it ends it for any web server: the line is broken.
        {"GET /SetName.cgi?Name=Front door HTTP/1.1\r\n\r\n",
         "GET",
         "/SetName.cgi?Name=Front",
         "SetName.cgi",
         "Name=Front",
         {},
         false},
        {"GET /a b.cgi HTTP/1.1\r\n\r\n", "GET", "/a", "a", "", {}, false},
        {"GET /a.cgi HTTP/1.1 x\r\n\r\n", "GET", "/a.cgi", "a.cgi", "", {}, false},
        {"GET /a.cgi?Name=Front%20door HTTP/1.1\r\n\r\n",
         "GET",
         "/a.cgi?Name=Front%20door",
         "a.cgi",
         "Name=Front%20door",
         {},
         true},
        {"\r\n\r\n", "", "", "", "", {}, false},
        {"GET / HTTP/1.1\r\nNo colon here\r\nEmpty:\r\n A :\tv : w \r\nTime: 12:00\r\n\r\n",
         "GET",
         "/",
         "",
         "",
         {{"Empty", ""}, {" A ", "v : w"}, {"Time", "12:00"}},
         true},
    };
    for (const Case &c : cases) {
        RecordedRequest r = parseRequest(c.head);
        EXPECT_EQ(r.raw, c.head);
        EXPECT_EQ(r.method, c.method) << c.head;
        EXPECT_EQ(r.target, c.target) << c.head;
        EXPECT_EQ(r.path, c.path) << c.head;
        EXPECT_EQ(r.query, c.query) << c.head;
        EXPECT_EQ(r.headers, c.headers) << c.head;
        EXPECT_EQ(wellFormed(r), c.wellFormed) << c.head;
    }
    EXPECT_EQ(parseRequest(cases[9].head).header("a"), "v : w");
}

TEST(HttpMessageTest, Base64KnownTextsAndDamage) {
    struct Case {
        std::string plain, coded;
    } known[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"admin:secret", "YWRtaW46c2VjcmV0"},
        {std::string("\0\xff\xfe", 3), "AP/+"},
    };
    for (const Case &c : known) {
        EXPECT_EQ(decodeBase64(c.coded), c.plain) << c.coded;
    }
    EXPECT_EQ(decodeBase64("Zm8"), "fo");  // padding may be left off
    for (const char *bad : {"Zm9v!", "Z", "Zm9vY", "Zg===", "====", "Z=g=", "Zm 9v", "Zm9v\n"})
        EXPECT_FALSE(decodeBase64(bad)) << bad;
}

}  // namespace
