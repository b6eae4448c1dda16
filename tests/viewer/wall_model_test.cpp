// The wall's model without a display: layouts and the focus, filling tiles from the site list,
// what keys do, and the layout and tiles kept in the settings file.
#include "viewer/wall_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/main_window_model.h"
#include "viewer/site_list.h"
#include "viewer/viewer_settings.h"

namespace kestrel {
namespace {

WallSite wallSite(const char16_t *name, const char16_t *host, uint32_t port = 80) {
    return {name, host, port};
}

SiteRecord siteRecord(const WallSite &site) {
    SiteRecord r = defaultSiteRecord();
    setSiteName(r, site.name);
    setSiteHost(r, site.host);
    r.port = site.port;
    return r;
}

TEST(WallModel, LayoutsKeepTheFocusInsideAndTheTilesBeyond) {
    WallModel wall;
    EXPECT_EQ(wall.columns(), 2);
    for (int bad : {0, 5, -1}) EXPECT_FALSE(wall.setColumns(bad)) << bad;
    ASSERT_TRUE(wall.setColumns(4));
    wall.assign(15, wallSite(u"Back", u"10.0.0.16"), 1);
    wall.setFocus(15);
    ASSERT_TRUE(wall.setColumns(3));
    EXPECT_EQ(wall.focus(), 0);                  // tile 16 is outside 3x3
    EXPECT_TRUE(wall.tile(15).empty());          // and not shown
    wall.assign(15, wallSite(u"Other", u"x"));   // nor assignable
    ASSERT_TRUE(wall.setColumns(4));
    EXPECT_EQ(wall.tile(15), wallSite(u"Back", u"10.0.0.16"));  // back with the layout
    EXPECT_EQ(wall.tileStream(15), 1);
    wall.clear(15);
    EXPECT_EQ(wall.tileStream(15), -1);

    // The focus moves by tiles and stops at the edges of the 3x3 grid.
    wall.setColumns(3);
    const struct {
        int dx, dy, focus;
    } moves[] = {{-1, 0, 0}, {0, -1, 0}, {1, 0, 1}, {1, 0, 2}, {1, 0, 2},
                 {0, 1, 5}, {0, 5, 8}, {-1, 0, 7}, {0, -1, 4}};
    for (const auto &m : moves) {
        wall.moveFocus(m.dx, m.dy);
        EXPECT_EQ(wall.focus(), m.focus) << m.dx << "," << m.dy;
    }
}

TEST(WallModel, FreeTilesAreFilledFromTheListInOrder) {
    SiteList list;
    for (const WallSite &s : {wallSite(u"A", u"a"), wallSite(u"B", u"b"), wallSite(u"NoHost", u""),
                              wallSite(u"C", u"c"), wallSite(u"D", u"d"), wallSite(u"E", u"e")})
        list.append(siteRecord(s));
    WallModel wall;  // 2x2
    wall.assign(1, wallSite(u"C", u"c"));
    wall.fillFrom(list);
    // List order into the free tiles; C stays where it was and is not repeated.
    const std::vector<std::u16string> expected = {u"a", u"c", u"b", u"d"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(wall.tile(i).host, expected[i]) << i;
    EXPECT_EQ(findWallSite(list, wall.tile(3)), &list.records()[4]);
    EXPECT_EQ(findWallSite(list, wallSite(u"D", u"d", 81)), nullptr);  // another port
    EXPECT_EQ(findWallSite(list, WallSite{}), nullptr);
}

TEST(WallModel, KeysMoveTheHeadOpenTheTileOrMoveTheFocus) {
    using K = WallKey::Kind;
    const struct {
        int key;
        WallKey expected;
    } rows[] = {
        {'2', {K::Ptz, kPtzUp}},       {'8', {K::Ptz, kPtzDown}},
        {'4', {K::Ptz, kPtzLeft}},     {'6', {K::Ptz, kPtzRight}},
        {'3', {K::Ptz, kPtzZoomIn}},   {'9', {K::Ptz, kPtzZoomOut}},
        {'\r', {K::Open}},             {'\n', {K::Open}},
        {kWallKeyLeft, {K::MoveFocus, 0, -1, 0}}, {kWallKeyDown, {K::MoveFocus, 0, 0, 1}},
        {'5', {}},                     {'a', {}},
    };
    for (const auto &r : rows) EXPECT_EQ(wallKeyAction(r.key), r.expected) << r.key;
}

TEST(WallModel, TheLayoutAndTilesSurviveTheSettingsFile) {
    ViewerSettings s;
    s.lowLatency = true;
    s.wall.setColumns(4);
    s.wall.assign(0, wallSite(u"Gate=1", u"rtsp://cam.example/live?x=1&y=%20", 0), 2);
    s.wall.assign(7, wallSite(u"line\nbreak", u"10.0.0.8", 8080));
    s.wall.assign(15, wallSite(u"caf\u00E9", u"cam16.example", 65535), 0);
    s.wall.setColumns(3);  // tile 16 is kept beyond the layout
    const std::string text = formatViewerSettings(s);
    EXPECT_EQ(parseViewerSettings(text), s) << text;
    EXPECT_EQ(formatViewerSettings(ViewerSettings{}), "");  // nothing to say: an empty file

    const struct {
        const char *text;
        int columns;
        std::u16string host1;
        int stream1;
    } damaged[] = {
        {"wall_layout=5\nwall_tile_1_host=a\n", 2, u"a", -1},
        {"wall_layout=1\nwall_tile_1_host=a\nwall_tile_1_stream=-7\n", 1, u"a", -1},
        {"wall_layout=1\nwall_tile_1_host=a\nwall_tile_1_stream=256\n", 1, u"a", -1},
        {"wall_tile_1_stream=3\nwall_tile_1_name=n\n", 2, u"", -1},  // no host: a free tile
        {"wall_tile_0_host=a\nwall_tile_17_host=b\nwall_tile_x_host=c\nwall_tile_\n", 2, u"", -1},
        {"wall_layout=4\nwall_tile_1_host=a\nwall_tile_1_stream=3\n", 4, u"a", 3},
    };
    for (const auto &d : damaged) {
        SCOPED_TRACE(d.text);
        const ViewerSettings read = parseViewerSettings(d.text);
        EXPECT_EQ(read.wall.columns(), d.columns);
        EXPECT_EQ(read.wall.tile(0).host, d.host1);
        EXPECT_EQ(read.wall.tileStream(0), d.stream1);
        EXPECT_EQ(parseViewerSettings(formatViewerSettings(read)), read);
    }
}

}  // namespace
}  // namespace kestrel
