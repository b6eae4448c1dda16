#include "control/cgi_client.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "control/base64.h"
#include "core/config.h"
#include "core/fixed_text.h"
#include "core/reachability.h"

namespace ipcam {

namespace {

// These make the camera restart or re-configure and may never answer.
bool isFireAndForget(std::string_view cgi) {
    static constexpr std::string_view kNames[] = {"Reboot.cgi", "SetFactoryDefault.cgi",
                                                  "SetNetwork.cgi", "SetMultimedia.cgi"};
    for (std::string_view n : kNames)
        if (cgi == n) return true;
    return false;
}

// The length of a formatted request, or -1 when it did not fit.
int fitted(int n, std::size_t capacity) {
    return n < 0 || static_cast<std::size_t>(n) >= capacity ? -1 : n;
}

}  // namespace

int CgiClient::SetAddress(const char *host, int32_t port) {
    if (port < 0) return kCgiBadPort;
    if (!host || std::strlen(host) >= kHostSize) return kCgiNoName;
    copyText(host_, host);
    port_ = port;
    return 0;
}

int CgiClient::SetCredentials(const char *account, const char *password) {
    authText_[0] = '\0';
    credentialsRefused_ = true;
    if (!account || !password) return kCgiNoCredentials;
    if (*account || *password) {
        char text[kAuthSize * 2];
        int n = fitted(std::snprintf(text, sizeof text, "%s:%s", account, password), sizeof text);
        if (n < 0 || base64Length(static_cast<std::size_t>(n)) + 1 > kAuthSize)
            return kCgiNoCredentials;
        EncodeBase64(text, static_cast<std::size_t>(n), authText_, sizeof authText_);
    }
    auth_.setCredentials(account, password);
    // The family's requests carry Basic from the first one on; a challenge changes nothing.
    auth_.allowClearText(true);
    credentialsRefused_ = false;
    return 0;
}

int CgiClient::connect(SocketSlot &slot) {
    const Settings &cfg = settings();
    int probe = probeHost(host_, cfg.pingEnable, cfg.pingTimeout);
    if (probe < 0) return probe;
    return openConnection(&slot, host_, static_cast<uint32_t>(port_)) == 1 ? 0 : kCgiConnectFailed;
}

// The socket layer reports a failed or exceptional wait as -1; the engine calls it -8.
int CgiClient::send(int socket, const char *request, int length) {
    int n = sendAll(socket, request, static_cast<std::size_t>(length), settings().setTimeout);
    return n == -1 ? kCgiWaitFailed : n;
}

int CgiClient::exchange(const char *request, int length, bool awaitReply) {
    SocketSlot slot{-1};
    int result = connect(slot);
    if (result == 0) {
        result = send(slot, request, length);
        if (result > 0 && !awaitReply) {
            result = kCgiSent;
        } else if (result > 0) {
            SocketSource source(slot);
            int received = readReply(source, reply_, sizeof reply_, settings().getTimeout);
            result = received < 0 ? received : classifyReply(reply_);
        }
    }
    closeConnection(&slot);
    return result;
}

int CgiClient::Get(const char *cgi) {
    return request(cgi, nullptr);
}

int CgiClient::Set(const char *cgi, const char *query) {
    return request(cgi, query ? query : "");
}

// The request text: Basic as always until the camera asked for Digest; -1 when it does not fit.
int CgiClient::formatRequest(char (&out)[kRequestSize], const char *cgi, const char *query) {
    if (auth_.answering() && auth_.scheme() == AuthScheme::Digest) {
        char target[kRequestSize];
        int t = query ? std::snprintf(target, sizeof target, "/%s?%s", cgi, query)
                      : std::snprintf(target, sizeof target, "/%s", cgi);
        if (fitted(t, sizeof target) < 0) return -1;
        const std::string answer = auth_.authorization("GET", target);
        return fitted(std::snprintf(out, sizeof out, "GET %s HTTP/1.1\r\nAuthorization: %s\r\n\r\n",
                                    target, answer.c_str()),
                      sizeof out);
    }
    int n;
    if (query)
        n = authText_[0]
                ? std::snprintf(out, sizeof out,
                                "GET /%s?%s HTTP/1.1\r\nAuthorization:Basic %s\r\n\r\n", cgi, query,
                                authText_)
                : std::snprintf(out, sizeof out, "GET /%s?%s HTTP/1.1\r\n\r\n", cgi, query);
    else
        n = authText_[0] ? std::snprintf(out, sizeof out,
                                         "GET /%s HTTP/1.1\r\nAuthorization:Basic %s\r\n\r\n", cgi,
                                         authText_)
                         : std::snprintf(out, sizeof out,
                                         "GET /%s HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n", cgi);
    return fitted(n, sizeof out);
}

// After a 401: whether the camera's challenge can be answered with something other than what
// was just sent. A Basic answer already refused is not sent again.
bool CgiClient::answerChallenge() {
    if (!authText_[0]) return false;  // no account: nothing to answer with
    const bool sentDigest = auth_.answering() && auth_.scheme() == AuthScheme::Digest;
    if (auth_.challenged(reply_) != Authenticator::Outcome::Answer) return false;
    return auth_.scheme() == AuthScheme::Digest || sentDigest;
}

int CgiClient::request(const char *cgi, const char *query) {
    if (!cgi) return kCgiNoName;
    if (credentialsRefused_) return kCgiNoCredentials;
    const bool awaitReply = !query || !isFireAndForget(cgi);
    char text[kRequestSize];
    int n = formatRequest(text, cgi, query);
    if (n < 0) return kCgiNoName;
    int result = exchange(text, n, awaitReply);
    if (result == kCgiUnauthorised && answerChallenge()) {
        n = formatRequest(text, cgi, query);
        if (n < 0) return kCgiNoName;
        result = exchange(text, n, awaitReply);
    }
    if (result == kCgiAccepted) auth_.accepted();
    return result;
}

int CgiClient::ProbeRedirect(char *host, std::size_t hostCapacity, int32_t *port) {
    if (!host) return kCgiNoName;
    char request[kRequestSize];
    int n = fitted(std::snprintf(request, sizeof request, "GET / HTTP/1.1\r\nHost:%.*s\r\n\r\n",
                                 static_cast<int>(strnlen(host, hostCapacity)), host),
                   sizeof request);
    if (n < 0) return kCgiNoName;

    SocketSlot slot{-1};
    int result = connect(slot);
    if (result == 0) {
        result = send(slot, request, n);
        if (result > 0) {
            SocketSource source(slot);
            result = readRedirect(source, reply_, kRedirectLimit, settings().getTimeout, host,
                                  hostCapacity, port);
        }
    }
    closeConnection(&slot);
    return result;
}

}  // namespace ipcam
