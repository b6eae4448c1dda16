// The camera wall without a display: a square layout of 1, 4, 9 or 16 tiles, the site each
// tile shows (known by its name, host and port, as the settings file knows the last site), the
// tile that has the focus, and what a key does there. The wall window and its tests drive it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "viewer/site_record.h"

namespace kestrel {

class SiteList;

inline constexpr int kWallMaxColumns = 4;
inline constexpr int kWallMaxTiles = kWallMaxColumns * kWallMaxColumns;

// A site as the wall remembers it. An empty host is no site: the tile is free.
struct WallSite {
    std::u16string name, host;
    uint32_t port = 0;
    bool empty() const { return host.empty(); }
    bool operator==(const WallSite &) const = default;
};
WallSite wallSiteOf(const SiteRecord &site);
// The site of the list the wall site names; null when the list no longer has it.
const SiteRecord *findWallSite(const SiteList &list, const WallSite &site);

// What a key pressed on the wall asks for.
struct WallKey {
    enum class Kind { None, Ptz, Open, MoveFocus } kind = Kind::None;
    int32_t ptzAction = 0;  // Ptz: the action of the focused tile's head
    int dx = 0, dy = 0;     // MoveFocus
    bool operator==(const WallKey &) const = default;
};
// Digits 2/8/4/6/3/9 move the head, Enter opens the tile in the single view, the arrows move
// the focus; key is the character ('2', '\n') or one of the arrow codes below.
inline constexpr int kWallKeyLeft = 0x1001, kWallKeyRight = 0x1002, kWallKeyUp = 0x1003,
                     kWallKeyDown = 0x1004;
WallKey wallKeyAction(int key);

class WallModel {
  public:
    int columns() const { return columns_; }
    int tileCount() const { return columns_ * columns_; }
    // 1 to 4 columns (and as many rows); other values are refused. Tiles past the layout
    // keep their sites, so a larger layout shows them again; the focus stays inside.
    bool setColumns(int columns);

    const WallSite &tile(int index) const;  // an empty site for an index past the tiles
    // The stream a tile views: its own choice, or -1 for the site's stream.
    int tileStream(int index) const;
    void assign(int index, const WallSite &site, int stream = -1);  // ignored past the tiles
    void clear(int index) { assign(index, WallSite{}); }
    // Puts the list's sites that are on no tile yet into the free tiles, in list order.
    void fillFrom(const SiteList &list);

    int focus() const { return focus_; }
    void setFocus(int index);  // ignored outside the layout
    // Moves the focus by whole tiles within the grid; it stops at the edges.
    void moveFocus(int dx, int dy);

    bool operator==(const WallModel &) const = default;

  private:
    int columns_ = 2;
    int focus_ = 0;
    std::array<WallSite, kWallMaxTiles> tiles_{};
    std::array<int, kWallMaxTiles> streams_ = filledStreams();

    static std::array<int, kWallMaxTiles> filledStreams() {
        std::array<int, kWallMaxTiles> s{};
        s.fill(-1);
        return s;
    }
};

}  // namespace kestrel
