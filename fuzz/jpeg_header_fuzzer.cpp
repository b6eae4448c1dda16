// RTP/JPEG payload headers of any shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "transport/jpeg_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t header[ipcam::kJpegHeaderArea];
    ipcam::JpegHeaderResult r = ipcam::makeJpegHeader(data, size, header, sizeof header);
    if (r.ok && (r.payloadHeaders > size || r.headerLength > sizeof header)) std::abort();
    return 0;
}
