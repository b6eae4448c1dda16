#include "core/address_cache.h"

#include <mutex>

#include "core/fixed_text.h"

namespace ipcam {

namespace {

struct AddressCache {
    std::mutex lock;
    char slots[kDynamicDnsServices][kAddressSlotSize] = {};  // lock
};

AddressCache &addressCache() {
    static AddressCache cache;
    return cache;
}

}  // namespace

bool cachedAddress(std::size_t index, char (&out)[kAddressSlotSize]) {
    out[0] = '\0';
    if (index >= kDynamicDnsServices) return false;
    AddressCache &cache = addressCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    copyText(out, fieldText(cache.slots[index]));
    return out[0] != '\0';
}

bool storeCachedAddress(std::size_t index, std::string_view address) {
    if (index >= kDynamicDnsServices) return false;
    AddressCache &cache = addressCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    return copyText(cache.slots[index], address);
}

void clearAddressCache() {
    AddressCache &cache = addressCache();
    std::lock_guard<std::mutex> hold(cache.lock);
    for (auto &slot : cache.slots) slot[0] = '\0';
}

}  // namespace ipcam
