#include "viewer/qt_onvif_profile_chooser.h"

#include <utility>

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
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
    again_ = new QPushButton(QStringLiteral("Read profiles"));
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
    say({});
}

OnvifProfileChooser::~OnvifProfileChooser() {
    if (stop_) *stop_ = true;
}

void OnvifProfileChooser::setSource(const QString &url, const QString &account,
                                    const QString &password) {
    typed_ = {url.trimmed(), account, password};
}

void OnvifProfileChooser::setChosen(int index) {
    chosen_ = index;
    if (const int row = list_->findData(index); row >= 0) list_->setCurrentIndex(row);
}

bool OnvifProfileChooser::complete() const {
    const QUrl url(typed_.url);
    return !typed_.account.isEmpty() && !url.host().isEmpty() &&
           url.scheme().compare(QStringLiteral("http"), Qt::CaseInsensitive) == 0;
}

void OnvifProfileChooser::read(bool again) {
    if (!complete()) {
        if (!reading_) say({});
        return;
    }
    const QString source = typed_.text();
    if (source == refused_) {
        say(QStringLiteral("The camera refused this account: change the account or the password "
                           "to read its profiles (%1)")
                .arg(QString::fromStdString(lastStatusText(IPCAM_USER_OR_PASSWD_IS_ER))));
        return;
    }
    if (!again && source == lastRead_) return;
    lastRead_ = source;
    wanted_ = typed_;
    say(QStringLiteral("Reading the camera's profiles\u2026"));
    if (reading_) {
        *stop_ = true;  // ends within a moment; this read follows it
        queued_ = true;
        return;
    }
    start();
}

void OnvifProfileChooser::start() {
    stop_ = std::make_shared<std::atomic<bool>>(false);
    reading_ = true;
    queued_ = false;
    auto work = [read = readProfiles, source = wanted_, stop = stop_] {
        ProfilesRead r;
        r.result = read ? read(source.url.toStdString(), source.account.toStdString(),
                               source.password.toStdString(), [stop] { return stop->load(); },
                               r.profiles)
                        : -1;
        return r;
    };
    auto done = [this, source = wanted_](ProfilesRead r) { finished(source, r.result, r.profiles); };
    if (!runInBackground<ProfilesRead>(this, std::move(work), std::move(done)))
        finished(wanted_, IPCAM_IS_NULL, {});
}

void OnvifProfileChooser::finished(const Source &source, int result,
                                   const std::vector<OnvifProfileEntry> &profiles) {
    reading_ = false;
    if (queued_) {
        start();  // a newer request came meanwhile: this answer is not for it
        return;
    }
    const QSignalBlocker quiet(list_);  // refilling is not a choice of the user's
    list_->clear();
    if (result < 0) {
        // Another kind of failure may pass the next time (a camera switched on): a read may try
        // again. A refused account is not sent again as it is.
        lastRead_.clear();
        if (result == IPCAM_USER_OR_PASSWD_IS_ER) refused_ = source.text();
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
                        ? QStringLiteral("Type the URL and the camera's ONVIF account, then "
                                         "choose Read profiles to list its profiles")
                        : text);
}

}  // namespace kestrel
