#include "tools/camsim/onvif_options.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace camsim {

namespace {

constexpr long long kLargestSkew = 10LL * 366 * 86400;  // ten years either way

constexpr std::string_view kSwitches[] = {"--onvif", "--onvif-xaddr-any", "--onvif-internal-uri",
                                          "--onvif-digest"};
constexpr std::string_view kOptions[] = {"--discovery-port", "--clock-skew",   "--onvif-name",
                                         "--onvif-hardware", "--onvif-prefixes", "--onvif-fault",
                                         "--onvif-xaddrs",   "--onvif-endpoint", "--onvif-flood"};
constexpr int kDripMs = 200;
constexpr int kMostFlood = 1000;

struct FaultName {
    std::string_view name;
    void (*set)(OnvifFaults &);
};
constexpr FaultName kFaults[] = {
    {"basic-only", [](OnvifFaults &f) { f.basicOnly = true; }},
    {"huge-reply", [](OnvifFaults &f) { f.hugeReply = true; }},
    {"https-redirect", [](OnvifFaults &f) { f.httpsRedirect = true; }},
    {"foreign-xaddrs", [](OnvifFaults &f) { f.foreignXAddrs = true; }},
    {"control-texts", [](OnvifFaults &f) { f.controlTexts = true; }},
    {"no-ptz", [](OnvifFaults &f) { f.noPtz = true; }},
    {"no-zoom", [](OnvifFaults &f) { f.noZoom = true; }},
    {"drip", [](OnvifFaults &f) { f.dripMs = kDripMs; }},
    {"keep-open", [](OnvifFaults &f) { f.keepOpen = true; }},
};

template <typename T>
std::optional<T> wholeValue(std::string_view text, T min, T max) {
    T n{};
    if (text.starts_with('+')) text.remove_prefix(1);
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < min ||
        n > max)
        return std::nullopt;
    return n;
}

}  // namespace

bool isOnvifSwitch(std::string_view option) {
    return std::find(std::begin(kSwitches), std::end(kSwitches), option) != std::end(kSwitches);
}

void applyOnvifSwitch(std::string_view option, OnvifConfig &config) {
    if (option == "--onvif")
        config.enabled = true;
    else if (option == "--onvif-xaddr-any")
        config.xaddrAny = true;
    else if (option == "--onvif-internal-uri")
        config.internalUri = true;
    else if (option == "--onvif-digest")
        config.digest = true;
}

bool isOnvifOption(std::string_view option) {
    return std::find(std::begin(kOptions), std::end(kOptions), option) != std::end(kOptions);
}

std::optional<std::string> parseOnvifOption(std::string_view option, const std::string &value,
                                            OnvifConfig &config) {
    if (option == "--discovery-port") {
        auto port = wholeValue<unsigned>(value, 1, 65535);
        if (!port) return "not a port number from 1: '" + value + "'";
        config.discoveryPort = static_cast<uint16_t>(*port);
    } else if (option == "--clock-skew") {
        auto skew = wholeValue<long long>(value, -kLargestSkew, kLargestSkew);
        if (!skew) return "expected signed seconds within ten years, got '" + value + "'";
        config.clockSkewSeconds = *skew;
    } else if (option == "--onvif-name" || option == "--onvif-hardware") {
        if (value.empty()) return "must not be empty";
        (option == "--onvif-name" ? config.name : config.hardware) = value;
    } else if (option == "--onvif-fault") {
        const auto *fault = std::find_if(std::begin(kFaults), std::end(kFaults),
                                         [&](const FaultName &f) { return f.name == value; });
        if (fault == std::end(kFaults)) return "no such fault: '" + value + "'";
        fault->set(config.faults);
    } else if (option == "--onvif-xaddrs" || option == "--onvif-endpoint") {
        if (value.empty()) return "must not be empty";
        (option == "--onvif-xaddrs" ? config.discoveryXAddrs : config.discoveryEndpoint) = value;
    } else if (option == "--onvif-flood") {
        auto count = wholeValue<int>(value, 0, kMostFlood);
        if (!count) return "expected 0 to 1000 devices, got '" + value + "'";
        config.floodDevices = *count;
    } else if (option == "--onvif-prefixes") {
        auto style = parsePrefixStyle(value);
        if (!style) return "expected gsoap or odd, got '" + value + "'";
        config.prefixes = *style;
    }
    return std::nullopt;
}

std::unique_ptr<OnvifDevice> makeOnvifDevice(const Options &options, StreamingServer &streaming,
                                             CgiServer &web,
                                             const std::shared_ptr<StoredDevice> &camera) {
    if (!options.onvif.enabled) return nullptr;
    OnvifConfig config = options.onvif;
    // The account of the streams, so a stream URI plays with the credentials that got it.
    config.user = options.rtspAuth.user;
    config.password = options.rtspAuth.password;
    // A family B camera has a single head whatever the channel.
    const bool headPerChannel = !std::dynamic_pointer_cast<FamilyBCamera>(camera);
    return std::make_unique<OnvifDevice>(web, streaming, std::move(config),
                                         camera ? camera->sharedHead() : nullptr, headPerChannel);
}

}  // namespace camsim
