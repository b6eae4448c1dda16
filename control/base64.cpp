#include "control/base64.h"

#include <cstdint>

namespace ipcam {

int EncodeBase64(const void *bytes, std::size_t count, char *out, std::size_t outCapacity) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t length = base64Length(count);
    if (!out || (count > 0 && !bytes) || length + 1 > outCapacity) return -1;
    const auto *in = static_cast<const uint8_t *>(bytes);
    char *o = out;
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        uint32_t v = static_cast<uint32_t>(in[i] << 16 | in[i + 1] << 8 | in[i + 2]);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (std::size_t rest = count - i; rest > 0) {
        uint32_t v = static_cast<uint32_t>(in[i] << 16 | (rest == 2 ? in[i + 1] << 8 : 0));
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    *o = '\0';
    return static_cast<int>(length);
}

}  // namespace ipcam
