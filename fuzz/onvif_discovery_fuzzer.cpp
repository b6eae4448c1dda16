// A discovery answer as any host on the network may send it: read, the device URL chosen from
// its addresses, and the devices kept as the search keeps them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/one_line.h"
#include "onvif/discovery_list.h"
#include "onvif/discovery_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view datagram(reinterpret_cast<const char *>(data), size);
    ipcam::DiscoveryList list;
    for (const ipcam::ProbeMatch &m : ipcam::readProbeMatches(datagram, "uuid:fuzz")) {
        if (m.xaddrs.empty() || m.xaddrs.size() > ipcam::kMaxXAddrs) std::abort();
        if (!oneLine(m.name) || !oneLine(m.hardware) || !oneLine(m.endpoint)) std::abort();
        if (m.name.size() > ipcam::kMaxScopeText || m.endpoint.size() > ipcam::kMaxEndpoint)
            std::abort();
        const auto url = ipcam::chooseDeviceUrl(m.xaddrs, "192.168.1.20");
        if (!url) continue;
        if (url->url.compare(0, 7, "http://") != 0 || !oneLine(url->url)) std::abort();
        list.add({url->url, m.name, m.hardware, m.endpoint, "192.168.1.20", url->elsewhere, false});
    }
    if (list.devices().size() > ipcam::DiscoveryList::kMaxDevices) std::abort();
    return 0;
}
