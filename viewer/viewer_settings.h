// What the viewer remembers between runs, apart from the sites: the site viewed last and the
// stream chosen for it, whether the single view draws with low latency, and the wall (its
// layout and the site and stream of every tile). A small text file in the data directory, one "key=value" per line;
// texts are UTF-8 with '%', line ends and other control characters written as "%XX". The file
// is read as untrusted bytes: unknown keys and malformed lines are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "viewer/site_record.h"
#include "viewer/wall_model.h"

namespace kestrel {

class SiteList;

inline constexpr const char *kViewerSettingsFile = "kestrel-viewer.txt";

struct ViewerSettings {
    bool hasLastSite = false;
    // The last site, known by its name, host and port (the site file has no other key).
    std::u16string siteName, siteHost;
    uint32_t sitePort = 0;
    uint8_t streamNumber = 0;  // the stream last chosen for it
    // The single view draws each picture as soon as it is decoded instead of pacing the
    // pictures through its queue.
    bool lowLatency = false;
    WallModel wall;  // the focus is not kept
    bool operator==(const ViewerSettings &) const = default;
};

ViewerSettings parseViewerSettings(std::string_view text);
std::string formatViewerSettings(const ViewerSettings &settings);

// Remembers site (with its stream number) as the one viewed last; the rest stays.
void rememberSite(ViewerSettings &settings, const SiteRecord &site);

// The file in directory; default settings when it is missing or unreadable.
ViewerSettings loadViewerSettings(const std::string &directory);
// Replaces the file at once; false (and why, when asked) on failure.
bool saveViewerSettings(const std::string &directory, const ViewerSettings &settings,
                        std::string *why = nullptr);

// The site to show at start-up: the one viewed last, with its stream, while the list still
// has it; else the first site; else an empty record.
SiteRecord startupSite(const SiteList &list, const ViewerSettings &settings);

}  // namespace kestrel
