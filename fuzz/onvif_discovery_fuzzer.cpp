// A discovery answer as any host on the network may send it: read, and the device URL chosen
// from its addresses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "onvif/discovery_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view datagram(reinterpret_cast<const char *>(data), size);
    for (const ipcam::ProbeMatch &m : ipcam::readProbeMatches(datagram, "uuid:fuzz")) {
        if (m.xaddrs.empty()) std::abort();
        const auto url = ipcam::chooseDeviceUrl(m.xaddrs, "192.168.1.20");
        if (url && url->compare(0, 7, "http://") != 0) std::abort();
    }
    return 0;
}
