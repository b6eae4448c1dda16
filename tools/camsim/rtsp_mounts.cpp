#include "tools/camsim/rtsp_mounts.h"

#include <strings.h>

#include <algorithm>

namespace camsim {

namespace {

constexpr std::size_t kMaxMountPath = 255;

bool hasScheme(std::string_view url) {
    return url.size() >= 7 && strncasecmp(url.data(), "rtsp://", 7) == 0;
}

}  // namespace

std::string Mount::uri() const {
    return query.empty() ? path : path + "?" + query;
}

std::string Mount::control(TrackKind kind) const {
    const bool video = kind == TrackKind::Video;
    if (named) return video ? "track1" : "track2";
    return video ? "trackID=0" : "trackID=1";
}

std::string Mount::relativeControl(TrackKind kind) const {
    if (query.empty() || queryInBase) return control(kind);
    return control(kind) + "?" + query;
}

std::string Mount::base() const {
    return (queryInBase ? uri() : path) + "/";
}

std::string Mount::trackUri(TrackKind kind) const {
    return base() + relativeControl(kind);
}

bool Mount::describedBy(std::string_view requestPath) const {
    const std::string whole = uri();
    return requestPath == whole || (query.empty() && requestPath == whole + "/");
}

bool Mount::aggregateOf(std::string_view requestPath) const {
    const std::string b = base();
    return describedBy(requestPath) || requestPath == b ||
           requestPath == std::string_view(b).substr(0, b.size() - 1);
}

std::optional<TrackKind> Mount::trackOf(std::string_view requestPath) const {
    for (TrackKind kind : {TrackKind::Video, TrackKind::Audio})
        if (requestPath == trackUri(kind)) return kind;
    return std::nullopt;
}

std::string requestPath(std::string_view url) {
    if (url == "*" || url.starts_with('/')) return std::string(url);
    if (!hasScheme(url)) return {};
    url.remove_prefix(7);
    const std::size_t slash = url.find_first_of("/?");
    if (slash == std::string_view::npos) return "/";
    if (url[slash] == '?') return "/" + std::string(url.substr(slash));
    return std::string(url.substr(slash));
}

std::string requestAuthority(std::string_view url) {
    if (!hasScheme(url)) return {};
    return std::string(url.substr(0, std::min(url.size(), url.find_first_of("/?", 7))));
}

std::optional<std::string> normalizeMountPath(std::string_view text) {
    std::string path(text);
    if (!path.starts_with('/')) path.insert(0, 1, '/');
    const std::string_view pathPart = std::string_view(path).substr(0, path.find('?'));
    const bool badByte = std::any_of(path.begin(), path.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b <= ' ' || b == 0x7F || c == '#';
    });
    if (text.empty() || badByte || pathPart.size() < 2 || pathPart.ends_with('/') ||
        path.ends_with('?') || path.size() > kMaxMountPath)
        return std::nullopt;
    return path;
}

}  // namespace camsim
