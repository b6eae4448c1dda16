// SOAP requests over HTTP to one ONVIF device: POST, the reply's body whether it comes with a
// length, in chunks or up to the close, and HTTP Digest (or, when allowed, Basic) when the
// device answers 401 with a challenge.
//
// Every request has a deadline of its own for the whole exchange: a device that sends a byte
// now and then cannot hold a caller longer than that, whatever the time-out of each wait.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/http_auth.h"
#include "platform/byte_source.h"
#include "platform/socket_slot.h"

namespace ipcam {

// Where a service is: the dotted address to connect to, the port, and the path; hostHeader is
// what the Host line names (the address as the caller wrote it).
struct SoapEndpoint {
    std::string address;
    uint16_t port = 80;
    std::string path = "/";
    std::string hostHeader;
};

inline constexpr uint32_t kSoapRequestMs = 10'000;

// How requests may go.
struct SoapPolicy {
    bool clearPassword = false;  // HTTP Basic may be answered (the connection is plain HTTP)
    uint32_t requestMs = kSoapRequestMs;  // the whole of one exchange, connecting included
};

inline constexpr int kBodyBroken = -1;
inline constexpr int kBodyTooLarge = -2;

// The body of an HTTP reply after its head: by Content-Length, chunked, or up to the close.
// Without a length, a device that keeps the connection open ends the body when what came is a
// whole XML document and a wait slice passes with nothing more, or when timeoutMs pass idle
// (the body is then what came); a stop request (the request's deadline) ends it broken unless
// what came is a whole document. 0 with the body in out; kBodyTooLarge for a body above
// kMaxXmlBytes; kBodyBroken for a broken body, or a time-out or stop inside a length.
int readHttpBody(ByteSource &source, std::string_view head, std::string &out, uint32_t timeoutMs);

// Whether a reply head sends the request to https:// (a 3xx with such a Location).
bool redirectsToHttps(std::string_view head);

class SoapHttp {
  public:
    // Builds the envelope for each attempt, so an answer to a challenge carries a fresh token.
    using Envelope = std::function<std::string()>;

    SoapHttp(std::string_view user, std::string_view password, SoapPolicy policy = {});

    // One request: 0 with the HTTP status and body when the device answered; else
    // IPCAM_SETSOCKET_IS_ER (no connection), IPCAM_IS_UNCONNECTED (no answer in time),
    // IPCAM_USER_OR_PASSWD_IS_ER (its HTTP challenge refused our account),
    // IPCAM_CLEAR_PASSWORD_REFUSED (it asks for Basic, which the policy does not allow),
    // IPCAM_ONVIF_REPLY_TOO_LARGE, IPCAM_ONVIF_WANTS_HTTPS (a redirect to https://) or
    // IPCAM_ONVIF_NOT_DEVICE (what came back is no HTTP reply). slot holds the connection while
    // the request runs, so that whoever owns it can cut the wait short by closing it.
    int post(SocketSlot &slot, const SoapEndpoint &to, std::string_view action,
             const Envelope &envelope, int &status, std::string &body);

  private:
    int exchange(SocketSlot &slot, const SoapEndpoint &to, std::string_view action,
                 const std::string &envelope, std::string &head, std::string &body);

    Authenticator auth_;
    SoapPolicy policy_;
};

}  // namespace ipcam
