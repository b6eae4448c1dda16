// Standard base64, the encoding of the HTTP Basic authorisation text and of raw serial
// commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ipcam {

// Length of the encoding of count bytes, without the terminating NUL.
constexpr std::size_t base64Length(std::size_t count) {
    return (count + 2) / 3 * 4;
}

// Encodes count bytes into out with "=" padding and a terminating NUL. Returns the length
// written, or -1 (out untouched) when out cannot hold it.
int EncodeBase64(const void *bytes, std::size_t count, char *out, std::size_t outCapacity);

// Decodes standard base64. The "=" padding may be left out; nothing for any other character,
// for padding anywhere but at the end, and for a length no encoding has.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text);

}  // namespace ipcam
