// A dynamic-DNS redirector's answer, cut into arbitrary pieces.
//
// Input layout: byte 0 = piece size, then the answer bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "control/cgi_reply.h"
#include "platform/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    std::string_view answer(reinterpret_cast<const char *>(data + 1), size - 1);
    ipcam::MemorySource source(answer, data[0] + 1u);
    char buffer[2049];
    char host[128] = "camera.example";
    int32_t port = 80;
    int n = ipcam::readRedirect(source, buffer, 2048, 200, host, sizeof host, &port);
    if (n > 2048 || std::strlen(host) >= sizeof host) std::abort();
    return 0;
}
