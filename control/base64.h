// Standard base64, the encoding of the HTTP Basic authorisation text and of raw serial
// commands.
#pragma once

#include <cstddef>

namespace ipcam {

// Length of the encoding of count bytes, without the terminating NUL.
constexpr std::size_t base64Length(std::size_t count) {
    return (count + 2) / 3 * 4;
}

// Encodes count bytes into out with "=" padding and a terminating NUL. Returns the length
// written, or -1 (out untouched) when out cannot hold it.
int EncodeBase64(const void *bytes, std::size_t count, char *out, std::size_t outCapacity);

}  // namespace ipcam
