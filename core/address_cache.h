// Resolved addresses of the dynamic-DNS redirector hosts, one slot per configured service.
//
// Each slot is filled the first time it is needed and kept for the life of the process;
// IPCamInit empties them all. Every session's video thread reads and fills the slots, so they
// sit behind one lock and are only ever copied in and out whole; the name lookup that fills a
// slot runs outside the lock. Two threads filling the same slot at once store the same text.
#pragma once

#include <cstddef>
#include <string_view>

namespace ipcam {

inline constexpr std::size_t kDynamicDnsServices = 3;
inline constexpr std::size_t kAddressSlotSize = 64;

// Copies the address held for service index into out; false, with out empty, when the slot
// is empty or there is no such service.
bool cachedAddress(std::size_t index, char (&out)[kAddressSlotSize]);
// Keeps address for service index. False, slot untouched, when it does not fit or there is no
// such service.
bool storeCachedAddress(std::size_t index, std::string_view address);
void clearAddressCache();

}  // namespace ipcam
