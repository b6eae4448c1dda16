// One CGI request to a camera, on a connection of its own.
//
// Made on the caller's stack for one control operation and thrown away: set the address and
// credentials, send Get or Set, then look values up in the reply. Fixed buffers only; nothing
// here is shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "control/cgi_reply.h"
#include "core/http_auth.h"
#include "platform/sockets.h"

namespace ipcam {

class CgiClient {
  public:
    static constexpr std::size_t kAuthSize = 56;
    static constexpr std::size_t kHostSize = 20;
    static constexpr std::size_t kRequestSize = 2048;
    static constexpr std::size_t kReplySize = 8192;
    static constexpr std::size_t kRedirectLimit = 2048;

    CgiClient() = default;
    virtual ~CgiClient() = default;
    CgiClient(const CgiClient &) = delete;
    CgiClient &operator=(const CgiClient &) = delete;

    // The camera's dotted address and HTTP port. -2 for a negative port, -7 for a missing host
    // or one longer than the field; the client is unchanged then.
    int SetAddress(const char *host, int32_t port);
    // Encodes account:password for the Authorization line; both empty: no such line.
    // -19 for a missing text, or for an account:password longer than the 39 characters the
    // authorisation text holds: the client then refuses every request with -19 rather than
    // sending it without the account, until credentials are set that fit. 0 otherwise.
    int SetCredentials(const char *account, const char *password);
    void SetFirmwareVersion(double version) { firmwareVersion_ = version; }
    double FirmwareVersion() const { return firmwareVersion_; }

    // A request without query string; 1 when the reply was accepted, else a CgiResult.
    // Requests carry Basic authorisation first; a 401 that offers Digest (or Basic, when the
    // request carried a Digest answer) is answered once on a new connection, and later requests of
    // this client answer the known Digest challenge at once.
    int Get(const char *cgi);
    // A request with a query string. The CGIs that restart the camera or its network are not
    // waited for: 0 once sent.
    int Set(const char *cgi, const char *query);
    // Asks a dynamic-DNS redirector where name (in host) is now; see readRedirect.
    int ProbeRedirect(char *host, std::size_t hostCapacity, int32_t *port);

    const char *ReplyText() const { return reply_; }
    int GetValueA(const char *key, char *destination, std::size_t capacity) const {
        return lookupValueA(reply_, key, destination, capacity);
    }
    int GetValueB(const char *key, char *destination, std::size_t capacity) const {
        return lookupValueB(reply_, key, destination, capacity);
    }

    const char *host() const { return host_; }
    int32_t port() const { return port_; }
    const char *authorisation() const { return authText_; }
    // The Digest answers of this client; tests fix its client nonce through it.
    Authenticator &authenticator() { return auth_; }

  private:
    int connect(SocketSlot &slot);
    int send(int socket, const char *request, int length);
    int exchange(const char *request, int length, bool awaitReply);
    int request(const char *cgi, const char *query);
    int formatRequest(char (&out)[kRequestSize], const char *cgi, const char *query);
    bool answerChallenge();

    char authText_[kAuthSize] = {};
    bool credentialsRefused_ = false;  // the last SetCredentials failed: send nothing
    char host_[kHostSize] = {};
    int32_t port_ = 0;
    double firmwareVersion_ = 0.0;
    char reply_[kReplySize] = {};
    Authenticator auth_;  // the challenge this camera asked, answered on every request
};

}  // namespace ipcam
