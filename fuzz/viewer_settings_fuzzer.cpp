// Feeds arbitrary bytes to the viewer's settings file parser. Whatever it reads must write back
// into a file that reads the same, one line per key, the last site's four among them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "viewer/viewer_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kestrel;
    const ViewerSettings read =
        parseViewerSettings(std::string_view(reinterpret_cast<const char *>(data), size));
    const std::string written = formatViewerSettings(read);
    std::set<std::string> keys;
    int siteKeys = 0;
    std::istringstream lines(written);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || !keys.insert(line.substr(0, equals)).second) std::abort();
        siteKeys += line.starts_with("last_site_");
    }
    if (siteKeys != (read.hasLastSite ? 4 : 0) || (!written.empty() && written.back() != '\n'))
        std::abort();
    if (!(parseViewerSettings(written) == read)) std::abort();
    return 0;
}
