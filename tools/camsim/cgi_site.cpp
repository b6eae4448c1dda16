#include "tools/camsim/cgi_site.h"

#include <strings.h>

#include <optional>
#include <string_view>

#include "tools/camsim/base64.h"

namespace camsim {

namespace {

constexpr std::string_view kRealmHeader = "Basic realm=\"camsim\"";

// The credentials of an "Authorization: Basic ..." value, decoded.
std::optional<std::string> basicCredentials(std::string_view value) {
    constexpr std::string_view kScheme = "Basic";
    if (value.size() <= kScheme.size() || strncasecmp(value.data(), "Basic", kScheme.size()) != 0)
        return std::nullopt;
    value.remove_prefix(kScheme.size());
    std::size_t start = value.find_first_not_of(" \t");
    if (start == 0 || start == std::string_view::npos) return std::nullopt;
    return decodeBase64(value.substr(start));
}

}  // namespace

std::string formatValues(ReplyStyle style, const Values &values) {
    std::string body;
    for (const auto &[key, value] : values) {
        if (style == ReplyStyle::FamilyA)
            body += key + "=" + value + "<br>\r\n";
        else
            body += key + " = " + value + "\n";
    }
    return body;
}

void CgiSite::setCredentials(std::string user, std::string password) {
    std::lock_guard lock(lock_);
    user_ = std::move(user);
    password_ = std::move(password);
}

void CgiSite::setValues(const std::string &cgi, ReplyStyle style, Values values) {
    setBody(cgi, formatValues(style, values), 200);
}

void CgiSite::setBody(const std::string &cgi, std::string body, int status) {
    put(cgi, Canned{status, std::move(body)});
}

void CgiSite::setHandler(const std::string &cgi, Handler handler) {
    put(cgi, Route(std::in_place_type<Handler>, std::move(handler)));
}

void CgiSite::setStream(const std::string &cgi, StreamHandler handler) {
    put(cgi, Route(std::in_place_type<StreamHandler>, std::move(handler)));
}

void CgiSite::put(const std::string &cgi, Route route) {
    {
        std::lock_guard lock(lock_);
        std::swap(routes_[cgi], route);
    }
    // The route replaced ends here, outside the lock: what its handler holds may call back.
}

bool CgiSite::hasRoute(const std::string &cgi) const {
    std::lock_guard lock(lock_);
    return routes_.count(cgi) != 0;
}

void CgiSite::setPublic(const std::string &cgi) {
    std::lock_guard lock(lock_);
    public_.insert(cgi);
}

void CgiSite::setSelfAuthorising(const std::string &cgi) {
    std::lock_guard lock(lock_);
    selfAuthorising_.insert(cgi);
}

bool CgiSite::authorised(const RecordedRequest &request) const {
    if (user_.empty() && password_.empty()) return true;
    if (selfAuthorising_.count(request.path)) return true;
    // A public CGI serves anonymous requests; credentials that are given must still match.
    if (public_.count(request.path) && request.header("Authorization").empty()) return true;
    std::optional<std::string> given = basicCredentials(request.header("Authorization"));
    return given && *given == user_ + ":" + password_;
}

bool CgiSite::acceptsBasic(std::string_view encoded) const {
    std::lock_guard lock(lock_);
    if (user_.empty() && password_.empty()) return true;
    std::optional<std::string> given = decodeBase64(encoded);
    return given && *given == user_ + ":" + password_;
}

CgiSite::Answer CgiSite::answer(const RecordedRequest &request) const {
    Route route;
    {
        std::lock_guard lock(lock_);
        if (!authorised(request))
            return {htmlReply(401, "401 Unauthorized",
                              {{"WWW-Authenticate", std::string(kRealmHeader)}}),
                    nullptr};
        auto it = routes_.find(request.path);
        if (it == routes_.end()) return {htmlReply(404, "404 Not Found"), nullptr};
        route = it->second;  // a copy: the handler runs without the lock
    }
    if (auto *canned = std::get_if<Canned>(&route))
        return {htmlReply(canned->status, canned->body), nullptr};
    if (auto *stream = std::get_if<StreamHandler>(&route)) return {Outgoing{}, std::move(*stream)};
    Reply reply = std::get<Handler>(route)(request);
    Outgoing out = htmlReply(reply.status, std::move(reply.body));
    if (!reply.contentType.empty()) out.headers.front().second = std::move(reply.contentType);
    out.lastHeaders = std::move(reply.lastHeaders);
    return {std::move(out), nullptr};
}

}  // namespace camsim
