#include "core/address_resolution.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <string_view>

#include "control/base64.h"
#include "control/cgi_client.h"
#include "core/address_cache.h"
#include "core/config.h"
#include "core/fixed_text.h"
#include "core/name_lookup.h"
#include "core/reachability.h"
#include "core/session.h"
#include "core/session_api.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

static_assert(base64Length(kMaxCredentialText) + 1 <= kAuthTextSize,
              "authText must hold the longest credential text it is given");

constexpr int32_t kHighestPort = 65535;

// The index of the dynamic-DNS service whose redirector has this address, or -1. A service
// without a name is left out; one whose name does not resolve stays unfilled and is tried
// again next time.
int dynamicDnsService(std::string_view address) {
    const Settings &cfg = settings();
    for (std::size_t i = 0; i < kDynamicDnsServices; ++i) {
        if (cfg.ddnsHost[i][0] == '\0') continue;
        char slot[kAddressSlotSize];
        if (!cachedAddress(i, slot)) {
            if (resolveHost(cfg.ddnsHost[i], slot, sizeof slot) != IPCAM_OK) continue;
            storeCachedAddress(i, fieldText(slot));
        }
        if (fieldText(slot) == address) return static_cast<int>(i);
    }
    return -1;
}

// Writes the host text only when it changes: commands on other threads read it while the
// video thread reconnects.
void setHost(IPCamSession *session, std::string_view host) {
    if (fieldText(session->host) != host) copyText(session->host, host);
}

// Settles session->host and session->port from what the caller gave.
int settleHost(IPCamSession *session) {
    char resolved[kAddressSlotSize];
    int result = resolveHost(session->hostGiven, resolved, sizeof resolved);
    if (result != IPCAM_OK) return result;
    const std::string_view given = fieldText(session->hostGiven);

    // A dotted address, or a name that is not one of the dynamic-DNS services': the device is
    // there, on the port the caller gave.
    const bool dotted = fieldText(resolved) == given;
    const bool redirected = !dotted && dynamicDnsService(fieldText(resolved)) >= 0;
    if (stopRequested()) return IPCAM_IS_OVER;  // a service lookup was cut short
    if (!redirected) {
        setHost(session, fieldText(resolved));
        session->port = session->portGiven;
        return IPCAM_OK;
    }

    // The name resolved to a redirector, which listens on the port the caller gave: ask it,
    // under the camera's name, where the camera is. It is asked again on every attempt, since
    // the camera may have moved. The answer is taken only when all of it is usable.
    char host[kTextFieldSize];
    copyText(host, given);
    int32_t port = static_cast<int32_t>(session->portGiven);
    if (queryDynamicDns(resolved, port, host, sizeof host, &port) <= 0 || port <= 0 ||
        port > kHighestPort) {
        setHost(session, given);
        return IPCAM_DDNS_IS_ER;
    }
    setHost(session, fieldText(host));
    session->port = static_cast<uint32_t>(port);
    return IPCAM_OK;
}

}  // namespace

int resolveAndProbe(IPCamSession *session) {
    if (!session) return IPCAM_IS_NULL;
    if (session->awaitingFirstFrame) {
        int result = playsRtspAddress(session->protocolType)
                         ? IPCAM_OK
                         : buildAuthorisation(session);
        if (result == IPCAM_OK) result = settleHost(session);
        if (result != IPCAM_OK) return result;
    }
    if (IPCamVideoStopped(session)) return IPCAM_IS_OVER;
    const Settings &cfg = settings();
    return probeHost(session->host, cfg.pingEnable, cfg.pingTimeout);
}

int resolveHost(const char *name, char *out, std::size_t capacity) {
    if (!name || !*name || !out) return IPCAM_DDNS_IS_ER;
    in_addr parsed{};
    if (inet_pton(AF_INET, name, &parsed) == 1)
        return copyText(out, capacity, name) ? IPCAM_OK : IPCAM_DDNS_IS_ER;

    std::string dotted;
    switch (lookupName(name, dotted)) {
        case LookupResult::Found:
            return copyText(out, capacity, dotted) ? IPCAM_OK : IPCAM_DDNS_IS_ER;
        case LookupResult::Stopped:
            return IPCAM_IS_OVER;
        case LookupResult::NotFound:
            break;
    }
    return IPCAM_DDNS_IS_ER;
}

int buildAuthorisation(IPCamSession *session) {
    session->authText[0] = '\0';
    const std::string_view user = fieldText(session->user);
    const std::string_view password = fieldText(session->password);
    if (user.size() + 1 + password.size() > kMaxCredentialText) return IPCAM_USER_OR_PASSWD_IS_ER;
    char text[kMaxCredentialText + 1];
    std::size_t n = copyTextCut(text, user);
    text[n++] = ':';
    n += copyTextCut(text + n, sizeof text - n, password);
    EncodeBase64(text, n, session->authText, sizeof session->authText);
    return IPCAM_OK;
}

int queryDynamicDns(const char *serviceAddress, int32_t port, char *host,
                    std::size_t hostCapacity, int32_t *portInOut) {
    CgiClient client;
    if (int result = client.SetAddress(serviceAddress, port); result != 0) return result;
    return client.ProbeRedirect(host, hostCapacity, portInOut);
}

}  // namespace ipcam
