// Resolved addresses of the dynamic-DNS redirector hosts, one slot per configured service.
//
// Each slot is filled the first time it is needed and kept for the life of the process;
// IPCamInit empties them all.
#pragma once

#include <cstddef>

namespace ipcam {

inline constexpr std::size_t kDynamicDnsServices = 3;
inline constexpr std::size_t kAddressSlotSize = 64;

struct AddressCache {
    char slots[kDynamicDnsServices][kAddressSlotSize] = {};
};

AddressCache &addressCache();
void clearAddressCache();

}  // namespace ipcam
