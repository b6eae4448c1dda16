// WS-Discovery as ONVIF devices speak it: the Probe for video transmitters, and the reading of
// the ProbeMatches that answer it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcam {

// A Probe for dn:NetworkVideoTransmitter with this MessageID ("uuid:...").
std::string probeMessage(std::string_view messageId);
// A fresh "uuid:" message id (random, version 4).
std::string newMessageId();

struct ProbeMatch {
    std::string endpoint;            // the EndpointReference Address, the device's identity
    std::vector<std::string> xaddrs; // as listed
    std::string name, hardware;      // from the onvif://www.onvif.org/name/... scopes, decoded
};

// The matches of one datagram. Only a ProbeMatches message counts, and only one that relates
// to messageId when it says what it relates to; a match whose Types name other kinds of
// device only is left out. Empty for anything else.
std::vector<ProbeMatch> readProbeMatches(std::string_view datagram, std::string_view messageId);

// The device service URL to use for a match whose answer came from sourceAddress (dotted):
// the first plain http XAddr, preferring one at the source address. A URL naming 0.0.0.0, or
// a loopback or link-local address that is not the source, names the source instead. nullopt
// when no XAddr is usable.
std::optional<std::string> chooseDeviceUrl(const std::vector<std::string> &xaddrs,
                                           std::string_view sourceAddress);

}  // namespace ipcam
