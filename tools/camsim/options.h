// Command line of kestrel-camsim.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/channel_config.h"
#include "tools/camsim/device_model.h"
#include "tools/camsim/device_choice.h"
#include "tools/camsim/onvif_config.h"
#include "tools/camsim/rtsp_server.h"

namespace camsim {

struct Options {
    struct CannedValues {
        std::string cgi;
        ReplyStyle style;
        Values values;
    };

    uint16_t port = 0;
    std::string user, password;
    std::vector<std::pair<std::string, std::string>> bodies;     // --cgi NAME=BODY
    std::vector<CannedValues> values;                            // --values-a / --values-b
    std::vector<std::pair<std::string, std::string>> redirects;  // --redirect NAME=ADDR[:PORT]
    uint16_t rtspPort = 0;
    std::vector<ChannelConfig> channels;  // --channel; none: defaultChannels()
    // --rtsp-path [N=]PATH: channel number (from 1) and mount path, already in channels' paths
    // when --channel gave the channels, else to be added to the default ones.
    std::vector<std::pair<int, std::string>> rtspPaths;
    RtspAuthConfig rtspAuth;       // --rtsp-auth, --rtsp-user, --rtsp-password, --rtsp-qop,
                                   // --rtsp-stale-after
    bool announceRtspPort = true;  // false: GetServerInfo.cgi without Rtsp_Port
    DeviceChoice device;           // --device; the streaming server alone by default
    OnvifConfig onvif;             // --onvif and its options; the account is rtspAuth's
    bool log = false;
    bool help = false;
};

// What the streaming server offers when no --channel is given: CH01 MPEG-4 640x480 at 30 with
// audio, CH02 JPEG 320x240 at 15.
std::vector<ChannelConfig> defaultChannels();

// The options in args (without the program name); nothing, and a one-line error, when an
// argument is unknown, lacks its value or has a malformed one.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);

// Sets the servers up as the options say. GetServerInfo.cgi and the device's CGIs are routed
// before the canned replies, so a --cgi or --values-a of the same name wins.
// The family A camera when the options make one (its streams keep running without it).
std::shared_ptr<FamilyACamera> applyOptions(const Options &options, CgiServer &server);
std::shared_ptr<FamilyACamera> applyOptions(const Options &options, StreamingServer &streaming,
                                            CgiServer &web);
// The same, giving the camera of either family (nullptr for the streaming server alone).
std::shared_ptr<StoredDevice> applyDevice(const Options &options, StreamingServer &streaming,
                                          CgiServer &web);

std::string usage();

}  // namespace camsim
