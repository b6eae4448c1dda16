#include "tools/camsim/http_message.h"

#include <strings.h>

#include <charconv>

namespace camsim {

namespace {

std::string_view trimBlanks(std::string_view s) {
    std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    std::size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Next line of text without its "\n" or "\r\n"; text moves past it.
std::string_view takeLine(std::string_view &text) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Next word of a request line; line moves past it.
std::string_view nextWord(std::string_view &line) {
    std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) return line = {};
    line.remove_prefix(start);
    std::string_view word = line.substr(0, line.find(' '));
    line.remove_prefix(word.size());
    return word;
}

void parseRequestLine(std::string_view line, RecordedRequest &request) {
    request.method = nextWord(line);
    std::string_view target = nextWord(line);
    request.target = target;
    request.version = trimBlanks(line);
    std::string_view path = target;
    if (std::size_t q = path.find('?'); q != std::string_view::npos) {
        request.query = path.substr(q + 1);
        path = path.substr(0, q);
    }
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    request.path = path;
}

constexpr std::pair<int, std::string_view> kStatusTexts[] = {
    {200, "OK"},
    {204, "No Content"},
    {302, "Found"},
    {401, "Unauthorized"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {413, "Payload Too Large"},
    {415, "Unsupported Media Type"},
    {500, "Internal Server Error"},
};

}  // namespace

std::string RecordedRequest::header(std::string_view name) const {
    for (const auto &[n, v] : headers)
        if (sameText(trimBlanks(n), name)) return v;
    return {};
}

RecordedRequest parseRequest(std::string head) {
    RecordedRequest request;
    std::string_view text = head;
    parseRequestLine(takeLine(text), request);
    while (!text.empty()) {
        std::string_view line = takeLine(text);
        if (line.empty()) break;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;  // not a header; nothing to keep
        request.headers.emplace_back(line.substr(0, colon), trimBlanks(line.substr(colon + 1)));
    }
    request.raw = std::move(head);
    return request;
}

bool wellFormed(const RecordedRequest &request) {
    // A blank the client left unescaped splits the line into more than three words.
    const std::string_view version = request.version;
    return !request.method.empty() && !request.target.empty() && request.target.front() == '/' &&
           version.starts_with("HTTP/") && version.find_first_of(" \t") == std::string_view::npos;
}

std::string defaultStatusLine(int status) {
    for (const auto &[code, text] : kStatusTexts)
        if (code == status) return "HTTP/1.1 " + std::to_string(code) + " " + std::string(text);
    return "HTTP/1.1 " + std::to_string(status) + " Status";
}

Outgoing htmlReply(int status, std::string body, HeaderList extraHeaders) {
    Outgoing reply;
    reply.status = status;
    reply.headers.emplace_back("Content-Type", "text/html");
    for (auto &h : extraHeaders) reply.headers.push_back(std::move(h));
    reply.body = std::move(body);
    return reply;
}

std::string formatHead(const Outgoing &reply, std::string_view statusLine, bool contentLength,
                       bool closing) {
    std::string head(statusLine);
    head += "\r\n";
    for (const auto &[name, value] : reply.headers) head += name + ": " + value + "\r\n";
    if (contentLength) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    if (closing && reply.announceClose) head += "Connection: close\r\n";
    for (const auto &[name, value] : reply.lastHeaders) head += name + ": " + value + "\r\n";
    head += "\r\n";
    return head;
}

namespace {

void refuse(Connection &connection) {
    Outgoing reply = htmlReply(400, "400 Bad Request");
    connection.send(formatHead(reply, defaultStatusLine(400), true, true) + reply.body);
}

enum class Body { Read, Refused, Lost };

// Reads the body a Content-Length announces; Refused when the length is malformed or too
// large, Lost when the connection ended first.
Body readBody(Connection &connection, RecordedRequest &request) {
    std::string length = request.header("Content-Length");
    if (length.empty()) return Body::Read;
    std::size_t n = 0;
    auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), n);
    if (error != std::errc() || end != length.data() + length.size() || n > kMaxRequestBody)
        return Body::Refused;
    return connection.readExactly(request.body, n) == Connection::Read::Done ? Body::Read
                                                                             : Body::Lost;
}

}  // namespace

void serveHttp(Connection &connection, const RequestHandler &handle) {
    for (;;) {
        std::string head;
        switch (connection.readHead(head, kMaxRequestHead)) {
            case Connection::Read::Done:
                break;
            case Connection::Read::TooLarge:
                refuse(connection);
                return;
            case Connection::Read::Closed:
            case Connection::Read::Stopped:
                return;
        }
        RecordedRequest request = parseRequest(std::move(head));
        switch (readBody(connection, request)) {
            case Body::Read:
                break;
            case Body::Refused:
                refuse(connection);
                return;
            case Body::Lost:
                return;
        }
        switch (handle(connection, request)) {
            case AfterReply::Close:
                return;
            case AfterReply::HoldUntilClosed:
                connection.holdUntilClosed();
                return;
            case AfterReply::NextRequest:
                continue;
        }
    }
}

}  // namespace camsim
