#include "onvif/discovery_list.h"

namespace ipcam {

namespace {

const std::string &identity(const FoundDevice &d) {
    return d.endpoint.empty() ? d.url : d.endpoint;
}

}  // namespace

bool DiscoveryList::add(FoundDevice device) {
    bool contested = false;
    for (const FoundDevice &d : devices_) {
        if (identity(d) != identity(device)) continue;
        if (d.url == device.url) return false;
        contested = true;
    }
    if (devices_.size() >= kMaxDevices) return false;
    if (contested) {
        for (FoundDevice &d : devices_)
            if (identity(d) == identity(device)) d.contested = true;
        device.contested = true;
    }
    devices_.push_back(std::move(device));
    return true;
}

}  // namespace ipcam
