// Feeds arbitrary bytes to the configuration file parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    ipcam::Settings s = ipcam::parseConfig(text);
    // The ping time-out is only ever kept while the probe is on.
    if (!s.pingEnable && s.pingTimeout != 0 && s.pingTimeout != 6000) std::abort();
    if (s.getTimeout > 2147483647u || s.setTimeout > 2147483647u) std::abort();
    return 0;
}
