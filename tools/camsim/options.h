// Command line of kestrel-camsim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/camsim/cgi_server.h"

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
    bool log = false;
    bool help = false;
};

// The options in args (without the program name); nothing, and a one-line error, when an
// argument is unknown, lacks its value or has a malformed one.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);

// Sets the server up as the options say.
void applyOptions(const Options &options, CgiServer &server);

std::string usage();

}  // namespace camsim
