#include "control/cgi_reply.h"

#include <cctype>
#include <cstring>

#include "core/decimal.h"
#include "core/fixed_text.h"
#include "platform/sockets.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

// Where the body starts once the head is complete, or npos.
std::size_t bodyStart(std::string_view text) {
    std::size_t crlf = text.find("\r\n\r\n");
    std::size_t lf = text.find("\n\n");
    if (crlf != std::string_view::npos && (lf == std::string_view::npos || crlf < lf))
        return crlf + 4;
    return lf == std::string_view::npos ? lf : lf + 2;
}

}  // namespace

int readReply(ByteSource &source, char *buffer, std::size_t capacity, uint32_t timeoutMs) {
    if (!buffer || capacity == 0) return kCgiClosedEmpty;
    const std::size_t room = capacity - 1;
    std::size_t got = 0, counted = 0;
    bool awaitingBody = false;
    int64_t bodyLength = 0;
    buffer[0] = '\0';

    while (got < room) {
        // One round of waits, afresh after every read.
        bool readable = false;
        for (uint32_t waits = 0, limit = waitsFor(timeoutMs); !readable;) {
            WaitResult w = stopRequested() ? WaitResult::Idle : source.waitReadable();
            if (w == WaitResult::Error) return kCgiWaitFailed;
            if (w == WaitResult::Exception) {
                if (got == 0) return kCgiWaitFailed;
                break;
            }
            if (w == WaitResult::Ready) {
                readable = true;
            } else if (stopRequested() || ++waits >= limit) {
                // A body that never completes ends the reading; silence before it is a failure.
                if (!awaitingBody) return kCgiNoReply;
                break;
            }
        }
        if (!readable) break;

        std::size_t want = room - got;
        if (awaitingBody) {
            std::size_t start = bodyStart(std::string_view(buffer, got));
            if (start != std::string_view::npos) {
                std::size_t end = start + static_cast<std::size_t>(bodyLength);
                if (end <= got) break;
                if (end - got < want) want = end - got;
            }
        }
        int n = source.read(buffer + got, want);
        if (n == ByteSource::kNothingYet) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
        buffer[got] = '\0';
        if (!awaitingBody) counted = got;

        if (!awaitingBody) {
            const char *length = std::strstr(buffer, "Content-Length: ");
            if (length) {
                bodyLength = decimalValue(length + 16);
                if (bodyLength <= 0 || static_cast<int64_t>(room - got) <= bodyLength) break;
                awaitingBody = true;
            }
        }
        if (awaitingBody) {
            std::size_t start = bodyStart(std::string_view(buffer, got));
            if (start != std::string_view::npos &&
                start + static_cast<std::size_t>(bodyLength) <= got)
                break;
        }
    }
    if (got == 0) return kCgiClosedEmpty;
    return static_cast<int>(counted);
}

int classifyReply(std::string_view text) {
    if (std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    for (const char *ok : {" 200 ok", " 200 OK", " 200 Ok", " 200 oK"})
        if (text.find(ok) != std::string_view::npos) return kCgiAccepted;
    if (text.find(" 401 ") != std::string_view::npos) return kCgiUnauthorised;
    if (text.find(" 404 ") != std::string_view::npos) return kCgiNotFound;
    if (text.find(" 204 ") != std::string_view::npos) return kCgiAccepted;
    return kCgiRefused;
}

int lookupValueA(const char *reply, const char *key, char *destination, std::size_t capacity) {
    if (!destination || capacity == 0) return kCgiNoDestination;
    const char *found = reply && key ? std::strstr(reply, key) : nullptr;
    const char *equals = found ? std::strchr(found + std::strlen(key), '=') : nullptr;
    if (!equals) {
        destination[0] = '\0';
        return kCgiKeyMissing;
    }
    const char *value = equals + 1;
    std::size_t length = std::strcspn(value, "<");
    copyTextCut(destination, capacity, std::string_view(value, length));
    return kCgiAccepted;
}

int lookupValueB(const char *reply, const char *key, char *destination, std::size_t capacity) {
    if (!destination || capacity == 0) return kCgiNoDestination;
    const char *found = reply && key ? std::strstr(reply, key) : nullptr;
    const char *equals = found ? std::strchr(found + std::strlen(key), '=') : nullptr;
    if (!equals) return kCgiKeyMissing;
    // The character right after "=" is a separator; never step past the end of the text.
    const char *value = equals[1] ? equals + 2 : equals + 1;
    std::size_t length = std::strcspn(value, "\n");
    copyTextCut(destination, capacity, std::string_view(value, length));
    return kCgiSent;
}

int readRedirect(ByteSource &source, char *buffer, std::size_t limit, uint32_t timeoutMs,
                 char *host, std::size_t hostCapacity, int32_t *port) {
    static constexpr char kLocation[] = "Location: http://";
    std::size_t got = 0;
    buffer[0] = '\0';
    while (got < limit) {
        int n = receiveSome(source, buffer + got, limit - got, timeoutMs);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
        buffer[got] = '\0';

        // The target runs from after "http://" to the "/" that ends its line.
        const char *location = std::strstr(buffer, kLocation);
        const char *start = location ? location + sizeof kLocation - 1 : nullptr;
        const char *end = start ? std::strstr(start, "/\r\n") : nullptr;
        if (!end) continue;
        std::string_view target(start, static_cast<std::size_t>(end - start));
        if (target.empty() || target.find_first_of("\r\n") != std::string_view::npos) continue;
        std::size_t colon = target.find(':');
        std::string_view address = target.substr(0, colon);
        if (!copyText(host, hostCapacity, address)) return kCgiRefused;
        if (colon != std::string_view::npos && port) *port = decimalValue(target.substr(colon + 1));
        return static_cast<int>(got);
    }
    if (got == 0) return kCgiClosedEmpty;
    if (std::strstr(buffer, " 401 ")) return kCgiUnauthorised;
    if (std::strstr(buffer, " 200 ")) return static_cast<int>(got);
    return kCgiRefused;
}

std::string_view trimmedValue(std::string_view value) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!value.empty() && blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && blank(value.back())) value.remove_suffix(1);
    return value;
}

}  // namespace ipcam
