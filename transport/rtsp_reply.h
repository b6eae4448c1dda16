// An RTSP (or HTTP) message head read as data: the status line, header lookups and the
// headers whose values the RTSP client acts on, each range-checked; and the joining of a
// description's control URLs onto their base.
//
// Pure functions over the head's text, so that recorded replies run through them in tests
// and fuzzers. A head is the text up to its first empty line; anything after it (a body) is
// never read as headers. Lines end in CRLF or LF alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcam {

// The status code of "RTSP/1.0 200 OK" (or "HTTP/1.x ..."): 100 to 999 from the first line,
// -1 when the first line is not a status line (a request, garbage, a code that is not three
// digits).
int statusCode(std::string_view head);

// The method and URI of a request line ("SET_PARAMETER rtsp://h/x RTSP/1.0"); nullopt when
// the first line is a status line or not a request of this protocol's form.
struct RequestLine {
    std::string_view method, uri;
};
std::optional<RequestLine> requestLine(std::string_view head);

// Header lookups. Names are compared without regard to case; blanks after the colon and at
// the end of the value are dropped; a line that begins with a blank continues the header
// before it (joined with one blank). headerValue gives the first header of that name,
// headerValues every one in order.
std::optional<std::string> headerValue(std::string_view head, std::string_view name);
std::vector<std::string> headerValues(std::string_view head, std::string_view name);

// The largest body a reply may announce.
inline constexpr std::size_t kMaxContentLength = 1 << 20;

// The body length a head announces: 0 without Content-Length; nullopt when the value is not
// a plain decimal number, is above kMaxContentLength, or two such headers disagree.
std::optional<std::size_t> contentLength(std::string_view head);

// "Session: id[;timeout=N]". The id ends at ';' or the end; it must be 1 to 127 characters
// of visible text, else nullopt (also without the header). timeout is the server's time-out
// in seconds: 60 when absent, or when not a number from 1 to 86400.
inline constexpr std::size_t kMaxSessionId = 127;
inline constexpr int kDefaultSessionTimeout = 60;
struct SessionHeader {
    std::string id;
    int timeout = kDefaultSessionTimeout;
};
std::optional<SessionHeader> sessionHeader(std::string_view head);

// The numbers of a SETUP reply's Transport header (its first transport when it lists
// several). A pair is "a-b" or "a" alone (then b = a + 1). interleaved channels must be 0 to
// 255, server ports 1 to 65535; nullopt for the whole header when any of the two is present
// and out of range or unreadable, or when there is no Transport header.
struct PortPair {
    int first = 0, second = 0;
};
struct TransportHeader {
    std::optional<PortPair> interleaved;
    std::optional<PortPair> serverPort;
};
std::optional<TransportHeader> transportHeader(std::string_view head);

// Whether the Public header (of an OPTIONS reply) lists method, compared without regard to
// case. False without the header.
bool publicLists(std::string_view head, std::string_view method);

// The CSeq number: 0 to 2^31 - 1, nullopt when absent or not such a number.
std::optional<int32_t> cseqNumber(std::string_view head);

// The base for the description's relative controls: Content-Base, else Content-Location;
// nullopt when neither is there (the caller then uses the request URL).
std::optional<std::string> contentBase(std::string_view head);

// The URL a description's control names, given the base (Content-Base or the request URL):
// an absolute control ("rtsp://" or "rtsps://", any case) as it is; "*" or empty: the base;
// a relative one appended to the base with one '/' between. The base's query stays where it
// is ("rtsp://h/p?a=1" and "track1" give "rtsp://h/p?a=1/track1", as such servers expect),
// and a base without a scheme is joined the same way.
std::string resolveControl(std::string_view base, std::string_view control);

}  // namespace ipcam
