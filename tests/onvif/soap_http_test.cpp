#include "onvif/soap_http.h"

#include <gtest/gtest.h>

#include <string>

#include "onvif/xml_document.h"

namespace ipcam {
namespace {

// Bodies after the head, whichever way the device delimits them, and in any pieces.
TEST(SoapHttpTest, BodiesByLengthChunksOrClose) {
    const struct {
        const char *name;
        std::string head, rest;
        int result;
        std::string body;
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", "hello", 0, "hello"},
        {"length, more follows", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "hello", 0, "he"},
        {"length, cut short", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n", "hello", -1, ""},
        {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", 0, ""},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
         "5\r\nhello\r\n1;ext=1\r\n \r\nA\r\n0123456789\r\n0\r\nX-Trailer: 1\r\n\r\n", 0, "hello 0123456789"},
        {"chunked, closed after the last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n",
         "3\r\nabc\r\n0\r\n", 0, "abc"},
        {"chunked, bad size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "zz\r\nabc\r\n", -1, ""},
        {"chunked, missing line end", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "3\r\nabcd\r\n0\r\n\r\n", -1, ""},
        {"chunked, larger than any message", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "7fffffff\r\nabc", kBodyTooLarge, ""},
        {"until close", "HTTP/1.0 200 OK\r\nContent-Type: application/soap+xml\r\n\r\n", "<a/>\n<b/>", 0, "<a/>\n<b/>"},
        {"length too large", "HTTP/1.1 200 OK\r\nContent-Length: 99999999\r\n\r\n", "x", kBodyTooLarge, ""},
        {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\n", "hello", -1, ""},
        {"lengths that disagree", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Length: 4\r\n\r\n", "abcd", -1, ""},
        {"identity coding, length", "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nContent-Length: 2\r\n\r\n", "hello", 0, "he"},
    };
    for (const auto &c : cases) {
        for (std::size_t piece : {1u, 3u, 4096u}) {
            MemorySource source(c.rest, piece);
            std::string body = "stale";
            EXPECT_EQ(readHttpBody(source, c.head, body, 200), c.result) << c.name << " in " << piece;
            if (c.result == 0) {
                EXPECT_EQ(body, c.body) << c.name << " in " << piece;
            }
        }
    }
}

TEST(SoapHttpTest, UnboundedBodyIsCut) {
    MemorySource source(std::string(kMaxXmlBytes + 10, 'x'), 65536);
    std::string body;
    EXPECT_EQ(readHttpBody(source, "HTTP/1.0 200 OK\r\n\r\n", body, 200), kBodyTooLarge);
}

TEST(SoapHttpTest, RedirectsToHttpsAreToldApart) {
    EXPECT_TRUE(redirectsToHttps("HTTP/1.1 307 Temporary Redirect\r\nLocation:  HTTPS://h/x\r\n\r\n"));
    EXPECT_TRUE(redirectsToHttps("HTTP/1.1 301 Moved\r\nLocation: https://h/\r\n\r\n"));
    EXPECT_FALSE(redirectsToHttps("HTTP/1.1 302 Found\r\nLocation: http://h/x\r\n\r\n"));
    EXPECT_FALSE(redirectsToHttps("HTTP/1.1 307 Temporary Redirect\r\n\r\n"));
    EXPECT_FALSE(redirectsToHttps("HTTP/1.1 200 OK\r\nLocation: https://h/x\r\n\r\n"));
}

// Without a length on a connection the device keeps open, a whole document ends the body at
// the first pause; anything else waits for the close or the time-out, and a time-out in the
// middle of a document leaves it broken.
TEST(SoapHttpTest, KeptOpenBodyEndsWithItsDocument) {
    const struct {
        std::string bytes;
        std::size_t idleWaits;  // at most
        int result;
    } cases[] = {{"<e:Envelope xmlns:e=\"u\"><b/></e:Envelope>\r\n", 1, 0},
                 {"<e:Envelope xmlns:e=\"u\"><b/>", 601, kBodyBroken},
                 {"<a/><b/>", 601, kBodyBroken}};
    for (const auto &c : cases) {
        MemorySource source(c.bytes, 7, MemorySource::Ending::Silence);
        std::string body;
        EXPECT_EQ(readHttpBody(source, "HTTP/1.1 200 OK\r\n\r\n", body, 60'000), c.result)
            << c.bytes;
        EXPECT_EQ(body, c.bytes);
        EXPECT_EQ(source.idleWaits(), c.idleWaits) << c.bytes;
    }
}

}  // namespace
}  // namespace ipcam
