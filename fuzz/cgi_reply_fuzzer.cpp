// A camera's reply, cut into arbitrary pieces: reading, classification, both value lookups, and
// a looked-up value trimmed and written back into a query as a client would.
//
// Input layout: byte 0 = piece size, byte 1 = key length, then the key, then the reply bytes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "control/cgi_reply.h"
#include "control/query_builder.h"
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

    const std::string_view trimmed = ipcam::trimmedValue(value);
    if (trimmed.data() < value || trimmed.data() + trimmed.size() > value + std::strlen(value))
        std::abort();
    char query[3 * sizeof value + 8] = "Name=";
    if (!ipcam::appendQueryValue(query, sizeof query, trimmed)) std::abort();
    // Nothing in the value may end the request line or split the pair.
    for (const char *c = query + 5; *c; ++c)
        if (static_cast<unsigned char>(*c) <= ' ' || *c == '&' || *c == '=' || *c == '#' ||
            (*c == '%' && !(std::isxdigit(static_cast<unsigned char>(c[1])) &&
                            std::isxdigit(static_cast<unsigned char>(c[2])))))
            std::abort();
    return 0;
}
