// The reachability probe: one ICMP echo before each connection attempt, when enabled.
#pragma once

#include <cstdint>
#include <span>

#include "platform/icmp_echo.h"

namespace ipcam {

// Picks the first echo method that works here. 0, or -1 when none does.
int loadEchoFunctions();
int loadEchoFunctions(std::span<const EchoMethod> methods);

// 0 when the host answered or probing is off; -5 (IPCAM_PING_IS_ER) otherwise, also for every
// host when no echo method could be loaded.
int probeHost(const char *address, bool enabled, uint32_t timeoutMs);

}  // namespace ipcam
