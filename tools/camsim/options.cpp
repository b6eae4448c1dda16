#include "tools/camsim/options.h"

#include <algorithm>
#include <string_view>
#include <tuple>

#include "tools/camsim/onvif_options.h"
#include "tools/camsim/option_numbers.h"
#include "tools/camsim/rtsp_mounts.h"

namespace camsim {

namespace {

// "NAME=REST" split at the first '='; NAME must not be empty.
std::optional<std::pair<std::string, std::string>> splitAssignment(const std::string &text) {
    std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return std::nullopt;
    return std::make_pair(text.substr(0, eq), text.substr(eq + 1));
}

// "k1:v1,k2:v2"; each key must be there, a value may be empty.
std::optional<Values> parseValues(std::string_view text) {
    Values values;
    while (!text.empty()) {
        std::string_view item = text.substr(0, text.find(','));
        text.remove_prefix(std::min(text.size(), item.size() + 1));
        std::size_t colon = item.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        values.emplace_back(item.substr(0, colon), item.substr(colon + 1));
    }
    return values;
}

// "ADDR" or "ADDR:PORT" with a port from 1 to 65535.
bool validLocation(std::string_view text) {
    std::size_t colon = text.find(':');
    if (colon == 0 || text.empty()) return false;
    if (colon == std::string_view::npos) return true;
    auto port = parseNumber(text.substr(colon + 1), 65535);
    return port && *port > 0;
}

bool isRtspOption(std::string_view option) {
    static constexpr std::string_view kNames[] = {"--rtsp-path", "--rtsp-auth",
                                                  "--rtsp-user", "--rtsp-password",
                                                  "--rtsp-qop",  "--rtsp-stale-after"};
    return std::find(std::begin(kNames), std::end(kNames), option) != std::end(kNames);
}

// One of the options isRtspOption() knows; why its value is refused, or nothing.
std::optional<std::string> parseRtspOption(const std::string &option, const std::string &value,
                                           Options &options) {
    RtspAuthConfig &auth = options.rtspAuth;
    if (option == "--rtsp-path") {
        // "N=PATH" names the channel; a bare path goes to the last --channel given so far.
        int number = options.channels.empty() ? 1 : static_cast<int>(options.channels.size());
        std::string_view text = value;
        const std::size_t eq = text.find('=');
        if (eq != std::string_view::npos && eq > 0 &&
            text.substr(0, eq).find_first_not_of("0123456789") == std::string_view::npos) {
            auto n = parseNumber(text.substr(0, eq), 99);
            if (!n || *n == 0) return "expected a channel from 1, got '" + value + "'";
            number = static_cast<int>(*n);
            text.remove_prefix(eq + 1);
        }
        auto path = normalizeMountPath(text);
        if (!path) return "expected [N=]/PATH[?QUERY] without blanks or '#', got '" + value + "'";
        options.rtspPaths.emplace_back(number, *path);
    } else if (option == "--rtsp-auth") {
        auto scheme = parseAuthScheme(value);
        if (!scheme)
            return "expected none, basic, digest-md5, digest-sha256, digest-both, "
                   "digest-both-sha-first, basic+digest or digest+basic, got '" +
                   value + "'";
        auth.scheme = *scheme;
    } else if (option == "--rtsp-user") {
        auth.user = value;
    } else if (option == "--rtsp-password") {
        auth.password = value;
    } else if (option == "--rtsp-qop") {
        if (value != "on" && value != "off") return "expected on or off, got '" + value + "'";
        auth.qop = value == "on";
    } else if (option == "--rtsp-stale-after") {
        auto seconds = parseNumber(value, 86400);
        if (!seconds) return "expected seconds, got '" + value + "'";
        auth.staleAfterSeconds = static_cast<int>(*seconds);
    }
    return std::nullopt;
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &option = args[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            continue;
        }
        if (option == "--log") {
            options.log = true;
            continue;
        }
        if (option == "--hide-rtsp-port") {
            options.announceRtspPort = false;
            continue;
        }
        if (isOnvifSwitch(option)) {
            applyOnvifSwitch(option, options.onvif);
            continue;
        }
        auto fail = [&](const std::string &why) {
            error = option + ": " + why;
            return std::nullopt;
        };
        bool known = option == "--port" || option == "--user" || option == "--password" ||
                     option == "--cgi" || option == "--values-a" || option == "--values-b" ||
                     option == "--redirect" || option == "--rtsp-port" || option == "--channel" ||
                     option == "--device" || isRtspOption(option) || isOnvifOption(option);
        if (!known) return fail("unknown option (see --help)");
        if (i + 1 >= args.size()) return fail("needs a value");
        const std::string &value = args[++i];

        if (isRtspOption(option)) {
            if (auto why = parseRtspOption(option, value, options)) return fail(*why);
        } else if (isOnvifOption(option)) {
            if (auto why = parseOnvifOption(option, value, options.onvif)) return fail(*why);
        } else if (option == "--port" || option == "--rtsp-port") {
            auto port = parseNumber(value, 65535);
            if (!port) return fail("not a port number: '" + value + "'");
            (option == "--port" ? options.port : options.rtspPort) = static_cast<uint16_t>(*port);
        } else if (option == "--channel") {
            std::string why;
            auto channel = parseChannelSpec(value, why);
            if (!channel) return fail(why);
            options.channels.push_back(*channel);
        } else if (option == "--device") {
            std::string why;
            auto device = parseDeviceSpec(value, why);
            if (!device) return fail(why);
            options.device = *device;
        } else if (option == "--user") {
            options.user = value;
        } else if (option == "--password") {
            options.password = value;
        } else {
            auto assignment = splitAssignment(value);
            if (!assignment) return fail("expected NAME=..., got '" + value + "'");
            auto &[name, rest] = *assignment;
            if (option == "--cgi") {
                options.bodies.emplace_back(name, rest);
            } else if (option == "--redirect") {
                if (!validLocation(rest)) return fail("expected ADDR[:PORT], got '" + rest + "'");
                options.redirects.emplace_back(name, rest);
            } else {
                auto values = parseValues(rest);
                if (!values) return fail("expected k1:v1,k2:v2, got '" + rest + "'");
                ReplyStyle style =
                    option == "--values-a" ? ReplyStyle::FamilyA : ReplyStyle::FamilyB;
                options.values.push_back({name, style, std::move(*values)});
            }
        }
    }
    const std::size_t channels =
        options.channels.empty() ? defaultChannels().size() : options.channels.size();
    for (const auto &[number, path] : options.rtspPaths) {
        if (static_cast<std::size_t>(number) > channels) {
            error = "--rtsp-path: there is no channel " + std::to_string(number);
            return std::nullopt;
        }
        if (!options.channels.empty())
            options.channels[static_cast<std::size_t>(number) - 1].paths.push_back(path);
    }
    return options;
}

namespace {

// The web side of applyOptions(); the camera of either family, or nullptr.
std::shared_ptr<StoredDevice> applyWebOptions(const Options &options, CgiServer &server) {
    server.setCredentials(options.user, options.password);
    // The cameras' routes hold their settings and streams, so the camera objects need not
    // outlive this.
    std::shared_ptr<StoredDevice> camera;
    if (options.device.kind == DeviceChoice::Kind::FamilyA)
        camera = std::make_shared<FamilyACamera>(server, options.device.familyA);
    else if (options.device.kind == DeviceChoice::Kind::FamilyB)
        camera = std::make_shared<FamilyBCamera>(server, options.device.familyB);
    for (const auto &[cgi, body] : options.bodies) server.setBody(cgi, body);
    for (const auto &canned : options.values)
        server.setValues(canned.cgi, canned.style, canned.values);
    for (const auto &[name, location] : options.redirects) server.setRedirect(name, location);
    return camera;
}

}  // namespace

std::shared_ptr<FamilyACamera> applyOptions(const Options &options, CgiServer &server) {
    return std::dynamic_pointer_cast<FamilyACamera>(applyWebOptions(options, server));
}

std::vector<ChannelConfig> defaultChannels() {
    ChannelConfig mpeg4{.audio = true};
    ChannelConfig jpeg{.codec = ChannelConfig::Codec::Jpeg, .width = 320, .height = 240, .fps = 15};
    return {mpeg4, jpeg};
}

std::shared_ptr<FamilyACamera> applyOptions(const Options &options, StreamingServer &streaming,
                                            CgiServer &web) {
    return std::dynamic_pointer_cast<FamilyACamera>(applyDevice(options, streaming, web));
}

std::shared_ptr<StoredDevice> applyDevice(const Options &options, StreamingServer &streaming,
                                          CgiServer &web) {
    std::vector<ChannelConfig> channels = options.channels;
    if (channels.empty()) {
        channels = defaultChannels();
        for (const auto &[number, path] : options.rtspPaths)
            channels[static_cast<std::size_t>(number) - 1].paths.push_back(path);
    }
    for (const ChannelConfig &channel : channels) streaming.addChannel(channel);
    streaming.setAuth(options.rtspAuth);
    addServerDevice(streaming, web, options.announceRtspPort);
    return applyWebOptions(options, web);
}

}  // namespace camsim
