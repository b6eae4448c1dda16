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

// Bounds on what one match may carry: longer texts are cut (endpoints: the match is dropped,
// an identity cut short would be another's), XAddrs past the count are not read.
inline constexpr std::size_t kMaxScopeText = 256;
inline constexpr std::size_t kMaxEndpoint = 256;
inline constexpr std::size_t kMaxXAddrs = 8;

struct ProbeMatch {
    std::string endpoint;            // the EndpointReference Address, the device's identity
    std::vector<std::string> xaddrs; // as listed
    std::string name, hardware;      // from the onvif://www.onvif.org/name/... scopes, decoded
};

// The matches of one datagram. Only a ProbeMatches message counts, and only one that relates
// to messageId when it says what it relates to; a match whose Types name other kinds of
// device only is left out. Empty for anything else. The endpoint, name and hardware are made
// safe to show (device_text.h).
std::vector<ProbeMatch> readProbeMatches(std::string_view datagram, std::string_view messageId);

struct DeviceUrl {
    std::string url;
    bool elsewhere = false;  // it names another host than the one the answer came from
};

// The device service URL to use for a match whose answer came from sourceAddress (dotted):
// the first plain http XAddr, preferring one at the source address. A URL naming 0.0.0.0, or
// a loopback or link-local address that is not the source, names the source instead. An
// XAddr with an account part (http://a@b/: the host is b, whatever a looks like) is never
// used. nullopt when no XAddr is usable.
std::optional<DeviceUrl> chooseDeviceUrl(const std::vector<std::string> &xaddrs,
                                         std::string_view sourceAddress);

}  // namespace ipcam
