// What the library reads from ONVIF replies. Each function takes a reply already read as SOAP
// and checks that its payload is the expected response in its service's namespace; the fields
// inside are found by local name, since devices put them in the schema's or the service's
// namespace as their toolkit chose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "onvif/onvif_requests.h"
#include "onvif/soap_message.h"

namespace ipcam {

// The device's UTC clock (seconds since 1970) from GetSystemDateAndTimeResponse.
std::optional<int64_t> readDeviceTime(const SoapReply &reply);

// The services a device names, by GetServices or the older GetCapabilities; empty when absent.
struct ServiceAddresses {
    std::string media, media2, ptz;
};
std::optional<ServiceAddresses> readServices(const SoapReply &reply);
std::optional<ServiceAddresses> readCapabilities(const SoapReply &reply);

struct MediaProfile {
    std::string token, name;
    std::string codec;  // "H264", "H265", "JPEG", "MPEG4", or as written when another
    int width = 0, height = 0;
    bool ptz = false;  // it carries a PTZ configuration
    // The axes that configuration moves; both when it names the spaces of neither.
    bool panTilt = false, zoom = false;
};
// The profiles of a GetProfilesResponse; profiles without a token are left out (nothing could
// ask for their stream). nullopt when the payload is no such response.
std::optional<std::vector<MediaProfile>> readProfiles(const SoapReply &reply, MediaVersion version);

// The URI of a GetStreamUriResponse; nullopt without one.
std::optional<std::string> readStreamUri(const SoapReply &reply, MediaVersion version);

struct PtzPreset {
    std::string token, name;
};
std::optional<std::vector<PtzPreset>> readPresets(const SoapReply &reply);
std::optional<std::string> readSetPresetToken(const SoapReply &reply);

}  // namespace ipcam
