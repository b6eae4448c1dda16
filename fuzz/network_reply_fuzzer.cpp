// A "GetNetwork.cgi" reply as the family A connect step reads it: ports and stream paths.
//
// Input layout: byte 0 picks the stream number (0-3); the rest is the reply text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transport/family_a_connect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const std::string reply(reinterpret_cast<const char *>(data + 1), size - 1);
    const ipcam::NetworkPorts ports = ipcam::readNetworkPorts(reply.c_str(), data[0] & 3);
    if (ports.pathFound && strnlen(ports.path, sizeof ports.path) == sizeof ports.path)
        std::abort();
    if (!ports.pathFound && ports.path[0]) std::abort();
    return 0;
}
