// Stream addresses as users paste them: whatever the text, a URL that is taken has sane parts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transport/rtsp_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    ipcam::RtspUrl url;
    const int r = ipcam::parseRtspUrl(text, url);
    if (r != 0 && r != -1 && r != -2) std::abort();
    if (r == 0) {
        // What goes on the wire never carries the account, a blank or a line end.
        if (url.host.empty() || url.port == 0 || url.path.empty() || url.path.front() != '/' ||
            url.user.size() > ipcam::kMaxUrlAccount ||
            url.password.size() > ipcam::kMaxUrlAccount ||
            url.requestUri.find_first_of(" \r\n") != std::string::npos)
            std::abort();
        const std::string_view authority =
            std::string_view(url.requestUri).substr(0, url.requestUri.size() - url.path.size());
        if (authority.find('@') != std::string_view::npos) std::abort();
    }
    return 0;
}
