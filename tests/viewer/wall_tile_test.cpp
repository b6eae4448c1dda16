// A wall tile: what its decoding leaves out when behind, what its callback keeps, where its
// picture goes in the tile, and tiles playing side by side against a simulated server, one
// stopped while the other plays on.
#include "viewer/wall_tile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim/rtsp_server.h"
#include "support/loopback.h"
#include "support/wait.h"
#include "viewer/pipeline_fixture.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

using kestrel_test::PipelineFixture;

int32_t kindOf(char c) {
    switch (c) {
        case 'F': return IPCAM_MSG_FORMAT;
        case 'K': return IPCAM_FRAME_KEY;
        case 'D': return IPCAM_FRAME_DEPENDENT;
        case 'X': return IPCAM_FRAME_DROPPABLE;
        default: return IPCAM_FRAME_AUDIO;
    }
}

class WallTileFrames : public PipelineFixture {};

// Frames named by their kinds; each carries its place in the sequence, so that what is kept
// is known frame by frame.
TEST_F(WallTileFrames, BehindOnlyWhatNobodyWouldSeeIsLeftOut) {
    const struct {
        const char *waiting, *kept;
    } rows[] = {
        {"KDX", "012"},         // three pictures are not behind: nothing goes
        {"KDDD", "0123"},       // behind, but the newest key frame is the first
        {"KXDD", "023"},        // a droppable frame goes
        {"KDXDKD", "45"},       // everything before the newest key frame goes
        {"FKDDKDF", "0456"},    // format messages stay where they were
        {"DDXD", "013"},        // no key frame: the dependants must all be decoded
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.waiting);
        std::deque<EncodedFrame *> frames;
        for (std::size_t i = 0; r.waiting[i]; ++i)
            frames.push_back(frame(kindOf(r.waiting[i]), std::to_string(i)));
        const std::size_t before = frames.size();
        const std::size_t left = leaveOutUnseen(frames);
        std::string kept;
        for (EncodedFrame *f : frames) {
            kept += std::string(reinterpret_cast<const char *>(IPCAM_FRAME_PAYLOAD(f)),
                                IPCAM_FRAME_PAYLOAD_SIZE(f));
            IPCamFreeFrame(f);
        }
        EXPECT_EQ(kept, r.kept);
        EXPECT_EQ(left, before - frames.size());
    }
}

TEST_F(WallTileFrames, TheCallbackKeepsVideoFromAKeyFrameAndNeverPilesUp) {
    WallTile tile(defaultSiteRecord(), -1);  // never started: what it keeps stays waiting
    const auto send = [&](char kind) { WallTile::onFrame(&tile, 0, frame(kindOf(kind)), 0); };
    const struct {
        const char *frames;
        uint64_t skipped;  // after them
    } steps[] = {
        {"D", 1},   // nothing before a key frame
        {"KD", 1},
        {"FD", 2},  // a new format waits for a key frame again
        {"KA", 2},  // audio is not kept, nor counted
    };
    for (const auto &s : steps) {
        for (const char *c = s.frames; *c; ++c) send(*c);
        EXPECT_EQ(tile.skipped(), s.skipped) << s.frames;
    }
    // Waiting now: K D F K. At 90 frames waiting the next picture drops the video waiting (89
    // pictures) and itself, a dependent frame; the next key frame starts again.
    for (int i = 0; i < 86; ++i) send('D');
    EXPECT_EQ(tile.skipped(), 2u);
    send('D');
    EXPECT_EQ(tile.skipped(), 2u + 89u + 1u);
    send('K');
    EXPECT_EQ(tile.skipped(), 92u);
    // The tile frees what still waits when it goes (the leak check sees it).
}

TEST(WallTilePlacement, PicturesFillTheTileWithTheirAspectKept) {
    const struct {
        Rect tile;
        int width, height;
        Rect expected;
    } rows[] = {
        {{0, 0, 320, 240}, 640, 480, {0, 0, 320, 240}},          // same aspect
        {{0, 0, 400, 240}, 640, 480, {40, 0, 360, 240}},         // wider tile: bars left, right
        {{10, 20, 330, 420}, 640, 480, {10, 100, 330, 340}},     // taller tile: bars above, below
        {{0, 0, 320, 180}, 1920, 1080, {0, 0, 320, 180}},
        {{0, 0, 100, 100}, 3840, 2160, {0, 22, 100, 78}},
        {{0, 0, 100, 100}, 0, 480, {0, 0, 100, 100}},            // no picture size: the tile
    };
    for (const auto &r : rows)
        EXPECT_EQ(fitPicture(r.tile, r.width, r.height), r.expected) << r.width << "x" << r.height;
}

SiteRecord urlSite(const std::string &url) {
    SiteRecord site = defaultSiteRecord();
    setSiteName(site, u"Tile");
    setSiteHost(site, std::u16string(url.begin(), url.end()));
    setSiteAccount(site, u"");
    setSitePassword(site, u"");
    site.protocolType = kProtocolRtspUrl;
    return site;
}

TEST(WallTileLive, TilesPlaySideBySideAndStopApart) {
    camsim::StreamingServer rtsp;
    rtsp.addChannel({.codec = camsim::ChannelConfig::Codec::H264, .width = 320, .height = 240});
    rtsp.addChannel({.codec = camsim::ChannelConfig::Codec::Jpeg, .width = 176, .height = 144});
    ASSERT_TRUE(rtsp.start());
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(rtsp.port()) + "/CH0";
    WallTile h264(urlSite(base + "1"), -1), jpeg(urlSite(base + "2"), -1);
    WallTile refused(urlSite("rtsp://127.0.0.1:" + std::to_string(kestrel_test::closedPort()) +
                             "/CH01"),
                     -1);
    ASSERT_TRUE(h264.start());
    ASSERT_TRUE(jpeg.start());
    ASSERT_TRUE(refused.start());
    ASSERT_TRUE(kestrel_test::waitFor(
        [&] { return h264.published() >= 5 && jpeg.published() >= 5; }, 20000))
        << h264.published() << " " << jpeg.published();
    WallTile::Picture picture;
    ASSERT_TRUE(h264.newerPicture(0, picture));
    EXPECT_EQ(picture.width, 320);
    EXPECT_EQ(picture.height, 240);
    EXPECT_EQ(picture.bgr.size(), 320u * 240u * 3u);
    EXPECT_FALSE(h264.newerPicture(picture.serial + 1000, picture));
    EXPECT_EQ(h264.problem(), u"");
    EXPECT_EQ(refused.problem().rfind(u"Connecting to Tile\u2026", 0), 0u);
    EXPECT_EQ(refused.published(), 0u);

    h264.stop();
    EXPECT_EQ(h264.session(), nullptr);
    const uint64_t jpegHad = jpeg.published(), h264Had = h264.published();
    EXPECT_TRUE(kestrel_test::waitFor([&] { return jpeg.published() >= jpegHad + 10; }, 5000));
    EXPECT_EQ(h264.published(), h264Had);
}

}  // namespace
}  // namespace kestrel
