// SDP media sections of any shape.
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/rtsp_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    int32_t codec = 0, clock = 0, channels = 0;
    ipcam::parseMediaLine(text.c_str(), &codec, &clock, &channels);
    return 0;
}
