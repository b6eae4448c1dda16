// An H.265 sequence parameter set: the reader, and the parameter set ids. The input is a NAL
// unit with its two-byte header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "transport/h265_sps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::span<const uint8_t> nal(data, size);
    if (std::optional<ipcam::VideoParameters> p = ipcam::readH265Sps(nal)) {
        if (p->width <= 0 || p->height <= 0 || p->width > 16888 || p->height > 16888 ||
            p->frameRate < 0 || p->frameRate > 240)
            std::abort();
    }
    (void)ipcam::h265ParameterSetId(nal);
    return 0;
}
