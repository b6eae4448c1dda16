// The device service: the clock, the services and capabilities (asked before logging in) and
// the device's identity.
#include <algorithm>
#include <array>
#include <string>

#include "tools/camsim/onvif_context.h"

namespace camsim {

namespace {

namespace ns = onvif_ns;

// The device's zone: eight hours east, so a client that signs with LocalDateTime is refused.
constexpr const char *kTimeZone = "CST-8";
constexpr long long kZoneOffsetSeconds = 8 * 3600;

struct ServiceEntry {
    std::string_view ns, path;
    int major, minor;
};
constexpr ServiceEntry kServices[] = {
    {ns::kDevice, "device_service", 2, 60},
    {ns::kMedia, "media_service", 2, 60},
    {ns::kMedia2, "media2_service", 21, 12},
    {ns::kPtz, "ptz_service", 2, 60},
};

std::string dateTime(const Prefixes &p, std::string_view name, const CivilTime &c) {
    const std::string_view tt = p.schema;
    auto n = [&](std::string_view field, int value) {
        return textElement(tt, field, std::to_string(value));
    };
    return element(tt, name,
                   element(tt, "Time", n("Hour", c.hour) + n("Minute", c.minute) +
                                           n("Second", c.second)) +
                       element(tt, "Date", n("Year", c.year) + n("Month", c.month) +
                                               n("Day", c.day)));
}

OperationResult getSystemDateAndTime(const OnvifContext &c, xmlNode *) {
    const Prefixes &p = c.p;
    const SystemTime now = c.deviceNow();
    const std::string body =
        textElement(p.schema, "DateTimeType", "Manual") +
        textElement(p.schema, "DaylightSavings", "false") +
        element(p.schema, "TimeZone", textElement(p.schema, "TZ", kTimeZone)) +
        dateTime(p, "UTCDateTime", civilTime(now)) +
        dateTime(p, "LocalDateTime", civilTime(now, kZoneOffsetSeconds));
    return element(p.device, "GetSystemDateAndTimeResponse",
                   element(p.device, "SystemDateAndTime", body));
}

// IncludeCapability is read as a device with nothing more to say reads it: not at all.
OperationResult getServices(const OnvifContext &c, xmlNode *) {
    const Prefixes &p = c.p;
    std::string services;
    for (const ServiceEntry &s : kServices) {
        const std::string version = textElement(p.schema, "Major", std::to_string(s.major)) +
                                    textElement(p.schema, "Minor", std::to_string(s.minor));
        services += element(p.device, "Service",
                            textElement(p.device, "Namespace", s.ns) +
                                textElement(p.device, "XAddr", c.serviceAddress(s.path)) +
                                element(p.device, "Version", version));
    }
    return element(p.device, "GetServicesResponse", services);
}

OperationResult getCapabilities(const OnvifContext &c, xmlNode *request) {
    const Prefixes &p = c.p;
    // Categories in the order the capabilities are written.
    enum { Device, Media, Ptz, kCount };
    std::array<bool, kCount> wanted{};
    bool any = false;
    for (xmlNode *e = firstElement(request); e; e = nextElement(e)) {
        if (!isElement(e, ns::kDevice, "Category")) continue;
        const std::string category = elementText(e);
        any = true;
        if (category == "All")
            wanted.fill(true);
        else if (category == "Device")
            wanted[Device] = true;
        else if (category == "Media")
            wanted[Media] = true;
        else if (category == "PTZ")
            wanted[Ptz] = true;
        else if (category == "Analytics" || category == "Events" || category == "Imaging")
            return receiverFault({"ActionNotSupported", "NoSuchService"},
                                 "The device has no " + category + " service");
        else
            return senderFault({"InvalidArgVal"}, "Unknown capability category " + category);
    }
    if (!any) wanted.fill(true);
    const std::string_view tt = p.schema;
    std::string caps;
    if (wanted[Device])
        caps += element(tt, "Device", textElement(tt, "XAddr", c.serviceAddress("device_service")));
    if (wanted[Media]) {
        const std::string streaming = textElement(tt, "RTPMulticast", "false") +
                                      textElement(tt, "RTP_TCP", "true") +
                                      textElement(tt, "RTP_RTSP_TCP", "true");
        caps += element(tt, "Media",
                        textElement(tt, "XAddr", c.serviceAddress("media_service")) +
                            element(tt, "StreamingCapabilities", streaming));
    }
    if (wanted[Ptz])
        caps += element(tt, "PTZ", textElement(tt, "XAddr", c.serviceAddress("ptz_service")));
    return element(p.device, "GetCapabilitiesResponse", element(p.device, "Capabilities", caps));
}

OperationResult getDeviceInformation(const OnvifContext &c, xmlNode *) {
    const Prefixes &p = c.p;
    std::string serial = c.endpoint.substr(c.endpoint.size() - std::min<std::size_t>(12, c.endpoint.size()));
    const std::string body = textElement(p.device, "Manufacturer", "Kestrel") +
                             textElement(p.device, "Model", c.config.name) +
                             textElement(p.device, "FirmwareVersion", "1.0.0") +
                             textElement(p.device, "SerialNumber", serial) +
                             textElement(p.device, "HardwareId", c.config.hardware);
    return element(p.device, "GetDeviceInformationResponse", body);
}

constexpr Operation kDeviceOperations[] = {
    {ns::kDevice, "GetSystemDateAndTime", true, getSystemDateAndTime},
    {ns::kDevice, "GetServices", true, getServices},
    {ns::kDevice, "GetCapabilities", true, getCapabilities},
    {ns::kDevice, "GetDeviceInformation", false, getDeviceInformation},
};

}  // namespace

std::span<const Operation> deviceOperations() {
    return kDeviceOperations;
}

}  // namespace camsim
