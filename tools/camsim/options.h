// Command line of kestrel-camsim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/channel_config.h"
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
    bool announceRtspPort = true;         // false: GetServerInfo.cgi without Rtsp_Port
    bool log = false;
    bool help = false;
};

// What the streaming server offers when no --channel is given: CH01 MPEG-4 640x480 at 30 with
// audio, CH02 JPEG 320x240 at 15.
std::vector<ChannelConfig> defaultChannels();

// The options in args (without the program name); nothing, and a one-line error, when an
// argument is unknown, lacks its value or has a malformed one.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);

// Sets the servers up as the options say. GetServerInfo.cgi is routed to the streaming server
// before the canned replies, so a --cgi or --values-a of that name wins.
void applyOptions(const Options &options, CgiServer &server);
void applyOptions(const Options &options, StreamingServer &streaming, CgiServer &web);

std::string usage();

}  // namespace camsim
