// The main window offscreen: commands by id, keys, the site texts, the button panel and the
// watchdog (the runs against a simulated camera are in qt_viewer_camera_test.cpp).
#include "viewer/qt_viewer_dialog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "platform/message.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "viewer/command_ids.h"
#include "viewer/data_directory.h"
#include "viewer/pipeline_state.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_viewer_fixture.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

using kestrel_test::pumpUntil;
using kestrel_test::siteAt;
using kestrel_test::ViewerDialogTest;

TEST_F(ViewerDialogTest, StartsStoppedWithTheScreenAndTheFirstSite) {
    SiteRecord middle = siteAt(u"Yard", u"", 8080);
    middle.videoSize = 4;  // shown as Middle
    writeSites({middle, siteAt(u"Other", u"", 80)});
    auto w = makeWindow(320, 400);
    EXPECT_EQ(w->windowTitle(), "Kestrel");
    EXPECT_EQ(w->statusText(), "V2.34.0 Scr: 320X400");
    EXPECT_EQ(pipeline().landscape.load(), 0);
    EXPECT_EQ(w->siteInfoText(), "SITE:  Yard\n:8080 STREAM1 (Middle)");
    EXPECT_FALSE(w->viewing());
    EXPECT_EQ(w->qtDisplay().presentedState(),
              u"Yard has no address: set one with Site, Manage, Edit");
    // Without ICMP rights the library has said so already; nothing else is shown.
    for (const QString &m : messages_) EXPECT_EQ(m, "Can't initiate the ping functions.");
    EXPECT_EQ(pipeline().pictureBuffer.size(), std::size_t(3840) * 2160 * 3);
    // The library's messages reach the window's message box.
    messages_.clear();
    ipcam::showMessage("Can't initiate the ping functions.", "error");
    EXPECT_EQ(messages_, std::vector<QString>{"Can't initiate the ping functions."});
}

TEST_F(ViewerDialogTest, EmptyListAndLowMemory) {
    memory_ = std::size_t(3840) * 2160 * 3 * 3;  // exactly three buffers: too little
    auto w = makeWindow(400, 300);
    EXPECT_EQ(pipeline().landscape.load(), 1);
    EXPECT_EQ(w->siteInfoText(), "SITE:  --------\n-.-.-.- : - (---)");
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), "Out of memory!!!Viewer will not support Mega-Pixel.");
    EXPECT_EQ(pipeline().admission.maxWidth.load(), 720);
    EXPECT_EQ(pipeline().pictureBuffer.size(), 1244160u);
    w.reset();
    pipeline().admission.maxWidth = kLargestPictureWidth;
    pipeline().admission.maxHeight = kLargestPictureHeight;
}

TEST_F(ViewerDialogTest, ButtonPanelPlacesAndShowsTheButtons) {
    auto w = makeWindow(240, 320);
    const int top = w->menuBar()->geometry().top();
    const int h = QFontMetrics(findControl(w.get(), kCtlSiteInfo)->font()).height();
    const MainLayout expected = layoutMainWindow(top, 0, 240, h, 240);
    for (const ButtonPlace &b : expected.buttons) {
        auto *button = qobject_cast<QPushButton *>(findControl(w.get(), b.id));
        ASSERT_NE(button, nullptr) << b.id;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.caption));
        EXPECT_EQ(button->geometry(),
                  QRect(b.rect.left, b.rect.top, b.rect.width(), b.rect.height()));
        EXPECT_TRUE(button->isHidden());
    }
    QWidget *info = findControl(w.get(), kCtlSiteInfo);
    EXPECT_EQ(info->geometry().width(), expected.siteInfo.width());

    ASSERT_TRUE(triggerCommand(w.get(), kCmdPtzControl));
    EXPECT_TRUE(w->panelShown());
    for (const ButtonPlace &b : expected.buttons) {
        const bool output = b.id == kBtnOutput1 || b.id == kBtnOutput2;
        EXPECT_EQ(findControl(w.get(), b.id)->isHidden(), output) << b.id;
    }
    EXPECT_EQ(info->geometry().width(), 1);
    EXPECT_EQ(findControl(w.get(), kCtlStatus)->geometry().width(), 1);
    ASSERT_TRUE(triggerCommand(w.get(), kCmdPtzControl));
    EXPECT_TRUE(findControl(w.get(), kBtnUp)->isHidden());
    EXPECT_EQ(info->geometry().width(), expected.siteInfo.width());
}

TEST_F(ViewerDialogTest, CommandsThatNeedNoCamera) {
    writeSites({siteAt(u"Gate", u"", 80)});  // no host: Start views nothing
    auto w = makeWindow();
    PipelineState &p = pipeline();

    ASSERT_TRUE(triggerCommand(w.get(), kCmdStream1 + 15));
    EXPECT_EQ(w->currentSite().streamNumber, 15);
    EXPECT_EQ(w->siteInfoText(), "SITE:  Gate\n:80 STREAM16 (Small)");
    EXPECT_EQ(w->statusText(), "Gate has no address: set one with Site, Manage, Edit");
    EXPECT_FALSE(w->viewing());

    // The channel items and the status line do nothing.
    const SiteRecord before = w->currentSite();
    w->setStatusText(u"unchanged");
    p.inputBusy = 1;
    for (int id : {kCmdChannelAll, kCmdChannel1, kCmdChannel1 + 15, kCtlStatus}) w->onCommand(id);
    EXPECT_EQ(std::memcmp(&before, &w->currentSite(), sizeof before), 0);
    EXPECT_EQ(w->statusText(), "unchanged");
    EXPECT_EQ(p.inputBusy.load(), 1);

    // Commands that end in the viewer clear inputBusy.
    for (int id : {kCmdSnapshot, kCmdInfoHide, kCmdInfoShow, kBtnUp, kBtnOutput1}) {
        p.inputBusy = 1;
        w->onCommand(id);
        EXPECT_EQ(p.inputBusy.load(), 0) << id;
    }
    w->onCommand(kCmdInfoHide);
    EXPECT_TRUE(findControl(w.get(), kCtlSiteInfo)->isHidden());
    EXPECT_TRUE(findControl(w.get(), kCtlStatus)->isHidden());
    w->onCommand(kCmdInfoShow);
    EXPECT_FALSE(findControl(w.get(), kCtlSiteInfo)->isHidden());

    ASSERT_TRUE(triggerCommand(w.get(), kCmdPacketData));
    EXPECT_EQ(packetData_, 1);
    EXPECT_EQ(w->statusText(), "Stop");

    ASSERT_TRUE(triggerCommand(w.get(), kCmdExit));
    EXPECT_EQ(w->result(), QDialog::Accepted);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(ViewerDialogTest, LowLatencyIsAToggleKeptAcrossRestarts) {
    for (const bool expected : {true, false}) {
        SCOPED_TRACE(expected);
        {
            auto w = makeWindow();
            EXPECT_EQ(findAction(w.get(), kCmdLowLatency)->isChecked(), !expected);
            ASSERT_TRUE(triggerCommand(w.get(), kCmdLowLatency));
            EXPECT_EQ(findAction(w.get(), kCmdLowLatency)->isChecked(), expected);
            EXPECT_EQ(pipeline().lowLatency.load(), expected ? 1 : 0);
        }
        pipeline().lowLatency = 0;
        auto again = makeWindow();  // a restart reads the file
        EXPECT_EQ(findAction(again.get(), kCmdLowLatency)->isChecked(), expected);
        EXPECT_EQ(pipeline().lowLatency.load(), expected ? 1 : 0);
    }
}

TEST_F(ViewerDialogTest, StartAndSnapshotWithoutASiteSaySo) {
    const std::u16string noSite = u"No site chosen: pick or add one with Site";
    const std::u16string noHost = u"Gate has no address: set one with Site, Manage, Edit";
    const struct {
        std::vector<SiteRecord> sites;
        int command;
        std::u16string status;
    } cases[] = {
        {{}, kCmdStart, noSite},
        {{}, kCmdSnapshot, noSite},
        {{siteAt(u"Gate", u"", 80)}, kCmdStart, noHost},
        {{siteAt(u"Gate", u"", 80)}, kCmdSnapshot, noHost},
        {{siteAt(u"Gate", u"127.0.0.1", 80)}, kCmdSnapshot, u"Nothing to save: choose Start first"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.sites.size() << " " << c.command);
        writeSites(c.sites);
        auto w = makeWindow();
        ASSERT_TRUE(triggerCommand(w.get(), c.command));
        EXPECT_FALSE(w->viewing());
        EXPECT_EQ(w->statusText().toStdU16String(), c.status);
        if (c.command == kCmdStart) {
            EXPECT_EQ(w->qtDisplay().presentedState(), c.status);
        }
    }
}

TEST_F(ViewerDialogTest, EnterTwiceRestoresTheModeAndTheWindows) {
    auto w = makeWindow();
    QWidget *info = findControl(w.get(), kCtlSiteInfo), *status = findControl(w.get(), kCtlStatus);
    QTest::keyClick(w.get(), Qt::Key_Return);
    EXPECT_EQ(pipeline().rotateMode.load(), 1);
    EXPECT_TRUE(info->isHidden() && status->isHidden());
    EXPECT_TRUE(w->isVisible());  // the key was consumed, the dialog did not end
    QTest::keyClick(w.get(), Qt::Key_Enter);
    EXPECT_EQ(pipeline().rotateMode.load(), 0);
    EXPECT_FALSE(info->isHidden() || status->isHidden());
    EXPECT_EQ(pipeline().inputBusy.load(), 0);
    QTest::keyClick(w.get(), Qt::Key_Escape);  // the Back key does not end the viewer
    EXPECT_TRUE(w->isVisible());
}

TEST_F(ViewerDialogTest, ArrowsPanWithinTheLimitsAndAlwaysRedraw) {
    auto w = makeWindow();
    PipelineState &p = pipeline();
    p.panXLimit = 2;
    p.panYLimit = 1;
    struct Step {
        Qt::Key key;
        int x, y;
    } steps[] = {
        {Qt::Key_Left, 0, 0},  {Qt::Key_Up, 0, 0},    {Qt::Key_Right, 1, 0},
        {Qt::Key_Right, 2, 0}, {Qt::Key_Right, 2, 0}, {Qt::Key_Down, 2, 1},
        {Qt::Key_Down, 2, 1},  {Qt::Key_Left, 1, 1},  {Qt::Key_Up, 1, 0},
    };
    for (const Step &s : steps) {
        p.newPicture = 0;
        QTest::keyClick(w.get(), s.key);
        EXPECT_EQ(p.panX.load(), s.x);
        EXPECT_EQ(p.panY.load(), s.y);
        EXPECT_EQ(p.newPicture.load(), 1);
    }
    p.panXLimit = p.panYLimit = 15;
}

TEST_F(ViewerDialogTest, StylusAndFirstSoftKeyPauseDrawing) {
    auto w = makeWindow();
    PipelineState &p = pipeline();
    QWidget *picture = w->childAt(10, 10);
    ASSERT_NE(picture, nullptr);
    QTest::mousePress(picture, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(p.inputBusy.load(), 1);
    QTest::mouseRelease(picture, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(p.inputBusy.load(), 0);
    QTest::keyPress(w.get(), Qt::Key_F1);
    EXPECT_EQ(p.inputBusy.load(), 1);
    QTest::keyRelease(w.get(), Qt::Key_F1);
    EXPECT_EQ(p.inputBusy.load(), 0);
}

TEST_F(ViewerDialogTest, WatchdogStopsAtExactlyTenAndOwnWindowsNeverCount) {
    // A desktop counts only while its screen is locked; a smartphone while it is covered too.
    const struct {
        bool smartphone, covered, locked;
        int stopAt;  // 0: never
        bool quits;
    } cases[] = {
        {false, true, false, 0, false},  // minimised or on another workspace: keeps playing
        {false, false, true, 10, false}, {false, true, true, 10, false},
        {true, true, false, 10, true},   {true, false, true, 10, true},
        {true, false, false, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.smartphone << c.covered << c.locked);
        auto w = makeWindow(240, 320, c.smartphone);
        covered_ = c.covered;
        locked_ = c.locked;
        std::vector<int> stops;
        for (int tick = 1; tick <= 30; ++tick) {
            w->setStatusText(u"viewing");
            w->watchdogTick();
            if (w->statusText() == "Stop") stops.push_back(tick);
        }
        EXPECT_EQ(stops, c.stopAt ? std::vector<int>{c.stopAt} : std::vector<int>{});
        EXPECT_TRUE(w->isVisible());
        w->watchdogTick();
        EXPECT_EQ(w->isVisible(), !c.quits);
    }
    auto w = makeWindow(240, 320, true);
    covered_ = false;
    locked_ = false;
    w->watchdogTick();
    EXPECT_EQ(w->occlusionCounter(), 0);

    // The ControlState word held by a Start or Stop skips the tick.
    covered_ = true;
    controlState() = kControlBusy;
    w->watchdogTick();
    EXPECT_EQ(w->occlusionCounter(), 0);
    controlState() = kControlIdle;

    // The real probe: the shown window, with one of our own message boxes over it.
    ViewerDialog::Options o;
    o.smartphone = true;
    ViewerDialog::Hooks quiet;
    quiet.screenLocked = [] { return false; };
    quiet.availableMemory = [] { return uint64_t(1) << 40; };
    quiet.message = [](const QString &) {};
    ViewerDialog plain(o, quiet);
    plain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
    QMessageBox box(QMessageBox::Information, "Kestrel", "ours", QMessageBox::Ok, &plain);
    box.show();
    for (int i = 0; i < 12; ++i) plain.watchdogTick();
    EXPECT_EQ(plain.occlusionCounter(), 0);
}

TEST_F(ViewerDialogTest, SmartphoneQuitsAfterThreeSecondsCovered) {
    auto w = makeWindow(240, 320, true);
    covered_ = true;
    for (int tick = 1; tick <= 30; ++tick) w->watchdogTick();
    EXPECT_TRUE(w->isVisible());
    w->watchdogTick();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->result(), QDialog::Rejected);
}

}  // namespace
}  // namespace kestrel
