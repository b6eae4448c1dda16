#include "viewer/app_options.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace kestrel {

const char *const kAppUsage =
    "usage: kestrel [--data-dir DIR] [--smartphone] [--start] [--wall] [--size WxH]\n"
    "  --data-dir DIR  keep the site list and snapshots in DIR\n"
    "  --smartphone    behave as on a smartphone (the watchdog ends the viewer)\n"
    "  --start         start viewing at once (the site viewed last, or the first)\n"
    "  --wall          open the camera wall: several sites at once\n"
    "  --size WxH      size of the window's picture area, e.g. 640x480\n";

namespace {

struct ToolkitOption {
    std::string_view name;  // without its dashes
    bool takesValue;
};

constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"display", true},
    {"geometry", true},        {"style", true},
    {"stylesheet", true},      {"session", true},
    {"title", true},           {"name", true},
    {"qmljsdebugger", true},   {"reverse", false},
    {"widgetcount", false},    {"nograb", false},
    {"dograb", false},         {"sync", false},
};

// The toolkit's option arg names, or null.
const ToolkitOption *toolkitOption(std::string_view arg, bool &valueAttached) {
    if (arg.size() < 2 || arg[0] != '-') return nullptr;
    arg.remove_prefix(arg[1] == '-' ? 2 : 1);
    const std::size_t equals = arg.find('=');
    valueAttached = equals != std::string_view::npos;
    const std::string_view name = arg.substr(0, equals);
    for (const ToolkitOption &option : kToolkitOptions)
        if (option.name == name) return &option;
    return nullptr;
}

bool parseSize(const std::string &text, int &width, int &height) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos) return false;
    const char *begin = text.data(), *end = text.data() + text.size();
    auto [w, we] = std::from_chars(begin, begin + x, width);
    auto [h, he] = std::from_chars(begin + x + 1, end, height);
    if (we != std::errc() || he != std::errc() || w != begin + x || h != end) return false;
    return width >= 64 && height >= 64 && width <= 8192 && height <= 8192;
}

}  // namespace

std::vector<std::string> withoutToolkitOptions(const std::vector<std::string> &args) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        bool valueAttached = false;
        const ToolkitOption *option = toolkitOption(args[i], valueAttached);
        if (!option) {
            rest.push_back(args[i]);
        } else if (option->takesValue && !valueAttached) {
            ++i;  // its value
        }
    }
    return rest;
}

AppOptions parseAppOptions(const std::vector<std::string> &args, const char *smartphoneEnv) {
    AppOptions o;
    o.smartphone = smartphoneEnv && std::strcmp(smartphoneEnv, "1") == 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size()) {
                o.error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--smartphone") {
            o.smartphone = true;
        } else if (a == "--start") {
            o.start = true;
        } else if (a == "--wall") {
            o.wall = true;
        } else if (a == "--data-dir") {
            if (!value(o.dataDir)) return o;
            if (o.dataDir.empty()) {
                o.error = "--data-dir needs a directory";
                return o;
            }
        } else if (a == "--size") {
            std::string size;
            if (!value(size)) return o;
            if (!parseSize(size, o.width, o.height)) {
                o.error = "--size wants WxH between 64x64 and 8192x8192, not \"" + size + "\"";
                return o;
            }
        } else {
            o.error = "unknown option \"" + a + "\"";
            return o;
        }
    }
    return o;
}

}  // namespace kestrel
