// The PTZ service: continuous moves and stops, presets and the home position on the
// simulator's own head, so GetSimState.cgi shows what ONVIF clients do. Positions and velocities
// are the generic spaces' -1..1 (zoom 0..1 for positions) over the head's limits; at velocity 1
// a part crosses its whole range in kSecondsAcross.
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "tools/camsim/command_words.h"
#include "tools/camsim/onvif_context.h"

namespace camsim {

namespace {

namespace ns = onvif_ns;

constexpr std::string_view kPanTiltVelocitySpace =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocityGenericSpace";
constexpr std::string_view kZoomVelocitySpace =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/VelocityGenericSpace";
constexpr std::string_view kPanTiltPositionSpace =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/PositionGenericSpace";
constexpr std::string_view kZoomPositionSpace =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/PositionGenericSpace";
constexpr double kPanTiltSecondsAcross = 4, kZoomSecondsAcross = 2;
constexpr std::chrono::milliseconds kDefaultTimeout{10000}, kLongestTimeout{3600000};
constexpr std::string_view kPresetPrefix = "Preset_";
constexpr std::size_t kLongestPresetName = 64;

// xs:float in -1..1; nothing when malformed, not finite or out of range.
std::optional<double> unitValue(std::optional<std::string> text) {
    if (!text) return std::nullopt;
    std::string_view s = *text;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (s.starts_with('+')) s.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || error != std::errc() || end != s.data() + s.size() || !std::isfinite(value) ||
        value < -1 || value > 1)
        return std::nullopt;
    return value;
}

std::string decimal(double value) {
    char out[32];
    auto [end, error] = std::to_chars(out, out + sizeof out, value, std::chars_format::fixed, 6);
    std::string text(out, error == std::errc() ? end : out);
    while (text.size() > 1 && text.back() == '0') text.pop_back();
    if (text.ends_with('.')) text.pop_back();
    return text == "-0" ? "0" : text;
}

// -1..1 across [low, high].
double generic(double value, int low, int high) {
    return high == low ? 0 : 2 * (value - low) / (high - low) - 1;
}

SoapFault invalidVelocity(std::string why) {
    return senderFault({"InvalidArgVal", "InvalidVelocity"}, std::move(why));
}

// The request's profile; nothing when the token names no profile or one without PTZ.
const OnvifProfile *requestedProfile(const OnvifContext &c, xmlNode *request) {
    if (c.config.faults.noPtz) return nullptr;
    return c.profile(childText(request, ns::kPtz, "ProfileToken"));
}

SoapFault profileFault(xmlNode *request) {
    return noProfile(childText(request, ns::kPtz, "ProfileToken"));
}

SoapFault noPtzFault(const OnvifContext &c, xmlNode *request) {
    if (!c.config.faults.noPtz) return profileFault(request);
    return senderFault({"InvalidArgVal", "NoPTZProfile"}, "The profile has no PTZ configuration");
}

// The preset number of a token this device gave; nothing for any other text.
std::optional<int> presetNumber(const OnvifContext &c, std::string_view token) {
    if (!token.starts_with(kPresetPrefix)) return std::nullopt;
    const auto n = wholeNumber(token.substr(kPresetPrefix.size()));
    const HeadLimits &l = c.head->limits();
    if (!n || *n < l.firstPreset || *n > l.lastPreset ||
        std::string(kPresetPrefix) + std::to_string(*n) != token)
        return std::nullopt;
    return n;
}

SoapFault noToken(std::string_view token) {
    return senderFault({"InvalidArgVal", "NoToken"},
                       "No preset with token '" + std::string(token) + "'");
}

// The preset the request's PresetToken names among those stored; nothing otherwise.
std::optional<int> storedPreset(const OnvifContext &c, const OnvifProfile &profile,
                                const std::string &token) {
    const auto n = presetNumber(c, token);
    if (!n || !c.head->state(profile.headChannel).presets.contains(*n)) return std::nullopt;
    return n;
}

std::string position(const OnvifContext &c, std::string_view name, double pan, double tilt,
                     double zoom) {
    const Prefixes &p = c.p;
    const HeadLimits &l = c.head->limits();
    const double zoomX = l.zoomMax == l.zoomMin ? 0 : (zoom - l.zoomMin) / (l.zoomMax - l.zoomMin);
    const std::string panTilt = "x=\"" + decimal(generic(pan, l.panMin, l.panMax)) + "\" y=\"" +
                                decimal(generic(tilt, l.tiltMin, l.tiltMax)) + "\" space=\"" +
                                std::string(kPanTiltPositionSpace) + "\"";
    const std::string zoomAttrs =
        "x=\"" + decimal(zoomX) + "\" space=\"" + std::string(kZoomPositionSpace) + "\"";
    return element(
        p.schema, name,
        element(p.schema, "PanTilt", "", panTilt) + element(p.schema, "Zoom", "", zoomAttrs));
}

OperationResult continuousMove(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedProfile(c, request);
    if (!profile) return noPtzFault(c, request);
    xmlNode *velocity = childElement(request, ns::kPtz, "Velocity");
    if (!velocity) return invalidVelocity("A ContinuousMove needs a Velocity");
    const HeadLimits &l = c.head->limits();
    HeadVelocity rate;
    if (xmlNode *panTilt = childElement(velocity, ns::kSchema, "PanTilt")) {
        const auto space = attribute(panTilt, "space");
        if (space && *space != kPanTiltVelocitySpace)
            return senderFault({"InvalidArgVal", "SpaceNotSupported"}, "Unknown space " + *space);
        const auto x = unitValue(attribute(panTilt, "x")), y = unitValue(attribute(panTilt, "y"));
        if (!x || !y) return invalidVelocity("PanTilt x and y must be numbers from -1 to 1");
        rate.pan = *x * (l.panMax - l.panMin) / kPanTiltSecondsAcross;
        rate.tilt = *y * (l.tiltMax - l.tiltMin) / kPanTiltSecondsAcross;
    }
    if (xmlNode *zoom = childElement(velocity, ns::kSchema, "Zoom")) {
        if (c.config.faults.noZoom)
            return senderFault({"InvalidArgVal", "InvalidVelocity"}, "This head has no zoom");
        const auto space = attribute(zoom, "space");
        if (space && *space != kZoomVelocitySpace)
            return senderFault({"InvalidArgVal", "SpaceNotSupported"}, "Unknown space " + *space);
        const auto x = unitValue(attribute(zoom, "x"));
        if (!x) return invalidVelocity("Zoom x must be a number from -1 to 1");
        rate.zoom = *x * (l.zoomMax - l.zoomMin) / kZoomSecondsAcross;
    }
    std::chrono::milliseconds timeout = kDefaultTimeout;
    if (xmlNode *given = childElement(request, ns::kPtz, "Timeout")) {
        const auto parsed = parseDuration(elementText(given));
        if (!parsed) return senderFault({"InvalidArgVal"}, "Timeout is no duration");
        if (parsed->count() <= 0 || *parsed > kLongestTimeout)
            return senderFault({"InvalidArgVal", "TimeoutNotSupported"},
                               "Timeouts run from above PT0S to PT1H");
        timeout = *parsed;
    }
    c.head->glide(profile->headChannel, rate, timeout);
    return element(c.p.ptz, "ContinuousMoveResponse", "");
}

// An optional xs:boolean, true when absent.
std::optional<bool> flag(xmlNode *request, std::string_view name) {
    xmlNode *e = childElement(request, ns::kPtz, name);
    if (!e) return true;
    const std::string text = elementText(e);
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    return std::nullopt;
}

OperationResult stop(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedProfile(c, request);
    if (!profile) return noPtzFault(c, request);
    const auto panTilt = flag(request, "PanTilt"), zoom = flag(request, "Zoom");
    if (!panTilt || !zoom) return senderFault({"InvalidArgVal"}, "PanTilt and Zoom are booleans");
    c.head->halt(profile->headChannel, *panTilt, *zoom);
    return element(c.p.ptz, "StopResponse", "");
}

OperationResult getStatus(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedProfile(c, request);
    if (!profile) return noPtzFault(c, request);
    const Prefixes &p = c.p;
    const HeadPosition at = c.head->position(profile->headChannel);
    const std::string moves =
        textElement(p.schema, "PanTilt", at.panTiltMoving ? "MOVING" : "IDLE") +
        textElement(p.schema, "Zoom", at.zoomMoving ? "MOVING" : "IDLE");
    const std::string status = position(c, "Position", at.pan, at.tilt, at.zoom) +
                               element(p.schema, "MoveStatus", moves) +
                               textElement(p.schema, "UtcTime", formatDateTime(c.deviceNow()));
    return element(p.ptz, "GetStatusResponse", element(p.ptz, "PTZStatus", status));
}

OperationResult getPresets(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedProfile(c, request);
    if (!profile) return noPtzFault(c, request);
    std::string presets;
    for (const auto &[n, preset] : c.head->state(profile->headChannel).presets)
        presets += element(c.p.ptz, "Preset",
                           textElement(c.p.schema, "Name", preset.name) +
                               position(c, "PTZPosition", preset.pan, preset.tilt, preset.zoom),
                           "token=\"" + std::string(kPresetPrefix) + std::to_string(n) + "\"");
    return element(c.p.ptz, "GetPresetsResponse", presets);
}

OperationResult setPreset(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedProfile(c, request);
    if (!profile) return noPtzFault(c, request);
    std::lock_guard guard(c.presetLock);
    const int channel = profile->headChannel;
    const HeadPosition at = c.head->position(channel);
    if (at.panTiltMoving || at.zoomMoving)
        return receiverFault({"Action", "MovingPTZ"}, "The head is moving");
    const HeadState state = c.head->state(channel);
    const HeadLimits &l = c.head->limits();
    int number = -1;
    if (xmlNode *token = childElement(request, ns::kPtz, "PresetToken")) {
        const auto n = storedPreset(c, *profile, elementText(token));
        if (!n) return noToken(elementText(token));
        number = *n;
    } else {
        for (int n = l.firstPreset; n <= l.lastPreset && number < 0; ++n)
            if (!state.presets.contains(n)) number = n;
        if (number < 0) return receiverFault({"Action", "TooManyPresets"}, "No preset is free");
    }
    xmlNode *nameNode = childElement(request, ns::kPtz, "PresetName");
    std::string name = nameNode ? elementText(nameNode) : "Preset " + std::to_string(number);
    if (!nameNode && state.presets.contains(number)) name = state.presets.at(number).name;
    if (name.empty() || name.size() > kLongestPresetName)
        return senderFault({"InvalidArgVal", "InvalidPresetName"},
                           "A preset name has 1 to 64 bytes");
    for (const auto &[n, preset] : state.presets)
        if (n != number && preset.name == name)
            return senderFault(
                {"InvalidArgVal", "PresetExist"},
                "Preset " + std::string(kPresetPrefix) + std::to_string(n) + " has that name");
    if (std::string problem = c.head->command(channel, "Preset" + std::to_string(number), name);
        !problem.empty())
        return receiverFault({"Action"}, problem);
    return element(
        c.p.ptz, "SetPresetResponse",
        textElement(c.p.ptz, "PresetToken", std::string(kPresetPrefix) + std::to_string(number)));
}

// GotoPreset and RemovePreset: the Dir word of the head for a stored preset.
OperationResult presetCommand(const OnvifContext &c, xmlNode *request, std::string_view word,
                              std::string_view response) {
    const OnvifProfile *profile = requestedProfile(c, request);
    if (!profile) return noPtzFault(c, request);
    std::lock_guard guard(c.presetLock);
    const std::string token = childText(request, ns::kPtz, "PresetToken");
    const auto n = storedPreset(c, *profile, token);
    if (!n) return noToken(token);
    if (std::string problem =
            c.head->command(profile->headChannel, std::string(word) + std::to_string(*n));
        !problem.empty())
        return receiverFault({"Action"}, problem);
    return element(c.p.ptz, response, "");
}

OperationResult gotoPreset(const OnvifContext &c, xmlNode *request) {
    return presetCommand(c, request, "Point", "GotoPresetResponse");
}

OperationResult removePreset(const OnvifContext &c, xmlNode *request) {
    return presetCommand(c, request, "Remove", "RemovePresetResponse");
}

OperationResult gotoHomePosition(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedProfile(c, request);
    if (!profile) return noPtzFault(c, request);
    if (std::string problem = c.head->command(profile->headChannel, "Home"); !problem.empty())
        return receiverFault({"Action"}, problem);
    return element(c.p.ptz, "GotoHomePositionResponse", "");
}

constexpr Operation kPtzOperations[] = {
    {ns::kPtz, "ContinuousMove", false, continuousMove},
    {ns::kPtz, "Stop", false, stop},
    {ns::kPtz, "GetStatus", false, getStatus},
    {ns::kPtz, "GetPresets", false, getPresets},
    {ns::kPtz, "SetPreset", false, setPreset},
    {ns::kPtz, "GotoPreset", false, gotoPreset},
    {ns::kPtz, "RemovePreset", false, removePreset},
    {ns::kPtz, "GotoHomePosition", false, gotoHomePosition},
};

}  // namespace

std::span<const Operation> ptzOperations() {
    return kPtzOperations;
}

}  // namespace camsim
