// What the ONVIF services share: the device's settings and clock, its media profiles (one per
// streaming channel), the head its PTZ service steers, and the tables of operations each
// service answers.
#pragma once

#include <cstdint>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/onvif_config.h"
#include "tools/camsim/onvif_names.h"
#include "tools/camsim/onvif_time.h"
#include "tools/camsim/ptz_head.h"
#include "tools/camsim/soap_message.h"
#include "tools/camsim/xml_doc.h"

namespace camsim {

// A media profile: one streaming channel as ONVIF clients see it. Tokens are not indices, so a
// client that counts instead of reading them fails.
struct OnvifProfile {
    std::string token;  // "profile_ch1"
    std::string name;   // "CH01 H.264"
    int number = 1;     // the channel, from 1
    ChannelConfig::Codec codec = ChannelConfig::Codec::Mpeg4;
    int width = 640, height = 480, fps = 30, bitrateKbps = 0;
    std::string mountPath;  // the channel's first path of its own, else "/CH01"
    int headChannel = 0;    // the head channel its PTZ configuration steers
};

// The profiles of channels, numbered from 1; each steers head channel number - 1, or 0 for all
// when the head has one channel only.
std::vector<OnvifProfile> onvifProfiles(const std::vector<ChannelConfig> &channels,
                                        bool headPerChannel);

struct OnvifContext {
    OnvifConfig config;
    Prefixes p = prefixesOf(PrefixStyle::Odd);
    std::vector<OnvifProfile> profiles;
    std::string endpoint;  // "urn:uuid:...", the device's address in discovery
    std::function<uint16_t()> webPort, rtspPort;
    std::shared_ptr<PtzHead> head;
    // A new preset's number is chosen and stored as one step.
    mutable std::mutex presetLock;
    // Steps of the device clock after start, as a time server makes them (seconds, signed).
    mutable std::atomic<long long> clockStep{0};

    // Real UTC shifted by the configured skew.
    SystemTime deviceNow() const;
    // "http://127.0.0.1:PORT/onvif/SERVICE"; with foreign-xaddrs the internal host and port.
    std::string serviceAddress(std::string_view service) const;
    const OnvifProfile *profile(std::string_view token) const;
};

// The response element of an operation, or the fault it answers with.
using OperationResult = std::variant<std::string, SoapFault>;

struct Operation {
    std::string_view ns, name;
    bool preAuthentication;  // answered without credentials
    OperationResult (*run)(const OnvifContext &, xmlNode *request);
};

std::span<const Operation> deviceOperations();
std::span<const Operation> mediaOperations();
std::span<const Operation> media2Operations();
std::span<const Operation> ptzOperations();

// The text of request's child of that namespace and name; "" when absent.
std::string childText(xmlNode *request, std::string_view ns, std::string_view name);

// The common fault of an unknown or missing profile token.
SoapFault noProfile(std::string_view token);

}  // namespace camsim
