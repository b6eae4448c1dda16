// A device camera's "GetCameraType.cgi" reply as it describes itself: kind, flags and the
// resolution and codec lists of its kind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "control/video_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string reply(reinterpret_cast<const char *>(data), size);
    const ipcam::DeviceCapabilities caps = ipcam::readDeviceCapabilities(reply.c_str());
    if (caps.resolutions >> 30) std::abort();  // 30 resolutions, no more bits
    if (caps.codecs & ~7) std::abort();
    return 0;
}
