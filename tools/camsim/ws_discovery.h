// WS-Discovery (2005/04, addressing 2004/08) messages of the ONVIF device: which Probes it
// answers and the ProbeMatches it answers them with. No sockets here (discovery_responder.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/onvif_names.h"

namespace camsim {

// What the device says of itself in a ProbeMatch.
struct DiscoveryTarget {
    std::string endpoint;             // "urn:uuid:...", the same for the device's lifetime
    std::vector<std::string> scopes;  // onvifScopes()
    std::string xaddrs;               // "http://127.0.0.1:PORT/onvif/device_service"
    int metadataVersion = 1;
    int floodDevices = 0;  // made-up devices answered beside it (floodTargets)
};

// The made-up devices of a flood: endpoints of their own, XAddrs at the device's host.
std::vector<DiscoveryTarget> floodTargets(const DiscoveryTarget &target);

// The MessageID of a Probe the device answers; nothing for anything else. A Probe is answered
// when every QName of its Types (prefixes resolved where the Types element is) is a type the
// device is, dn:NetworkVideoTransmitter or tds:Device, or when it has no Types; and when every
// one of its Scopes matches one of scopes, by whole path segments (the default MatchBy) or
// exactly (strcmp0). A Probe without a MessageID cannot be related to and is not answered.
std::optional<std::string> probeToAnswer(std::string_view datagram,
                                         const std::vector<std::string> &scopes);

struct MessageNumbering {
    uint64_t instanceId = 1;     // AppSequence InstanceId: changes when the device restarts
    uint64_t messageNumber = 1;  // counts the device's messages
};

// The ProbeMatches envelope answering the Probe messageId, with a MessageID of its own: a
// ProbeMatch per target.
std::string probeMatches(const Prefixes &p, const std::vector<DiscoveryTarget> &targets,
                         std::string_view relatesTo, std::string_view messageId,
                         const MessageNumbering &numbering);

// The device's scopes: type, Profile/Streaming, name, hardware and location, the values
// percent-encoded ("Kestrel Camsim" is Kestrel%20Camsim).
std::vector<std::string> onvifScopes(std::string_view name, std::string_view hardware);

// Every byte but letters, digits and -._~ as %XX.
std::string percentEncoded(std::string_view text);

// "urn:uuid:" and a random version 4 UUID.
std::string randomUuidUrn();

}  // namespace camsim
