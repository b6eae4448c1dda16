// What the ONVIF device of the simulator is like: the --onvif options.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/camsim/onvif_names.h"

namespace camsim {

struct OnvifConfig {
    bool enabled = false;           // --onvif
    uint16_t discoveryPort = 3702;  // --discovery-port
    long long clockSkewSeconds = 0;  // --clock-skew: the device clock is real UTC plus this
    bool xaddrAny = false;     // --onvif-xaddr-any: discovery advertises http://0.0.0.0:PORT/...
    bool internalUri = false;  // --onvif-internal-uri: stream URIs name internalHost
    bool digest = false;       // --onvif-digest: HTTP Digest instead of UsernameToken
    std::string name = "Kestrel Camsim";  // --onvif-name: the name scope and device model
    std::string hardware = "camsim";      // --onvif-hardware: the hardware scope
    PrefixStyle prefixes = PrefixStyle::Odd;  // --onvif-prefixes
    // The account: the streaming server's, so that a stream URI plays with the same one.
    std::string user = "admin", password = "secret";
    std::string internalHost = "192.168.0.64";
    // Called with a line per SOAP request and per discovery message (--log); may be empty.
    std::function<void(const std::string &)> log;
};

}  // namespace camsim
