#include "viewer/wall_model.h"

#include <algorithm>

#include "viewer/main_window_model.h"
#include "viewer/site_list.h"

namespace kestrel {

WallSite wallSiteOf(const SiteRecord &site) {
    return {siteName(site), siteHost(site), site.port};
}

const SiteRecord *findWallSite(const SiteList &list, const WallSite &site) {
    if (site.empty()) return nullptr;
    for (const SiteRecord &record : list.records())
        if (wallSiteOf(record) == site) return &record;
    return nullptr;
}

WallKey wallKeyAction(int key) {
    if (const int32_t action = ptzActionForKey(key)) return {WallKey::Kind::Ptz, action};
    switch (key) {
        case '\n':
        case '\r':
            return {WallKey::Kind::Open};
        case kWallKeyLeft:
            return {WallKey::Kind::MoveFocus, 0, -1, 0};
        case kWallKeyRight:
            return {WallKey::Kind::MoveFocus, 0, 1, 0};
        case kWallKeyUp:
            return {WallKey::Kind::MoveFocus, 0, 0, -1};
        case kWallKeyDown:
            return {WallKey::Kind::MoveFocus, 0, 0, 1};
        default:
            return {};
    }
}

bool WallModel::setColumns(int columns) {
    if (columns < 1 || columns > kWallMaxColumns) return false;
    columns_ = columns;
    if (focus_ >= tileCount()) focus_ = 0;
    return true;
}

const WallSite &WallModel::tile(int index) const {
    static const WallSite kNone;
    return index >= 0 && index < tileCount() ? tiles_[static_cast<std::size_t>(index)] : kNone;
}

int WallModel::tileStream(int index) const {
    return index >= 0 && index < tileCount() ? streams_[static_cast<std::size_t>(index)] : -1;
}

void WallModel::assign(int index, const WallSite &site, int stream) {
    if (index < 0 || index >= tileCount()) return;
    tiles_[static_cast<std::size_t>(index)] = site.empty() ? WallSite{} : site;
    streams_[static_cast<std::size_t>(index)] = site.empty() ? -1 : std::max(-1, stream);
}

void WallModel::fillFrom(const SiteList &list) {
    int next = 0;
    for (const SiteRecord &record : list.records()) {
        const WallSite site = wallSiteOf(record);
        if (site.empty()) continue;
        const auto shown = tiles_.begin() + tileCount();
        if (std::find(tiles_.begin(), shown, site) != shown) continue;
        while (next < tileCount() && !tiles_[static_cast<std::size_t>(next)].empty()) ++next;
        if (next == tileCount()) return;
        assign(next, site);
    }
}

void WallModel::setFocus(int index) {
    if (index >= 0 && index < tileCount()) focus_ = index;
}

void WallModel::moveFocus(int dx, int dy) {
    const int column = std::clamp(focus_ % columns_ + dx, 0, columns_ - 1);
    const int row = std::clamp(focus_ / columns_ + dy, 0, columns_ - 1);
    focus_ = row * columns_ + column;
}

}  // namespace kestrel
