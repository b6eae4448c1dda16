// What the ONVIF device of the simulator is like: the --onvif options.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/camsim/onvif_names.h"

namespace camsim {

// Habits of broken or hostile devices (--onvif-fault NAME).
struct OnvifFaults {
    bool basicOnly = false;      // basic-only: HTTP Basic is the only account check offered
    bool hugeReply = false;      // huge-reply: GetProfiles answers with more than 1 MiB
    bool httpsRedirect = false;  // https-redirect: every request gets a 307 to https://
    bool foreignXAddrs = false;  // foreign-xaddrs: services named at internalHost:internalPort
    bool controlTexts = false;   // control-texts: profile names with a tab and a line end
    bool noPtz = false;          // no-ptz: profiles without PTZ configuration, PTZ refused
    bool noZoom = false;         // no-zoom: PTZ configurations without zoom, zoom refused
    int dripMs = 0;              // drip: replies a byte at a time, this far apart
    bool keepOpen = false;       // keep-open: no Content-Length, the connection kept open
};

struct OnvifConfig {
    bool enabled = false;            // --onvif
    uint16_t discoveryPort = 3702;   // --discovery-port
    long long clockSkewSeconds = 0;  // --clock-skew: the device clock is real UTC plus this
    bool xaddrAny = false;     // --onvif-xaddr-any: discovery advertises http://0.0.0.0:PORT/...
    bool internalUri = false;  // --onvif-internal-uri: stream URIs name internalHost
    bool digest = false;       // --onvif-digest: HTTP Digest instead of UsernameToken
    std::string name = "Kestrel Camsim";      // --onvif-name: the name scope and device model
    std::string hardware = "camsim";          // --onvif-hardware: the hardware scope
    PrefixStyle prefixes = PrefixStyle::Odd;  // --onvif-prefixes
    // The account: the streaming server's, so that a stream URI plays with the same one.
    std::string user = "admin", password = "secret";
    std::string internalHost = "192.168.0.64";
    uint16_t internalPort = 80;  // where foreign-xaddrs names the services
    OnvifFaults faults;
    // Discovery as hostile hosts answer: XAddrs and endpoint as given (empty: the device's own),
    // and made-up devices listed beside the device in every answer.
    std::string discoveryXAddrs, discoveryEndpoint;  // --onvif-xaddrs, --onvif-endpoint
    int floodDevices = 0;                             // --onvif-flood
    // Called with a line per SOAP request and per discovery message (--log); may be empty.
    std::function<void(const std::string &)> log;
};

}  // namespace camsim
