// ONVIF sites in the dialogs, with the device's answers made up here: Find cameras, the
// editor's profile list, and what OK takes.
#include "viewer/qt_find_cameras_dialog.h"
#include "viewer/qt_onvif_profile_chooser.h"
#include "viewer/qt_site_editor_dialog.h"
#include "viewer/qt_site_list_dialog.h"

#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
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

const std::string kHallUrl = "http://192.0.2.10/onvif/device_service";
const std::string kYardUrl = "http://192.0.2.11:8080/onvif/device_service";

const std::vector<OnvifProfileEntry> kTwoProfiles = {
    {0, "mainStream", "H264", 1920, 1080},
    {1, "subStream", "H265", 640, 360},
};

// A made-up device: its answers in order (the last one repeats), each held until released when
// asked, and what it was asked.
struct FakeDevice {
    struct Answer {
        int result = 0;
        std::vector<OnvifProfileEntry> profiles;
        std::vector<OnvifDevice> devices;
        bool held = false;
    };
    std::mutex lock;
    std::condition_variable released;
    bool open = false;
    std::vector<Answer> answers;
    std::vector<std::array<std::string, 3>> asked;  // url, account, password
    std::vector<int> seconds;
    int returned = 0;

    Answer next() {
        std::unique_lock hold(lock);
        const std::size_t n = asked.size() + seconds.size() - 1;
        Answer a = answers.at(std::min(n, answers.size() - 1));
        if (a.held) released.wait(hold, [this] { return open; });
        ++returned;
        return a;
    }
    void release() {
        std::lock_guard hold(lock);
        open = true;
        released.notify_all();
    }
    int returnedNow() {
        std::lock_guard hold(lock);
        return returned;
    }
    std::size_t askedNow() {
        std::lock_guard hold(lock);
        return asked.size();
    }
};

// The fake's functions keep it alive: a read may still run when its dialog has gone.
OnvifReadProfiles fakeProfiles(const std::shared_ptr<FakeDevice> &device) {
    return [device](const std::string &url, const std::string &account,
                    const std::string &password, std::vector<OnvifProfileEntry> &found) {
        {
            std::lock_guard hold(device->lock);
            device->asked.push_back({url, account, password});
        }
        FakeDevice::Answer a = device->next();
        found = a.profiles;
        return a.result;
    };
}

OnvifDiscover fakeDiscover(const std::shared_ptr<FakeDevice> &device) {
    return [device](int seconds, std::vector<OnvifDevice> &found) {
        {
            std::lock_guard hold(device->lock);
            device->seconds.push_back(seconds);
        }
        FakeDevice::Answer a = device->next();
        found = a.devices;
        return a.result;
    };
}

template <class T>
T *onvifControl(const QWidget *root, int id) {
    return qobject_cast<T *>(findControl(root, id));
}

QStringList comboTexts(const QWidget *root) {
    QStringList texts;
    const auto *combo = onvifControl<QComboBox>(root, kCtlEditorProfileList);
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
}

QString stateText(const QWidget *root) {
    return onvifControl<QLabel>(root, kCtlEditorProfileState)->text();
}

SiteRecord onvifSite(const std::string &url, const char16_t *account, uint8_t profile) {
    SiteRecord s = defaultSiteRecord();
    setSiteName(s, u"Dome");
    setSiteHost(s, std::u16string(url.begin(), url.end()));
    setSiteAccount(s, account);
    setSitePassword(s, u"secret");
    s.protocolType = kProtocolOnvif;
    s.streamNumber = profile;
    return s;
}

class OnvifSiteTest : public testing::Test {
  protected:
    void SetUp() override { kestrel_test::qtApp(); }
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
};

TEST_F(OnvifSiteTest, FindCamerasCountsTheSearchThenListsWhatAnsweredOrSaysWhyNot) {
    const OnvifDevice hall{kHallUrl, "Hall", "Acme X1"}, yard{kYardUrl, "", ""};
    const struct {
        int result;
        std::vector<OnvifDevice> devices;
        QStringList listed;
        const char *message;
    } rows[] = {
        {2,
         {hall, yard},
         {QString::fromStdString("Hall (Acme X1)\n" + kHallUrl), QString::fromStdString(kYardUrl)},
         "2 cameras answered: choose one to add it as a site."},
        {0, {}, {}, "No ONVIF camera answered within 3 seconds. "},
        {-1, {}, {}, "The search for cameras could not run: The connection failed (IPCAM_IS_NULL)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.result);
        device = std::make_shared<FakeDevice>();
        device->answers = {{row.result, {}, row.devices, true}};
        FindCamerasDialog finder(fakeDiscover(device));
        auto *bar = onvifControl<QProgressBar>(&finder, kCtlFindProgress);
        auto *list = onvifControl<QListWidget>(&finder, kCtlFindList);
        EXPECT_TRUE(finder.searching());
        EXPECT_FALSE(bar->isHidden());
        EXPECT_FALSE(triggerCommand(&finder, kCmdFindChoose));  // nothing to choose yet
        // The bar counts the seconds while the search runs.
        EXPECT_TRUE(kestrel_test::pumpUntil([&] { return bar->value() >= 200; }));
        device->release();
        ASSERT_TRUE(kestrel_test::pumpUntil([&] { return !finder.searching(); }));
        EXPECT_EQ(device->seconds, std::vector<int>{3});
        EXPECT_TRUE(bar->isHidden());
        QStringList listed;
        for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
        EXPECT_EQ(listed, row.listed);
        const QString message = onvifControl<QLabel>(&finder, kCtlFindMessage)->text();
        EXPECT_TRUE(message.startsWith(row.message)) << message.toStdString();
        EXPECT_EQ(findAction(&finder, kCmdFindChoose)->isEnabled(), !row.devices.empty());

        // Search again asks once more.
        ASSERT_TRUE(triggerCommand(&finder, kCmdFindAgain));
        ASSERT_TRUE(kestrel_test::pumpUntil([&] { return !finder.searching(); }));
        EXPECT_EQ(device->seconds.size(), 2u);
    }
}

// Choosing a found camera opens the editor on it as an ONVIF site with its account to type;
// its profiles are read once the account is typed, and saving adds the site as New does.
TEST_F(OnvifSiteTest, AFoundCameraBecomesASiteThroughTheEditor) {
    kestrel_test::TempDir temp;
    SiteList list;
    list.append(defaultSiteRecord());
    const std::string longName(120, 'n');
    device->answers = {{2, {}, {{kHallUrl, "Hall", "Acme X1"}, {kYardUrl, longName, "Acme"}}},
                       {2, kTwoProfiles, {}}};
    SiteListDialog dialog(list, temp.path, false);
    dialog.discover = fakeDiscover(device);
    dialog.readProfiles = fakeProfiles(device);

    bool sawFinder = false, sawEditor = false;
    // A timer, not a posted call: the waits inside must see the answers posted meanwhile.
    QTimer::singleShot(10, &dialog, [&] {
        auto *finder = qobject_cast<FindCamerasDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(finder, nullptr);
        sawFinder = true;
        if (!kestrel_test::pumpUntil([&] { return !finder->searching(); })) {
            ADD_FAILURE() << "the search never ended";
            finder->reject();
            return;
        }
        onvifControl<QListWidget>(finder, kCtlFindList)->setCurrentRow(1);
        // The editor opens once the search has closed: look for it until it does.
        auto *poll = new QTimer(&dialog);
        QObject::connect(poll, &QTimer::timeout, &dialog, [&, poll] {
            auto *editor = qobject_cast<SiteEditorDialog *>(QApplication::activeModalWidget());
            if (!editor) return;
            poll->stop();  // the waits below run events: this must not come back
            poll->deleteLater();
            sawEditor = true;
            const auto text = [&](int id) {
                return onvifControl<QLineEdit>(editor, id)->text().toStdString();
            };
            EXPECT_EQ(text(kCtlEditorName), std::string(99, 'n'));
            EXPECT_EQ(text(kCtlEditorAddress), kYardUrl);
            EXPECT_EQ(text(kCtlEditorAccount), "");
            EXPECT_EQ(onvifControl<QListWidget>(editor, kCtlEditorProtocolList)->currentItem()->text(),
                      "ONVIF");
            EXPECT_EQ(editor->focusWidget(), findControl(editor, kCtlEditorAccount));
            QTest::keyClicks(onvifControl<QLineEdit>(editor, kCtlEditorAccount), "admin");
            QTest::keyClicks(onvifControl<QLineEdit>(editor, kCtlEditorPassword), "secret");
            if (!kestrel_test::pumpUntil([&] { return comboTexts(editor).size() == 2; })) {
                ADD_FAILURE() << "the profiles never came";
                editor->reject();
                return;
            }
            onvifControl<QComboBox>(editor, kCtlEditorProfileList)->setCurrentIndex(1);
            triggerCommand(editor, kCmdEditorOk);
        });
        poll->start(10);
        triggerCommand(finder, kCmdFindChoose);
    });
    ASSERT_TRUE(triggerCommand(&dialog, kCmdSiteFind));
    EXPECT_TRUE(sawFinder);
    ASSERT_TRUE(sawEditor);

    // One read, after typing paused, with what was typed in the end.
    ASSERT_EQ(device->asked.size(), 1u);
    EXPECT_EQ(device->asked[0], (std::array<std::string, 3>{kYardUrl, "admin", "secret"}));
    ASSERT_EQ(list.size(), 2u);
    const SiteRecord &added = *list.at(1);
    EXPECT_EQ(added.protocolType, kProtocolOnvif);
    EXPECT_EQ(added.streamNumber, 1);
    EXPECT_EQ(siteHost(added), std::u16string(kYardUrl.begin(), kYardUrl.end()));
    EXPECT_EQ(siteAccount(added), "admin");
    EXPECT_EQ(sitePassword(added), "secret");
    EXPECT_EQ(dialog.listBox()->currentRow(), 1);
    const std::string saved = kestrel_test::readFile(temp.path + "/" + kSiteListUserFile);
    const std::vector<uint8_t> expected = serializeSiteRecords(list.records());
    EXPECT_EQ(saved, std::string(expected.begin(), expected.end()));
}

// An ONVIF site opened and accepted unchanged comes back byte for byte, its profile chosen in
// the list once read; a failed read says why with the status's name and keeps the profile.
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
        {IPCAM_ONVIF_FAULT, "The profiles could not be read: The camera's ONVIF service refused "
                            "the request (IPCAM_ONVIF_FAULT)"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.result);
        device = std::make_shared<FakeDevice>();
        device->answers = {{row.result, row.result > 0 ? kTwoProfiles : std::vector<OnvifProfileEntry>{}, {}},
                           {2, kTwoProfiles, {}}};
        SiteRecord given = onvifSite(kHallUrl, u"admin", 1);
        given.port = 0;
        SiteEditorDialog editor(given, false);
        editor.profileChooser()->readProfiles = fakeProfiles(device);
        EXPECT_FALSE(findControl(&editor, kCtlEditorPort)->isVisibleTo(&editor));
        EXPECT_FALSE(findControl(&editor, kCtlEditorStreamList)->isVisibleTo(&editor));
        // The site's URL and account are known: the list is read without typing.
        ASSERT_TRUE(kestrel_test::pumpUntil([&] { return device->returnedNow() == 1; }));
        ASSERT_TRUE(kestrel_test::pumpUntil([&] { return !editor.profileChooser()->reading(); }));
        EXPECT_EQ(stateText(&editor), row.state);
        if (row.result > 0) {
            EXPECT_EQ(comboTexts(&editor),
                      (QStringList{"0: mainStream H264 1920x1080", "1: subStream H265 640x360"}));
            EXPECT_EQ(onvifControl<QComboBox>(&editor, kCtlEditorProfileList)->currentIndex(), 1);
        } else {
            EXPECT_TRUE(comboTexts(&editor).isEmpty());
        }
        ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        EXPECT_EQ(0, std::memcmp(&editor.record(), &given, sizeof given));
    }

    // Read again after a failure reads the device once more.
    device = std::make_shared<FakeDevice>();
    device->answers = {{IPCAM_SETSOCKET_IS_ER, {}, {}}, {2, kTwoProfiles, {}}};
    SiteEditorDialog editor(onvifSite(kHallUrl, u"admin", 0), false);
    editor.profileChooser()->readProfiles = fakeProfiles(device);
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return device->returnedNow() == 1; }));
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return !editor.profileChooser()->reading(); }));
    ASSERT_TRUE(triggerCommand(&editor, kCtlEditorProfileRead));
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return comboTexts(&editor).size() == 2; }));
}

// Typing while a slow device answers: the answer to what was typed before must not replace
// the answer to what is typed now.
TEST_F(OnvifSiteTest, AnOlderAnswerNeverReplacesANewerOne) {
    device->answers = {{2, kTwoProfiles, {}, true}, {1, {{4, "thirdStream", "JPEG", 0, 0}}, {}}};
    SiteEditorDialog editor(onvifSite(kHallUrl, u"", 0), false);
    editor.profileChooser()->readProfiles = fakeProfiles(device);
    auto *account = onvifControl<QLineEdit>(&editor, kCtlEditorAccount);
    QTest::keyClicks(account, "admin");
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return device->askedNow() == 1; }));
    QTest::keyClick(account, Qt::Key_Backspace);
    QTest::keyClick(account, Qt::Key_Return);  // leaving the field reads at once
    const QStringList newer{"4: thirdStream JPEG"};
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return comboTexts(&editor) == newer; }));
    device->release();
    ASSERT_TRUE(kestrel_test::pumpUntil([&] { return device->returnedNow() == 2; }));
    // The older answer reaches the editor within moments of its return, if it ever does.
    EXPECT_FALSE(kestrel_test::pumpUntil([&] { return comboTexts(&editor) != newer; }, 300));
    EXPECT_EQ(device->asked[1][1], "admi");
    ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
    EXPECT_EQ(editor.record().streamNumber, 4);
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
        {"HTTP://192.0.2.7/onvif/device_service", nullptr},
        {base + std::string(kSiteTextUnits + 1 - base.size(), 'd'),
         "This URL has 100 characters; a site's URL may have at most 99."},
        {"rtsp://192.0.2.7/onvif/device_service",
         "An ONVIF camera's URL starts with http://, as in http://192.0.2.7/onvif/device_service."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.url);
        const SiteRecord given = onvifSite(kHallUrl, u"", 3);
        SiteEditorDialog editor(given, false);
        editor.profileChooser()->readProfiles = fakeProfiles(device);
        onvifControl<QLineEdit>(&editor, kCtlEditorAddress)->setText(QString::fromStdString(row.url));
        ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
        const auto *problem = onvifControl<QLabel>(&editor, kCtlEditorAddressProblem);
        if (!row.problem) {
            EXPECT_EQ(editor.result(), QDialog::Accepted);
            EXPECT_EQ(siteHost(editor.record()), std::u16string(row.url.begin(), row.url.end()));
            EXPECT_EQ(editor.record().streamNumber, 3);  // nothing read: the profile stays
            EXPECT_TRUE(problem->isHidden());
            continue;
        }
        EXPECT_NE(editor.result(), QDialog::Accepted);
        EXPECT_EQ(problem->text(), row.problem);
        EXPECT_EQ(0, std::memcmp(&editor.record(), &given, sizeof given));
    }
    EXPECT_TRUE(device->asked.empty());  // no account: nothing was read
}

}  // namespace
}  // namespace kestrel
