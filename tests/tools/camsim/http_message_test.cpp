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
    } cases[] = {
        {"GET /a/b.cgi?x=1?y HTTP/1.1\r\nHost:h\r\n\r\n",
         "GET",
         "/a/b.cgi?x=1?y",
         "a/b.cgi",
         "x=1?y",
         {{"Host", "h"}}},
        {"GET  /?  HTTP/1.0\n\n", "GET", "/?", "", "", {}},
        {"GET /x.cgi\r\n\r\n", "GET", "/x.cgi", "x.cgi", "", {}},
        {"GET x.cgi HTTP/1.1\r\n\r\n", "GET", "x.cgi", "x.cgi", "", {}},
        // A query with raw blanks runs up to the version; a path does not.
        {"GET /RS232.cgi?PointName=2:Back  door&Dir=Preset2&  HTTP/1.1\r\n\r\n",
         "GET",
         "/RS232.cgi?PointName=2:Back  door&Dir=Preset2&",
         "RS232.cgi",
         "PointName=2:Back  door&Dir=Preset2&",
         {}},
        {"GET /a b.cgi HTTP/1.1\r\n\r\n", "GET", "/a", "a", "", {}},
        {"\r\n\r\n", "", "", "", "", {}},
        {"GET / HTTP/1.1\r\nNo colon here\r\nEmpty:\r\n A :\tv : w \r\nTime: 12:00\r\n\r\n",
         "GET",
         "/",
         "",
         "",
         {{"Empty", ""}, {" A ", "v : w"}, {"Time", "12:00"}}},
    };
    for (const Case &c : cases) {
        RecordedRequest r = parseRequest(c.head);
        EXPECT_EQ(r.raw, c.head);
        EXPECT_EQ(r.method, c.method) << c.head;
        EXPECT_EQ(r.target, c.target) << c.head;
        EXPECT_EQ(r.path, c.path) << c.head;
        EXPECT_EQ(r.query, c.query) << c.head;
        EXPECT_EQ(r.headers, c.headers) << c.head;
    }
    EXPECT_EQ(parseRequest(cases[7].head).header("a"), "v : w");
    EXPECT_FALSE(wellFormed(parseRequest(cases[3].head)));
    EXPECT_FALSE(wellFormed(parseRequest(cases[6].head)));
    EXPECT_TRUE(wellFormed(parseRequest(cases[1].head)));
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
