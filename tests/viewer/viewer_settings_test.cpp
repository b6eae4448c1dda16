// The settings file: the last site and its stream survive a restart; the file is read as
// untrusted text, and a site that is gone falls back to the first.
#include "viewer/viewer_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "support/temp_dir.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

SiteRecord site(const char16_t *name, const char16_t *host, uint32_t port, uint8_t stream = 0) {
    SiteRecord s = defaultSiteRecord();
    setSiteName(s, name);
    setSiteHost(s, host);
    s.port = port;
    s.streamNumber = stream;
    return s;
}

ViewerSettings lastSite(const SiteRecord &record) {
    ViewerSettings s;
    rememberSite(s, record);
    return s;
}

TEST(ViewerSettings, RoundTripsAwkwardTexts) {
    const std::u16string names[] = {
        u"Front door",
        u"",
        u"50%",
        u"%41",
        u"line\nbreak\r",
        u"tab\there",
        u"caf\u00E9 \U0001F600",
        u"a=b=c",
        std::u16string(99, u'x'),
    };
    for (const std::u16string &name : names) {
        ViewerSettings s;
        s.hasLastSite = true;
        s.siteName = name;
        s.siteHost = name + u".example";
        s.sitePort = 4294967295u;
        s.streamNumber = 255;
        s.lowLatency = name.size() % 2 == 1;
        const std::string text = formatViewerSettings(s);
        // One line per key: no line end of a text escapes into the file.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), s.lowLatency ? 5 : 4) << text;
        EXPECT_EQ(parseViewerSettings(text), s) << text;
    }
}

TEST(ViewerSettings, ReadsWhatItCanOfADamagedFile) {
    const struct {
        const char *text;
        bool hasLastSite;
        const char16_t *name;
        uint32_t port;
        uint8_t stream;
        bool lowLatency = false;
    } cases[] = {
        {"", false, u"", 0, 0},
        {"garbage\n\n=\n", false, u"", 0, 0},
        {"last_site_name=Yard\r\nlast_site_port=8080\r\nlast_site_stream=3\r\n", true, u"Yard",
         8080, 3},
        {"last_site_name=Yard\nlast_site_port=99999999999\nlast_site_stream=256\n", true, u"Yard",
         0, 0},
        {"last_site_name=Yard\nlast_site_port=80x\nlast_site_stream=-1\n", true, u"Yard", 0, 0},
        {"last_site_name=%4\nlast_site_port=", true, u"%4", 0, 0},  // cut short
        {"last_site_name=%zz%41%\n", true, u"%zzA%", 0, 0},
        {"unknown=1\nlast_site_name=\xFF\n", true, u"\uFFFD", 0, 0},
        {"last_site_name=Ya%00rd\n", true, u"Ya", 0, 0},
        {"LAST_SITE_NAME=Yard\n", false, u"", 0, 0},
        {"last_site_port=80\nlast_site_stream=3\n", false, u"", 0, 0},  // no site to go with
        {"low_latency=1\n", false, u"", 0, 0, true},  // stands without a site
        {"low_latency=1\nlast_site_name=Yard\nlow_latency=0\n", true, u"Yard", 0, 0, false},
        {"low_latency=yes\nlow_latency=\nlow_latency=11\n", false, u"", 0, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const ViewerSettings s = parseViewerSettings(c.text);
        EXPECT_EQ(s.hasLastSite, c.hasLastSite);
        EXPECT_EQ(s.siteName, c.name);
        EXPECT_EQ(s.sitePort, c.port);
        EXPECT_EQ(s.streamNumber, c.stream);
        EXPECT_EQ(s.lowLatency, c.lowLatency);
    }
}

TEST(ViewerSettings, TheLastSiteComesBackWithItsStream) {
    SiteList list;
    list.append(site(u"Gate", u"10.0.0.1", 80, 1));
    list.append(site(u"Yard", u"10.0.0.2", 80, 0));
    list.append(site(u"Yard", u"10.0.0.2", 8080, 0));
    const struct {
        ViewerSettings remembered;
        int index;  // the site expected; -1 for an empty record
        uint8_t stream;
    } cases[] = {
        {lastSite(site(u"Yard", u"10.0.0.2", 8080, 5)), 2, 5},
        {lastSite(site(u"Yard", u"10.0.0.2", 80, 7)), 1, 7},
        {lastSite(site(u"Yard", u"10.0.0.9", 80, 7)), 0, 1},  // gone: the first
        {ViewerSettings{}, 0, 1},
    };
    for (const auto &c : cases) {
        const SiteRecord shown = startupSite(list, c.remembered);
        SiteRecord expected = *list.at(c.index);
        expected.streamNumber = c.stream;
        EXPECT_EQ(std::memcmp(&shown, &expected, sizeof shown), 0) << c.index;
    }
    const SiteRecord none = startupSite(SiteList{}, lastSite(list.records()[0]));
    EXPECT_EQ(siteHost(none), u"");
    EXPECT_EQ(none.port, 0u);
}

TEST(ViewerSettings, FileInTheDataDirectory) {
    kestrel_test::TempDir dir;
    EXPECT_EQ(loadViewerSettings(dir.path), ViewerSettings{});
    const ViewerSettings s = lastSite(site(u"Gate", u"cam.example", 554, 3));
    ASSERT_TRUE(saveViewerSettings(dir.path, s));
    EXPECT_EQ(loadViewerSettings(dir.path), s);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{kViewerSettingsFile});
    std::string why;
    EXPECT_FALSE(saveViewerSettings(dir.path + "/missing", s, &why));
    EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace kestrel
