// The HTTP reply of an ONVIF device after its head, whichever way the device delimits it:
// by length, in chunks, up to the close, or on a connection it keeps open.
//
// Input layout: byte 0 picks the piece size (low 7 bits, at least 1) and whether the device
// keeps the connection open (high bit); then the reply head up to its empty line; then the
// body bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "onvif/soap_http.h"
#include "onvif/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = (data[0] & 0x7F) + 1u;
    const auto ending =
        data[0] & 0x80 ? ipcam::MemorySource::Ending::Silence : ipcam::MemorySource::Ending::Close;
    const std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::size_t end = rest.find("\r\n\r\n");
    if (end == std::string_view::npos) return 0;
    ipcam::MemorySource source(rest.substr(end + 4), piece, ending);
    std::string body;
    const int r = ipcam::readHttpBody(source, rest.substr(0, end + 4), body, 300);
    if (r != 0 && r != ipcam::kBodyBroken && r != ipcam::kBodyTooLarge) std::abort();
    if (body.size() > ipcam::kMaxXmlBytes) std::abort();
    return 0;
}
