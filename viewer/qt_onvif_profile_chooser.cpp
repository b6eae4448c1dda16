#include "viewer/qt_onvif_profile_chooser.h"

#include <utility>

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ipcam.h"
#include "viewer/command_ids.h"
#include "viewer/qt_background_call.h"
#include "viewer/qt_commands.h"
#include "viewer/status_names.h"

namespace kestrel {

namespace {

struct ProfilesRead {
    int result = 0;
    std::vector<OnvifProfileEntry> profiles;
};

}  // namespace

OnvifProfileChooser::OnvifProfileChooser(QWidget *parent) : QWidget(parent) {
    list_ = new QComboBox;
    setCommandId(list_, kCtlEditorProfileList);
    again_ = new QPushButton(QStringLiteral("Read again"));
    again_->setAutoDefault(false);  // Enter in the account field must not read twice
    setCommandId(again_, kCtlEditorProfileRead);
    state_ = new QLabel;
    setCommandId(state_, kCtlEditorProfileState);
    state_->setWordWrap(true);

    auto *row = new QHBoxLayout;
    row->addWidget(list_, 1);
    row->addWidget(again_);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Profile")));
    layout->addLayout(row);
    layout->addWidget(state_);

    connect(list_, &QComboBox::currentIndexChanged, this, [this](int row) {
        if (row >= 0) chosen_ = list_->itemData(row).toInt();
    });
    connect(again_, &QPushButton::clicked, this, &OnvifProfileChooser::readAgain);
    pause_.setSingleShot(true);
    pause_.setInterval(kPauseMs);
    connect(&pause_, &QTimer::timeout, this, &OnvifProfileChooser::readNow);
    say({});
}

void OnvifProfileChooser::setSource(const QString &url, const QString &account,
                                    const QString &password) {
    url_ = url.trimmed();
    account_ = account;
    password_ = password;
}

void OnvifProfileChooser::readSoon() { pause_.start(); }

void OnvifProfileChooser::setChosen(int index) {
    chosen_ = index;
    if (const int row = list_->findData(index); row >= 0) list_->setCurrentIndex(row);
}

void OnvifProfileChooser::read(bool again) {
    pause_.stop();
    if (url_.isEmpty() || account_.isEmpty()) {
        say({});
        return;
    }
    const QString source = url_ + QChar(0) + account_ + QChar(0) + password_;
    if (!again && source == lastRead_) return;
    lastRead_ = source;
    const int serial = ++serial_;
    reading_ = true;
    say(QStringLiteral("Reading the camera's profiles\u2026"));
    auto work = [read = readProfiles, url = url_.toStdString(), account = account_.toStdString(),
                 password = password_.toStdString()] {
        ProfilesRead r;
        r.result = read ? read(url, account, password, r.profiles) : -1;
        return r;
    };
    auto done = [this, serial](ProfilesRead r) {
        if (serial == serial_) show(r.result, r.profiles);
    };
    if (!runInBackground<ProfilesRead>(this, std::move(work), std::move(done)))
        show(IPCAM_IS_NULL, {});
}

void OnvifProfileChooser::show(int result, const std::vector<OnvifProfileEntry> &profiles) {
    reading_ = false;
    const QSignalBlocker quiet(list_);  // refilling is not a choice of the user's
    list_->clear();
    if (result < 0) {
        // The source may be right the next time (a camera switched on): a read may try again.
        lastRead_.clear();
        say(QStringLiteral("The profiles could not be read: %1")
                .arg(QString::fromStdString(lastStatusText(result))));
        return;
    }
    for (const OnvifProfileEntry &p : profiles)
        list_->addItem(QString::fromStdU16String(profileText(p)), p.index);
    if (profiles.empty()) {
        say(QStringLiteral("The camera lists no media profile"));
        return;
    }
    const int row = list_->findData(chosen_);
    list_->setCurrentIndex(row >= 0 ? row : 0);
    chosen_ = list_->currentData().toInt();
    say(list_->count() == 1 ? QStringLiteral("The camera has one profile")
                            : QStringLiteral("The camera has %1 profiles").arg(list_->count()));
}

void OnvifProfileChooser::say(const QString &text) {
    state_->setText(text.isEmpty()
                        ? QStringLiteral("Type the URL and the camera's ONVIF account to list its "
                                         "profiles")
                        : text);
}

}  // namespace kestrel
