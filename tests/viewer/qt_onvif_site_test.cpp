// ONVIF sites in the dialogs, with the device's answers made up here: Find cameras, the
// editor's profile list, and what OK takes.
#include "viewer/qt_find_cameras_dialog.h"
#include "viewer/qt_onvif_profile_chooser.h"
#include "viewer/qt_site_editor_dialog.h"
#include "viewer/qt_site_list_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "viewer/command_ids.h"
#include "viewer/qt_commands.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

using Profiles = std::vector<OnvifProfileEntry>;
const std::string kHallUrl = "http://127.0.0.1:9/onvif/device_service";
const Profiles kTwoProfiles = {{0, "mainStream", "H264", 1920, 1080},
                               {1, "subStream", "H265", 640, 360}};

// A made-up device's profile reads: answered in turn (the last answer repeats), the read
// numbered held first waiting for the gate or its stop; what each was asked, "url account
// password".
struct FakeProfiles {
    std::vector<std::pair<int, Profiles>> answers;
    std::size_t held = ~std::size_t{0};
    std::shared_future<void> gate;
    std::mutex lock;
    std::vector<std::string> asked;
    int returned = 0;
    std::atomic<int> stopped{0};

    int count(bool answered) {
        std::lock_guard hold(lock);
        return answered ? returned : static_cast<int>(asked.size());
    }
};

// The function keeps the fake alive: a read may still run when its dialog has gone.
OnvifReadProfiles readFrom(const std::shared_ptr<FakeProfiles> &fake) {
    return [fake](const std::string &url, const std::string &account, const std::string &password,
                  const OnvifStopped &stopped, Profiles &found) {
        std::size_t n;
        {
            std::lock_guard hold(fake->lock);
            n = fake->asked.size();
            fake->asked.push_back(url + " " + account + " " + password);
        }
        while (n == fake->held && fake->gate.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            if (!stopped()) continue;
            ++fake->stopped;
            return static_cast<int>(IPCAM_IS_OVER);
        }
        const auto &[result, profiles] = fake->answers[std::min(n, fake->answers.size() - 1)];
        found = profiles;
        std::lock_guard hold(fake->lock);
        ++fake->returned;
        return result;
    };
}

template <class T>
T *onvifControl(const QWidget *root, int id) {
    return qobject_cast<T *>(findControl(root, id));
}

QStringList profileTexts(const QWidget *editor) {
    QStringList texts;
    const auto *combo = onvifControl<QComboBox>(editor, kCtlEditorProfileList);
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
}

SiteRecord onvifSite(const char16_t *account, uint8_t profile) {
    SiteRecord s = defaultSiteRecord();
    setSiteName(s, u"Dome");
    setSiteHost(s, std::u16string(kHallUrl.begin(), kHallUrl.end()));
    setSiteAccount(s, account);
    setSitePassword(s, u"");
    s.port = 0;
    s.protocolType = kProtocolOnvif;
    s.streamNumber = profile;
    return s;
}

class OnvifSiteTest : public testing::Test {
  protected:
    void SetUp() override { kestrel_test::qtApp(); }
    std::shared_ptr<FakeProfiles> fake = std::make_shared<FakeProfiles>();
};

TEST_F(OnvifSiteTest, FindCamerasCountsTheSecondsThenListsWhatAnsweredOrSaysWhyNot) {
    const OnvifDevice hall{kHallUrl, "Hall", "Acme X1"}, bare{"http://127.0.0.2:9/x", "", ""},
        away{"http://192.0.2.2/onvif/device_service", "Hall", "", "127.0.0.1", true},
        twin{kHallUrl, "Hall", "", "127.0.0.1", false, true};
    const struct {
        int result;
        std::vector<OnvifDevice> devices;
        QStringList listed;
        const char *message;
    } rows[] = {
        {2,
         {hall, bare},
         {"Hall (Acme X1)\n" + QString::fromStdString(kHallUrl), "http://127.0.0.2:9/x"},
         "2 cameras answered: choose one to add it as a site."},
        {2,
         {away, twin},
         {"Hall\nhttp://192.0.2.2/onvif/device_service\nanswered from 127.0.0.1, points to 192.0.2.2",
          "Hall\n" + QString::fromStdString(kHallUrl) + "\nanother answer claims the same camera"},
         "2 cameras answered"},
        {0, {}, {}, "No ONVIF camera answered within 3 seconds. "},
        {-1, {}, {}, "The search for cameras could not run: The connection failed (IPCAM_IS_NULL)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.result);
        std::promise<void> release;
        auto seconds = std::make_shared<int>(0);
        FindCamerasDialog finder([&row, seconds, gate = release.get_future().share()](
                                     int s, const OnvifStopped &, std::vector<OnvifDevice> &found) {
            gate.wait();
            *seconds = s;
            found = row.devices;
            return row.result;
        });
        auto *bar = onvifControl<QProgressBar>(&finder, kCtlFindProgress);
        EXPECT_FALSE(triggerCommand(&finder, kCmdFindChoose));  // nothing to choose yet
        EXPECT_TRUE(kestrel_test::pumpUntil([&] { return bar->value() >= 200; }));
        release.set_value();
        ASSERT_TRUE(kestrel_test::pumpUntil([&] { return !finder.searching(); }));
        EXPECT_EQ(*seconds, 3);
        EXPECT_TRUE(bar->isHidden());
        QStringList listed;
        const auto *list = onvifControl<QListWidget>(&finder, kCtlFindList);
        for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
        EXPECT_EQ(listed, row.listed);
        const QString message = onvifControl<QLabel>(&finder, kCtlFindMessage)->text();
        EXPECT_TRUE(message.startsWith(row.message)) << message.toStdString();
        EXPECT_EQ(findAction(&finder, kCmdFindChoose)->isEnabled(), !row.devices.empty());
    }
}

// The camera chosen is edited as an ONVIF site with its name and URL and no account yet, and
// is added as New adds a site.
TEST_F(OnvifSiteTest, ChoosingAFoundCameraOpensTheEditorOnIt) {
    kestrel_test::TempDir temp;
    SiteList list;
    list.append(defaultSiteRecord());
    SiteListDialog dialog(list, temp.path, false);
    dialog.discover = [](int, const OnvifStopped &, std::vector<OnvifDevice> &found) {
        found = {{kHallUrl, "Hall", ""}, {"http://127.0.0.2:9/x", std::string(120, 'n'), "Acme"}};
        return 2;
    };
    std::vector<SiteRecord> given;
    dialog.runEditor = [&](SiteRecord &r) {
        given.push_back(r);
        setSiteAccount(r, u"admin");
        return SiteListDialog::EditorResult{true, false};
    };
    // A timer, not a posted call: the wait inside must see the answer posted meanwhile.
    QTimer::singleShot(10, &dialog, [&] {
        auto *finder = qobject_cast<FindCamerasDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(finder, nullptr);
        EXPECT_TRUE(kestrel_test::pumpUntil([&] { return !finder->searching(); }));
        onvifControl<QListWidget>(finder, kCtlFindList)->setCurrentRow(1);
        if (!triggerCommand(finder, kCmdFindChoose)) finder->reject();
    });
    ASSERT_TRUE(triggerCommand(&dialog, kCmdSiteFind));
    ASSERT_EQ(given.size(), 1u);
    EXPECT_EQ(given[0].protocolType, kProtocolOnvif);
    EXPECT_EQ(siteHost(given[0]), u"http://127.0.0.2:9/x");
    EXPECT_EQ(siteName(given[0]), std::u16string(99, u'n'));
    EXPECT_EQ(siteAccount(given[0]), "");
    EXPECT_EQ(sitePassword(given[0]), "");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(siteAccount(*list.at(1)), "admin");
    EXPECT_EQ(dialog.listBox()->currentRow(), 1);
    const std::vector<uint8_t> bytes = serializeSiteRecords(list.records());
    EXPECT_EQ(kestrel_test::readFile(temp.path + "/" + kSiteListUserFile),
              std::string(bytes.begin(), bytes.end()));
}

// A site whose URL and account are known reads its profiles by itself and shows its own
// chosen; a failed read says why with the status's name and keeps the profile. Either way the
// record comes back from OK byte for byte.
TEST_F(OnvifSiteTest, TheProfileListShowsTheSitesProfileOrWhyItCouldNotBeRead) {
    const struct {
        int result;
        const char *state;
    } rows[] = {
        {2, "The camera has 2 profiles"},
        {IPCAM_USER_OR_PASSWD_IS_ER,
         "The profiles could not be read: Wrong account or password (IPCAM_USER_OR_PASSWD_IS_ER)"},
        {IPCAM_ONVIF_NOT_DEVICE, "The profiles could not be read: The address does not answer as "
                                 "an ONVIF device (IPCAM_ONVIF_NOT_DEVICE)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.result);
        fake = std::make_shared<FakeProfiles>();
        fake->answers = {{row.result, row.result > 0 ? kTwoProfiles : Profiles{}}, {2, kTwoProfiles}};
        const SiteRecord given = onvifSite(u"admin", 1);
        SiteEditorDialog editor(given, false);
        editor.profileChooser()->readProfiles = readFrom(fake);
        EXPECT_FALSE(findControl(&editor, kCtlEditorPort)->isVisibleTo(&editor));
        EXPECT_FALSE(findControl(&editor, kCtlEditorStreamList)->isVisibleTo(&editor));
        ASSERT_TRUE(kestrel_test::pumpUntil([&] {
            return fake->count(true) == 1 && !editor.profileChooser()->reading();
        }));
        EXPECT_EQ(onvifControl<QLabel>(&editor, kCtlEditorProfileState)->text(), row.state);
        const QStringList listed{"0: mainStream H264 1920x1080", "1: subStream H265 640x360"};
        EXPECT_EQ(profileTexts(&editor), row.result > 0 ? listed : QStringList());
        if (row.result == IPCAM_USER_OR_PASSWD_IS_ER) {  // not sent again as it is
            ASSERT_TRUE(triggerCommand(&editor, kCtlEditorProfileRead));
            EXPECT_EQ(fake->count(false), 1);
            EXPECT_TRUE(onvifControl<QLabel>(&editor, kCtlEditorProfileState)->text().startsWith("The camera refused this account"));
            QTest::keyClicks(onvifControl<QLineEdit>(&editor, kCtlEditorPassword), "x");
        }
        if (row.result < 0) {  // Read profiles asks once more
            ASSERT_TRUE(triggerCommand(&editor, kCtlEditorProfileRead));
            ASSERT_TRUE(kestrel_test::pumpUntil([&] { return profileTexts(&editor).size() == 2; }));
        }
        EXPECT_EQ(onvifControl<QComboBox>(&editor, kCtlEditorProfileList)->currentIndex(), 1);
        ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
        if (row.result != IPCAM_USER_OR_PASSWD_IS_ER) {
            EXPECT_EQ(0, std::memcmp(&editor.record(), &given, sizeof given));
        }
    }
}

// Typing reads nothing; leaving the field with the URL and account complete reads at once. A
// newer request stops the read running and follows it, and the choice is the site's.
TEST_F(OnvifSiteTest, ReadsOnlyWhenAskedAndTheNewestAnswerFillsTheList) {
    std::promise<void> never;  // the first read ends by its stop only
    fake->gate = never.get_future().share();
    fake->held = 0;
    fake->answers = {{2, kTwoProfiles}, {1, {{4, "third", "JPEG", 0, 0}}}};
    SiteEditorDialog editor(onvifSite(u"", 0), false);
    editor.profileChooser()->readProfiles = readFrom(fake);
    auto *account = onvifControl<QLineEdit>(&editor, kCtlEditorAccount);
    QTest::keyClicks(account, "admin");
    EXPECT_FALSE(kestrel_test::pumpUntil([&] { return fake->count(false) > 0; }, 900));
    QTest::keyClick(account, Qt::Key_Return);
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return fake->count(false) == 1; }));
    QTest::keyClick(account, Qt::Key_Backspace);
    QTest::keyClick(account, Qt::Key_Return);
    const QStringList newer{"4: third JPEG"};
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return profileTexts(&editor) == newer; }));
    EXPECT_EQ(fake->stopped, 1);
    EXPECT_EQ(fake->asked, (std::vector<std::string>{kHallUrl + " admin ", kHallUrl + " admi "}));
    ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
    EXPECT_EQ(editor.record().streamNumber, 4);
    EXPECT_EQ(siteAccount(editor.record()), "admi");
}

// A device URL cut to the field would name another device: one too long is refused, as is one
// that is not http://, and the editor stays with the record as given.
TEST_F(OnvifSiteTest, OkRefusesAnOnvifUrlItCouldNotKeep) {
    const std::string base = "http://cam.example:8080/onvif/";
    const struct {
        std::string url;
        const char *problem;  // null: accepted
    } rows[] = {
        {base + std::string(kSiteTextUnits - base.size(), 'd'), nullptr},
        {"HTTP://127.0.0.1/onvif/device_service", nullptr},
        {base + std::string(kSiteTextUnits + 1 - base.size(), 'd'),
         "This URL has 100 characters; a site's URL may have at most 99."},
        {"rtsp://127.0.0.1/onvif/device_service",
         "An ONVIF camera's URL starts with http://, as in http://192.0.2.7/onvif/device_service."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.url);
        const SiteRecord given = onvifSite(u"", 3);
        SiteEditorDialog editor(given, false);
        editor.profileChooser()->readProfiles = readFrom(fake);
        onvifControl<QLineEdit>(&editor, kCtlEditorAddress)->setText(QString::fromStdString(row.url));
        ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
        const auto *problem = onvifControl<QLabel>(&editor, kCtlEditorAddressProblem);
        EXPECT_EQ(editor.result() == QDialog::Accepted, !row.problem);
        EXPECT_EQ(problem->isHidden(), !row.problem);
        if (!row.problem) {
            EXPECT_EQ(siteHost(editor.record()), std::u16string(row.url.begin(), row.url.end()));
            EXPECT_EQ(editor.record().streamNumber, 3);  // nothing read: the profile stays
            continue;
        }
        EXPECT_EQ(problem->text(), row.problem);
        EXPECT_EQ(0, std::memcmp(&editor.record(), &given, sizeof given));
    }
    EXPECT_EQ(fake->count(false), 0);  // no account: nothing was read
}

}  // namespace
}  // namespace kestrel
