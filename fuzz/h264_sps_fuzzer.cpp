// An H.264 sequence parameter set as a camera or its description gives it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "transport/h264_sps.h"
#include "transport/sdp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto parameters = ipcam::readH264Sps({data, size});
    if (!parameters) return 0;
    if (parameters->width < 1 || parameters->width > ipcam::kMaxPictureSide ||
        parameters->height < 1 || parameters->height > ipcam::kMaxPictureSide ||
        !(parameters->frameRate >= 0) || parameters->frameRate > ipcam::kMaxFrameRate)
        std::abort();
    return 0;
}
