// A camera's reply, cut into arbitrary pieces: reading, classification and both value lookups.
//
// Input layout: byte 0 = piece size, byte 1 = key length, then the key, then the reply bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "control/cgi_reply.h"
#include "platform/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const std::size_t piece = data[0] + 1u;
    const std::size_t keyLength = data[1] % 32;
    if (size < 2 + keyLength) return 0;
    std::string key(reinterpret_cast<const char *>(data + 2), keyLength);
    key = key.c_str();  // the lookups take NUL-terminated keys
    std::string_view reply(reinterpret_cast<const char *>(data + 2 + keyLength),
                           size - 2 - keyLength);

    using Ending = ipcam::MemorySource::Ending;
    ipcam::MemorySource source(reply, piece, size % 2 ? Ending::Close : Ending::Silence);
    char buffer[8192];
    int n = ipcam::readReply(source, buffer, sizeof buffer, 200);
    if (n > 0) {
        if (std::strlen(buffer) > sizeof buffer - 1) std::abort();
        int status = ipcam::classifyReply(buffer);
        if (status != 1 && status != -14 && status != -15 && status != -16) std::abort();
    }
    char value[64];
    ipcam::lookupValueA(buffer, key.c_str(), value, sizeof value);
    if (std::strlen(value) >= sizeof value) std::abort();
    std::strcpy(value, "x");
    ipcam::lookupValueB(buffer, key.c_str(), value, sizeof value);
    if (std::strlen(value) >= sizeof value) std::abort();
    return 0;
}
