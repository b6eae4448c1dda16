// The viewer's command line.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

struct AppOptions {
    std::string dataDir;        // --data-dir DIR
    bool smartphone = false;    // --smartphone, or KESTREL_SMARTPHONE=1
    bool start = false;         // --start: view the start-up site at once
    bool wall = false;          // --wall: show the camera wall
    int width = 0, height = 0;  // --size WxH of the window's client area; 0 for the default
    bool help = false;
    std::string error;  // set when the command line is not understood
};

// args without the program name; smartphoneEnv is $KESTREL_SMARTPHONE (null when unset).
AppOptions parseAppOptions(const std::vector<std::string> &args, const char *smartphoneEnv);

// args without the toolkit's own options (Qt's "-platform NAME", "-style=NAME", "-reverse",
// ... with one dash or two), which the toolkit takes for itself once it starts.
std::vector<std::string> withoutToolkitOptions(const std::vector<std::string> &args);

extern const char *const kAppUsage;

}  // namespace kestrel
