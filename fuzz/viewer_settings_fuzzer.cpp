// Feeds arbitrary bytes to the viewer's settings file parser. Whatever it reads must write back
// into a file that reads the same, one line per key.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "viewer/viewer_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kestrel;
    const ViewerSettings read =
        parseViewerSettings(std::string_view(reinterpret_cast<const char *>(data), size));
    const std::string written = formatViewerSettings(read);
    if (read.hasLastSite && std::count(written.begin(), written.end(), '\n') != 4) std::abort();
    if (!(parseViewerSettings(written) == read)) std::abort();
    return 0;
}
