#include "viewer/qt_site_list_dialog.h"

#include <utility>

#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QVBoxLayout>

#include "viewer/command_ids.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_site_editor_dialog.h"
#include "viewer/site_list.h"

namespace kestrel {

namespace {

constexpr int kWatchdogMs = 100;
constexpr uint16_t kWatchdogLimit = 20;  // covered ticks in a row that end the dialog

constexpr MenuItem kSiteListMenu[] = {
    {"", kCmdSiteSelect, "Select"},   {"Manage", kCmdSiteNew, "New"},
    {"Manage", kCmdSiteEdit, "Edit"}, {"Manage", kCmdSiteDelete, "Delete"},
    {"Manage", kCmdSiteCopy, "Copy"},
};

}  // namespace

SiteListDialog::SiteListDialog(SiteList &list, std::string directory, bool smartphone,
                               QWidget *parent)
    : QDialog(parent), list_(list), directory_(std::move(directory)), smartphone_(smartphone) {
    setWindowTitle(QStringLiteral("Site List"));

    runEditor = [this](SiteRecord &record) {
        SiteEditorDialog editor(record, smartphone_, this);
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

    listBox_ = new QListWidget;
    listBox_->setSelectionMode(QAbstractItemView::SingleSelection);
    setCommandId(listBox_, kCtlSiteListBox);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(listBox_, 1);
    layout->addWidget(buildMenuBar(this, kSiteListMenu, [this](int id) { onCommand(id); }));
    resize(240, 320);

    fill(-1);
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

bool SiteListDialog::edit(SiteRecord &record) {
    const bool watching = watchdog_.isActive();
    watchdog_.stop();
    const EditorResult result = runEditor(record);
    if (result.exitRequested) {
        requestExit();
        return false;
    }
    if (watching) watchdog_.start();
    return result.accepted;
}

void SiteListDialog::onCommand(int id) {
    if (exitRequested_) return;
    const int index = selection();
    switch (id) {
        case kCmdSiteSelect:
            selectedIndex_ = index;
            accept();
            return;
        case kCmdSiteNew: {
            SiteRecord site = defaultSiteRecord();
            const bool accepted = edit(site);
            if (exitRequested_) return;
            if (accepted) {
                list_.append(site);
                list_.save(directory_);
                fill(static_cast<int>(list_.size()) - 1);
            }
            listBox_->setFocus();
            return;
        }
        case kCmdSiteEdit: {
            const SiteRecord *site = list_.at(index);
            if (!site) return;
            SiteRecord copy = *site;
            const bool accepted = edit(copy);
            if (exitRequested_) return;
            if (accepted) {
                list_.replace(index, copy);
                list_.save(directory_);
                fill(index);
            }
            listBox_->setFocus();
            return;
        }
        case kCmdSiteDelete:
            if (!list_.at(index)) return;
            if (confirmDelete()) {
                list_.removeAt(index);
                list_.save(directory_);
                fill(0);
            }
            listBox_->setFocus();
            return;
        case kCmdSiteCopy:
            if (!list_.copyToEnd(index)) return;
            list_.save(directory_);
            fill(static_cast<int>(list_.size()) - 1);
            return;
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
