// Stream addresses as people copy them from a camera's manual or web page:
// rtsp://[user[:password]@]host[:port]/path[?query].
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ipcam {

inline constexpr std::size_t kMaxRtspUrl = 1023;    // the whole text as given
inline constexpr std::size_t kMaxUrlAccount = 127;  // user and password each, once decoded

struct RtspUrl {
    std::string host;  // a name or a dotted address, as written
    uint16_t port = 554;
    std::string path;      // from its '/', with the query; "/" when the URL has none
    std::string user;      // percent-decoded
    std::string password;  // percent-decoded
    // What requests name: the URL without its account, otherwise as written (so that a Digest
    // answer's uri is exactly what the server received).
    std::string requestUri;
};

// "%XX" becomes its byte; a '%' that starts no such pair stays as it is, as people type
// passwords with a plain '%' in them.
std::string percentDecoded(std::string_view text);

// Reads text into out. Returns 0; -1 for a text that is no such URL or does not fit (blanks
// or control characters anywhere, another scheme, no host, an IPv6 literal, a fragment, an
// account or password above 127 bytes, a URL above 1023); -2 for a port of 0 or above 65535.
// out is written only on success.
int parseRtspUrl(std::string_view text, RtspUrl &out);

// The same form under another scheme ("http://" with port 80 for a device's web services).
int parseUrl(std::string_view text, std::string_view scheme, uint16_t defaultPort, RtspUrl &out);

}  // namespace ipcam
