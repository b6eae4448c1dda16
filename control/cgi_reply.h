// Reading and understanding the replies of camera web servers.
//
// Pure functions over a byte source or the reply text, so that every rule here runs in unit
// tests and fuzzers on recorded bytes. The CgiClient drives them over its socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/byte_source.h"

namespace ipcam {

// Result values of the CGI engine.
enum CgiResult : int {
    kCgiAccepted = 1,
    kCgiSent = 0,
    kCgiBadPort = -2,
    kCgiConnectFailed = -6,
    kCgiNoName = -7,
    kCgiWaitFailed = -8,
    kCgiSendTimedOut = -9,
    kCgiNoReply = -10,
    kCgiSendFailed = -11,
    kCgiClosedEmpty = -12,
    kCgiRefused = -14,
    kCgiUnauthorised = -15,
    kCgiNotFound = -16,
    kCgiNoDestination = -17,
    kCgiKeyMissing = -18,
    kCgiNoCredentials = -19,
};

// Reads a reply into buffer, keeping it NUL-terminated (at most capacity - 1 bytes), in waits
// of 100 ms up to timeoutMs between reads. Reading ends when the peer closes, the buffer is
// full, or the body announced by "Content-Length: " has arrived. Returns the number of bytes
// received before the body was awaited, or kCgiWaitFailed, kCgiNoReply, kCgiClosedEmpty.
int readReply(ByteSource &source, char *buffer, std::size_t capacity, uint32_t timeoutMs);

// The status of a reply text: kCgiAccepted for 200 OK (any case of "ok") and 204,
// kCgiUnauthorised for 401, kCgiNotFound for 404, kCgiRefused for anything else.
int classifyReply(std::string_view text);

// Family A lookup ("key=value<br>"): 1 with the value in destination (cut to fit), or
// kCgiNoDestination, or kCgiKeyMissing with destination emptied.
int lookupValueA(const char *reply, const char *key, char *destination, std::size_t capacity);

// Family B lookup ("key = value" lines): 0 with the value in destination (cut to fit), or
// kCgiNoDestination, or kCgiKeyMissing with destination left alone.
int lookupValueB(const char *reply, const char *key, char *destination, std::size_t capacity);

// A value as a camera wrote it, without the blanks (and line ends) around it.
std::string_view trimmedValue(std::string_view value);

// Reads a dynamic-DNS redirector's answer into buffer (at most limit bytes, kept terminated;
// buffer holds limit + 1) and takes host and port from its "Location: http://HOST[:PORT]/".
// Returns the bytes received on a redirect or a plain 200, else kCgiClosedEmpty,
// kCgiUnauthorised or kCgiRefused. A host that does not fit hostCapacity is refused with
// kCgiRefused and host and port are left alone.
int readRedirect(ByteSource &source, char *buffer, std::size_t limit, uint32_t timeoutMs,
                 char *host, std::size_t hostCapacity, int32_t *port);

}  // namespace ipcam
