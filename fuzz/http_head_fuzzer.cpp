// Reply heads read from a connection in arbitrary pieces, then the status and header lookups
// made on them.
//
// Input layout: byte 0 = piece size, then the bytes the server sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/http_auth.h"
#include "platform/byte_source.h"
#include "transport/rtsp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);
    ipcam::MemorySource pieces(bytes, data[0] + 1u);
    ipcam::MemorySource whole(bytes, bytes.size() + 1);
    char head[2048], same[2048];
    const int n = ipcam::receiveHeader(pieces, head, sizeof head, 200);
    // Where the pieces break must not change what is read.
    if (n != ipcam::receiveHeader(whole, same, sizeof same, 200)) std::abort();
    if (n <= 0) return 0;
    if (n > static_cast<int>(sizeof head) || std::memcmp(head, same, n) != 0) std::abort();

    const std::string_view text(head, static_cast<std::size_t>(n));
    const int status = ipcam::statusCode(text);
    if (status != -1 && (status < 100 || status > 999)) std::abort();
    if (auto length = ipcam::contentLength(text); length && *length > ipcam::kMaxContentLength)
        std::abort();
    for (const auto &value : ipcam::headerValues(text, "WWW-Authenticate"))
        if (value.size() > text.size()) std::abort();
    ipcam::headerValue(text, "Content-Type");
    ipcam::chooseChallenge(ipcam::parseChallenges(text));
    return 0;
}
