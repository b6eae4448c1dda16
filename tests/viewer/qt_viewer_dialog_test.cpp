// The main window offscreen: commands by id, keys, the site texts, the button panel, the
// watchdog, and one run against a simulated camera (pictures, snapshot, PTZ, Stop).
#include "viewer/qt_viewer_dialog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "platform/message.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "viewer/command_ids.h"
#include "viewer/data_directory.h"
#include "viewer/pipeline_state.h"
#include "viewer/qt_commands.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

using kestrel_test::pumpUntil;

SiteRecord siteAt(const char16_t *name, const char16_t *host, uint32_t port) {
    SiteRecord s = defaultSiteRecord();
    std::u16string n(name), h(host);
    std::copy(n.begin(), n.end(), s.name);
    std::copy(h.begin(), h.end(), s.host);
    s.port = port;
    return s;
}

class ViewerDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        kestrel_test::qtApp();
        ASSERT_FALSE(dir_.empty());
        setDataDirectory(dir_);
        PipelineState &p = pipeline();
        p.rotateMode = p.inputBusy = p.newPicture = 0;
        p.panX = p.panY = 0;
        controlState() = kControlIdle;
    }
    void TearDown() override { setDataDirectory(""); }

    // A window with hooks that never block: no message boxes, plenty of memory.
    std::unique_ptr<ViewerDialog> makeWindow(int width = 320, int height = 400,
                                             bool smartphone = false) {
        ViewerDialog::Options o;
        o.width = width;
        o.height = height;
        o.smartphone = smartphone;
        ViewerDialog::Hooks h;
        h.covered = [this] { return covered_; };
        h.availableMemory = [this] { return memory_; };
        h.message = [this](const QString &text) { messages_.push_back(text); };
        h.bringUpPacketData = [this] { ++packetData_; };
        auto window = std::make_unique<ViewerDialog>(o, h);
        window->show();
        return window;
    }

    void writeSites(const std::vector<SiteRecord> &sites) {
        std::ofstream out(dir_ + "/SITE_LIST_USER.DAT", std::ios::binary);
        for (const SiteRecord &s : sites) out.write(reinterpret_cast<const char *>(&s), sizeof s);
    }

    kestrel_test::TempDir temp_;
    const std::string &dir_ = temp_.path;
    bool covered_ = false;
    uint64_t memory_ = uint64_t(1) << 40;
    std::vector<QString> messages_;
    int packetData_ = 0;
};

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
    // Without ICMP rights the library has said so already; nothing else is shown.
    for (const QString &m : messages_) EXPECT_EQ(m, "Can't initiate the ping functions.");
    EXPECT_EQ(pipeline().pictureBuffer.size(), std::size_t(1280) * 1024 * 3);
    // The library's messages reach the window's message box.
    messages_.clear();
    ipcam::showMessage("Can't initiate the ping functions.", "error");
    EXPECT_EQ(messages_, std::vector<QString>{"Can't initiate the ping functions."});
}

TEST_F(ViewerDialogTest, EmptyListAndLowMemory) {
    memory_ = std::size_t(1280) * 1024 * 3 * 3;  // exactly three buffers: too little
    auto w = makeWindow(400, 300);
    EXPECT_EQ(pipeline().landscape.load(), 1);
    EXPECT_EQ(w->siteInfoText(), "SITE:  --------\n-.-.-.- : - (---)");
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), "Out of memory!!!Viewer will not support Mega-Pixel.");
    EXPECT_EQ(pipeline().admission.maxWidth.load(), 720);
    EXPECT_EQ(pipeline().pictureBuffer.size(), 1244160u);
    w.reset();
    pipeline().admission.maxWidth = 1280;
    pipeline().admission.maxHeight = 1024;
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
        EXPECT_EQ(button->geometry(), QRect(b.rect.left, b.rect.top, b.rect.width(), b.rect.height()));
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
    EXPECT_EQ(w->statusText(), "Stop");  // Start stopped first and found no host
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
        {Qt::Key_Left, 0, 0}, {Qt::Key_Up, 0, 0},   {Qt::Key_Right, 1, 0}, {Qt::Key_Right, 2, 0},
        {Qt::Key_Right, 2, 0}, {Qt::Key_Down, 2, 1}, {Qt::Key_Down, 2, 1},  {Qt::Key_Left, 1, 1},
        {Qt::Key_Up, 1, 0},
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
    auto w = makeWindow();
    covered_ = true;
    std::vector<int> stops;
    for (int tick = 1; tick <= 25; ++tick) {
        w->setStatusText(u"viewing");
        w->watchdogTick();
        if (w->statusText() == "Stop") stops.push_back(tick);
    }
    EXPECT_EQ(stops, std::vector<int>{10});
    EXPECT_TRUE(w->isVisible());  // not a smartphone: it never quits
    covered_ = false;
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
    ViewerDialog::Hooks quiet;
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
                for (int x = 0; x < image.width(); x += 8) lit += image.pixel(x, y) != qRgb(0, 0, 0);
            return lit > 100 && w->statusText().startsWith("R:");
        },
        20000))
        << w->statusText().toStdString() << " busy " << int(pipeline().inputBusy)
        << " new " << int(pipeline().newPicture) << " rotate " << int(pipeline().rotateMode)
        << " frames " << picture->framesReceived() << " image " << picture->image().width() << "x"
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
