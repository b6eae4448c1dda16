#include "viewer/qt_find_cameras_dialog.h"

#include <algorithm>
#include <utility>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QVBoxLayout>

#include "ipcam.h"
#include "viewer/command_ids.h"
#include "viewer/qt_background_call.h"
#include "viewer/qt_commands.h"
#include "viewer/status_names.h"

namespace kestrel {

namespace {

constexpr int kTickMs = 100;

constexpr MenuItem kFindMenu[] = {
    {"", kCmdFindChoose, "Choose"},
    {"", kCmdFindAgain, "Search again"},
    {"", kCmdFindCancel, "Cancel"},
};

struct Search {
    int result = 0;
    std::vector<OnvifDevice> devices;
};

}  // namespace

FindCamerasDialog::FindCamerasDialog(OnvifDiscover discover, QWidget *parent)
    : QDialog(parent), discover_(std::move(discover)) {
    setWindowTitle(QStringLiteral("Find cameras"));

    bar_ = new QProgressBar;
    setCommandId(bar_, kCtlFindProgress);
    bar_->setRange(0, kSeconds * 1000);
    message_ = new QLabel;
    setCommandId(message_, kCtlFindMessage);
    message_->setWordWrap(true);
    list_ = new QListWidget;
    setCommandId(list_, kCtlFindList);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        list_->setCurrentItem(item);
        onCommand(kCmdFindChoose);
    });

    auto *body = new QVBoxLayout;
    body->setContentsMargins(6, 6, 6, 6);
    body->addWidget(bar_);
    body->addWidget(message_);
    body->addWidget(list_, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(body, 1);
    layout->addWidget(buildMenuBar(this, kFindMenu, [this](int id) { onCommand(id); }));
    resize(320, 320);

    ticker_.setInterval(kTickMs);
    connect(&ticker_, &QTimer::timeout, this, [this] {
        const int elapsed = static_cast<int>(std::min<qint64>(clock_.elapsed(), bar_->maximum()));
        bar_->setValue(elapsed);
        bar_->setFormat(QStringLiteral("%1 of %2 s").arg(elapsed / 1000 + 1).arg(kSeconds));
    });
    search();
}

FindCamerasDialog::~FindCamerasDialog() {
    if (stop_) *stop_ = true;
}

void FindCamerasDialog::search() {
    if (searching_) return;
    searching_ = true;
    devices_.clear();
    list_->clear();
    findAction(this, kCmdFindChoose)->setEnabled(false);
    findAction(this, kCmdFindAgain)->setEnabled(false);
    bar_->setValue(0);
    bar_->setFormat(QStringLiteral("1 of %1 s").arg(kSeconds));
    bar_->show();
    say(QStringLiteral("Looking for ONVIF cameras on the network\u2026"));
    clock_.start();
    ticker_.start();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    auto work = [discover = discover_, stop = stop_] {
        Search s;
        s.result = discover ? discover(kSeconds, [stop] { return stop->load(); }, s.devices)
                            : IPCAM_IS_NULL;
        return s;
    };
    auto done = [this](Search s) { showFound(s.result, std::move(s.devices)); };
    if (!runInBackground<Search>(this, std::move(work), std::move(done)))
        showFound(IPCAM_IS_NULL, {});
}

void FindCamerasDialog::showFound(int result, std::vector<OnvifDevice> devices) {
    searching_ = false;
    ticker_.stop();
    bar_->hide();
    findAction(this, kCmdFindAgain)->setEnabled(true);
    devices_ = result < 0 ? std::vector<OnvifDevice>{} : std::move(devices);
    for (const OnvifDevice &d : devices_) list_->addItem(QString::fromStdU16String(deviceText(d)));
    findAction(this, kCmdFindChoose)->setEnabled(!devices_.empty());
    if (result < 0) {
        say(QStringLiteral("The search for cameras could not run: %1")
                .arg(QString::fromStdString(lastStatusText(result))));
    } else if (devices_.empty()) {
        say(QStringLiteral("No ONVIF camera answered within %1 seconds. Check that the camera is "
                           "switched on, on this network, and has ONVIF turned on in its "
                           "settings, then choose Search again.")
                .arg(kSeconds));
    } else {
        say(devices_.size() == 1
                ? QStringLiteral("One camera answered: choose it to add it as a site.")
                : QStringLiteral("%1 cameras answered: choose one to add it as a site.")
                      .arg(devices_.size()));
        list_->setCurrentRow(0);
        list_->setFocus();
    }
}

void FindCamerasDialog::say(const QString &text) { message_->setText(text); }

void FindCamerasDialog::onCommand(int id) {
    switch (id) {
        case kCmdFindChoose: {
            const int row = list_->currentRow();
            if (searching_ || row < 0 || row >= static_cast<int>(devices_.size())) return;
            chosen_ = devices_[static_cast<std::size_t>(row)];
            accept();
            return;
        }
        case kCmdFindAgain:
            search();
            return;
        case kCmdFindCancel:
            reject();
            return;
        default:
            return;
    }
}

}  // namespace kestrel
