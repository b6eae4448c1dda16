#include "tools/cli/args.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

#include "ipcam.h"
#include "tools/cli/control_args.h"

namespace ipcam_cli {

namespace {

constexpr std::size_t kMaxWords = 256;

std::optional<long long> parseInteger(const std::string &text, long long low, long long high) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<double> parseSeconds(const std::string &text) {
    if (text.empty()) return std::nullopt;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || value <= 0 || value > 86400) return std::nullopt;
    return value;
}

bool validType(long long type) {
    switch (type) {
        case IPCAM_PROTOCOL_AUTO:
        case IPCAM_PROTOCOL_TYPE1:
        case IPCAM_PROTOCOL_TYPE2:
        case IPCAM_PROTOCOL_TYPE4:
        case IPCAM_PROTOCOL_TYPE5:
        case IPCAM_PROTOCOL_STREAMING_SERVER:
            return true;
        default:
            return false;
    }
}

bool isRtspUrl(std::string_view text) {
    constexpr std::string_view scheme = "rtsp://";
    if (text.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return false;
    return true;
}

bool takesOnvif(Command c) {
    return c == Command::Watch || c == Command::Record || c == Command::Snapshot ||
           c == Command::Ptz || c == Command::Profiles;
}

// onvif://HOST[:PORT][/PROFILE]: the device service at its usual path.
std::string parseOnvifAddress(std::string_view text, Options &o) {
    const std::string_view rest = text.substr(std::string_view("onvif://").size());
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (authority.empty() || authority.find_first_of("@?# ") != std::string_view::npos)
        return "bad address '" + std::string(text) + "': expected onvif://HOST[:PORT][/PROFILE]";
    if (slash != std::string_view::npos && slash + 1 < rest.size()) {
        const auto profile = parseInteger(std::string(rest.substr(slash + 1)), 0, 255);
        if (!profile) return "bad profile in '" + std::string(text) + "': expected 0-255";
        o.profile = static_cast<int>(*profile);
    }
    o.onvif = "http://" + std::string(authority) + "/onvif/device_service";
    return {};
}

bool hasScheme(std::string_view text, std::string_view scheme) {
    if (text.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return false;
    return true;
}

// Splits "HOST[:PORT]"; an error text when it is malformed. An rtsp:// URL is kept whole for
// the library to read, and so is an ONVIF device's address.
std::string parseAddress(const std::string &text, Options &o) {
    const bool onvif = hasScheme(text, "onvif://"), http = hasScheme(text, "http://");
    if (onvif || (http && o.command == Command::Profiles)) {
        if (!takesOnvif(o.command))
            return std::string("an ONVIF device can be watched, recorded, saved as a snapshot, "
                               "steered or asked its profiles; ") +
                   commandName(o.command) + " needs HOST[:PORT]";
        if (http) {
            o.onvif = text;
            return {};
        }
        return parseOnvifAddress(text, o);
    }
    if (o.command == Command::Profiles)
        return "profiles needs an ONVIF device: DEVICE_URL or onvif://HOST[:PORT]";
    if (isRtspUrl(text)) {
        if (o.command != Command::Watch && o.command != Command::Record &&
            o.command != Command::Snapshot)
            return std::string(
                       "an rtsp:// address can be watched, recorded or saved as a "
                       "snapshot; ") +
                   commandName(o.command) + " needs HOST[:PORT]";
        o.url = text;
        return {};
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        o.host = text;
    } else {
        if (text.find(':', colon + 1) != std::string::npos)
            return "bad address '" + text + "': expected HOST or HOST:PORT";
        o.host = text.substr(0, colon);
        const auto port = parseInteger(text.substr(colon + 1), 1, 65535);
        if (!port) return "bad port in '" + text + "': expected 1-65535";
        o.port = static_cast<unsigned>(*port);
    }
    if (o.host.empty()) return "missing host in '" + text + "'";
    if (o.host.size() > 255) return "host name too long";
    return {};
}

struct OptionSpec {
    std::string_view name;
    bool takesValue;
    bool (*allowed)(Command);
};

bool any(Command) {
    return true;
}
bool watchOrRecord(Command c) {
    return c == Command::Watch || c == Command::Record;
}
bool watchOnly(Command c) {
    return c == Command::Watch;
}
bool writes(Command c) {
    return c == Command::Record || c == Command::Snapshot;
}
bool onvifStreams(Command c) {
    return takesOnvif(c) && c != Command::Profiles;
}
bool profilesOnly(Command c) {
    return c == Command::Profiles;
}
bool connects(Command c) {
    return c != Command::Discover;
}
bool sendOnly(Command c) {
    return c == Command::Send;
}
bool ioOnly(Command c) {
    return c == Command::Io;
}
// Commands that take words after the address.
bool takesOperands(Command c) {
    return c == Command::Ptz || c == Command::Key || c == Command::Get || c == Command::Set ||
           c == Command::Io;
}

constexpr OptionSpec kOptions[] = {
    {"--user", true, any},      {"--password", true, any},      {"--type", true, any},
    {"--stream", true, any},    {"--seconds", true, any},       {"--audio", false, watchOrRecord},
    {"--udp", false, any},      {"--decode", false, watchOnly}, {"--out", true, writes},
    {"--code", true, sendOnly}, {"--field", true, sendOnly},    {"--word", true, sendOnly},
    {"--set", true, ioOnly},    {"--onvif", true, onvifStreams}, {"--profile", true, onvifStreams},
    {"--clear-password", false, connects}, {"--verbose", false, profilesOnly},
};

// Applies one option; an error text when its value is bad.
std::string apply(std::string_view name, const std::string &value, Options &o) {
    if (name == "--user") {
        o.user = value;
        o.userGiven = true;
    } else if (name == "--password") {
        o.password = value;
        o.passwordGiven = true;
    } else if (name == "--type") {
        const auto type =
            value == "auto" ? std::optional<long long>(0) : parseInteger(value, 0, 255);
        if (!type || !validType(*type))
            return "bad --type '" + value + "': expected 0 (auto), 1, 2, 4, 5 or 9";
        o.type = static_cast<int>(*type);
    } else if (name == "--stream") {
        const auto stream = parseInteger(value, 0, 255);
        if (!stream) return "bad --stream '" + value + "': expected 0-255";
        o.stream = static_cast<int>(*stream);
    } else if (name == "--seconds") {
        const auto seconds = parseSeconds(value);
        if (!seconds) return "bad --seconds '" + value + "': expected a positive number";
        if (o.command == Command::Discover && (*seconds < 1 || *seconds > 60 || *seconds != static_cast<int>(*seconds)))
            return "bad --seconds '" + value + "': discovery takes 1 to 60 whole seconds";
        o.seconds = *seconds;
        o.secondsGiven = true;
    } else if (name == "--onvif") {
        if (!hasScheme(value, "http://"))
            return "bad --onvif '" + value + "': expected http://HOST[:PORT]/PATH";
        o.onvif = value;
    } else if (name == "--profile") {
        const auto profile = parseInteger(value, 0, 255);
        if (!profile) return "bad --profile '" + value + "': expected 0-255";
        o.profile = static_cast<int>(*profile);
    } else if (name == "--audio") {
        o.audio = true;
    } else if (name == "--udp") {
        o.udp = true;
    } else if (name == "--clear-password") {
        o.clearPassword = true;
    } else if (name == "--verbose") {
        o.verbose = true;
    } else if (name == "--decode") {
        o.decode = true;
    } else if (name == "--out") {
        if (value.empty()) return "--out needs a path";
        o.out = value;
    } else if (name == "--code") {
        const auto code = parseInteger(value, 0, std::numeric_limits<int32_t>::max());
        if (!code) return "bad --code '" + value + "': expected a command number";
        o.code = static_cast<int32_t>(*code);
        o.haveCode = true;
    } else if (name == "--field") {
        if (value.size() >= IPCAM_SETTINGS_FIELD_SIZE)
            return "--field text longer than " + std::to_string(IPCAM_SETTINGS_FIELD_SIZE - 1) +
                   " characters";
        if (o.fields.size() == IPCAM_SETTINGS_FIELDS)
            return "more than " + std::to_string(IPCAM_SETTINGS_FIELDS) + " --field options";
        o.fields.push_back(value);
    } else if (name == "--word") {
        // Words are 32 bits; unsigned spellings such as 0xFFFFFFFF are taken as they wrap.
        const auto word = parseInteger(value, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<uint32_t>::max());
        if (!word) return "bad --word '" + value + "': expected a 32-bit number";
        if (o.words.size() == kMaxWords) return "too many --word options";
        o.words.push_back(static_cast<int32_t>(static_cast<uint32_t>(*word)));
    } else if (name == "--set") {
        const auto output = parseInteger(value, 1, 4);
        if (!output) return "bad --set output '" + value + "': expected 1-4";
        o.output = static_cast<int>(*output);
    }
    return {};
}

std::optional<Command> commandFromName(std::string_view name) {
    if (name == "watch") return Command::Watch;
    if (name == "record") return Command::Record;
    if (name == "snapshot") return Command::Snapshot;
    if (name == "command") return Command::Send;
    if (name == "ptz") return Command::Ptz;
    if (name == "key") return Command::Key;
    if (name == "io") return Command::Io;
    if (name == "get") return Command::Get;
    if (name == "set") return Command::Set;
    if (name == "discover") return Command::Discover;
    if (name == "profiles") return Command::Profiles;
    return std::nullopt;
}

// The words after the address, checked now so that a mistake is told before connecting.
ParseResult checkOperands(ParseResult result) {
    Options &o = result.options;
    const std::vector<std::string> &words = o.operands;
    std::string error;
    switch (o.command) {
        case Command::Ptz: {
            PtzRequest request;
            error = parsePtzAction(words, request);
            break;
        }
        case Command::Key: {
            int32_t key = 0;
            IPCamDateTime time{};
            bool haveTime = false;
            error = parseRecorderKey(words, key, time, haveTime);
            break;
        }
        case Command::Io:
            if (o.output == 0 && !words.empty())
                error = "unexpected argument '" + words[0] + "'";
            else if (o.output != 0 &&
                     (words.size() != 1 || (words[0] != "on" && words[0] != "off")))
                error = "--set N needs on or off";
            else if (o.output != 0)
                o.outputOn = words[0] == "on";
            break;
        case Command::Get:
        case Command::Set: {
            const std::size_t wanted = o.command == Command::Get ? 1 : 2;
            if (words.empty()) {
                error = "missing setting name";
            } else if (!findSetting(words[0])) {
                error = "unknown setting '" + words[0] + "'";
            } else if (words.size() != wanted) {
                error = o.command == Command::Get ? "get takes one setting name"
                                                  : "set needs a setting name and one value";
            } else if (o.command == Command::Set && words[1].size() >= IPCAM_SETTINGS_FIELD_SIZE) {
                error = "value longer than " + std::to_string(IPCAM_SETTINGS_FIELD_SIZE - 1) +
                        " characters";
            }
            break;
        }
        default:
            break;
    }
    if (!error.empty()) result.error = error;
    return result;
}

}  // namespace

const char *commandName(Command command) {
    switch (command) {
        case Command::Watch:
            return "watch";
        case Command::Record:
            return "record";
        case Command::Snapshot:
            return "snapshot";
        case Command::Send:
            return "command";
        case Command::Ptz:
            return "ptz";
        case Command::Key:
            return "key";
        case Command::Io:
            return "io";
        case Command::Get:
            return "get";
        case Command::Set:
            return "set";
        case Command::Discover:
            return "discover";
        case Command::Profiles:
            return "profiles";
        case Command::None:
            break;
    }
    return "ipcam";
}

ParseResult parseArgs(const std::vector<std::string> &args) {
    ParseResult result;
    Options &o = result.options;
    auto fail = [&](std::string text) {
        result.error = std::move(text);
        return result;
    };
    if (args.empty())
        return fail(
            "missing command (watch, record, snapshot, command, ptz, key, io, get, set, discover "
            "or profiles)");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        o.help = true;
        return result;
    }
    const auto command = commandFromName(args[0]);
    if (!command) return fail("unknown command '" + args[0] + "'");
    o.command = *command;

    bool haveAddress = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string arg = args[i] == "-v" ? std::string("--verbose") : args[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            return result;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if ((haveAddress || !o.onvif.empty()) && takesOperands(o.command)) {
                o.operands.push_back(arg);
                continue;
            }
            if (haveAddress || o.command == Command::Discover)
                return fail("unexpected argument '" + arg + "'");
            if (std::string e = parseAddress(arg, o); !e.empty()) return fail(e);
            haveAddress = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(0, equals);
        const OptionSpec *spec = nullptr;
        for (const OptionSpec &s : kOptions)
            if (s.name == name) spec = &s;
        if (!spec) return fail("unknown option '" + std::string(name) + "'");
        if (!spec->allowed(o.command))
            return fail(std::string(name) + " does not apply to " + commandName(o.command));
        std::string value;
        if (equals != std::string::npos) {
            if (!spec->takesValue) return fail(std::string(name) + " takes no value");
            value = arg.substr(equals + 1);
        } else if (spec->takesValue) {
            if (i + 1 >= args.size()) return fail(std::string(name) + " needs a value");
            value = args[++i];
        }
        if (std::string e = apply(name, value, o); !e.empty()) return fail(e);
    }
    if (o.command == Command::Discover) {
        if (!o.secondsGiven) o.seconds = 3;
        return result;
    }
    if (o.command == Command::Profiles && !haveAddress)
        return fail("missing DEVICE_URL (or onvif://HOST[:PORT])");
    if (!haveAddress && o.onvif.empty()) return fail("missing HOST[:PORT]");
    if (haveAddress && !o.onvif.empty() && o.command != Command::Profiles &&
        (!o.host.empty() || !o.url.empty()))
        return fail("--onvif names the device already; leave out HOST[:PORT]");
    if ((o.command == Command::Record || o.command == Command::Snapshot) && o.out.empty())
        return fail(std::string(commandName(o.command)) + " needs --out");
    if (o.command == Command::Send) {
        if (!o.haveCode) return fail("command needs --code");
        if (!o.fields.empty() && !o.words.empty()) return fail("--field and --word do not mix");
    }
    return checkOperands(result);
}

std::string addressText(const Options &o) {
    if (!o.onvif.empty()) return o.onvif + " profile " + std::to_string(o.profile);
    if (o.url.empty()) return o.host + ":" + std::to_string(o.port);
    // The account stays out of what is printed.
    const std::size_t authority = o.url.find("://") + 3;
    const std::size_t end = o.url.find_first_of("/?", authority);
    const std::size_t at = o.url.rfind('@', end == std::string::npos ? o.url.size() : end);
    if (at == std::string::npos || at < authority) return o.url;
    return o.url.substr(0, authority) + o.url.substr(at + 1);
}

}  // namespace ipcam_cli
