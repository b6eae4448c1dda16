#include "tools/camsim/options.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace camsim {

namespace {

std::optional<unsigned> parseNumber(std::string_view text, unsigned max) {
    unsigned n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n > max)
        return std::nullopt;
    return n;
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
        auto fail = [&](const std::string &why) {
            error = option + ": " + why;
            return std::nullopt;
        };
        bool known = option == "--port" || option == "--user" || option == "--password" ||
                     option == "--cgi" || option == "--values-a" || option == "--values-b" ||
                     option == "--redirect" || option == "--rtsp-port" || option == "--channel";
        if (!known) return fail("unknown option (see --help)");
        if (i + 1 >= args.size()) return fail("needs a value");
        const std::string &value = args[++i];

        if (option == "--port" || option == "--rtsp-port") {
            auto port = parseNumber(value, 65535);
            if (!port) return fail("not a port number: '" + value + "'");
            (option == "--port" ? options.port : options.rtspPort) = static_cast<uint16_t>(*port);
        } else if (option == "--channel") {
            std::string why;
            auto channel = parseChannelSpec(value, why);
            if (!channel) return fail(why);
            options.channels.push_back(*channel);
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
    return options;
}

void applyOptions(const Options &options, CgiServer &server) {
    server.setCredentials(options.user, options.password);
    for (const auto &[cgi, body] : options.bodies) server.setBody(cgi, body);
    for (const auto &canned : options.values)
        server.setValues(canned.cgi, canned.style, canned.values);
    for (const auto &[name, location] : options.redirects) server.setRedirect(name, location);
}

std::vector<ChannelConfig> defaultChannels() {
    ChannelConfig mpeg4{.audio = true};
    ChannelConfig jpeg{.codec = ChannelConfig::Codec::Jpeg, .width = 320, .height = 240, .fps = 15};
    return {mpeg4, jpeg};
}

void applyOptions(const Options &options, StreamingServer &streaming, CgiServer &web) {
    for (const ChannelConfig &channel :
         options.channels.empty() ? defaultChannels() : options.channels)
        streaming.addChannel(channel);
    streaming.attachTo(web, options.announceRtspPort);
    applyOptions(options, web);
}

std::string usage() {
    return R"(Usage: kestrel-camsim [OPTION]...
A simulated camera on 127.0.0.1: a CGI site with Basic authorisation, a dynamic-DNS
redirector and an RTSP server streaming test pictures. Runs until interrupted (SIGINT or
SIGTERM).

  --port N                 listen on port N; 0 (the default) lets the system choose. The
                           port in use is printed as "listening on 127.0.0.1:PORT".
  --user U                 user name the site asks for (with --password; without either,
                           no authorisation is asked)
  --password P             password the site asks for
  --cgi NAME=BODY          answer NAME (e.g. GetStatus.cgi) with BODY; repeatable
  --values-a NAME=k1:v1,k2:v2
                           answer NAME with key/value pairs in family A form
                           ("key=value<br>" lines); repeatable
  --values-b NAME=k1:v1,k2:v2
                           the same in family B form ("key = value" lines); repeatable
  --redirect NAME=ADDR[:PORT]
                           as a dynamic-DNS redirector, answer "GET /" with "Host: NAME" by
                           a 302 to http://ADDR[:PORT]/; repeatable
  --rtsp-port N            RTSP server port; 0 (the default) lets the system choose. The
                           port in use is printed as "rtsp on 127.0.0.1:PORT".
  --channel SPEC           add the next RTSP channel (CH01, CH02, ...); repeatable. Without
                           any: mpeg4:640x480@30,audio and jpeg:320x240@15. SPEC is
                           CODEC:WxH@FPS[,SETTING]... with CODEC mpeg4 or jpeg, sides
                           multiples of 16, FPS 1 to 60, and the settings
                             audio       a second track: MPEG audio, a 1 kHz tone
                             live        encode per session instead of replaying a loop
                             type=T      JPEG 0 (4:2:2) or 1 (4:2:0, the default)
                             q=Q         JPEG Q 1..99 (default 75), or 128..255 to send
                                         the quantisation tables in band
                             restart=N   JPEG restart marker every N MCUs (types 64/65)
                             noeoi       JPEG frames without the end marker FF D9
                           and the faults
                             drop=N      leave out every Nth video RTP packet
                             stall=N     send nothing after N video frames
                             garbage=N   after N video frames send bytes that are no
                                         interleaved frame, once
                             nocontrol   no a=control line for the video in the SDP
                           e.g. jpeg:320x240@15,type=0,q=255,restart=4,drop=10
  --hide-rtsp-port         GetServerInfo.cgi answers "Channel=N" without "Rtsp_Port=P"
  --log                    print each request head (CGI and RTSP) to standard error
  -h, --help               print this help and exit

Bad arguments exit with status 2.
)";
}

}  // namespace camsim
