#include "core/reachability.h"

#include <arpa/inet.h>

#include <atomic>

#include "ipcam.h"

namespace ipcam {

namespace {

// Written at start-up, read by every session thread.
std::atomic<const EchoMethod *> g_method{nullptr};

constexpr char kEchoData[] = "hunt";  // sent with its terminating zero

}  // namespace

int loadEchoFunctions() {
    return loadEchoFunctions(systemEchoMethods());
}

int loadEchoFunctions(std::span<const EchoMethod> methods) {
    for (const EchoMethod &m : methods) {
        int handle = m.open();
        if (handle < 0) continue;
        m.close(handle);
        g_method = &m;
        return 0;
    }
    g_method = nullptr;
    return -1;
}

int probeHost(const char *address, bool enabled, uint32_t timeoutMs) {
    if (!enabled) return IPCAM_OK;
    // Without an echo method (said once at start-up) the probe cannot tell; it only ever
    // makes failures come sooner, so the connection attempt itself decides.
    const EchoMethod *m = g_method;
    if (!m) return IPCAM_OK;
    in_addr parsed{};
    if (!address || inet_aton(address, &parsed) == 0) return IPCAM_PING_IS_ER;
    int handle = m->open();
    if (handle < 0) return IPCAM_PING_IS_ER;
    bool replied = m->echo(handle, parsed.s_addr, kEchoData, sizeof kEchoData, timeoutMs);
    m->close(handle);
    return replied ? IPCAM_OK : IPCAM_PING_IS_ER;
}

}  // namespace ipcam
