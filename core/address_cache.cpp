#include "core/address_cache.h"

namespace ipcam {

AddressCache &addressCache() {
    static AddressCache cache;
    return cache;
}

void clearAddressCache() {
    for (auto &slot : addressCache().slots) slot[0] = '\0';
}

}  // namespace ipcam
