#include "viewer/viewer_settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <vector>

#include "viewer/atomic_file.h"
#include "viewer/site_list.h"
#include "viewer/text_convert.h"

namespace kestrel {

namespace {

constexpr std::string_view kSiteName = "last_site_name";
constexpr std::string_view kSiteHost = "last_site_host";
constexpr std::string_view kSitePort = "last_site_port";
constexpr std::string_view kStream = "last_site_stream";
constexpr std::string_view kLowLatency = "low_latency";
constexpr std::string_view kWallLayout = "wall_layout";
// wall_tile_N_name, _host, _port and _stream for tile N, 1 to 16.
constexpr std::string_view kWallTile = "wall_tile_";

bool escaped(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == '%';
}

std::string escape(const std::u16string &text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : toUtf8(text.data(), text.size(), 4 * text.size() + 1)) {
        const auto byte = static_cast<unsigned char>(c);
        if (!escaped(byte)) {
            out += c;
            continue;
        }
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A '%' without two hex digits after it stands for itself.
std::u16string unescape(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                bytes += static_cast<char>(high << 4 | low);
                i += 2;
                continue;
            }
        }
        bytes += text[i];
    }
    // Names and hosts end at a zero, as in the site file.
    return fromUtf8(bytes.substr(0, bytes.find('\0')));
}

template <class Number>
bool parseNumber(std::string_view text, Number &out) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    out = value;
    return true;
}

// A line of a wall tile: wall_tile_N_FIELD; any other key is left alone.
void wallTileLine(std::string_view key, std::string_view value,
                  std::array<WallSite, kWallMaxTiles> &sites,
                  std::array<int, kWallMaxTiles> &streams) {
    if (!key.starts_with(kWallTile)) return;
    key.remove_prefix(kWallTile.size());
    const std::size_t underscore = key.find('_');
    int number = 0;
    if (underscore == std::string_view::npos || !parseNumber(key.substr(0, underscore), number) ||
        number < 1 || number > kWallMaxTiles)
        return;
    const std::string_view field = key.substr(underscore + 1);
    const auto at = static_cast<std::size_t>(number - 1);
    if (field == "name") sites[at].name = unescape(value);
    else if (field == "host") sites[at].host = unescape(value);
    else if (field == "port") parseNumber(value, sites[at].port);
    else if (field == "stream" && parseNumber(value, streams[at]))
        streams[at] = std::clamp(streams[at], -1, 255) == streams[at] ? streams[at] : -1;
}

}  // namespace

ViewerSettings parseViewerSettings(std::string_view text) {
    ViewerSettings s;
    bool name = false, host = false;
    std::array<WallSite, kWallMaxTiles> wallSites{};
    std::array<int, kWallMaxTiles> wallStreams{};
    wallStreams.fill(-1);
    int wallColumns = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == kSiteName) {
            s.siteName = unescape(value);
            name = true;
        } else if (key == kSiteHost) {
            s.siteHost = unescape(value);
            host = true;
        } else if (key == kSitePort) {
            parseNumber(value, s.sitePort);
        } else if (key == kStream) {
            parseNumber(value, s.streamNumber);
        } else if (key == kLowLatency && (value == "0" || value == "1")) {
            s.lowLatency = value == "1";
        } else if (key == kWallLayout) {
            parseNumber(value, wallColumns);
        } else {
            wallTileLine(key, value, wallSites, wallStreams);
        }
    }
    // Every tile is filled in the largest layout, then the layout is chosen, so that tiles past
    // a smaller one keep their sites.
    s.wall.setColumns(kWallMaxColumns);
    for (int i = 0; i < kWallMaxTiles; ++i)
        s.wall.assign(i, wallSites[static_cast<std::size_t>(i)],
                      wallStreams[static_cast<std::size_t>(i)]);
    if (!s.wall.setColumns(wallColumns)) s.wall.setColumns(WallModel{}.columns());
    // A port or stream without the site they belong to means nothing.
    s.hasLastSite = name || host;
    if (!s.hasLastSite) s.sitePort = 0, s.streamNumber = 0;
    return s;
}

std::string formatViewerSettings(const ViewerSettings &s) {
    std::string out;
    if (s.lowLatency) out.append(kLowLatency).append("=1\n");
    if (s.wall != WallModel{}) {
        out.append(kWallLayout).append("=").append(std::to_string(s.wall.columns())).append("\n");
        WallModel all = s.wall;
        all.setColumns(kWallMaxColumns);
        for (int i = 0; i < kWallMaxTiles; ++i) {
            const WallSite &site = all.tile(i);
            if (site.empty()) continue;
            const std::string prefix = std::string(kWallTile) + std::to_string(i + 1) + "_";
            out.append(prefix).append("name=").append(escape(site.name)).append("\n");
            out.append(prefix).append("host=").append(escape(site.host)).append("\n");
            out.append(prefix).append("port=").append(std::to_string(site.port)).append("\n");
            if (all.tileStream(i) >= 0)
                out.append(prefix).append("stream=").append(std::to_string(all.tileStream(i)))
                    .append("\n");
        }
    }
    if (!s.hasLastSite) return out;
    out.append(kSiteName).append("=").append(escape(s.siteName)).append("\n");
    out.append(kSiteHost).append("=").append(escape(s.siteHost)).append("\n");
    out.append(kSitePort).append("=").append(std::to_string(s.sitePort)).append("\n");
    out.append(kStream).append("=").append(std::to_string(s.streamNumber)).append("\n");
    return out;
}

void rememberSite(ViewerSettings &s, const SiteRecord &site) {
    s.hasLastSite = true;
    s.siteName = siteName(site);
    s.siteHost = siteHost(site);
    s.sitePort = site.port;
    s.streamNumber = site.streamNumber;
}

ViewerSettings loadViewerSettings(const std::string &directory) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(joinPath(directory, kViewerSettingsFile), bytes)) return {};
    return parseViewerSettings(
        std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

bool saveViewerSettings(const std::string &directory, const ViewerSettings &settings,
                        std::string *why) {
    const std::string text = formatViewerSettings(settings);
    return replaceFile(joinPath(directory, kViewerSettingsFile),
                       std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), why);
}

SiteRecord startupSite(const SiteList &list, const ViewerSettings &settings) {
    if (settings.hasLastSite) {
        for (const SiteRecord &site : list.records()) {
            if (siteName(site) != settings.siteName || siteHost(site) != settings.siteHost ||
                site.port != settings.sitePort)
                continue;
            SiteRecord last = site;
            last.streamNumber = settings.streamNumber;
            return last;
        }
    }
    if (const SiteRecord *first = list.at(0)) return *first;
    SiteRecord none;
    std::memset(&none, 0, sizeof none);
    return none;
}

}  // namespace kestrel
