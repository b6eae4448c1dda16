#include "tools/camsim/options.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <tuple>

#include "tools/camsim/onvif_options.h"
#include "tools/camsim/rtsp_mounts.h"

namespace camsim {

namespace {

std::optional<unsigned> parseNumber(std::string_view text, unsigned max) {
    unsigned n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n > max)
        return std::nullopt;
    return n;
}

std::optional<int> parseSigned(std::string_view text, int min, int max) {
    int n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < min ||
        n > max)
        return std::nullopt;
    return n;
}

// "FRAME:WHAT[:A[:B]]" of the at= setting.
std::optional<StreamCue> parseCue(std::string_view text) {
    using What = StreamCue::What;
    static constexpr std::pair<std::string_view, What> kNames[] = {
        {"event", What::Event},        {"inputs", What::Inputs},    {"overlay", What::Overlay},
        {"talk", What::TalkUse},       {"flag", What::ChannelFlag}, {"info", What::Info},
        {"ignored", What::Ignored},    {"trailer", What::Trailer},  {"empty", What::EmptyFrame},
        {"badsum", What::BadChecksum}, {"garbage", What::Garbage},  {"switch", What::SwitchFraming},
        {"stall", What::Stall}};
    std::vector<std::string_view> parts;
    while (true) {
        std::size_t colon = text.find(':');
        parts.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    if (parts.size() < 2 || parts.size() > 4) return std::nullopt;
    StreamCue cue;
    auto frame = parseNumber(parts[0], 1000000);
    if (!frame) return std::nullopt;
    cue.frame = static_cast<int>(*frame);
    auto name = std::find_if(std::begin(kNames), std::end(kNames),
                             [&](const auto &n) { return n.first == parts[1]; });
    if (name == std::end(kNames)) return std::nullopt;
    cue.what = name->second;
    for (std::size_t i = 2; i < parts.size(); ++i) {
        auto n = parseNumber(parts[i], 65535);
        if (!n) return std::nullopt;
        (i == 2 ? cue.a : cue.b) = static_cast<int>(*n);
    }
    return cue;
}

// "WxH" with sides up to 2048, width a multiple of 16 and height of 8.
std::optional<PictureSize> parsePictureSize(std::string_view text) {
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    auto w = parseNumber(text.substr(0, x), 2048), h = parseNumber(text.substr(x + 1), 2048);
    if (!w || !h || *w < 16 || *h < 8 || *w % 16 != 0 || *h % 8 != 0) return std::nullopt;
    return PictureSize{static_cast<int>(*w), static_cast<int>(*h)};
}

// Six status bytes as twelve hex digits.
std::optional<StatusBytes> parseStatusBytes(std::string_view text) {
    if (text.size() != 12) return std::nullopt;
    StatusBytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto [end, error] =
            std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, bytes[i], 16);
        if (error != std::errc() || end != text.data() + 2 * i + 2) return std::nullopt;
    }
    return bytes;
}

// "PICTURE:WHAT[:A[:B]]" of the family-b at= setting.
std::optional<DataCue> parseDataCue(std::string_view text) {
    using What = DataCue::What;
    std::vector<std::string_view> parts;
    while (true) {
        std::size_t colon = text.find(':');
        parts.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    if (parts.size() < 2 || parts.size() > 4) return std::nullopt;
    DataCue cue;
    auto picture = parseNumber(parts[0], 1000000);
    if (!picture) return std::nullopt;
    cue.picture = static_cast<int>(*picture);
    const std::string_view what = parts[1];
    const std::size_t args = parts.size() - 2;
    auto number = [&](std::size_t i, unsigned max, int &to) {
        auto n = parseNumber(parts[i], max);
        if (n) to = static_cast<int>(*n);
        return n.has_value();
    };
    bool ok = true;
    if (what == "status") {
        cue.what = What::Status;
        auto bytes = args == 1 ? parseStatusBytes(parts[2]) : std::nullopt;
        if (bytes) cue.bytes = *bytes;
        ok = bytes.has_value();
    } else if (what == "changing") {
        cue.what = What::Changing;
        ok = args == 0;
    } else if (what == "resize") {
        cue.what = What::Resize;
        auto size = args == 1 ? parsePictureSize(parts[2]) : std::nullopt;
        if (size) std::tie(cue.a, cue.b) = std::pair{size->width, size->height};
        ok = size.has_value();
    } else if (what == "code") {
        cue.what = What::SizeCode;
        cue.a = -1;
        ok = args == 0 || (args == 1 && number(2, 255, cue.a));
    } else if (what == "split") {
        cue.what = What::Split;
        ok = args >= 1 && number(2, 60000, cue.a) && (args == 1 || number(3, 81, cue.b));
    } else if (what == "garbage") {
        cue.what = What::Garbage;
        ok = args == 0;
    } else if (what == "big") {
        cue.what = What::Oversize;
        ok = args == 1 && number(2, 16 * 1024 * 1024, cue.a);
    } else if (what == "stall") {
        cue.what = What::Stall;
        ok = args == 1 && number(2, 3600000, cue.a);
    } else {
        ok = false;
    }
    if (!ok) return std::nullopt;
    return cue;
}

// The stream settings of family-b; false when name is none of them.
bool parseFamilyBStreamSetting(std::string_view name, std::string_view value, std::string_view item,
                               FamilyBConfig &b, bool &ok) {
    FamilyBStreamConfig &s = b.stream;
    auto number = [&](unsigned min, unsigned max, int &to) {
        auto n = parseNumber(value, max);
        if (n && *n >= min) to = static_cast<int>(*n);
        ok = n && *n >= min;
    };
    if (name == "size") {
        auto size = parsePictureSize(value);
        if (size) std::tie(s.width, s.height) = std::pair{size->width, size->height};
        ok = size.has_value();
    } else if (name == "fps") {
        number(1, 60, s.fps);
    } else if (name == "q") {
        number(1, 99, s.quality);
    } else if (name == "size-code") {
        number(0, 255, s.sizeCode);
    } else if (name == "bytes") {
        auto bytes = parseStatusBytes(value);
        if (bytes) s.statusBytes = *bytes;
        ok = bytes.has_value();
    } else if (item == "nodata") {
        s.dataStream = false;
    } else if (item == "noaudio") {
        s.audioStream = false;
    } else if (name == "refuse") {
        number(100, 599, s.refuseStatus);
    } else if (item == "cut") {
        s.cutRefusal = true;
    } else if (name == "at") {
        auto cue = parseDataCue(value);
        if (cue) s.cues.push_back(*cue);
        ok = cue.has_value();
    } else {
        return false;
    }
    return true;
}

// talk-status=N of either family: Chatting.cgi answers N (0: closes unanswered).
bool parseTalkStatus(std::string_view value, TalkSinkConfig &talk) {
    auto n = parseNumber(value, 599);
    if (!n || (*n != 0 && *n < 100)) return false;
    talk.status = static_cast<int>(*n);
    return true;
}

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

// The stream settings of family-a; false when name is none of them.
bool parseStreamSetting(std::string_view name, std::string_view value, std::string_view item,
                        FamilyAConfig &a, bool &ok) {
    FamilyAStreamConfig &s = a.stream;
    auto port = [&](int &to) {
        auto n = parseNumber(value, 65535);
        if (n) to = static_cast<int>(*n);
        ok = n.has_value();
    };
    auto number = [&](unsigned max, int &to) {
        auto n = parseNumber(value, max);
        if (n) to = static_cast<int>(*n);
        ok = n.has_value();
    };
    if (item == "http-stream") {
        a.capabilities |= 1;
    } else if (name == "caps") {
        number(255, a.capabilities);
    } else if (name == "rtsp") {
        port(a.rtspPort);
        a.capabilities |= 2;
    } else if (name == "framing") {
        ok = value == "hunt" || value == "3297";
        s.framing = value == "3297" ? Framing::Tagged : Framing::Hunt;
    } else if (name == "video-port") {
        port(s.videoListenPort);
    } else if (name == "audio-port") {
        port(s.audioListenPort);
    } else if (name == "i2p-port") {
        port(a.audioI2PPort);
    } else if (item == "noports") {
        a.announcePorts = false;
    } else if (name == "path1" || name == "path2" || name == "path3gpp") {
        (name == "path1" ? a.pathLive1 : name == "path2" ? a.pathLive2 : a.path3gpp) = value;
        ok = !value.empty();
    } else if (name == "tz") {
        auto tz = parseSigned(value, -2047, 2047);
        if (tz) s.timeZoneMinutes = *tz;
        ok = tz.has_value();
    } else if (name == "start") {
        auto n = parseNumber(value, 0xFFFFFFFFu);
        if (n) s.startSeconds = *n;
        ok = n.has_value();
    } else if (name == "stream") {
        // Channel settings after the geometry are separated by '/' here.
        std::string spec(value), why;
        std::replace(spec.begin(), spec.end(), '/', ',');
        auto channel = parseChannelSpec(spec, why);
        ok = channel && !isNalCodec(channel->codec);  // the cameras' own framings know no NAL
        if (ok) s.channels.push_back(*channel);
    } else if (item == "full") {
        s.fullHouse = true;
    } else if (item == "nohttp") {
        s.httpStream = false;
    } else if (name == "status") {
        number(599, s.refuseStatus);
        ok = ok && s.refuseStatus >= 100;
    } else if (item == "noinfo") {
        s.infoPacket = false;
    } else if (name == "extra-header") {
        number(235, s.extraHeaderBytes);
    } else if (name == "at") {
        auto cue = parseCue(value);
        if (cue) s.cues.push_back(*cue);
        ok = cue.has_value();
    } else {
        return false;
    }
    return true;
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

std::optional<DeviceChoice> parseDeviceSpec(const std::string &text, std::string &error) {
    DeviceChoice device;
    std::string_view kind(text), settings;
    if (std::size_t colon = text.find(':'); colon != std::string::npos) {
        kind = std::string_view(text).substr(0, colon);
        settings = std::string_view(text).substr(colon + 1);
    }
    if (kind == "server" && settings.empty()) return device;
    if (kind != "family-a" && kind != "family-b") {
        error = "expected server, family-a[:...] or family-b[:...], got '" + text + "'";
        return std::nullopt;
    }
    device.kind = kind == "family-a" ? DeviceChoice::Kind::FamilyA : DeviceChoice::Kind::FamilyB;
    FamilyAConfig &a = device.familyA;
    FamilyBConfig &b = device.familyB;
    // Lists inside a setting use '/' because ',' separates the settings.
    auto list = [](std::string_view v) {
        std::string out(v);
        std::replace(out.begin(), out.end(), '/', ',');
        return out;
    };
    while (!settings.empty()) {
        std::string_view item = settings.substr(0, settings.find(','));
        settings.remove_prefix(std::min(settings.size(), item.size() + 1));
        std::size_t eq = item.find('=');
        std::string_view name = item.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
        auto bad = [&](const char *why) {
            error = "device setting '" + std::string(item) + "': " + why;
            return std::nullopt;
        };
        auto number = [&](unsigned max, int &to) {
            auto n = parseNumber(value, max);
            if (n) to = static_cast<int>(*n);
            return n.has_value();
        };
        auto flag = [&](bool &to) {
            if (value != "0" && value != "1") return false;
            to = value == "1";
            return true;
        };
        bool ok = true;
        if (device.kind == DeviceChoice::Kind::FamilyA) {
            if (name == "model")
                ok = number(255, a.model);
            else if (name == "firmware")
                ok = !(a.firmware = value).empty();
            else if (name == "video")
                ok = number(4, a.videoCode);
            else if (name == "audio")
                ok = number(4, a.audioCode);
            else if (name == "device")
                ok = number(254, a.device);
            else if (name == "ptz")
                ok = flag(a.ptz);
            else if (name == "2way")
                ok = flag(a.twoWay);
            else if (name == "videonum")
                ok = number(16, a.videoNum);
            else if (name == "audionum")
                ok = number(16, a.audioNum);
            else if (name == "inputs")
                ok = number(4, a.inputs);
            else if (name == "outputs")
                ok = number(4, a.outputs);
            else if (name == "resolutions")
                ok = !(a.resolutions = list(value)).empty();
            else if (name == "codecs")
                ok = !(a.codecs = list(value)).empty();
            else if (name == "dvr")
                ok = number(16, a.dvrChannels);
            else if (item == "older")
                a.older = true;
            else if (name == "talk-status")
                ok = parseTalkStatus(value, a.talk);
            else if (!parseStreamSetting(name, value, item, a, ok))
                return bad("unknown for family-a");
        } else {
            if (name == "firmware")
                ok = !(b.firmware = value).empty();
            else if (name == "recorder")
                ok = number(16, b.recorderChannels) &&
                     (b.recorderChannels == 4 || b.recorderChannels == 8 ||
                      b.recorderChannels == 16);
            else if (item == "notv")
                b.statusHasTvStandard = false;
            else if (name == "talk-status")
                ok = parseTalkStatus(value, b.talk);
            else if (!parseFamilyBStreamSetting(name, value, item, b, ok))
                return bad("unknown for family-b");
        }
        if (!ok) return bad("malformed value");
    }
    return device;
}

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
