// The main window offscreen against a simulated camera: pictures, snapshot, PTZ, Stop; menus
// that never freeze the picture; no stale picture after Stop or another site; the last site
// remembered.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QTest>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "viewer/command_ids.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_viewer_fixture.h"

namespace kestrel {
namespace {

using kestrel_test::pumpUntil;
using kestrel_test::siteAt;
using kestrel_test::ViewerDialogTest;

TEST_F(ViewerDialogTest, PtzKeysWhileStoppedSendNothing) {
    camsim::CgiServer web;
    ASSERT_TRUE(web.start());
    camsim::FamilyACamera camera(web, {.model = 20, .capabilities = 1});
    writeSites({siteAt(u"Cam", u"127.0.0.1", web.port())});
    auto w = makeWindow();
    for (Qt::Key k : {Qt::Key_2, Qt::Key_8, Qt::Key_4, Qt::Key_6, Qt::Key_3, Qt::Key_9})
        QTest::keyClick(w.get(), k);
    w->onCommand(kBtnUp);
    w->onCommand(kBtnOutput1);
    EXPECT_TRUE(web.requests().empty());
    const camsim::HeadState head = camera.head();
    EXPECT_EQ(head.pan, 0);
    EXPECT_EQ(head.tilt, 0);
}

// A press on the menu bar opens a pop-up that takes the rest of the press: however the pop-up
// goes away, drawing goes on.
TEST_F(ViewerDialogTest, AMenuDismissedWhileStreamingKeepsPicturesComing) {
    camsim::CgiServer web;
    ASSERT_TRUE(web.start());
    camsim::FamilyACamera camera(web, {.model = 20, .capabilities = 1});
    writeSites({siteAt(u"Cam", u"127.0.0.1", web.port())});
    auto w = makeWindow(320, 400);
    ASSERT_TRUE(triggerCommand(w.get(), kCmdStart));
    ASSERT_TRUE(picturesShown(*w)) << w->statusText().toStdString();
    auto *picture = w->findChild<QtDisplayWidget *>();
    QMenuBar *bar = w->menuBar();
    const QPoint operate = bar->actionGeometry(bar->actions().front()).center();

    enum class Dismiss { releaseThenEscape, escapeOnly, clickOutside };
    for (Dismiss how : {Dismiss::releaseThenEscape, Dismiss::escapeOnly, Dismiss::clickOutside}) {
        SCOPED_TRACE(static_cast<int>(how));
        QTest::mousePress(bar, Qt::LeftButton, {}, operate);
        QWidget *popup = QApplication::activePopupWidget();
        ASSERT_NE(popup, nullptr);
        EXPECT_EQ(pipeline().inputBusy.load(), 1);
        switch (how) {
            case Dismiss::releaseThenEscape:
                QTest::mouseRelease(popup, Qt::LeftButton, {}, QPoint(5, 5));
                QTest::keyClick(popup, Qt::Key_Escape);
                break;
            case Dismiss::escapeOnly:
                QTest::keyClick(popup, Qt::Key_Escape);
                break;
            case Dismiss::clickOutside:
                QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(-20, -20));
                break;
        }
        ASSERT_TRUE(pumpUntil([] { return QApplication::activePopupWidget() == nullptr; }));
        const std::size_t before = picture->framesReceived();
        EXPECT_TRUE(pumpUntil([&] { return picture->framesReceived() >= before + 5; }, 10000))
            << "drawing stays paused: busy " << int(pipeline().inputBusy);
        EXPECT_EQ(pipeline().inputBusy.load(), 0);
        QTest::mouseRelease(w.get(), Qt::LeftButton, {}, QPoint(5, 5));  // a clean slate
    }
}

TEST_F(ViewerDialogTest, StopAndSiteChangesLeaveNoStalePicture) {
    camsim::CgiServer web;
    ASSERT_TRUE(web.start());
    camsim::FamilyACamera camera(web, {.model = 20, .capabilities = 1});
    SiteRecord dead = siteAt(u"Dead", u"127.0.0.1", closedPort());
    dead.protocolType = 1;  // refused at once, and the stream connection fails with -7
    writeSites({siteAt(u"Cam", u"127.0.0.1", web.port()), dead});
    auto w = makeWindow(320, 400);
    auto *picture = w->findChild<QtDisplayWidget *>();
    auto shows = [&](const QString &state) {
        return pumpUntil(
            [&] { return picture->stateText() == state && allBlack(picture->image()); });
    };

    ASSERT_TRUE(triggerCommand(w.get(), kCmdStart));
    ASSERT_TRUE(picturesShown(*w)) << w->statusText().toStdString();
    EXPECT_TRUE(picture->stateText().isEmpty());
    ASSERT_TRUE(triggerCommand(w.get(), kCmdStop));
    EXPECT_TRUE(shows(QStringLiteral("Stopped")));

    ASSERT_TRUE(triggerCommand(w.get(), kCmdStart));
    ASSERT_TRUE(picturesShown(*w)) << w->statusText().toStdString();
    // Another site, one that fails: its name at once, then what went wrong.
    siteChoice_ = 1;
    ASSERT_TRUE(triggerCommand(w.get(), kCmdSite));
    // At once, before the new site has said anything (it may have by now: a second line).
    EXPECT_TRUE(allBlack(w->qtDisplay().presentedFrame()));
    EXPECT_EQ(w->qtDisplay().presentedState().rfind(u"Connecting to Dead\u2026", 0), 0u)
        << QString::fromStdU16String(w->qtDisplay().presentedState()).toStdString();
    EXPECT_TRUE(pumpUntil(
        [&] {
            return picture->stateText() ==
                       QStringLiteral("Connecting to Dead\u2026\nConnection refused: nothing "
                                      "listens on that port (IPCAM_SETSOCKET_IS_ER)") &&
                   allBlack(picture->image());
        },
        10000))
        << picture->stateText().toStdString();
}

TEST_F(ViewerDialogTest, TheLastSiteAndItsStreamComeBackAtTheNextStart) {
    const uint16_t port = closedPort();
    writeSites({siteAt(u"Gate", u"127.0.0.1", port), siteAt(u"Yard", u"127.0.0.1", port)});
    {
        auto w = makeWindow();
        EXPECT_EQ(siteName(w->currentSite()), u"Gate");
        siteChoice_ = 1;
        ASSERT_TRUE(triggerCommand(w.get(), kCmdSite));
        ASSERT_TRUE(triggerCommand(w.get(), kCmdStream1 + 2));
        ASSERT_TRUE(triggerCommand(w.get(), kCmdExit));
    }
    auto again = makeWindow();
    EXPECT_EQ(siteName(again->currentSite()), u"Yard");
    EXPECT_EQ(again->currentSite().streamNumber, 2);
    EXPECT_EQ(again->siteInfoText(),
              QStringLiteral("SITE:  Yard\n127.0.0.1:%1 STREAM3 (Small)").arg(port));
    // The site file itself is as it was.
    SiteList sites;
    ASSERT_TRUE(sites.load(dir_));
    EXPECT_EQ(sites.at(1)->streamNumber, 0);
}

TEST_F(ViewerDialogTest, ViewsASimulatedCameraEndToEnd) {
    camsim::CgiServer web;
    ASSERT_TRUE(web.start());
    web.setCredentials("admin", "secret");
    camsim::FamilyACamera camera(web, {.model = 20, .capabilities = 1});
    SiteRecord site = siteAt(u"Cam", u"127.0.0.1", web.port());
    std::strcpy(site.password, "secret");
    writeSites({site});
    auto w = makeWindow(640, 600);
    ASSERT_TRUE(triggerCommand(w.get(), kCmdStart));
    ASSERT_TRUE(w->viewing());

    // Pictures are drawn on the window's frame buffer and presented.
    auto *picture = w->findChild<QtDisplayWidget *>();
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(pumpUntil(
        [&] {
            // The camera may be asked for a smaller picture meanwhile: look at the whole area.
            const QImage image = picture->image();
            int lit = 0;
            for (int y = 0; y < 480 && y < image.height(); y += 8)
                for (int x = 0; x < image.width(); x += 8)
                    lit += image.pixel(x, y) != qRgb(0, 0, 0);
            return lit > 100 && w->statusText().startsWith("R:");
        },
        20000))
        << w->statusText().toStdString() << " busy " << int(pipeline().inputBusy) << " new "
        << int(pipeline().newPicture) << " rotate " << int(pipeline().rotateMode) << " frames "
        << picture->framesReceived() << " image " << picture->image().width() << "x"
        << picture->image().height() << " screen " << w->qtDisplay().screenWidth() << "x"
        << w->qtDisplay().screenHeight() << " buffer " << pipeline().pictureBuffer.size();

    ASSERT_TRUE(triggerCommand(w.get(), kCmdSnapshot));
    EXPECT_TRUE(pumpUntil(
        [&] {
            for (const std::string &name : kestrel_test::filesIn(dir_))
                if (name.ends_with(".jpg")) return true;
            return false;
        },
        5000));

    ASSERT_TRUE(triggerCommand(w.get(), kCmdPtzControl));
    ASSERT_TRUE(triggerCommand(w.get(), kBtnUp));
    QTest::keyClick(w.get(), Qt::Key_6);  // right
    const camsim::HeadState head = camera.head();
    EXPECT_EQ(head.tilt, 1);
    EXPECT_EQ(head.pan, 1);

    ASSERT_TRUE(triggerCommand(w.get(), kCmdStop));
    EXPECT_FALSE(w->viewing());
    EXPECT_EQ(w->statusText(), "Stop");
    EXPECT_TRUE(pumpUntil([&] {
        return qobject_cast<QLabel *>(findControl(w.get(), kCtlStatus))->text() == "Stop";
    }));
}

}  // namespace
}  // namespace kestrel
