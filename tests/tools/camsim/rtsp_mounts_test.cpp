#include "tools/camsim/rtsp_mounts.h"

#include <gtest/gtest.h>

#include <string>

using namespace camsim;

namespace {

TEST(RtspMountsTest, RequestUrlsLoseSchemeAndHostOnly) {
    struct Case {
        const char *url, *path, *authority;
    } cases[] = {
        {"rtsp://127.0.0.1:8554/CH01", "/CH01", "rtsp://127.0.0.1:8554"},
        {"RTSP://cam/a/b?c=1&d=2", "/a/b?c=1&d=2", "RTSP://cam"},
        {"rtsp://cam?x=1", "/?x=1", "rtsp://cam"},
        {"rtsp://cam", "/", "rtsp://cam"},
        {"rtsp://user:pw@cam:554/live/ch00_0", "/live/ch00_0", "rtsp://user:pw@cam:554"},
        {"/CH01/track1", "/CH01/track1", ""},
        {"*", "*", ""},
        {"http://cam/CH01", "", ""},
        {"CH01", "", ""},
        {"", "", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(requestPath(c.url), c.path) << c.url;
        EXPECT_EQ(requestAuthority(c.url), c.authority) << c.url;
    }
}

TEST(RtspMountsTest, EachMountAnswersItsOwnUrlsOnly) {
    const Mount named{1, "/CH01", "", true, false};
    const Mount hik{2, "/Streaming/Channels/101", "", false, false};
    const Mount query{3, "/cam/realmonitor", "channel=1&subtype=0", false, false};
    const Mount dahua{3, "/cam/realmonitor", "channel=1&subtype=0", false, true};
    enum What { Describe, Aggregate, Video, Audio, Nothing };
    struct Case {
        const Mount &mount;
        const char *path;
        What what;
    } cases[] = {
        {named, "/CH01", Describe},
        {named, "/CH01/", Describe},
        {named, "/CH01/track1", Video},
        {named, "/CH01/track2", Audio},
        {named, "/CH01//", Nothing},
        {named, "/ch01", Nothing},
        {named, "/CH01/trackID=0", Nothing},
        {named, "/CH01?x", Nothing},
        {hik, "/Streaming/Channels/101", Describe},
        {hik, "/Streaming/Channels/101/trackID=0", Video},
        {hik, "/Streaming/Channels/101/trackID=1", Audio},
        {hik, "/Streaming/Channels/101/track1", Nothing},
        {hik, "/Streaming/Channels/1010", Nothing},
        {query, "/cam/realmonitor?channel=1&subtype=0", Describe},
        {query, "/cam/realmonitor/", Aggregate},  // the Content-Base
        {query, "/cam/realmonitor", Aggregate},
        {query, "/cam/realmonitor?channel=1&subtype=0/", Nothing},
        {query, "/cam/realmonitor/trackID=0?channel=1&subtype=0", Video},
        {query, "/cam/realmonitor/trackID=1?channel=1&subtype=0", Audio},
        {query, "/cam/realmonitor?channel=1&subtype=0/trackID=0", Nothing},
        {query, "/cam/realmonitor/trackID=0", Nothing},
        {query, "/cam/realmonitor?channel=1&subtype=1", Nothing},
        {dahua, "/cam/realmonitor?channel=1&subtype=0", Describe},
        {dahua, "/cam/realmonitor?channel=1&subtype=0/", Aggregate},
        {dahua, "/cam/realmonitor?channel=1&subtype=0/trackID=0", Video},
        {dahua, "/cam/realmonitor?channel=1&subtype=0/trackID=1", Audio},
        {dahua, "/cam/realmonitor/trackID=0?channel=1&subtype=0", Nothing},
        {dahua, "/cam/realmonitor/", Nothing},
    };
    for (const Case &c : cases) {
        What got = Nothing;
        if (c.mount.describedBy(c.path))
            got = Describe;
        else if (auto track = c.mount.trackOf(c.path))
            got = *track == TrackKind::Video ? Video : Audio;
        else if (c.mount.aggregateOf(c.path))
            got = Aggregate;
        EXPECT_EQ(got, c.what) << c.mount.uri() << " " << c.path;
        if (c.what == Describe) {
            EXPECT_TRUE(c.mount.aggregateOf(c.path)) << c.path;
        }
    }
    // What a description says, and the base a client joins it to.
    EXPECT_EQ(query.base(), "/cam/realmonitor/");
    EXPECT_EQ(query.relativeControl(TrackKind::Video), "trackID=0?channel=1&subtype=0");
    EXPECT_EQ(dahua.base(), "/cam/realmonitor?channel=1&subtype=0/");
    EXPECT_EQ(dahua.relativeControl(TrackKind::Audio), "trackID=1");
    EXPECT_EQ(named.base(), "/CH01/");
    EXPECT_EQ(named.relativeControl(TrackKind::Video), "track1");
}

TEST(RtspMountsTest, MountPathsAreCheckedAndGetTheirSlash) {
    struct Case {
        const char *text;
        std::optional<std::string> path;
    } cases[] = {
        {"/Streaming/Channels/101", "/Streaming/Channels/101"},
        {"live/ch00_0", "/live/ch00_0"},
        {"/cam/realmonitor?channel=1&subtype=0", "/cam/realmonitor?channel=1&subtype=0"},
        {"/a?", std::nullopt},
        {"", std::nullopt},
        {"/", std::nullopt},
        {"/?q=1", std::nullopt},
        {"/live/", std::nullopt},
        {"/live stream", std::nullopt},
        {"/live\tstream", std::nullopt},
        {"/live#1", std::nullopt},
        {"/live\x7f", std::nullopt},
    };
    for (const Case &c : cases) EXPECT_EQ(normalizeMountPath(c.text), c.path) << c.text;
    EXPECT_TRUE(normalizeMountPath("/" + std::string(254, 'a')));
    EXPECT_FALSE(normalizeMountPath("/" + std::string(255, 'a')));
}

}  // namespace
