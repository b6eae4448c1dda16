// An ONVIF device's HTTP reply read as the SOAP client reads it: the head, then the body by
// Content-Length, in chunks, or up to the close.
//
// Input layout: byte 0 gives the piece size (bits 0-6) and how the connection ends after the
// bytes (bit 7: it stays silent, else it closes); then the bytes the device sends.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "onvif/soap_http.h"
#include "onvif/xml_document.h"
#include "platform/byte_source.h"
#include "transport/rtsp_reply.h"

namespace {

constexpr uint32_t kTimeoutMs = 200;

struct Read {
    int head = 0, result = 0;
    std::string body;
};

Read readReply(std::string_view bytes, std::size_t piece, ipcam::MemorySource::Ending ending) {
    ipcam::MemorySource source(bytes, piece, ending);
    Read r;
    char head[16 * 1024];
    r.head = ipcam::receiveHeader(source, head, sizeof head, kTimeoutMs);
    if (r.head <= 0) return r;
    r.result = ipcam::readHttpBody(source, std::string_view(head, static_cast<std::size_t>(r.head)),
                                   r.body, kTimeoutMs);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);
    const bool silent = data[0] & 0x80;
    const auto ending =
        silent ? ipcam::MemorySource::Ending::Silence : ipcam::MemorySource::Ending::Close;
    const Read r = readReply(bytes, (data[0] & 0x7F) + 1u, ending);
    // Where the pieces break must not change what is read.
    const Read whole = readReply(bytes, bytes.size() + 1, ending);
    if (r.head != whole.head || r.result != whole.result || r.body != whole.body) std::abort();
    if (r.head <= 0) return 0;
    if (r.result != 0 && r.result != ipcam::kBodyBroken && r.result != ipcam::kBodyTooLarge)
        std::abort();
    if (r.result != 0) return 0;
    if (r.body.size() > ipcam::kMaxXmlBytes) std::abort();

    const std::string_view head = bytes.substr(0, static_cast<std::size_t>(r.head));
    const std::string_view rest = bytes.substr(static_cast<std::size_t>(r.head));
    std::string coding(ipcam::headerValue(head, "Transfer-Encoding").value_or(""));
    for (char &c : coding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (coding.find("chunked") != std::string::npos) return 0;
    if (ipcam::headerValue(head, "Content-Length")) {
        // Exactly the bytes the length gives.
        const auto length = ipcam::contentLength(head);
        if (!length || r.body != rest.substr(0, *length)) std::abort();
    } else if (r.body != rest || (silent && !ipcam::XmlDocument::parse(r.body))) {
        // Without a length the body is what came before the close, or before a silence once
        // it is a whole document; a silence in the middle of one is no end.
        std::abort();
    }
    return 0;
}
