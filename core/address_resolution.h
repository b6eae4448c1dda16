// Turning the host a caller gave into the dotted IPv4 address a session connects to.
//
// The video thread runs resolveAndProbe before every connection attempt while the session is
// not connected. A name is looked up through the system resolver, which a stop request does
// not wait for (name_lookup.h). A name that resolves to the address of one of the configured
// dynamic-DNS services (Settings::ddnsHost, "DDNS_Host1=" to "DDNS_Host3=" in the
// configuration file) points at that service's web redirector; the redirector is then asked,
// with a plain HTTP request carrying the name, where the camera really is, and its Location
// answer gives the session's host and, after a colon, its port. The port the caller gave stays
// the redirector's, so that every attempt asks the redirector again; the port in use is the
// answer's. The same step refreshes the session's Basic authorisation text and ends with the
// reachability probe.
//
// Limits of the fixed fields:
//  - authText holds the base64 of at most kMaxCredentialText (39) characters of
//    "account:password". IPCamCreate refuses longer accounts, and so does every step that
//    would have to send one (IPCAM_USER_OR_PASSWD_IS_ER here): an account is never cut, nor
//    left out of a request.
//  - A redirect naming an address that does not fit the session's host field, or a port
//    outside 1..65535, is refused: the step fails with IPCAM_DDNS_IS_ER and the session keeps
//    its port.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipcam.h"

namespace ipcam {

// IPCAM_OK when the session's host is settled and reachable (or probing is off);
// IPCAM_USER_OR_PASSWD_IS_ER when the account does not fit its authorisation text;
// IPCAM_DDNS_IS_ER when the name cannot be resolved or the redirector fails;
// IPCAM_IS_OVER, with the state set to it, when the video thread has been told to stop;
// IPCAM_PING_IS_ER when the host does not answer the probe. After a connection that produced
// frames (awaitingFirstFrame clear) the host found before is reused without any lookup.
int resolveAndProbe(IPCamSession *session);

// Writes the dotted IPv4 address of name into out: a dotted address as it is, otherwise the
// first IPv4 address the resolver gives (name_lookup.h). IPCAM_OK, IPCAM_IS_OVER when the
// calling thread is told to stop first, or IPCAM_DDNS_IS_ER (out untouched) for no answer, an
// empty name or an address that does not fit capacity.
int resolveHost(const char *name, char *out, std::size_t capacity);

// Stores the base64 of the session's "account:password" in authText: IPCAM_OK, or
// IPCAM_USER_OR_PASSWD_IS_ER with authText empty when the text is longer than
// kMaxCredentialText.
int buildAuthorisation(IPCamSession *session);

// Asks the redirector at serviceAddress:port where the camera named in host is. On a redirect
// host (hostCapacity bytes) and *portInOut receive its address and port (the port only when
// the redirect names one). Returns the number of bytes received (positive: a redirect, or a
// plain 200 that leaves both unchanged) or a negative CGI result: an unusable address or
// port, no connection, no answer, 401, or a redirect address that does not fit.
int queryDynamicDns(const char *serviceAddress, int32_t port, char *host,
                    std::size_t hostCapacity, int32_t *portInOut);

}  // namespace ipcam
