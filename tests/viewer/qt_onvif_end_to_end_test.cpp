// An ONVIF camera from the search to the wall, against the simulator's ONVIF device and the
// library's own discovery and profile reading: Find cameras finds it, the editor reads its
// profiles once the account is typed, the H.264 profile is saved, and the site plays (each
// tile with the profile it asks for) and turns its head.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include "camsim/cgi_server.h"
#include "camsim/onvif_device.h"
#include "camsim/onvif_options.h"
#include "camsim/options.h"
#include "camsim/rtsp_server.h"
#include "ipcam.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "viewer/command_ids.h"
#include "viewer/main_window_model.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_find_cameras_dialog.h"
#include "viewer/qt_site_editor_dialog.h"
#include "viewer/qt_site_list_dialog.h"
#include "viewer/site_list.h"
#include "viewer/wall_tile.h"

namespace kestrel {
namespace {

// A UDP port free at the moment, for the discovery of this test alone.
uint16_t unusedUdpPort() {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    const bool ok = bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
                    getsockname(s, reinterpret_cast<sockaddr *>(&a), &size) == 0;
    close(s);
    return ok ? ntohs(a.sin_port) : 0;
}

// kestrel-camsim --onvif, in this process: a Motion-JPEG and an H.264 channel, one profile each.
struct OnvifSimulator {
    camsim::CgiServer web;
    camsim::StreamingServer streaming;
    std::unique_ptr<camsim::OnvifDevice> device;

    bool start(uint16_t discoveryPort) {
        std::string error;
        const auto options = camsim::parseOptions(
            {"--onvif", "--discovery-port", std::to_string(discoveryPort), "--onvif-name",
             "Porch dome", "--channel", "jpeg:176x144@10", "--channel", "h264:320x240@10"},
            error);
        if (!options) return false;
        const auto camera = camsim::applyDevice(*options, streaming, web);
        device = camsim::makeOnvifDevice(*options, streaming, web, camera);
        return device && web.start() && streaming.start() && device->startDiscovery();
    }
    std::string url() const {
        return "http://127.0.0.1:" + std::to_string(web.port()) + "/onvif/device_service";
    }
};

template <class T>
T *modal() {
    return qobject_cast<T *>(QApplication::activeModalWidget());
}

TEST(OnvifEndToEnd, AFoundCameraIsSavedWithItsH264ProfileAndPlays) {
    kestrel_test::qtApp();
    // With a port of its own the search stays on the loopback interface.
    const uint16_t discoveryPort = unusedUdpPort();
    ASSERT_NE(discoveryPort, 0);
    setenv("IPCAM_DISCOVERY_PORT", std::to_string(discoveryPort).c_str(), 1);
    OnvifSimulator sim;
    ASSERT_TRUE(sim.start(discoveryPort));
    ASSERT_EQ(sim.device->profiles().size(), 2u);

    kestrel_test::TempDir temp;
    SiteList list;
    SiteListDialog dialog(list, temp.path, false);  // the library's search and profiles
    bool found = false, profiled = false;
    // Timers, not posted calls: the waits inside must see the answers posted meanwhile.
    QTimer::singleShot(10, &dialog, [&] {
        auto *finder = modal<FindCamerasDialog>();
        ASSERT_NE(finder, nullptr);
        int row = -1;
        if (kestrel_test::pumpUntil([&] { return !finder->searching(); }, 10000)) {
            for (std::size_t i = 0; i < finder->devices().size(); ++i)
                if (finder->devices()[i].url == sim.url()) row = static_cast<int>(i);
        }
        found = row >= 0;
        if (!found) {
            finder->reject();
            return;
        }
        // The editor opens once the search has closed: look for it until it does.
        auto *poll = new QTimer(&dialog);
        QObject::connect(poll, &QTimer::timeout, &dialog, [&, poll] {
            auto *editor = modal<SiteEditorDialog>();
            if (!editor) return;
            poll->stop();
            poll->deleteLater();
            const auto edit = [&](int id) {
                return qobject_cast<QLineEdit *>(findControl(editor, id));
            };
            EXPECT_EQ(edit(kCtlEditorName)->text(), "Porch dome");
            QTest::keyClicks(edit(kCtlEditorAccount), "admin");
            QTest::keyClicks(edit(kCtlEditorPassword), "secret");
            QTest::keyClick(edit(kCtlEditorPassword), Qt::Key_Return);  // typing alone reads nothing
            auto *profiles = qobject_cast<QComboBox *>(findControl(editor, kCtlEditorProfileList));
            profiled = kestrel_test::pumpUntil([&] { return profiles->count() == 2; }, 10000);
            if (!profiled) {
                editor->reject();
                return;
            }
            profiles->setCurrentIndex(profiles->findText("H264", Qt::MatchContains));
            triggerCommand(editor, kCmdEditorOk);
        });
        poll->start(10);
        qobject_cast<QListWidget *>(findControl(finder, kCtlFindList))->setCurrentRow(row);
        triggerCommand(finder, kCmdFindChoose);
    });
    ASSERT_TRUE(triggerCommand(&dialog, kCmdSiteFind));
    ASSERT_TRUE(found) << "the simulator did not answer the search";
    ASSERT_TRUE(profiled) << "the profiles never came";

    ASSERT_EQ(list.size(), 1u);
    const SiteRecord site = *list.at(0);
    EXPECT_EQ(siteName(site), u"Porch dome");
    EXPECT_EQ(QString::fromStdU16String(siteHost(site)).toStdString(), sim.url());
    EXPECT_EQ(site.protocolType, kProtocolOnvif);
    EXPECT_EQ(site.streamNumber, 1);  // the H.264 channel's profile
    EXPECT_EQ(siteAccount(site), "admin");
    SiteList saved;
    ASSERT_TRUE(saved.load(temp.path));
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(0, std::memcmp(saved.at(0), &site, sizeof site));

    // It plays: the site's own profile, and a tile that asks for profile 0 gets that one.
    WallTile own(site, -1), first(site, 0);
    ASSERT_TRUE(own.start());
    ASSERT_TRUE(first.start());
    WallTile::Picture ownPicture, firstPicture;
    ASSERT_TRUE(kestrel_test::waitFor(
        [&] { return own.newerPicture(0, ownPicture) && first.newerPicture(0, firstPicture); },
        20000))
        << QString::fromStdU16String(own.problem() + u" / " + first.problem()).toStdString();
    EXPECT_EQ(ownPicture.width, 320);
    EXPECT_EQ(ownPicture.height, 240);
    EXPECT_EQ(firstPicture.width, 176);
    EXPECT_EQ(firstPicture.height, 144);

    // The pan/tilt keys' request turns the profile's head.
    PtzRequest left = ptzActionRequest(kPtzLeft);
    EXPECT_EQ(IPCamCommand(own.session(), &left, nullptr), 1);
    const int head = sim.device->profiles()[1].headChannel;
    EXPECT_TRUE(kestrel_test::waitFor([&] { return sim.device->head().position(head).pan < 0; },
                                      5000));
    unsetenv("IPCAM_DISCOVERY_PORT");
}

}  // namespace
}  // namespace kestrel
