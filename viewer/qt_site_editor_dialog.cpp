#include "viewer/qt_site_editor_dialog.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include "viewer/command_ids.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_onvif_profile_chooser.h"
#include "viewer/site_list.h"
#include "viewer/text_convert.h"

namespace kestrel {

namespace {

constexpr int kStreamRows = 72;
constexpr int kProtocolRows = kProtocolTypes;
constexpr int kWatchdogMs = 100;
constexpr int kWatchdogLimit = 20;  // more covered ticks than this end the editor

constexpr MenuItem kEditorMenu[] = {
    {"", kCmdEditorOk, "OK"},
    {"", kCmdEditorCancel, "Cancel"},
};

// The up-down control beside a list: its value is the list's selected row, its text that
// row's text; stepping it moves the selection and moving the selection steps it.
class ListSpin final : public QSpinBox {
  public:
    ListSpin(QListWidget *list, QWidget *parent) : QSpinBox(parent), list_(list) {
        setRange(0, std::max(0, list->count() - 1));
        lineEdit()->setReadOnly(true);
        connect(this, &QSpinBox::valueChanged, list, [list](int row) {
            if (list->currentRow() != row) list->setCurrentRow(row);
        });
        connect(list, &QListWidget::currentRowChanged, this, [this](int row) {
            if (row >= 0) setValue(row);
        });
    }

  protected:
    QString textFromValue(int value) const override {
        const QListWidgetItem *item = list_->item(value);
        return item ? item->text() : QString();
    }
    int valueFromText(const QString &text) const override {
        const QList<QListWidgetItem *> found = list_->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? value() : list_->row(found.front());
    }
    QValidator::State validate(QString &text, int &) const override {
        return list_->findItems(text, Qt::MatchExactly).isEmpty() ? QValidator::Intermediate
                                                                  : QValidator::Acceptable;
    }

  private:
    QListWidget *list_;
};

int selectedRow(const QListWidget *list) {
    const QList<QListWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

QLineEdit *addEdit(QVBoxLayout *form, const char *label, int id, QLabel **labelOut = nullptr) {
    auto *title = new QLabel(QString::fromUtf8(label));
    if (labelOut) *labelOut = title;
    form->addWidget(title);
    auto *edit = new QLineEdit;
    setCommandId(edit, id);
    form->addWidget(edit);
    return edit;
}

QListWidget *addList(QVBoxLayout *form, const char *label, const QStringList &rows, int listId,
                     int spinId, QWidget **boxOut = nullptr) {
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(new QLabel(QString::fromUtf8(label)));
    auto *list = new QListWidget;
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->addItems(rows);
    list->setFixedHeight(list->sizeHintForRow(0) * 3 + 2 * list->frameWidth());
    setCommandId(list, listId);
    auto *spin = new ListSpin(list, nullptr);
    setCommandId(spin, spinId);
    auto *row = new QHBoxLayout;
    row->addWidget(list, 1);
    row->addWidget(spin);
    column->addLayout(row);
    form->addWidget(box);
    if (boxOut) *boxOut = box;
    return list;
}

// What OK says of an address it refuses; empty when it takes it. A URL cut short would name
// another stream or device, so one that does not fit is refused rather than cut.
QString addressProblem(int protocol, const std::u16string &host) {
    if (!siteHasUrl(static_cast<uint8_t>(protocol))) return {};
    if (host.size() > kSiteTextUnits)
        return QStringLiteral("This URL has %1 characters; a site's URL may have at most %2.")
            .arg(host.size())
            .arg(kSiteTextUnits);
    const QString url = QString::fromStdU16String(host);
    if (protocol == kProtocolOnvif && !url.isEmpty() &&
        !url.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive))
        return QStringLiteral("An ONVIF camera's URL starts with http://, as in "
                              "http://192.0.2.7/onvif/device_service.");
    return {};
}

}  // namespace

SiteEditorDialog::SiteEditorDialog(const SiteRecord &record, bool smartphone, QWidget *parent)
    : QDialog(parent), record_(record), saved_(record), smartphone_(smartphone) {
    setWindowTitle(QStringLiteral("Site"));
    covered = [this] { return windowCovered(this); };

    auto *body = new QWidget;
    auto *form = new QVBoxLayout(body);
    name_ = addEdit(form, "Name", kCtlEditorName);
    host_ = addEdit(form, "IP", kCtlEditorAddress, &hostLabel_);
    hostProblem_ = new QLabel;
    setCommandId(hostProblem_, kCtlEditorAddressProblem);
    hostProblem_->setWordWrap(true);
    hostProblem_->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
    hostProblem_->hide();
    form->addWidget(hostProblem_);
    port_ = addEdit(form, "Port", kCtlEditorPort, &portLabel_);
    account_ = addEdit(form, "Account", kCtlEditorAccount);
    password_ = addEdit(form, "Password", kCtlEditorPassword);
    password_->setEchoMode(QLineEdit::Password);

    auto *sizes = new QGroupBox(QStringLiteral("Video size"));
    auto *sizesLayout = new QHBoxLayout(sizes);
    videoSize_ = new QButtonGroup(this);
    const struct {
        const char *text;
        int id, videoSize;
    } radios[] = {
        {"Small", kCtlEditorSmall, 0}, {"Middle", kCtlEditorMiddle, 1}, {"Big", kCtlEditorBig, 2}};
    for (const auto &r : radios) {
        auto *radio = new QRadioButton(QString::fromUtf8(r.text));
        setCommandId(radio, r.id);
        videoSize_->addButton(radio, r.videoSize);
        sizesLayout->addWidget(radio);
    }
    // The size is the record's at once, not only at OK; Cancel takes it back with the rest.
    connect(videoSize_, &QButtonGroup::idClicked, this,
            [this](int size) { record_.videoSize = static_cast<uint32_t>(size); });
    form->addWidget(sizes);

    rotation_ = new QCheckBox(QStringLiteral("Rotation"));
    setCommandId(rotation_, kCtlEditorRotation);
    form->addWidget(rotation_);
    fitToWidth_ = new QCheckBox(QStringLiteral("Fit to width"));
    setCommandId(fitToWidth_, kCtlEditorFitToWidth);
    form->addWidget(fitToWidth_);

    QStringList streams;
    for (int i = 1; i <= kStreamRows; ++i) streams << QString::number(i);
    streams_ = addList(form, "Stream number", streams, kCtlEditorStreamList, kCtlEditorStreamSpin,
                       &streamBox_);
    protocols_ =
        addList(form, "Protocol type",
                {QStringLiteral("Auto"), QStringLiteral("Type 1"), QStringLiteral("Type 2"),
                 QStringLiteral("Type 3"), QStringLiteral("Type 4"), QStringLiteral("Type 5"),
                 QStringLiteral("RTSP URL"), QStringLiteral("ONVIF")},
                kCtlEditorProtocolList, kCtlEditorProtocolSpin);
    profiles_ = new OnvifProfileChooser;
    form->addWidget(profiles_);
    connect(protocols_, &QListWidget::currentRowChanged, this, &SiteEditorDialog::showProtocol);
    // An ONVIF site's profiles are read when a field is left with the URL and account complete,
    // or on Read profiles; never while the person types, since a read with a half-typed
    // password is a failed login on the camera.
    for (QLineEdit *edit : {host_, account_, password_}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { updateProfileSource(); });
        connect(edit, &QLineEdit::editingFinished, this, [this] {
            if (updateProfileSource()) profiles_->readNow();
        });
    }
    form->addStretch(1);

    auto *scroll = new QScrollArea;
    scroll->setWidget(body);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scroll, 1);
    layout->addWidget(buildMenuBar(this, kEditorMenu, [this](int id) { onCommand(id); }));
    resize(std::max(240, body->sizeHint().width() + 20), 320);

    showRecord();

    watchdog_.setInterval(kWatchdogMs);
    connect(&watchdog_, &QTimer::timeout, this, &SiteEditorDialog::tick);
}

void SiteEditorDialog::showRecord() {
    name_->setText(QString::fromStdU16String(siteName(record_)));
    host_->setText(QString::fromStdU16String(siteHost(record_)));
    port_->setText(QString::number(record_.port));
    account_->setText(QString::fromStdU16String(fromUtf8(siteAccount(record_))));
    password_->setText(QString::fromStdU16String(fromUtf8(sitePassword(record_))));
    rotation_->setChecked(record_.viewFlags & kViewRotation);
    fitToWidth_->setChecked(record_.viewFlags & kViewFitToWidth);
    streams_->setCurrentRow(record_.streamNumber % kStreamRows);
    protocols_->setCurrentRow(record_.protocolType % kProtocolRows);
    profiles_->setChosen(record_.streamNumber);
    showProtocol(protocols_->currentRow());
    const int size = record_.videoSize == 1 || record_.videoSize == 2 ? int(record_.videoSize) : 0;
    videoSize_->button(size)->setChecked(true);
    // A camera found on the network comes with its name and URL; its account is what is left.
    const bool accountNext = record_.protocolType == kProtocolOnvif && account_->text().isEmpty() &&
                             !host_->text().isEmpty();
    (accountNext ? account_ : name_)->setFocus();
}

void SiteEditorDialog::showProtocol(int row) {
    // A URL says where the site is: its port and stream number are unused, and an ONVIF
    // device's profile takes the stream's place.
    const bool url = siteHasUrl(static_cast<uint8_t>(row)), onvif = row == kProtocolOnvif;
    hostLabel_->setText(url ? QStringLiteral("URL") : QStringLiteral("IP"));
    portLabel_->setVisible(!url);
    port_->setVisible(!url);
    streamBox_->setVisible(!url);
    profiles_->setVisible(onvif);
    // Once the editor is up: a site opened complete shows its profiles without being asked.
    if (updateProfileSource() && profiles_->complete())
        QMetaObject::invokeMethod(profiles_, &OnvifProfileChooser::readNow, Qt::QueuedConnection);
}

bool SiteEditorDialog::updateProfileSource() {
    if (selectedRow(protocols_) != kProtocolOnvif) return false;
    profiles_->setSource(host_->text(), account_->text(), password_->text());
    return true;
}

void SiteEditorDialog::onCommand(int id) {
    if (id == kCmdEditorOk) accept();
    if (id == kCmdEditorCancel) reject();
}

void SiteEditorDialog::accept() {
    const std::u16string host = host_->text().toStdU16String();
    if (const QString problem = addressProblem(selectedRow(protocols_), host); !problem.isEmpty()) {
        hostProblem_->setText(problem);
        hostProblem_->show();
        host_->setFocus();
        return;
    }
    hostProblem_->hide();
    setSiteName(record_, name_->text().toStdU16String());
    setSiteHost(record_, host);
    record_.port = parsePort(port_->text().toStdU16String());
    setSiteAccount(record_, account_->text().toStdU16String());
    setSitePassword(record_, password_->text().toStdU16String());
    auto flags = static_cast<uint8_t>(record_.viewFlags & ~(kViewRotation | kViewFitToWidth));
    if (rotation_->isChecked()) flags |= kViewRotation;
    if (fitToWidth_->isChecked()) flags |= kViewFitToWidth;
    record_.viewFlags = flags;
    const int stream = selectedRow(streams_), protocol = selectedRow(protocols_);
    record_.streamNumber = static_cast<uint8_t>(stream < 0 ? 0 : stream % kStreamRows);
    record_.protocolType = static_cast<uint8_t>(protocol < 0 ? 0 : protocol % kProtocolRows);
    if (record_.protocolType == kProtocolOnvif)
        record_.streamNumber = static_cast<uint8_t>(std::clamp(profiles_->chosen(), 0, 255));
    watchdog_.stop();
    QDialog::accept();
}

void SiteEditorDialog::reject() {
    watchdog_.stop();
    record_ = saved_;
    QDialog::reject();
}

void SiteEditorDialog::tick() {
    if (exitRequested_) return;
    if (probe_.step(covered()) > kWatchdogLimit) {
        exitRequested_ = true;
        reject();
    }
}

void SiteEditorDialog::keyPressEvent(QKeyEvent *event) {
    if (smartphone_ && event->key() == Qt::Key_Escape) {
        // The Back key edits instead of leaving: in an edit box it removes a character.
        if (auto *edit = qobject_cast<QLineEdit *>(focusWidget()); edit && !edit->isReadOnly())
            edit->backspace();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SiteEditorDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (smartphone_ && !exitRequested_ && !watchdog_.isActive()) watchdog_.start();
}

}  // namespace kestrel
