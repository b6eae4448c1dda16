// A device's SOAP answer read as every reply the client reads: clock, services, profiles of
// both media services, stream address and presets, and the texts shown of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/one_line.h"
#include "onvif/device_text.h"
#include "onvif/onvif_device.h"
#include "onvif/onvif_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace ipcam;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string shown = deviceText(text, 63);
    if (shown.size() > 63 || !oneLine(shown)) std::abort();
    const auto reply = readSoapReply(text);
    if (!reply) return 0;
    isAuthenticationFault(*reply);
    readDeviceTime(*reply);
    readServices(*reply);
    readCapabilities(*reply);
    for (MediaVersion v : {MediaVersion::Media, MediaVersion::Media2}) {
        if (auto profiles = readProfiles(*reply, v)) {
            for (const MediaProfile &p : *profiles) {
                if (p.token.empty() || p.width < 0 || p.height < 0) std::abort();
                // A profile with PTZ moves some axis; one without moves none.
                if (p.ptz != (p.panTilt || p.zoom)) std::abort();
                if (!oneLine(deviceText(p.name))) std::abort();
            }
        }
        if (auto uri = readStreamUri(*reply, v)) withHost(*uri, "10.0.0.1", 8554);
    }
    readPresets(*reply);
    readSetPresetToken(*reply);
    return 0;
}
