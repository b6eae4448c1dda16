#include "tools/camsim/onvif_context.h"

namespace camsim {

namespace {

std::string_view codecName(ChannelConfig::Codec codec) {
    switch (codec) {
        case ChannelConfig::Codec::Mpeg4:
            return "MPEG-4";
        case ChannelConfig::Codec::Jpeg:
            return "JPEG";
        case ChannelConfig::Codec::H264:
            return "H.264";
        case ChannelConfig::Codec::H265:
            break;
    }
    return "H.265";
}

}  // namespace

std::vector<OnvifProfile> onvifProfiles(const std::vector<ChannelConfig> &channels,
                                        bool headPerChannel) {
    std::vector<OnvifProfile> profiles;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const ChannelConfig &c = channels[i];
        const int number = static_cast<int>(i + 1);
        OnvifProfile p;
        p.token = "profile_ch" + std::to_string(number);
        p.name = channelName(number) + " " + std::string(codecName(c.codec));
        p.number = number;
        p.codec = c.codec;
        p.width = c.width;
        p.height = c.height;
        p.fps = c.fps;
        p.bitrateKbps = c.bitrateKbps;
        // A path of the channel's own is what a camera hands out; CHnn otherwise.
        p.mountPath = !c.paths.empty() ? c.paths.front() : "/" + channelName(number);
        p.headChannel = headPerChannel ? number - 1 : 0;
        profiles.push_back(std::move(p));
    }
    return profiles;
}

SystemTime OnvifContext::deviceNow() const {
    return std::chrono::system_clock::now() +
           std::chrono::seconds(config.clockSkewSeconds + clockStep.load());
}

std::string OnvifContext::serviceAddress(std::string_view service) const {
    const std::string host =
        config.faults.foreignXAddrs
            ? config.internalHost + ":" + std::to_string(config.internalPort)
            : "127.0.0.1:" + std::to_string(webPort ? webPort() : 0);
    return "http://" + host + "/onvif/" + std::string(service);
}

const OnvifProfile *OnvifContext::profile(std::string_view token) const {
    for (const OnvifProfile &p : profiles)
        if (p.token == token) return &p;
    return nullptr;
}

std::string childText(xmlNode *request, std::string_view ns, std::string_view name) {
    return elementText(childElement(request, ns, name));
}

SoapFault noProfile(std::string_view token) {
    return senderFault({"InvalidArgVal", "NoProfile"},
                       "No profile with token '" + std::string(token) + "'");
}

}  // namespace camsim
