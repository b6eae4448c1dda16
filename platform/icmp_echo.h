// Ways of sending one ICMP echo request and waiting for its reply.
//
// Tried in order at start-up: an unprivileged ICMP datagram socket (where the system allows
// it), then a raw ICMP socket (needs the capability), and otherwise none.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace ipcam {

struct EchoMethod {
    const char *name;
    // A handle for one echo, or -1 when this method is not available here.
    int (*open)();
    // Sends one echo request with data to address (network byte order) and waits up to
    // timeoutMs for its reply; true when the reply came.
    bool (*echo)(int handle, in_addr_t address, const void *data, std::size_t length,
                 uint32_t timeoutMs);
    void (*close)(int handle);
};

// The methods this platform offers, in the order they are tried.
std::span<const EchoMethod> systemEchoMethods();

}  // namespace ipcam
