// HTTP requests as the simulator records them, replies as it writes them, and the loop that
// serves requests on one connection.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/camsim/connection.h"

namespace camsim {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RecordedRequest {
    std::string raw;      // the request head exactly as received, through the blank line
    std::string method;   // "GET"
    std::string target;   // as on the request line, e.g. "/Set.cgi?A=1&B=2"
    std::string path;     // without the leading '/' and without the query: "Set.cgi"
    std::string query;    // after '?', "" when none
    std::string version;  // the rest of the request line: "HTTP/1.1"
    HeaderList headers;   // in order; name as sent, value trimmed of blanks
    std::string body;     // the Content-Length bytes after the head, if the request had any

    // Case-insensitive lookup of the first header of that name; "" when absent.
    std::string header(std::string_view name) const;
};

inline constexpr std::size_t kMaxRequestHead = 16 * 1024;
inline constexpr std::size_t kMaxRequestBody = 1024 * 1024;

// Splits a head into its parts. Never fails: what a malformed head lacks stays empty.
RecordedRequest parseRequest(std::string head);

// A request line of three words: a method, a target that starts with '/', and the version.
bool wellFormed(const RecordedRequest &request);

struct Outgoing {
    int status = 200;
    HeaderList headers;  // sent in order, before Content-Length
    // Sent after Content-Length and "Connection: close", as the last lines of the head: some
    // clients find the body by its distance from such a header.
    HeaderList lastHeaders;
    std::string body;
    bool announceClose = true;  // "Connection: close" when the connection ends after the reply
};

// "HTTP/1.1 200 OK" and the like; codes without a text of their own get "Status".
std::string defaultStatusLine(int status);

// A reply with "Content-Type: text/html", the form of every reply but the redirector's.
Outgoing htmlReply(int status, std::string body, HeaderList extraHeaders = {});

// Status line and headers through the blank line. Content-Length and "Connection: close" are
// added after the reply's own headers when asked for, followed by its last headers.
std::string formatHead(const Outgoing &reply, std::string_view statusLine, bool contentLength,
                       bool closing);

// What the connection does once a request has been answered.
enum class AfterReply { Close, NextRequest, HoldUntilClosed };

using RequestHandler = std::function<AfterReply(Connection &, const RecordedRequest &)>;

// Reads requests on the connection and hands each to handle, until the handler asks to
// close, the peer closes or the server stops. A head over kMaxRequestHead or a body over
// kMaxRequestBody is answered 400 without reaching the handler.
void serveHttp(Connection &connection, const RequestHandler &handle);

}  // namespace camsim
