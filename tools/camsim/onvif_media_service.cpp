// The media services: Media (ver10), which like many cameras knows nothing of H.265 and leaves
// those channels out, and Media2 (ver20), which lists every channel. Stream URIs lead to the
// streaming server's mount of the channel.
#include <string>

#include "tools/camsim/onvif_context.h"

namespace camsim {

namespace {

namespace ns = onvif_ns;
using Codec = ChannelConfig::Codec;

constexpr std::string_view kVelocityPanTilt =
    "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocityGenericSpace";
constexpr std::string_view kVelocityZoom =
    "http://www.onvif.org/ver10/tptz/ZoomSpaces/VelocityGenericSpace";

bool inMedia1(const OnvifProfile &profile) {
    return profile.codec != Codec::H265;
}

std::string_view media1Encoding(Codec codec) {
    return codec == Codec::Mpeg4 ? "MPEG4" : codec == Codec::Jpeg ? "JPEG" : "H264";
}

std::string_view media2Encoding(Codec codec) {
    switch (codec) {
        case Codec::Mpeg4:
            return "MPV4-ES";
        case Codec::Jpeg:
            return "JPEG";
        case Codec::H264:
            return "H264";
        case Codec::H265:
            break;
    }
    return "H265";
}

int bitrateOf(const OnvifProfile &profile) {
    return profile.bitrateKbps > 0 ? profile.bitrateKbps : 2048;
}

std::string number(int n) {
    return std::to_string(n);
}

std::string tokenAttr(std::string_view prefix, int number) {
    return "token=\"" + std::string(prefix) + std::to_string(number) + "\"";
}

std::string resolution(const Prefixes &p, const OnvifProfile &profile) {
    return element(p.schema, "Resolution",
                   textElement(p.schema, "Width", number(profile.width)) +
                       textElement(p.schema, "Height", number(profile.height)));
}

std::string nameAndUse(const Prefixes &p, const std::string &name) {
    return textElement(p.schema, "Name", name) + textElement(p.schema, "UseCount", "1");
}

std::string videoSourceBody(const Prefixes &p, const OnvifProfile &profile) {
    const std::string bounds = "x=\"0\" y=\"0\" width=\"" + number(profile.width) + "\" height=\"" +
                               number(profile.height) + "\"";
    return nameAndUse(p, "VideoSource " + number(profile.number)) +
           textElement(p.schema, "SourceToken", "vs_" + number(profile.number)) +
           element(p.schema, "Bounds", "", bounds);
}

std::string multicast(const Prefixes &p) {
    const std::string address =
        textElement(p.schema, "Type", "IPv4") + textElement(p.schema, "IPv4Address", "0.0.0.0");
    return element(p.schema, "Multicast",
                   element(p.schema, "Address", address) + textElement(p.schema, "Port", "0") +
                       textElement(p.schema, "TTL", "1") +
                       textElement(p.schema, "AutoStart", "false"));
}

std::string videoEncoder1Body(const Prefixes &p, const OnvifProfile &profile) {
    const std::string_view tt = p.schema;
    const std::string rate = textElement(tt, "FrameRateLimit", number(profile.fps)) +
                             textElement(tt, "EncodingInterval", "1") +
                             textElement(tt, "BitrateLimit", number(bitrateOf(profile)));
    std::string codec;
    if (profile.codec == Codec::Mpeg4)
        codec = element(tt, "MPEG4",
                        textElement(tt, "GovLength", number(profile.fps)) +
                            textElement(tt, "Mpeg4Profile", "SP"));
    else if (profile.codec == Codec::H264)
        codec = element(tt, "H264",
                        textElement(tt, "GovLength", number(profile.fps)) +
                            textElement(tt, "H264Profile", "Main"));
    return nameAndUse(p, "VideoEncoder " + number(profile.number)) +
           textElement(tt, "Encoding", media1Encoding(profile.codec)) + resolution(p, profile) +
           textElement(tt, "Quality", "5") + element(tt, "RateControl", rate) + codec +
           multicast(p) + textElement(tt, "SessionTimeout", "PT60S");
}

std::string videoEncoder2(const Prefixes &p, const OnvifProfile &profile) {
    const std::string_view tt = p.schema;
    std::string attrs = tokenAttr("vec_", profile.number);
    if (profile.codec != Codec::Jpeg) {
        attrs += " GovLength=\"" + number(profile.fps) + "\" Profile=\"";
        attrs += profile.codec == Codec::Mpeg4 ? "Simple\"" : "Main\"";
    }
    const std::string rate = textElement(tt, "FrameRateLimit", number(profile.fps)) +
                             textElement(tt, "BitrateLimit", number(bitrateOf(profile)));
    return element(p.media2, "VideoEncoder",
                   nameAndUse(p, "VideoEncoder " + number(profile.number)) +
                       textElement(tt, "Encoding", media2Encoding(profile.codec)) +
                       resolution(p, profile) +
                       element(tt, "RateControl", rate, "ConstantBitRate=\"false\"") +
                       multicast(p) + textElement(tt, "Quality", "5"),
                   attrs);
}

std::string ptzConfigurationBody(const OnvifContext &c, const OnvifProfile &profile) {
    const std::string_view tt = c.p.schema;
    return nameAndUse(c.p, "PTZ " + number(profile.number)) +
           textElement(tt, "NodeToken", "ptz_node_" + number(profile.headChannel + 1)) +
           textElement(tt, "DefaultContinuousPanTiltVelocitySpace", kVelocityPanTilt) +
           (c.config.faults.noZoom
                ? std::string()
                : textElement(tt, "DefaultContinuousZoomVelocitySpace", kVelocityZoom)) +
           textElement(tt, "DefaultPTZTimeout", "PT10S");
}

// The PTZ configuration of a profile; none when the device has no PTZ.
std::string ptzConfiguration(const OnvifContext &c, std::string_view ns, std::string_view name,
                             const OnvifProfile &profile) {
    if (c.config.faults.noPtz) return {};
    return element(ns, name, ptzConfigurationBody(c, profile), tokenAttr("ptz_", profile.number));
}

// A Media profile: its name, then its configurations in the schema's order.
std::string media1Profile(const OnvifContext &c, std::string_view elementName,
                          const OnvifProfile &profile) {
    const Prefixes &p = c.p;
    const std::string_view tt = p.schema;
    const int n = profile.number;
    const std::string body =
        textElement(tt, "Name", profile.name) +
        element(tt, "VideoSourceConfiguration", videoSourceBody(p, profile), tokenAttr("vsc_", n)) +
        element(tt, "VideoEncoderConfiguration", videoEncoder1Body(p, profile),
                tokenAttr("vec_", n)) +
        ptzConfiguration(c, tt, "PTZConfiguration", profile);
    return element(p.media, elementName, body,
                   "token=\"" + xmlEscape(profile.token) + "\" fixed=\"true\"");
}

std::string streamUri(const OnvifContext &c, const OnvifProfile &profile) {
    const std::string host = c.config.internalUri ? c.config.internalHost : "127.0.0.1";
    return "rtsp://" + host + ":" + std::to_string(c.rtspPort ? c.rtspPort() : 0) +
           profile.mountPath;
}

OperationResult getProfiles(const OnvifContext &c, xmlNode *) {
    std::string profiles;
    for (const OnvifProfile &profile : c.profiles)
        if (inMedia1(profile)) profiles += media1Profile(c, "Profiles", profile);
    return element(c.p.media, "GetProfilesResponse", profiles);
}

// A profile Media knows, by the token the request names.
const OnvifProfile *requestedMedia1Profile(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = c.profile(childText(request, ns::kMedia, "ProfileToken"));
    return profile && inMedia1(*profile) ? profile : nullptr;
}

OperationResult getProfile(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedMedia1Profile(c, request);
    if (!profile) return noProfile(childText(request, ns::kMedia, "ProfileToken"));
    return element(c.p.media, "GetProfileResponse", media1Profile(c, "Profile", *profile));
}

OperationResult getVideoEncoderConfigurations(const OnvifContext &c, xmlNode *) {
    std::string configurations;
    for (const OnvifProfile &profile : c.profiles)
        if (inMedia1(profile))
            configurations += element(c.p.media, "Configurations", videoEncoder1Body(c.p, profile),
                                      tokenAttr("vec_", profile.number));
    return element(c.p.media, "GetVideoEncoderConfigurationsResponse", configurations);
}

OperationResult getStreamUri(const OnvifContext &c, xmlNode *request) {
    const OnvifProfile *profile = requestedMedia1Profile(c, request);
    if (!profile) return noProfile(childText(request, ns::kMedia, "ProfileToken"));
    xmlNode *setup = childElement(request, ns::kMedia, "StreamSetup");
    const std::string stream = childText(setup, ns::kSchema, "Stream");
    const std::string protocol =
        childText(childElement(setup, ns::kSchema, "Transport"), ns::kSchema, "Protocol");
    if (!setup || stream != "RTP-Unicast" || protocol != "RTSP")
        return senderFault(
            {"InvalidArgVal", "InvalidStreamSetup"},
            "Only RTP-Unicast over RTSP is served, not '" + stream + "' over '" + protocol + "'");
    const Prefixes &p = c.p;
    const std::string uri = textElement(p.schema, "Uri", streamUri(c, *profile)) +
                            textElement(p.schema, "InvalidAfterConnect", "false") +
                            textElement(p.schema, "InvalidAfterReboot", "false") +
                            textElement(p.schema, "Timeout", "PT0S");
    return element(p.media, "GetStreamUriResponse", element(p.media, "MediaUri", uri));
}

// Media2 GetProfiles: configurations only of the Types asked for ("All" for every one).
OperationResult getProfiles2(const OnvifContext &c, xmlNode *request) {
    const Prefixes &p = c.p;
    bool source = false, encoder = false, ptz = false;
    for (xmlNode *e = firstElement(request); e; e = nextElement(e)) {
        if (!isElement(e, ns::kMedia2, "Type")) continue;
        const std::string type = elementText(e);
        source = source || type == "All" || type == "VideoSource";
        encoder = encoder || type == "All" || type == "VideoEncoder";
        ptz = ptz || type == "All" || type == "PTZ";
    }
    xmlNode *token = childElement(request, ns::kMedia2, "Token");
    if (token && !c.profile(elementText(token))) return noProfile(elementText(token));
    std::string profiles;
    for (const OnvifProfile &profile : c.profiles) {
        if (token && profile.token != elementText(token)) continue;
        std::string configurations;
        const int n = profile.number;
        if (source)
            configurations +=
                element(p.media2, "VideoSource", videoSourceBody(p, profile), tokenAttr("vsc_", n));
        if (encoder) configurations += videoEncoder2(p, profile);
        if (ptz) configurations += ptzConfiguration(c, p.media2, "PTZ", profile);
        profiles += element(p.media2, "Profiles",
                            textElement(p.media2, "Name", profile.name) +
                                element(p.media2, "Configurations", configurations),
                            "token=\"" + xmlEscape(profile.token) + "\" fixed=\"true\"");
    }
    return element(p.media2, "GetProfilesResponse", profiles);
}

OperationResult getStreamUri2(const OnvifContext &c, xmlNode *request) {
    const std::string token = childText(request, ns::kMedia2, "ProfileToken");
    const OnvifProfile *profile = c.profile(token);
    if (!profile) return noProfile(token);
    const std::string protocol = childText(request, ns::kMedia2, "Protocol");
    if (protocol != "RTSP" && protocol != "RtspUnicast")
        return senderFault({"InvalidArgVal", "InvalidStreamSetup"},
                           "Only RTSP (RtspUnicast) is served, not '" + protocol + "'");
    return element(c.p.media2, "GetStreamUriResponse",
                   textElement(c.p.media2, "Uri", streamUri(c, *profile)));
}

constexpr Operation kMediaOperations[] = {
    {ns::kMedia, "GetProfiles", false, getProfiles},
    {ns::kMedia, "GetProfile", false, getProfile},
    {ns::kMedia, "GetStreamUri", false, getStreamUri},
    {ns::kMedia, "GetVideoEncoderConfigurations", false, getVideoEncoderConfigurations},
};

constexpr Operation kMedia2Operations[] = {
    {ns::kMedia2, "GetProfiles", false, getProfiles2},
    {ns::kMedia2, "GetStreamUri", false, getStreamUri2},
};

}  // namespace

std::span<const Operation> mediaOperations() {
    return kMediaOperations;
}

std::span<const Operation> media2Operations() {
    return kMedia2Operations;
}

}  // namespace camsim
