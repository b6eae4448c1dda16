#include "onvif/onvif_requests.h"

#include <charconv>
#include <cstdio>

#include "onvif/onvif_namespaces.h"
#include "onvif/soap_message.h"

namespace ipcam {

namespace {

// <Operation xmlns="service">inner</Operation>
SoapCall call(std::string_view service, std::string_view operation, std::string_view inner = {}) {
    SoapCall c;
    c.action = std::string(service) + "/" + std::string(operation);
    c.body = "<" + std::string(operation) + " xmlns=\"" + std::string(service) + "\"";
    if (inner.empty()) {
        c.body += "/>";
    } else {
        c.body += ">" + std::string(inner) + "</" + std::string(operation) + ">";
    }
    return c;
}

std::string element(std::string_view name, std::string_view value) {
    return "<" + std::string(name) + ">" + xmlEscape(value) + "</" + std::string(name) + ">";
}

std::string schemaElement(std::string_view name, std::string_view inner) {
    return "<" + std::string(name) + " xmlns=\"" + std::string(ns::kSchema) + "\">" +
           std::string(inner) + "</" + std::string(name) + ">";
}

// Always with a decimal point, whatever locale the program runs in.
std::string number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return std::string(text, end.ptr);
}

std::string_view mediaNamespace(MediaVersion version) {
    return version == MediaVersion::Media2 ? ns::kMedia2 : ns::kMedia;
}

}  // namespace

SoapCall getSystemDateAndTime() {
    return call(ns::kDevice, "GetSystemDateAndTime");
}

SoapCall getServices() {
    return call(ns::kDevice, "GetServices", element("IncludeCapability", "false"));
}

SoapCall getCapabilities() {
    return call(ns::kDevice, "GetCapabilities", element("Category", "All"));
}

SoapCall getProfiles(MediaVersion version) {
    if (version == MediaVersion::Media2) return call(ns::kMedia2, "GetProfiles", element("Type", "All"));
    return call(ns::kMedia, "GetProfiles");
}

SoapCall getStreamUri(MediaVersion version, std::string_view profileToken) {
    if (version == MediaVersion::Media2)
        return call(ns::kMedia2, "GetStreamUri",
                    element("Protocol", "RTSP") + element("ProfileToken", profileToken));
    const std::string setup = "<StreamSetup>" + schemaElement("Stream", "RTP-Unicast") +
                              schemaElement("Transport", "<Protocol>RTSP</Protocol>") +
                              "</StreamSetup>";
    return call(mediaNamespace(version), "GetStreamUri",
                setup + element("ProfileToken", profileToken));
}

SoapCall continuousMove(std::string_view profileToken, double pan, double tilt, double zoom,
                        int timeoutMs) {
    std::string velocity = "<Velocity>";
    if (pan != 0 || tilt != 0)
        velocity += "<PanTilt xmlns=\"" + std::string(ns::kSchema) + "\" x=\"" + number(pan) +
                    "\" y=\"" + number(tilt) + "\"/>";
    if (zoom != 0)
        velocity += "<Zoom xmlns=\"" + std::string(ns::kSchema) + "\" x=\"" + number(zoom) + "\"/>";
    velocity += "</Velocity>";
    std::string inner = element("ProfileToken", profileToken) + velocity;
    if (timeoutMs > 0) {
        char duration[32];
        std::snprintf(duration, sizeof duration, "PT%d.%03dS", timeoutMs / 1000, timeoutMs % 1000);
        inner += element("Timeout", duration);
    }
    return call(ns::kPtz, "ContinuousMove", inner);
}

SoapCall stopMove(std::string_view profileToken, bool panTilt, bool zoom) {
    return call(ns::kPtz, "Stop",
                element("ProfileToken", profileToken) +
                    element("PanTilt", panTilt ? "true" : "false") +
                    element("Zoom", zoom ? "true" : "false"));
}

SoapCall gotoHomePosition(std::string_view profileToken) {
    return call(ns::kPtz, "GotoHomePosition", element("ProfileToken", profileToken));
}

SoapCall getPresets(std::string_view profileToken) {
    return call(ns::kPtz, "GetPresets", element("ProfileToken", profileToken));
}

SoapCall gotoPreset(std::string_view profileToken, std::string_view presetToken) {
    return call(ns::kPtz, "GotoPreset",
                element("ProfileToken", profileToken) + element("PresetToken", presetToken));
}

SoapCall setPreset(std::string_view profileToken, std::string_view presetToken,
                   std::string_view name) {
    std::string inner = element("ProfileToken", profileToken);
    if (!name.empty()) inner += element("PresetName", name);
    if (!presetToken.empty()) inner += element("PresetToken", presetToken);
    return call(ns::kPtz, "SetPreset", inner);
}

SoapCall removePreset(std::string_view profileToken, std::string_view presetToken) {
    return call(ns::kPtz, "RemovePreset",
                element("ProfileToken", profileToken) + element("PresetToken", presetToken));
}

}  // namespace ipcam
