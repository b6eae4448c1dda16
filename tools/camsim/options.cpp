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
        auto fail = [&](const std::string &why) {
            error = option + ": " + why;
            return std::nullopt;
        };
        bool known = option == "--port" || option == "--user" || option == "--password" ||
                     option == "--cgi" || option == "--values-a" || option == "--values-b" ||
                     option == "--redirect";
        if (!known) return fail("unknown option (see --help)");
        if (i + 1 >= args.size()) return fail("needs a value");
        const std::string &value = args[++i];

        if (option == "--port") {
            auto port = parseNumber(value, 65535);
            if (!port) return fail("not a port number: '" + value + "'");
            options.port = static_cast<uint16_t>(*port);
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

std::string usage() {
    return R"(Usage: kestrel-camsim [OPTION]...
A simulated camera on 127.0.0.1: a CGI site with Basic authorisation and a dynamic-DNS
redirector. Runs until interrupted (SIGINT or SIGTERM).

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
  --log                    print each request head to standard error
  -h, --help               print this help and exit

Bad arguments exit with status 2.
)";
}

}  // namespace camsim
