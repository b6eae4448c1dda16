// The reachability probe: one ICMP echo before each connection attempt, when enabled.
#pragma once

#include <cstdint>
#include <span>

#include "platform/icmp_echo.h"

namespace ipcam {

// Picks the first echo method that works here. 0, or -1 when none does.
int loadEchoFunctions();
int loadEchoFunctions(std::span<const EchoMethod> methods);

// 0 when the host answered, probing is off or no echo method could be loaded (the host then
// counts as reachable); -5 (IPCAM_PING_IS_ER) otherwise.
int probeHost(const char *address, bool enabled, uint32_t timeoutMs);

}  // namespace ipcam
