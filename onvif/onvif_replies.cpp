#include "onvif/onvif_replies.h"

#include <charconv>
#include <ctime>

#include "onvif/onvif_namespaces.h"

namespace ipcam {

namespace {

constexpr std::string_view kAny = kAnyNamespace;
constexpr int kLargestSide = 16384;

std::optional<int> integer(const XmlElement &e, int low, int high) {
    const std::string text = e.text();
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

XmlElement response(const SoapReply &reply, std::string_view service, std::string_view name) {
    if (reply.fault || !reply.payload.is(service, name)) return {};
    return reply.payload;
}

std::string normalCodec(const std::string &encoding) {
    if (encoding == "H264" || encoding == "H.264") return "H264";
    if (encoding == "H265" || encoding == "H.265" || encoding == "HEVC") return "H265";
    if (encoding == "JPEG" || encoding == "MJPEG") return "JPEG";
    if (encoding == "MPEG4" || encoding == "MPV4-ES" || encoding == "MP4V-ES") return "MPEG4";
    return encoding;
}

void readEncoder(const XmlElement &encoder, MediaProfile &profile) {
    if (!encoder) return;
    profile.codec = normalCodec(encoder.child(kAny, "Encoding").text());
    // Media2 may carry the encoding as an attribute too.
    if (profile.codec.empty()) profile.codec = normalCodec(encoder.attribute("Encoding").value_or(""));
    const XmlElement resolution = encoder.child(kAny, "Resolution");
    const auto width = integer(resolution.child(kAny, "Width"), 1, kLargestSide);
    const auto height = integer(resolution.child(kAny, "Height"), 1, kLargestSide);
    if (width && height) profile.width = *width, profile.height = *height;
}

// The PTZ configuration's axes, by the spaces and limits it names for each.
void readPtz(const XmlElement &configuration, MediaProfile &profile) {
    profile.ptz = static_cast<bool>(configuration);
    if (!profile.ptz) return;
    const auto names = [&](std::initializer_list<std::string_view> fields) {
        for (std::string_view f : fields)
            if (configuration.child(kAny, f)) return true;
        return false;
    };
    profile.panTilt = names({"DefaultContinuousPanTiltVelocitySpace", "PanTiltLimits",
                             "DefaultAbsolutePantTiltPositionSpace"});
    profile.zoom = names({"DefaultContinuousZoomVelocitySpace", "ZoomLimits",
                          "DefaultAbsoluteZoomPositionSpace"});
    if (!profile.panTilt && !profile.zoom) profile.panTilt = profile.zoom = true;
}

}  // namespace

std::optional<int64_t> readDeviceTime(const SoapReply &reply) {
    const XmlElement utc = response(reply, ns::kDevice, "GetSystemDateAndTimeResponse")
                               .path(kAny, {"SystemDateAndTime", "UTCDateTime"});
    const XmlElement time = utc.child(kAny, "Time"), date = utc.child(kAny, "Date");
    const auto hour = integer(time.child(kAny, "Hour"), 0, 23);
    const auto minute = integer(time.child(kAny, "Minute"), 0, 59);
    const auto second = integer(time.child(kAny, "Second"), 0, 60);
    const auto year = integer(date.child(kAny, "Year"), 1970, 9999);
    const auto month = integer(date.child(kAny, "Month"), 1, 12);
    const auto day = integer(date.child(kAny, "Day"), 1, 31);
    if (!hour || !minute || !second || !year || !month || !day) return std::nullopt;
    std::tm parts{};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    return static_cast<int64_t>(timegm(&parts));
}

std::optional<ServiceAddresses> readServices(const SoapReply &reply) {
    const XmlElement payload = response(reply, ns::kDevice, "GetServicesResponse");
    if (!payload) return std::nullopt;
    ServiceAddresses out;
    for (const XmlElement &service : payload.children(kAny, "Service")) {
        const std::string space = service.child(kAny, "Namespace").text();
        const std::string address = service.child(kAny, "XAddr").text();
        if (space == ns::kMedia) out.media = address;
        if (space == ns::kMedia2) out.media2 = address;
        if (space == ns::kPtz) out.ptz = address;
    }
    return out;
}

std::optional<ServiceAddresses> readCapabilities(const SoapReply &reply) {
    const XmlElement capabilities =
        response(reply, ns::kDevice, "GetCapabilitiesResponse").child(kAny, "Capabilities");
    if (!capabilities) return std::nullopt;
    ServiceAddresses out;
    out.media = capabilities.path(kAny, {"Media", "XAddr"}).text();
    out.ptz = capabilities.path(kAny, {"PTZ", "XAddr"}).text();
    return out;
}

std::optional<std::vector<MediaProfile>> readProfiles(const SoapReply &reply, MediaVersion version) {
    const std::string_view service = version == MediaVersion::Media2 ? ns::kMedia2 : ns::kMedia;
    const XmlElement payload = response(reply, service, "GetProfilesResponse");
    if (!payload) return std::nullopt;
    std::vector<MediaProfile> out;
    for (const XmlElement &p : payload.children(kAny, "Profiles")) {
        MediaProfile profile;
        profile.token = p.attribute("token").value_or("");
        if (profile.token.empty()) continue;
        profile.name = p.child(kAny, "Name").text();
        if (version == MediaVersion::Media2) {
            const XmlElement configurations = p.child(kAny, "Configurations");
            readEncoder(configurations.child(kAny, "VideoEncoder"), profile);
            readPtz(configurations.child(kAny, "PTZ"), profile);
        } else {
            readEncoder(p.child(kAny, "VideoEncoderConfiguration"), profile);
            readPtz(p.child(kAny, "PTZConfiguration"), profile);
        }
        out.push_back(std::move(profile));
    }
    return out;
}

std::optional<std::string> readStreamUri(const SoapReply &reply, MediaVersion version) {
    const std::string_view service = version == MediaVersion::Media2 ? ns::kMedia2 : ns::kMedia;
    const XmlElement payload = response(reply, service, "GetStreamUriResponse");
    const XmlElement uri = version == MediaVersion::Media2 ? payload.child(kAny, "Uri")
                                                           : payload.path(kAny, {"MediaUri", "Uri"});
    std::string text = uri.text();
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<std::vector<PtzPreset>> readPresets(const SoapReply &reply) {
    const XmlElement payload = response(reply, ns::kPtz, "GetPresetsResponse");
    if (!payload) return std::nullopt;
    std::vector<PtzPreset> out;
    for (const XmlElement &p : payload.children(kAny, "Preset")) {
        PtzPreset preset{p.attribute("token").value_or(""), p.child(kAny, "Name").text()};
        if (!preset.token.empty()) out.push_back(std::move(preset));
    }
    return out;
}

std::optional<std::string> readSetPresetToken(const SoapReply &reply) {
    std::string token =
        response(reply, ns::kPtz, "SetPresetResponse").child(kAny, "PresetToken").text();
    if (token.empty()) return std::nullopt;
    return token;
}

}  // namespace ipcam
