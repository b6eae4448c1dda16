#include "viewer/main_window_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "viewer/app_options.h"
#include "viewer/command_ids.h"
#include "viewer/occlusion.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

SiteRecord site(const char16_t *name, const char16_t *host, uint32_t port, uint8_t stream,
                uint32_t size) {
    SiteRecord s = defaultSiteRecord();
    std::u16string n(name), h(host);
    std::copy(n.begin(), n.end(), s.name);
    std::copy(h.begin(), h.end(), s.host);
    s.port = port;
    s.streamNumber = stream;
    s.videoSize = size;
    return s;
}

TEST(SiteInfoText, ShowsTheSiteOrTheEmptyText) {
    struct Row {
        SiteRecord site;
        std::u16string expected;
    } rows[] = {
        {site(u"", u"", 80, 0, 0), u"SITE:  --------\n-.-.-.- : - (---)"},
        {site(u"Gate", u"10.0.0.7", 8080, 0, 0), u"SITE:  Gate\n10.0.0.7:8080 STREAM1 (Small)"},
        {site(u"", u"cam.example", 80, 15, 1), u"SITE:  \ncam.example:80 STREAM16 (Middle)"},
        {site(u"Yard", u"", 554, 255, 2), u"SITE:  Yard\n:554 STREAM256 (Big)"},
        {site(u"Lobby", u"h", 1, 3, 4), u"SITE:  Lobby\nh:1 STREAM4 (Middle)"},  // 4 % 3
        {site(u"Street", u"rtsp://cam/live", 0, 3, 2), u"SITE:  Street\nrtsp://cam/live (Big)"},
        {site(u"Dome", u"http://cam/onvif/device_service", 0, 2, 0),
         u"SITE:  Dome\nhttp://cam/onvif/device_service PROFILE 2 (Small)"},
    };
    rows[5].site.protocolType = kProtocolRtspUrl;  // the URL says where: no port, no stream
    rows[6].site.protocolType = kProtocolOnvif;    // and the stream is the zero-based profile
    for (const Row &r : rows) EXPECT_EQ(siteInfoText(r.site), r.expected);
}

TEST(SiteInfoText, ANameWithoutTerminatorStopsAtItsField) {
    SiteRecord s = defaultSiteRecord();
    std::fill(std::begin(s.name), std::end(s.name), u'n');
    std::fill(std::begin(s.host), std::end(s.host), u'h');  // no zero anywhere
    const std::u16string text = siteInfoText(s);
    EXPECT_EQ(text.find(u'\n'), 7u + 99u);
    EXPECT_NE(text.find(u'\n' + std::u16string(99, u'h') + u":80 "), std::u16string::npos);
}

TEST(MainLayout, TextAreasAndButtonsFollowTheMenuBar) {
    // A 240 wide window, menu bar top at 294, text 16 high: u = 48, s = 47.
    const MainLayout l = layoutMainWindow(294, 0, 240, 16, 240);
    EXPECT_EQ(l.status, (Rect{2, 278, 240, 294}));
    EXPECT_EQ(l.siteInfo, (Rect{2, 246, 240, 278}));
    struct Expect {
        int id, x, y;
    } expected[] = {
        {kBtnLeft, 2, 262},          {kBtnUp, 2 + 47, 246},       {kBtnDown, 2 + 47, 278},
        {kBtnRight, 2 + 94, 262},    {kBtnZoomIn, 2 + 141, 246},  {kBtnZoomOut, 2 + 141, 262},
        {kBtnOutput1, 2 + 188, 246}, {kBtnOutput2, 2 + 188, 262},
    };
    ASSERT_EQ(std::size(expected), std::size(l.buttons));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(l.buttons[i].id, expected[i].id);
        EXPECT_EQ(l.buttons[i].rect,
                  (Rect{expected[i].x, expected[i].y, expected[i].x + 46, expected[i].y + 15}));
    }
}

TEST(OperateRequests, PtzRecordAsTheCameraSideReadsIt) {
    const PtzRequest r = ptzActionRequest(kPtzZoomOut);
    const auto *bytes = reinterpret_cast<const uint8_t *>(&r);
    int32_t code, action;
    std::memcpy(&code, bytes, 4);
    std::memcpy(&action, bytes + 20, 4);
    EXPECT_EQ(code, 12);
    EXPECT_EQ(action, 19);
    for (int i = 4; i < 20; ++i) EXPECT_EQ(bytes[i], 0xFF) << i;
    EXPECT_EQ(bytes[24], 0);
    for (int i = 280; i < 284; ++i) EXPECT_EQ(bytes[i], 0xFF) << i;
}

TEST(OperateRequests, OutputToggleFlipsOneOutputAndKeepsTheRest) {
    struct Row {
        uint8_t before[4];
        int output;
        uint8_t after[4];
    } rows[] = {
        {{0, 0, 0, 0}, 1, {1, 0, 0, 0}},
        {{1, 0, 1, 0}, 1, {0, 0, 1, 0}},
        {{0, 7, 1, 1}, 2, {0, 0, 1, 1}},  // any non-zero state is "on"
        {{1, 0, 0, 1}, 2, {1, 1, 0, 1}},
    };
    for (const Row &r : rows) {
        AlarmIoRequest read{};
        read.code = 17;
        read.mode = 1;
        read.interval = 42;
        std::memcpy(read.outputs, r.before, 4);
        const AlarmIoRequest w = outputToggleRequest(read, r.output);
        EXPECT_EQ(w.code, 18);
        EXPECT_EQ(w.mode, 0);
        EXPECT_EQ(w.interval, 42);
        EXPECT_EQ(0, std::memcmp(w.outputs, r.after, 4)) << "output " << r.output;
    }
}

TEST(MemoryCheck, ExactlyThreeBuffersIsTooLittle) {
    const std::size_t buffer = 1280 * 1024 * 3;
    EXPECT_TRUE(memoryTooLow(3 * buffer, buffer));
    EXPECT_TRUE(memoryTooLow(0, buffer));
    EXPECT_FALSE(memoryTooLow(3 * buffer + 1, buffer));
    EXPECT_GT(availableMemory(), 0u);  // this machine has /proc/meminfo
}

TEST(Watchdog, CountsToTenToStopAndPastThirtyToQuitOnPhones) {
    for (bool phone : {false, true}) {
        OcclusionProbe probe;
        std::vector<uint16_t> stops, quits;
        for (int tick = 0; tick < 40; ++tick) {
            const uint16_t c = probe.step(true);
            const WatchdogVerdict v = mainWatchdogVerdict(c, phone);
            if (v == WatchdogVerdict::stop) stops.push_back(c);
            if (v == WatchdogVerdict::quit) quits.push_back(c);
        }
        EXPECT_EQ(stops, std::vector<uint16_t>{10});
        EXPECT_EQ(quits.size(), phone ? 10u : 0u);
        if (phone) {
            EXPECT_EQ(quits.front(), 31);
        }
    }
}

TEST(Watchdog, AnUncoveredProbeResetsTheCountAndMovesTheCorner) {
    OcclusionProbe probe;
    const Rect w{10, 20, 250, 340};
    int x, y;
    std::vector<std::pair<int, int>> points;
    for (int i = 0; i < 5; ++i) {
        probe.point(w, x, y);
        points.emplace_back(x, y);
        probe.step(false);
    }
    EXPECT_EQ(points, (std::vector<std::pair<int, int>>{
                          {11, 21}, {240, 30}, {20, 330}, {240, 330}, {11, 21}}));
    for (int i = 0; i < 9; ++i) probe.step(true);
    const uint16_t corner = probe.corner;
    EXPECT_EQ(probe.step(true), 10);
    EXPECT_EQ(probe.corner, corner);  // stays while covered
    EXPECT_EQ(probe.step(false), 0);
}

TEST(SiteInfoText, StartAndSnapshotSayWhenThereIsNoSiteToView) {
    SiteRecord none;
    std::memset(&none, 0, sizeof none);
    SiteRecord named = none, hosted = none;
    setSiteName(named, u"Gate");
    setSiteHost(hosted, u"10.0.0.1");
    EXPECT_EQ(missingSiteText(none), u"No site chosen: pick or add one with Site");
    EXPECT_EQ(missingSiteText(named), u"Gate has no address: set one with Site, Manage, Edit");
    EXPECT_EQ(missingSiteText(hosted), u"");
}

TEST(AppOptions, TheToolkitsOwnOptionsAreLeftToIt) {
    using Args = std::vector<std::string>;
    const struct {
        Args args, rest;
    } cases[] = {
        {{"-platform", "offscreen", "--start"}, {"--start"}},
        {{"--platform", "xcb", "-style=fusion", "-reverse", "--size", "640x480"},
         {"--size", "640x480"}},
        {{"-platform"}, {}},
        {{"--bogus", "-geometry", "10x10+0+0", "stray"}, {"--bogus", "stray"}},
        {{"-", "--", "-h"}, {"-", "--", "-h"}},
    };
    for (const auto &c : cases) EXPECT_EQ(withoutToolkitOptions(c.args), c.rest);
}

TEST(AppOptions, CommandLines) {
    struct Row {
        std::vector<std::string> args;
        const char *env;
        bool ok, smartphone, start;
        std::string dataDir;
        int width, height;
        bool wall = false;
    } rows[] = {
        {{"--wall"}, nullptr, true, false, false, "", 0, 0, true},
        {{}, nullptr, true, false, false, "", 0, 0},
        {{"--start", "--data-dir", "/tmp/x"}, nullptr, true, false, true, "/tmp/x", 0, 0},
        {{"--smartphone"}, nullptr, true, true, false, "", 0, 0},
        {{}, "1", true, true, false, "", 0, 0},
        {{}, "0", true, false, false, "", 0, 0},
        {{"--size", "640x480"}, nullptr, true, false, false, "", 640, 480},
        {{"--size", "640x"}, nullptr, false, false, false, "", 0, 0},
        {{"--size", "10x10"}, nullptr, false, false, false, "", 0, 0},
        {{"--size", "640x480x2"}, nullptr, false, false, false, "", 0, 0},
        {{"--data-dir"}, nullptr, false, false, false, "", 0, 0},
        {{"--bogus"}, nullptr, false, false, false, "", 0, 0},
    };
    for (const Row &r : rows) {
        const AppOptions o = parseAppOptions(r.args, r.env);
        SCOPED_TRACE(r.args.empty() ? std::string("(none)") : r.args.back());
        EXPECT_EQ(o.error.empty(), r.ok) << o.error;
        if (!r.ok) continue;
        EXPECT_EQ(o.smartphone, r.smartphone);
        EXPECT_EQ(o.start, r.start);
        EXPECT_EQ(o.wall, r.wall);
        EXPECT_EQ(o.dataDir, r.dataDir);
        EXPECT_EQ(o.width, r.width);
        EXPECT_EQ(o.height, r.height);
    }
}

}  // namespace
}  // namespace kestrel
