#include "viewer/qt_site_editor_dialog.h"
#include "viewer/qt_site_list_dialog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <QButtonGroup>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "viewer/command_ids.h"
#include "viewer/qt_commands.h"
#include "viewer/site_list.h"

namespace kestrel {
namespace {

SiteRecord site(const char16_t *name, uint32_t port = 80) {
    SiteRecord s = defaultSiteRecord();
    setSiteName(s, name);
    s.port = port;
    return s;
}

using Bytes = std::vector<uint8_t>;

Bytes userFile(const std::string &dir) {
    std::ifstream in(dir + "/" + kSiteListUserFile, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void pressEscape(QWidget *target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

template <class T>
T *control(const QWidget *root, int id) {
    return qobject_cast<T *>(findControl(root, id));
}

class SiteListDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        kestrel_test::qtApp();
        ASSERT_FALSE(dir.empty());
        for (const char16_t *n : {u"A", u"B", u"C"}) list.append(site(n));
    }

    // A dialog whose editor hook records what it was given and answers as told.
    std::unique_ptr<SiteListDialog> open(bool smartphone = false) {
        auto dialog = std::make_unique<SiteListDialog>(list, dir, smartphone);
        dialog->runEditor = [this](SiteRecord &r) {
            given.push_back(r);
            if (answer.accepted) r = edited;
            return answer;
        };
        dialog->covered = [this] { return coveredNow; };
        QObject::connect(dialog.get(), &QDialog::finished, [this](int r) { finished = r; });
        return dialog;
    }
    std::vector<std::u16string> listBoxTexts(SiteListDialog &d) {
        std::vector<std::u16string> texts;
        for (int i = 0; i < d.listBox()->count(); ++i)
            texts.push_back(d.listBox()->item(i)->text().toStdU16String());
        return texts;
    }
    static int selectedRow(SiteListDialog &d) {
        const auto items = d.listBox()->selectedItems();
        return items.isEmpty() ? -1 : d.listBox()->row(items.front());
    }

    kestrel_test::TempDir temp;
    const std::string &dir = temp.path;
    SiteList list;
    std::vector<SiteRecord> given;
    SiteListDialog::EditorResult answer{true, false};
    SiteRecord edited = site(u"Edited", 8080);
    bool coveredNow = false;
    int finished = -1;
};

TEST_F(SiteListDialogTest, SelectAndEscape) {
    const struct {
        int row;
        bool escape, smartphone;
        int result, index;
    } cases[] = {{-1, false, false, QDialog::Accepted, -1},
                 {2, false, false, QDialog::Accepted, 2},
                 {1, true, false, QDialog::Rejected, -1},
                 {1, true, true, QDialog::Rejected, -1}};
    for (const auto &c : cases) {
        auto dialog = open(c.smartphone);
        ASSERT_EQ(dialog->listBox(), findControl(dialog.get(), kCtlSiteListBox));
        EXPECT_EQ(listBoxTexts(*dialog), (std::vector<std::u16string>{u"A", u"B", u"C"}));
        if (c.row >= 0) dialog->listBox()->setCurrentRow(c.row);
        QTimer::singleShot(0, dialog.get(), [&] {
            if (c.escape)
                pressEscape(dialog->listBox());
            else
                triggerCommand(dialog.get(), kCmdSiteSelect);
        });
        EXPECT_EQ(dialog->exec(), c.result);
        EXPECT_EQ(dialog->selectedIndex(), c.index);
        EXPECT_FALSE(dialog->exitRequested());
    }
}

TEST_F(SiteListDialogTest, CommandsChangeListAndFile) {
    using R = SiteListDialog::EditorResult;
    const R none{};
    const struct {
        int command, row;
        R answer;      // the editor's (New, Edit)
        bool confirm;  // the question's (Delete)
        std::vector<std::u16string> names;
        int selected;
        bool saved;
        const char16_t *given;  // the name of the site the editor got; null when none ran
    } cases[] = {
        {kCmdSiteNew, 1, {true, false}, false, {u"A", u"B", u"C", u"Edited"}, 3, true, u""},
        {kCmdSiteNew, 1, {false, false}, false, {u"A", u"B", u"C"}, 1, false, u""},
        {kCmdSiteNew, 1, {false, true}, false, {u"A", u"B", u"C"}, 1, false, u""},
        {kCmdSiteEdit, 1, {true, false}, false, {u"A", u"Edited", u"C"}, 1, true, u"B"},
        {kCmdSiteEdit, -1, {true, false}, false, {u"Edited", u"B", u"C"}, -1, true, u"A"},
        {kCmdSiteDelete, 1, none, false, {u"A", u"B", u"C"}, 1, false, nullptr},
        {kCmdSiteDelete, 1, none, true, {u"A", u"C"}, 0, true, nullptr},
        {kCmdSiteDelete, -1, none, true, {u"B", u"C"}, 0, true, nullptr},
        {kCmdSiteCopy, 1, none, false, {u"A", u"B", u"C", u"B"}, 3, true, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.command << " row " << c.row);
        const SiteList before = list;
        std::remove((dir + "/" + kSiteListUserFile).c_str());
        given.clear();
        finished = -1;
        answer = c.answer;
        auto dialog = open();
        int asked = 0;
        dialog->confirmDelete = [&] { return ++asked, c.confirm; };
        if (c.row >= 0) dialog->listBox()->setCurrentRow(c.row);
        dialog->listBox()->clearFocus();
        ASSERT_TRUE(triggerCommand(dialog.get(), c.command));

        ASSERT_EQ(given.size(), c.given ? 1u : 0u);
        const SiteRecord fresh = defaultSiteRecord();
        EXPECT_TRUE(!c.given || siteName(given[0]) == c.given);
        EXPECT_TRUE(c.command != kCmdSiteNew || !std::memcmp(&given[0], &fresh, sizeof fresh));
        EXPECT_EQ(asked, c.command == kCmdSiteDelete ? 1 : 0);
        EXPECT_EQ(list.names(), c.names);
        EXPECT_EQ(listBoxTexts(*dialog), c.names);
        EXPECT_EQ(selectedRow(*dialog), c.selected);
        EXPECT_EQ(userFile(dir), c.saved ? serializeSiteRecords(list.records()) : Bytes{});
        EXPECT_EQ(dialog->exitRequested(), c.answer.exitRequested);
        EXPECT_EQ(finished, c.answer.exitRequested ? QDialog::Rejected : -1);
        if (c.command != kCmdSiteCopy && !c.answer.exitRequested) {
            EXPECT_EQ(dialog->focusWidget(), dialog->listBox());
        }
        list = before;
    }
}

TEST_F(SiteListDialogTest, LastSiteDeletedThenOnlyNewWorks) {
    list.assign({site(u"Only")});
    auto dialog = open();
    int asked = 0;
    dialog->confirmDelete = [&] { return ++asked > 0; };
    ASSERT_TRUE(triggerCommand(dialog.get(), kCmdSiteDelete));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(dialog->listBox()->count(), 0);
    struct stat st {};
    ASSERT_EQ(stat((dir + "/" + kSiteListUserFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);

    for (int id : {kCmdSiteEdit, kCmdSiteDelete, kCmdSiteCopy})
        ASSERT_TRUE(triggerCommand(dialog.get(), id));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(given.empty() && list.empty());
    ASSERT_TRUE(triggerCommand(dialog.get(), kCmdSiteNew));
    EXPECT_EQ(listBoxTexts(*dialog), std::vector<std::u16string>{u"Edited"});
}

TEST_F(SiteListDialogTest, WatchdogOnSmartphoneOnly) {
    // Covered ticks in a row, as a sequence of probes, and the tick that ends the dialog.
    const struct {
        std::vector<bool> probes;
        int exitAt;
    } cases[] = {
        {std::vector<bool>(19, true), -1},
        {std::vector<bool>(25, true), 20},
        {[] {
             std::vector<bool> v(10, true);
             v.push_back(false);
             v.resize(31, true);
             return v;
         }(),
         31},
    };
    for (const auto &c : cases) {
        auto dialog = open(true);
        int exitAt = -1;
        for (std::size_t i = 0; i < c.probes.size(); ++i) {
            coveredNow = c.probes[i];
            dialog->tick();
            if (exitAt < 0 && finished >= 0) exitAt = static_cast<int>(i) + 1;
        }
        EXPECT_EQ(exitAt, c.exitAt);
        EXPECT_EQ(dialog->exitRequested(), c.exitAt > 0);
        finished = -1;
    }

    coveredNow = false;
    for (bool smartphone : {false, true}) {
        auto dialog = open(smartphone);
        dialog->show();
        EXPECT_EQ(dialog->watchdogRunning(), smartphone);
        bool runningInEditor = true;
        dialog->runEditor = [&](SiteRecord &) {
            runningInEditor = dialog->watchdogRunning();
            return SiteListDialog::EditorResult{false, false};
        };
        triggerCommand(dialog.get(), kCmdSiteNew);
        EXPECT_FALSE(runningInEditor);
        EXPECT_EQ(dialog->watchdogRunning(), smartphone);
        dialog->reject();
        EXPECT_FALSE(dialog->watchdogRunning());
    }
}

TEST_F(SiteListDialogTest, DoubleClickOrEnterOnASiteSelectsIt) {
    for (const bool byEnter : {false, true}) {
        SCOPED_TRACE(byEnter ? "Enter" : "double-click");
        finished = -1;
        auto dialog = open();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        QListWidget *box = dialog->listBox();
        if (byEnter) {
            box->setCurrentRow(2);
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Return);
        } else {
            const QRect row = box->visualItemRect(box->item(1));
            // As the mouse makes it: a click, and the second click within the interval.
            QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, row.center());
            QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, row.center());
        }
        EXPECT_EQ(finished, QDialog::Accepted);
        EXPECT_EQ(dialog->selectedIndex(), byEnter ? 2 : 1);
    }
}

// Two windows, each with its list as it was when it opened: neither loses the other's sites,
// and a list opened afterwards shows them all.
TEST_F(SiteListDialogTest, TwoWindowsAddingSitesKeepBoth) {
    ASSERT_TRUE(list.save(dir));  // A, B, C
    SiteList mine, theirs;
    ASSERT_TRUE(mine.load(dir));
    ASSERT_TRUE(theirs.load(dir));
    SiteListDialog one(mine, dir, false), two(theirs, dir, false);
    for (auto [dialog, name] : {std::pair{&one, u"One"}, std::pair{&two, u"Two"}}) {
        dialog->runEditor = [name = name](SiteRecord &r) {
            r = site(name);
            return SiteListDialog::EditorResult{true, false};
        };
    }
    ASSERT_TRUE(triggerCommand(&one, kCmdSiteNew));
    ASSERT_TRUE(triggerCommand(&two, kCmdSiteNew));
    const std::vector<std::u16string> all{u"A", u"B", u"C", u"One", u"Two"};
    EXPECT_EQ(theirs.names(), all);
    EXPECT_EQ(listBoxTexts(two), all);

    // The first window's edit of B lands on B, wherever the file has it now.
    two.listBox()->setCurrentRow(0);
    ASSERT_TRUE(triggerCommand(&two, kCmdSiteCopy));  // a copy of A, at the end
    one.listBox()->setCurrentRow(1);
    one.runEditor = [](SiteRecord &r) {
        r = site(u"B2");
        return SiteListDialog::EditorResult{true, false};
    };
    ASSERT_TRUE(triggerCommand(&one, kCmdSiteEdit));
    SiteList fresh;
    SiteListDialog three(fresh, dir, false);
    EXPECT_EQ(listBoxTexts(three),
              (std::vector<std::u16string>{u"A", u"B2", u"C", u"One", u"Two", u"A"}));
}

TEST_F(SiteListDialogTest, AListThatCannotBeSavedSaysSoAndKeepsTheChange) {
    const std::string missing = dir + "/gone";
    SiteListDialog dialog(list, missing, false);
    dialog.runEditor = [](SiteRecord &r) {
        r = site(u"New");
        return SiteListDialog::EditorResult{true, false};
    };
    std::vector<QString> warnings;
    dialog.warn = [&](const QString &text) { warnings.push_back(text); };
    ASSERT_TRUE(triggerCommand(&dialog, kCmdSiteNew));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].startsWith("The site list was not saved: "));
    EXPECT_TRUE(warnings[0].contains(QString::fromStdString(missing))) << warnings[0].toStdString();
    EXPECT_EQ(listBoxTexts(dialog), (std::vector<std::u16string>{u"A", u"B", u"C", u"New"}));
}

TEST_F(SiteListDialogTest, DefaultEditorRunsModally) {
    SiteListDialog dialog(list, dir, false);
    dialog.listBox()->setCurrentRow(2);
    bool sawEditor = false;
    QTimer::singleShot(0, &dialog, [&] {
        auto *editor = qobject_cast<SiteEditorDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        sawEditor = true;
        EXPECT_EQ(siteName(editor->record()), u"C");
        control<QLineEdit>(editor, kCtlEditorName)->setText("Porch");
        triggerCommand(editor, kCmdEditorOk);
    });
    ASSERT_TRUE(triggerCommand(&dialog, kCmdSiteEdit));
    EXPECT_TRUE(sawEditor);
    EXPECT_EQ(list.names(), (std::vector<std::u16string>{u"A", u"B", u"Porch"}));
}

class SiteEditorTest : public testing::Test {
  protected:
    void SetUp() override { kestrel_test::qtApp(); }
};

SiteRecord sample() {
    SiteRecord s = site(u"Garage", 8080);
    setSiteHost(s, u"192.0.2.7");
    setSiteAccount(s, u"op\u00E9rateur");
    setSitePassword(s, u"secret");
    s.viewFlags = 0xF1;
    s.streamNumber = 100;
    s.protocolType = 9;  // shown as Type 1: 9 modulo the eight rows
    s.videoSize = 2;
    s.unused = 0x5C;
    return s;
}

TEST_F(SiteEditorTest, ShowsRecord) {
    SiteEditorDialog editor(sample(), false);
    const auto text = [&](int id) { return control<QLineEdit>(&editor, id)->text(); };
    EXPECT_EQ(text(kCtlEditorName), QStringLiteral("Garage"));
    EXPECT_EQ(text(kCtlEditorAddress), QStringLiteral("192.0.2.7"));
    EXPECT_EQ(text(kCtlEditorPort), QStringLiteral("8080"));
    EXPECT_EQ(text(kCtlEditorAccount), QStringLiteral(u"op\u00E9rateur"));
    EXPECT_EQ(control<QLineEdit>(&editor, kCtlEditorPassword)->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(control<QCheckBox>(&editor, kCtlEditorRotation)->isChecked());
    EXPECT_FALSE(control<QCheckBox>(&editor, kCtlEditorFitToWidth)->isChecked());
    EXPECT_EQ(control<QListWidget>(&editor, kCtlEditorStreamList)->currentRow(), 28);
    EXPECT_EQ(control<QListWidget>(&editor, kCtlEditorStreamList)->currentItem()->text(), "29");
    EXPECT_EQ(control<QListWidget>(&editor, kCtlEditorProtocolList)->currentItem()->text(),
              "Type 1");
    EXPECT_EQ(editor.focusWidget(), findControl(&editor, kCtlEditorName));

    const struct {
        uint32_t videoSize;
        int radio;
    } sizes[] = {
        {0, kCtlEditorSmall}, {1, kCtlEditorMiddle}, {2, kCtlEditorBig}, {9, kCtlEditorSmall}};
    for (const auto &s : sizes) {
        SiteRecord r = sample();
        r.videoSize = s.videoSize;
        SiteEditorDialog e(r, false);
        EXPECT_TRUE(control<QRadioButton>(&e, s.radio)->isChecked()) << s.videoSize;
    }
}

TEST_F(SiteEditorTest, OkReadsControls) {
    const struct {
        const char16_t *port;
        uint32_t expected;
    } ports[] = {{u"12ab", 12}, {u"", 0}, {u"99999999999", 4294967295u}};
    for (const auto &p : ports) {
        SiteEditorDialog editor(sample(), false);
        control<QLineEdit>(&editor, kCtlEditorPort)->setText(QString::fromStdU16String(p.port));
        control<QLineEdit>(&editor, kCtlEditorName)->setText(QString(120, QChar(u'n')));
        control<QLineEdit>(&editor, kCtlEditorAccount)->setText(QString(50, QChar(u'\u00E9')));
        control<QCheckBox>(&editor, kCtlEditorRotation)->setChecked(false);
        control<QCheckBox>(&editor, kCtlEditorFitToWidth)->setChecked(true);
        control<QSpinBox>(&editor, kCtlEditorProtocolSpin)->stepBy(2);  // Type 1 -> Type 3
        ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        const SiteRecord &r = editor.record();
        EXPECT_EQ(r.port, p.expected);
        EXPECT_EQ(siteName(r), std::u16string(99, u'n'));
        EXPECT_EQ(r.name[99], 0);
        std::string accents;  // 49 of the 50: a 50th would leave no room for the zero
        for (int i = 0; i < 49; ++i) accents += "\xC3\xA9";
        EXPECT_EQ(siteAccount(r), accents);
        EXPECT_EQ(sitePassword(r), "secret");
        EXPECT_EQ(siteHost(r), u"192.0.2.7");
        EXPECT_EQ(r.viewFlags, 0xF2);
        EXPECT_EQ(r.streamNumber, 28);
        EXPECT_EQ(r.protocolType, 3);
        EXPECT_EQ(r.videoSize, 2u);
        EXPECT_EQ(r.unused, 0x5C);
    }
}

// A URL cut to the field would name another stream: one that does not fit is refused with a
// word on how long it may be, and the editor stays.
TEST_F(SiteEditorTest, AUrlSiteKeepsItsUrlWhereTheAddressGoes) {
    const std::u16string base = u"rtsp://cam.example:8554/";
    const struct {
        std::u16string url;
        bool accepted;
    } rows[] = {
        {base + std::u16string(kSiteTextUnits - base.size(), u'p'), true},
        {base + std::u16string(kSiteTextUnits + 1 - base.size(), u'p'), false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.url.size());
        SiteRecord given = sample();
        given.protocolType = kProtocolRtspUrl;
        setSiteHost(given, u"rtsp://old.example/");
        SiteEditorDialog editor(given, false);
        EXPECT_EQ(control<QListWidget>(&editor, kCtlEditorProtocolList)->currentItem()->text(),
                  "RTSP URL");
        bool urlLabel = false;
        for (const QLabel *label : editor.findChildren<QLabel *>()) urlLabel |= label->text() == "URL";
        EXPECT_TRUE(urlLabel);
        control<QLineEdit>(&editor, kCtlEditorAddress)->setText(QString::fromStdU16String(row.url));
        ASSERT_TRUE(triggerCommand(&editor, kCmdEditorOk));
        const auto *problem = control<QLabel>(&editor, kCtlEditorAddressProblem);
        if (row.accepted) {
            EXPECT_EQ(editor.result(), QDialog::Accepted);
            EXPECT_EQ(siteHost(editor.record()), row.url);
            EXPECT_EQ(editor.record().protocolType, kProtocolRtspUrl);
            EXPECT_TRUE(problem->isHidden());
            continue;
        }
        EXPECT_NE(editor.result(), QDialog::Accepted);
        EXPECT_FALSE(problem->isHidden());
        EXPECT_EQ(problem->text(), "This URL has 100 characters; a site's URL may have at most 99.");
        EXPECT_EQ(0, std::memcmp(&editor.record(), &given, sizeof given));
    }
}

TEST_F(SiteEditorTest, CancelRestoresEverything) {
    for (bool byEscape : {false, true}) {
        const SiteRecord original = sample();
        SiteEditorDialog editor(original, false);
        control<QLineEdit>(&editor, kCtlEditorName)->setText("Other");
        control<QLineEdit>(&editor, kCtlEditorPort)->setText("1");
        control<QCheckBox>(&editor, kCtlEditorFitToWidth)->setChecked(true);
        ASSERT_TRUE(triggerCommand(&editor, kCtlEditorMiddle));
        EXPECT_EQ(editor.record().videoSize, 1u);  // at once, not only at OK
        if (byEscape)
            pressEscape(findControl(&editor, kCtlEditorName));
        else
            ASSERT_TRUE(triggerCommand(&editor, kCmdEditorCancel));
        EXPECT_EQ(editor.result(), QDialog::Rejected);
        EXPECT_EQ(0, std::memcmp(&editor.record(), &original, sizeof original));
    }
}

TEST_F(SiteEditorTest, SmartphoneBackKeyEditsAndWatchdogExits) {
    SiteEditorDialog editor(sample(), true);
    int finished = -1;
    QObject::connect(&editor, &QDialog::finished, [&](int r) { finished = r; });
    auto *name = control<QLineEdit>(&editor, kCtlEditorName);
    pressEscape(name);
    EXPECT_EQ(name->text(), QStringLiteral("Garag"));
    EXPECT_EQ(finished, -1);

    editor.show();
    EXPECT_TRUE(editor.watchdogRunning());
    editor.covered = [] { return true; };
    for (int i = 0; i < 20; ++i) editor.tick();
    EXPECT_EQ(finished, -1);
    editor.tick();
    EXPECT_EQ(finished, QDialog::Rejected);
    EXPECT_TRUE(editor.exitRequested());
    EXPECT_FALSE(editor.watchdogRunning());

    SiteEditorDialog desk(sample(), false);
    desk.show();
    EXPECT_FALSE(desk.watchdogRunning());
}

}  // namespace
}  // namespace kestrel
