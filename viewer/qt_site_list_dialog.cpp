#include "viewer/qt_site_list_dialog.h"

#include <utility>

#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QVBoxLayout>

#include "viewer/command_ids.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_find_cameras_dialog.h"
#include "viewer/qt_onvif_profile_chooser.h"
#include "viewer/qt_site_editor_dialog.h"
#include "viewer/site_list.h"
#include "viewer/text_convert.h"

namespace kestrel {

namespace {

constexpr int kWatchdogMs = 100;
constexpr uint16_t kWatchdogLimit = 20;  // covered ticks in a row that end the dialog

constexpr MenuItem kSiteListMenu[] = {
    {"", kCmdSiteSelect, "Select"},   {"Manage", kCmdSiteNew, "New"},
    {"Manage", kCmdSiteEdit, "Edit"}, {"Manage", kCmdSiteDelete, "Delete"},
    {"Manage", kCmdSiteCopy, "Copy"},   {"Manage", kCmdSiteFind, "Find cameras"},
};

// The site a found device becomes: ONVIF at its URL, named as it calls itself. The account is
// the device's own, so none of the new-site default is offered.
SiteRecord foundSite(const OnvifDevice &device) {
    SiteRecord site = defaultSiteRecord();
    site.protocolType = kProtocolOnvif;
    site.port = 0;
    setSiteHost(site, fromUtf8(device.url));
    const std::string &name = !device.name.empty()       ? device.name
                              : !device.hardware.empty() ? device.hardware
                                                         : device.url;
    setSiteName(site, fromUtf8(name));
    setSiteAccount(site, u"");
    setSitePassword(site, u"");
    return site;
}

}  // namespace

SiteListDialog::SiteListDialog(SiteList &list, std::string directory, bool smartphone,
                               QWidget *parent)
    : QDialog(parent), list_(list), directory_(std::move(directory)), smartphone_(smartphone) {
    setWindowTitle(QStringLiteral("Site List"));

    runEditor = [this](SiteRecord &record) {
        SiteEditorDialog editor(record, smartphone_, this);
        editor.profileChooser()->readProfiles = readProfiles;
        EditorResult result;
        result.accepted = editor.exec() == QDialog::Accepted;
        result.exitRequested = editor.exitRequested();
        if (result.accepted) record = editor.record();
        return result;
    };
    confirmDelete = [this] {
        return QMessageBox::question(this, windowTitle(),
                                     QStringLiteral("Would you like to delete this site?"),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    covered = [this] { return windowCovered(this); };
    warn = [this](const QString &text) { QMessageBox::warning(this, windowTitle(), text); };
    runFinder = [this]() -> std::optional<OnvifDevice> {
        FindCamerasDialog finder(discover, this);
        if (finder.exec() != QDialog::Accepted) return std::nullopt;
        return finder.chosen();
    };

    listBox_ = new QListWidget;
    listBox_->setSelectionMode(QAbstractItemView::SingleSelection);
    setCommandId(listBox_, kCtlSiteListBox);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(listBox_, 1);
    layout->addWidget(buildMenuBar(this, kSiteListMenu, [this](int id) { onCommand(id); }));
    resize(240, 320);

    // Another window may have changed the sites since this one last looked.
    list_.refresh(directory_);
    fill(-1);
    // Double-click or Enter on a site selects it.
    connect(listBox_, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        listBox_->setCurrentItem(item);
        onCommand(kCmdSiteSelect);
    });
    listBox_->setFocus();

    watchdog_.setInterval(kWatchdogMs);
    connect(&watchdog_, &QTimer::timeout, this, &SiteListDialog::tick);
}

int SiteListDialog::selection() const {
    const QList<QListWidgetItem *> selected = listBox_->selectedItems();
    return selected.isEmpty() ? -1 : listBox_->row(selected.front());
}

void SiteListDialog::fill(int select) {
    listBox_->clear();
    for (const std::u16string &name : list_.names())
        listBox_->addItem(QString::fromStdU16String(name));
    listBox_->clearSelection();
    if (select >= 0 && select < listBox_->count()) listBox_->setCurrentRow(select);
}

void SiteListDialog::requestExit() {
    exitRequested_ = true;
    reject();
}

void SiteListDialog::whilePaused(const std::function<void()> &run) {
    const bool watching = watchdog_.isActive();
    watchdog_.stop();
    run();
    if (watching && !exitRequested_) watchdog_.start();
}

bool SiteListDialog::edit(SiteRecord &record) {
    EditorResult result;
    whilePaused([&] { result = runEditor(record); });
    if (result.exitRequested) {
        requestExit();
        return false;
    }
    return result.accepted;
}

void SiteListDialog::add(SiteRecord site) {
    const bool accepted = edit(site);
    if (exitRequested_) return;
    if (accepted) {
        commit([&](SiteList &l) { l.append(site); });
        fill(static_cast<int>(list_.size()) - 1);
    }
    listBox_->setFocus();
}

void SiteListDialog::commit(const std::function<void(SiteList &)> &apply) {
    std::string why;
    if (!list_.change(directory_, apply, &why))
        warn(QStringLiteral("The site list was not saved: %1").arg(QString::fromStdString(why)));
}

void SiteListDialog::onCommand(int id) {
    if (exitRequested_) return;
    const int index = selection();
    switch (id) {
        case kCmdSiteSelect:
            selectedIndex_ = index;
            accept();
            return;
        case kCmdSiteNew:
            add(defaultSiteRecord());
            return;
        case kCmdSiteFind: {
            std::optional<OnvifDevice> device;
            whilePaused([&] { device = runFinder(); });
            if (device) add(foundSite(*device));
            listBox_->setFocus();
            return;
        }
        case kCmdSiteEdit: {
            const SiteRecord *site = list_.at(index);
            if (!site) return;
            const SiteRecord original = *site;
            SiteRecord copy = original;
            const bool accepted = edit(copy);
            if (exitRequested_) return;
            if (accepted) {
                // Another window may have moved the site meanwhile, or deleted it: the edit
                // goes where the site is now, or becomes a site of its own.
                int row = index;
                commit([&](SiteList &l) {
                    row = l.find(original, index);
                    if (row >= 0) {
                        l.replace(row, copy);
                        if (index < 0 && row == 0) row = -1;  // the selection stays as it was
                    } else {
                        l.append(copy);
                        row = static_cast<int>(l.size()) - 1;
                    }
                });
                fill(row);
            }
            listBox_->setFocus();
            return;
        }
        case kCmdSiteDelete: {
            const SiteRecord *site = list_.at(index);
            if (!site) return;
            const SiteRecord original = *site;
            if (confirmDelete()) {
                commit([&](SiteList &l) {
                    if (const int at = l.find(original, index); at >= 0) l.removeAt(at);
                });
                fill(0);
            }
            listBox_->setFocus();
            return;
        }
        case kCmdSiteCopy: {
            const SiteRecord *site = list_.at(index);
            if (!site) return;
            const SiteRecord original = *site;
            commit([&](SiteList &l) { l.append(original); });
            fill(static_cast<int>(list_.size()) - 1);
            return;
        }
        default:
            return;
    }
}

void SiteListDialog::tick() {
    if (exitRequested_) return;
    if (probe_.step(covered()) == kWatchdogLimit) requestExit();
}

void SiteListDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (smartphone_ && !exitRequested_ && !watchdog_.isActive()) watchdog_.start();
}

void SiteListDialog::done(int result) {
    watchdog_.stop();
    QDialog::done(result);
}

}  // namespace kestrel
