// A device's SOAP answer read as every reply the client reads: clock, services, profiles of
// both media services, stream address and presets.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "onvif/onvif_device.h"
#include "onvif/onvif_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace ipcam;
    const auto reply = readSoapReply(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!reply) return 0;
    isAuthenticationFault(*reply);
    readDeviceTime(*reply);
    readServices(*reply);
    readCapabilities(*reply);
    for (MediaVersion v : {MediaVersion::Media, MediaVersion::Media2}) {
        if (auto profiles = readProfiles(*reply, v)) {
            for (const MediaProfile &p : *profiles)
                if (p.token.empty() || p.width < 0 || p.height < 0) std::abort();
        }
        if (auto uri = readStreamUri(*reply, v)) withHost(*uri, "10.0.0.1");
    }
    readPresets(*reply);
    readSetPresetToken(*reply);
    return 0;
}
