// The wall offscreen against four simulated cameras: a picture in every tile, a camera that
// goes away says so in its tile while the others play on, a double-click opens the single view
// and leaving it returns to the wall; the wall is kept in the settings file.
#include "viewer/qt_wall_window.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <QMimeData>
#include <QTest>

#include "camsim/rtsp_server.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "viewer/command_ids.h"
#include "viewer/data_directory.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_viewer_dialog.h"
#include "viewer/qt_viewer_fixture.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

using kestrel_test::pumpUntil;

class WallWindowTest : public kestrel_test::ViewerDialogTest {
  protected:
    void SetUp() override {
        ViewerDialogTest::SetUp();
        std::vector<SiteRecord> sites;
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            cameras[i] = std::make_unique<camsim::StreamingServer>();
            cameras[i]->addChannel(
                {.codec = camsim::ChannelConfig::Codec::Jpeg, .width = 176, .height = 144});
            ASSERT_TRUE(cameras[i]->start());
            SiteRecord site = defaultSiteRecord();
            const std::u16string name = u"Cam" + std::u16string(1, char16_t(u'1' + i));
            const std::string url =
                "rtsp://127.0.0.1:" + std::to_string(cameras[i]->port()) + "/CH01";
            setSiteName(site, name);
            setSiteHost(site, std::u16string(url.begin(), url.end()));
            setSiteAccount(site, u"");
            setSitePassword(site, u"");
            site.protocolType = kProtocolRtspUrl;
            sites.push_back(site);
        }
        writeSites(sites);
    }

    // Newer pictures keep coming to the tile.
    static bool playing(WallWindow &wall, int index) {
        const uint64_t before = wall.tile(index) ? wall.tile(index)->published() : 0;
        return pumpUntil([&] { return wall.tile(index)->published() >= before + 5; }, 5000);
    }

    std::array<std::unique_ptr<camsim::StreamingServer>, 4> cameras;
};

TEST_F(WallWindowTest, FourCamerasOneGoneAndTheSingleViewAndBack) {
    auto w = makeWindow();
    ASSERT_TRUE(triggerCommand(w.get(), kCmdWall));
    WallWindow *wall = w->wall();
    ASSERT_NE(wall, nullptr);
    EXPECT_TRUE(wall->isVisible());
    EXPECT_FALSE(w->isVisible());
    ASSERT_EQ(wall->model().tileCount(), 4);
    ASSERT_TRUE(pumpUntil(
        [&] {
            for (int i = 0; i < 4; ++i)
                if (!wall->tileView(i)->hasPicture() || !wall->tileView(i)->problem().isEmpty())
                    return false;
            return true;
        },
        20000));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(wall->tileView(i)->name(), QString("Cam%1").arg(i + 1)) << i;

    // Camera 3 goes away: its tile says so, the other three play on.
    cameras[2]->stop();
    EXPECT_TRUE(pumpUntil([&] { return !wall->tileView(2)->problem().isEmpty(); }, 10000));
    EXPECT_TRUE(wall->tileView(2)->problem().startsWith(QString::fromUtf8("Connecting to Cam3")))
        << wall->tileView(2)->problem().toStdString();
    for (int i : {0, 1, 3}) {
        EXPECT_TRUE(playing(*wall, i)) << i;
        EXPECT_TRUE(wall->tileView(i)->problem().isEmpty())
            << i << ": " << wall->tileView(i)->problem().toStdString();
    }

    // A double-click opens the tile in the single view; leaving it returns to the wall.
    QTest::mouseDClick(wall->tileView(1), Qt::LeftButton);
    EXPECT_FALSE(wall->isVisible());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(siteName(w->currentSite()), u"Cam2");
    EXPECT_TRUE(w->viewing());
    EXPECT_TRUE(picturesShown(*w));
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_TRUE(wall->isVisible());
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->viewing());
    EXPECT_TRUE(playing(*wall, 0));

    // The layout is kept: a new window shows the same wall.
    wall->onCommand(kCmdWallLayout1 + 2);  // 3x3
    EXPECT_EQ(wall->model().tileCount(), 9);
    EXPECT_EQ(wall->tileView(3)->name(), "Cam4");
    w.reset();
    auto again = makeWindow();
    again->showWall();
    EXPECT_EQ(again->wall()->model().columns(), 3);
    EXPECT_EQ(again->wall()->tileView(0)->name(), "Cam1");
}

// The focused tile takes the keys: the arrows move the focus, a digit goes to its head.
TEST_F(WallWindowTest, KeysGoToTheFocusedTile) {
    auto w = makeWindow();
    w->showWall();
    WallWindow *wall = w->wall();
    EXPECT_EQ(wall->model().focus(), 0);
    QTest::keyClick(wall, Qt::Key_Right);
    QTest::keyClick(wall, Qt::Key_Down);
    EXPECT_EQ(wall->model().focus(), 3);
    QTest::keyClick(wall, Qt::Key_Down);  // the edge
    EXPECT_EQ(wall->model().focus(), 3);
    QTest::keyClick(wall, Qt::Key_Return);
    EXPECT_EQ(siteName(w->currentSite()), u"Cam4");
    EXPECT_TRUE(w->isVisible());
}

// A site dragged from the wall's list onto a tile goes there, and only that tile changes.
TEST_F(WallWindowTest, ASiteDroppedOnATileGoesThere) {
    auto w = makeWindow();
    w->showWall();
    WallWindow *wall = w->wall();
    WallTile *untouched = wall->tile(1);
    QMimeData mime;
    mime.setData("application/x-kestrel-site-index", "2");  // the third site of the list
    EXPECT_TRUE(wall->tileView(0)->dropSite(mime));
    EXPECT_EQ(wall->model().tile(0).name, u"Cam3");
    EXPECT_EQ(wall->tileView(0)->name(), "Cam3");
    EXPECT_EQ(wall->tile(1), untouched);
    EXPECT_EQ(loadViewerSettings(dataDirectory()).wall.tile(0).name, u"Cam3");
    mime.setData("application/x-kestrel-site-index", "9");  // no such site: nothing changes
    EXPECT_FALSE(wall->tileView(0)->dropSite(mime));
    EXPECT_EQ(wall->model().tile(0).name, u"Cam3");
}

}  // namespace
}  // namespace kestrel
