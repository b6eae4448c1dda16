#include "viewer/qt_viewer_dialog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QThread>
#include <QTimerEvent>

#include "viewer/app_options.h"
#include "viewer/command_ids.h"
#include "viewer/data_directory.h"
#include "viewer/packet_data.h"
#include "viewer/pipeline_state.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_packet_data.h"
#include "viewer/qt_site_list_dialog.h"
#include "viewer/qt_wall_window.h"
#include "viewer/render_thread.h"
#include "viewer/site_list.h"
#include "viewer/video_thread.h"
#include "viewer/viewer_settings.h"

namespace kestrel {

namespace {

constexpr int kDefaultWidth = 800, kDefaultHeight = 600;
constexpr int kWatchdogMs = 100;

// The main window's menu bar: the Operate menu and the Site command.
constexpr MenuItem kMainMenu[] = {
    {"Operate", kCmdStart, "Start"},
    {"Operate", kCmdStop, "Stop"},
    {"Operate", kCmdSnapshot, "Snapshot"},
    {"Operate", 0, nullptr},
    {"Operate/Change Channel", kCmdChannelAll, "Channel All"},
    {"Operate/Change Channel", kCmdChannel1 + 0, "Channel 1"},
    {"Operate/Change Channel", kCmdChannel1 + 1, "Channel 2"},
    {"Operate/Change Channel", kCmdChannel1 + 2, "Channel 3"},
    {"Operate/Change Channel", kCmdChannel1 + 3, "Channel 4"},
    {"Operate/Change Channel", kCmdChannel1 + 4, "Channel 5"},
    {"Operate/Change Channel", kCmdChannel1 + 5, "Channel 6"},
    {"Operate/Change Channel", kCmdChannel1 + 6, "Channel 7"},
    {"Operate/Change Channel", kCmdChannel1 + 7, "Channel 8"},
    {"Operate/Change Channel", kCmdChannel1 + 8, "Channel 9"},
    {"Operate/Change Channel", kCmdChannel1 + 9, "Channel 10"},
    {"Operate/Change Channel", kCmdChannel1 + 10, "Channel 11"},
    {"Operate/Change Channel", kCmdChannel1 + 11, "Channel 12"},
    {"Operate/Change Channel", kCmdChannel1 + 12, "Channel 13"},
    {"Operate/Change Channel", kCmdChannel1 + 13, "Channel 14"},
    {"Operate/Change Channel", kCmdChannel1 + 14, "Channel 15"},
    {"Operate/Change Channel", kCmdChannel1 + 15, "Channel 16"},
    {"Operate/Change Stream", kCmdStream1 + 0, "Stream 1"},
    {"Operate/Change Stream", kCmdStream1 + 1, "Stream 2"},
    {"Operate/Change Stream", kCmdStream1 + 2, "Stream 3"},
    {"Operate/Change Stream", kCmdStream1 + 3, "Stream 4"},
    {"Operate/Change Stream", kCmdStream1 + 4, "Stream 5"},
    {"Operate/Change Stream", kCmdStream1 + 5, "Stream 6"},
    {"Operate/Change Stream", kCmdStream1 + 6, "Stream 7"},
    {"Operate/Change Stream", kCmdStream1 + 7, "Stream 8"},
    {"Operate/Change Stream", kCmdStream1 + 8, "Stream 9"},
    {"Operate/Change Stream", kCmdStream1 + 9, "Stream 10"},
    {"Operate/Change Stream", kCmdStream1 + 10, "Stream 11"},
    {"Operate/Change Stream", kCmdStream1 + 11, "Stream 12"},
    {"Operate/Change Stream", kCmdStream1 + 12, "Stream 13"},
    {"Operate/Change Stream", kCmdStream1 + 13, "Stream 14"},
    {"Operate/Change Stream", kCmdStream1 + 14, "Stream 15"},
    {"Operate/Change Stream", kCmdStream1 + 15, "Stream 16"},
    {"Operate", kCmdPtzControl, "PTZ Control"},
    {"Operate", kCmdLowLatency, "Low latency"},
    {"Operate", kCmdWall, "Wall"},
    {"Operate/Info", kCmdInfoShow, "Show"},
    {"Operate/Info", kCmdInfoHide, "Hide"},
    {"Operate", kCmdPacketData, "GPRS / 3G"},
    {"Operate", 0, nullptr},
    {"Operate", kCmdExit, "Exit"},
    {"", kCmdSite, "Site"},
};

// The library's messages go to the window that shows them; one main window at a time.
ViewerDialog *messageWindow = nullptr;

void showLibraryMessage(const char *text, const char *caption);

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Hands the application's input to the main window before any widget sees it.
class InputFilter final : public QObject {
  public:
    explicit InputFilter(ViewerDialog &window) : QObject(&window), window_(window) {}
    bool eventFilter(QObject *receiver, QEvent *event) override {
        return window_.examineInput(receiver, event);
    }

  private:
    ViewerDialog &window_;
};

}  // namespace

ViewerDialog::ViewerDialog(const Options &options, Hooks hooks, QWidget *parent)
    : QDialog(parent),
      options_(options),
      hooks_(std::move(hooks)),
      display_(options.width > 0 ? options.width : kDefaultWidth,
               options.height > 0 ? options.height : kDefaultHeight),
      control_(*this) {
    setWindowTitle(QStringLiteral("Kestrel"));
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    const int width = display_.screenWidth(), height = display_.screenHeight();
    resize(width, height);
    probe_.reset();

    picture_ = new QtDisplayWidget(display_, this);
    picture_->setGeometry(0, 0, width, height);

    siteInfo_ = new QLabel(QStringLiteral("Site Info"), this);
    setCommandId(siteInfo_, kCtlSiteInfo);
    status_ = new QLabel(this);
    setCommandId(status_, kCtlStatus);
    for (QLabel *label : {siteInfo_, status_}) {
        label->setAutoFillBackground(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, Qt::white);
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    connect(picture_, &QtDisplayWidget::siteInfoTextChanged, siteInfo_, &QLabel::setText);

    // Landscape and smartphone flags, and the screen on the status line.
    PipelineState &p = pipeline();
    p.landscape = width > height ? 1 : 0;
    p.smartphone = options_.smartphone ? 1 : 0;
    char version[64];
    std::snprintf(version, sizeof version, "V2.34.0 Scr: %dX%d", width, height);
    setStatusText(std::u16string(version, version + std::char_traits<char>::length(version)));

    timerId_ = startTimer(kWatchdogMs);

    menuBar_ = buildMenuBar(this, kMainMenu, [this](int id) { onCommand(id); });
    for (int i = 0; i < 8; ++i) {
        const PanelButton &b = kPanelButtons[i];
        auto *button = new QPushButton(QString::fromUtf8(b.caption), this);
        setCommandId(button, b.id);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);  // keys stay with the window
        button->setStyleSheet(QStringLiteral("background-color: rgb(230, 230, 0);"));
        const int id = b.id;
        connect(button, &QPushButton::clicked, this, [this, id] { onCommand(id); });
        buttons_[i] = button;
    }
    showPanel(false);  // lays the window out

    siteList().load(dataDir());
    settings_ = loadViewerSettings(dataDir());
    current_ = startupSite(siteList(), settings_);
    if (QAction *lowLatency = findAction(this, kCmdLowLatency)) lowLatency->setCheckable(true);
    applyLowLatency();
    showSiteInfo();
    // A first start has no site yet: the empty picture area says where to begin.
    display_.showState(missingSiteText(current_));

    qApp->installEventFilter(new InputFilter(*this));
    messageWindow = this;
    IPCamSetMessageHandler(&showLibraryMessage);
    IPCamInit();

    const uint64_t available =
        hooks_.availableMemory ? hooks_.availableMemory() : kestrel::availableMemory();
    if (available != 0 && memoryTooLow(available, pictureBufferSize())) {
        showMessage(QStringLiteral("Out of memory!!!Viewer will not support Mega-Pixel."),
                    QStringLiteral("Kestrel"));
        p.admission.maxWidth = kSmallMemoryPictureWidth;
        p.admission.maxHeight = kSmallMemoryPictureHeight;
    }
    allocatePictureBuffers();
}

ViewerDialog::~ViewerDialog() {
    if (timerId_) killTimer(timerId_);
    timerId_ = 0;
    // The wall's tiles end their own sessions first: Stop ends every session the library has.
    delete wall_;
    wall_ = nullptr;
    control_.Stop();
    IPCamExit();
    if (messageWindow == this) {
        messageWindow = nullptr;
        IPCamSetMessageHandler(nullptr);
    }
    PipelineState &p = pipeline();
    std::vector<uint8_t>().swap(p.pictureBuffer);
    std::vector<uint8_t>().swap(p.rotationBuffer);
}

namespace {

void showLibraryMessage(const char *text, const char *caption) {
    ViewerDialog *window = messageWindow;
    const QString message = QString::fromUtf8(text), title = QString::fromUtf8(caption);
    if (!window || QThread::currentThread() != qApp->thread()) {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        return;
    }
    window->showMessage(message, title);
}

}  // namespace

std::string ViewerDialog::dataDir() const {
    return options_.dataDir.empty() ? dataDirectory() : options_.dataDir;
}

void ViewerDialog::showMessage(const QString &text, const QString &caption) {
    if (hooks_.message) {
        hooks_.message(text);
    } else {
        QMessageBox::warning(this, caption, text);
    }
}

// ---- layout ----

void ViewerDialog::layoutWindow() {
    const int width = std::max(this->width(), 1), height = std::max(this->height(), 1);
    picture_->setGeometry(0, 0, width, height);
    picture_->lower();

    const int barHeight = menuBar_->sizeHint().height();
    menuBar_->setGeometry(0, height - barHeight, width, barHeight);
    const int top = height - barHeight;
    const int h = QFontMetrics(siteInfo_->font()).height();
    const MainLayout l = layoutMainWindow(top, 0, width, h, width);

    display_.setTopRows(0);
    display_.setSoftKeyBarHeight(barHeight);
    display_.setSiteInfoHeight(top - l.siteInfo.top);

    auto place = [](QWidget *w, const Rect &r) {
        w->setGeometry(r.left, r.top, std::max(r.width(), 1), std::max(r.height(), 1));
    };
    for (int i = 0; i < 8; ++i) place(buttons_[i], l.buttons[i].rect);
    // Shown, the panel narrows the text windows to one pixel in their places.
    Rect info = l.siteInfo, status = l.status;
    if (panelShown_) info.right = info.left + 1, status.right = status.left + 1;
    place(siteInfo_, info);
    place(status_, status);
    menuBar_->raise();
}

void ViewerDialog::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    layoutWindow();
}

void ViewerDialog::showPanel(bool shown) {
    panelShown_ = shown;
    for (QPushButton *button : buttons_) {
        const int id = commandId(button);
        // The two output buttons have handlers but stay hidden.
        button->setVisible(shown && id != kBtnOutput1 && id != kBtnOutput2);
    }
    layoutWindow();
}

void ViewerDialog::showSiteInfo() {
    const std::u16string text = kestrel::siteInfoText(current_);
    siteInfo_->setText(QString::fromStdU16String(text));
}

QString ViewerDialog::siteInfoText() const {
    return siteInfo_->text();
}

void ViewerDialog::setCurrentSite(const SiteRecord &site) {
    current_ = site;
    showSiteInfo();
}

// ---- what the pipeline asks of the window ----

void ViewerDialog::setStatusText(const std::u16string &text) {
    const QString copy = QString::fromStdU16String(text);
    {
        std::lock_guard hold(statusLock_);
        statusText_ = copy;
    }
    if (QThread::currentThread() == thread()) {
        status_->setText(copy);
    } else {
        QMetaObject::invokeMethod(
            this,
            [this] {
                std::lock_guard hold(statusLock_);
                status_->setText(statusText_);
            },
            Qt::QueuedConnection);
    }
}

QString ViewerDialog::statusText() const {
    std::lock_guard hold(statusLock_);
    return statusText_;
}

void ViewerDialog::setSiteInfoVisible(bool visible) {
    siteInfo_->setVisible(visible);
    display_.setSiteInfoVisible(visible);
}

void ViewerDialog::setStatusVisible(bool visible) {
    status_->setVisible(visible);
}

void ViewerDialog::repaintScreen() {
    update();
    for (QWidget *child : findChildren<QWidget *>()) {
        if (child->isVisible()) child->update();
    }
}

bool ViewerDialog::viewing() {
    return control_.videoThread() != nullptr;
}

// ---- commands ----

void ViewerDialog::startViewing() {
    control_.Start(current_);
    if (sayWhenNoSite(true)) return;
    rememberSite(settings_, current_);
    saveSettings("the last site");
}

void ViewerDialog::applyLowLatency() {
    pipeline().lowLatency = settings_.lowLatency ? 1 : 0;
    if (QAction *action = findAction(this, kCmdLowLatency)) action->setChecked(settings_.lowLatency);
}

void ViewerDialog::saveSettings(const char *what) {
    std::string why;
    if (!saveViewerSettings(dataDir(), settings_, &why))
        std::fprintf(stderr, "kestrel: %s will not be remembered: %s\n", what, why.c_str());
}

bool ViewerDialog::sayWhenNoSite(bool inPicture) {
    const std::u16string text = missingSiteText(current_);
    if (text.empty()) return false;
    setStatusText(text);
    if (inPicture) display_.showState(text);
    return true;
}

void ViewerDialog::onCommand(int id) {
    PipelineState &p = pipeline();
    if (id >= kCmdStream1 && id < kCmdStream1 + kStreamItems) {
        current_.streamNumber = static_cast<uint8_t>(id - kCmdStream1);
        showSiteInfo();
        startViewing();
        return;
    }
    switch (id) {
        case kCmdSnapshot:
            // Where the snapshot went, or why not, comes from the renderer.
            if (RenderThread *render = control_.renderThread())
                render->snapshotRequested = true;
            else if (!sayWhenNoSite(false))
                setStatusText(kNothingToSnapshot);
            break;
        case kCmdStart:
            startViewing();
            return;
        case kCmdStop:
            control_.Stop();
            return;
        case kCmdPacketData:
            control_.Stop();
            if (hooks_.bringUpPacketData) {
                hooks_.bringUpPacketData();
            } else {
                std::unique_ptr<ConnectionManager> manager = makeSystemConnectionManager();
                PacketDataConnection connection(
                    localIPv4Addresses, manager.get(),
                    [this](const std::u16string &text) { setStatusText(text); });
                char16_t address[64];
                connection.bringUp(address);
            }
            return;
        case kCmdPtzControl:
            showPanel(!panelShown_);
            break;
        case kCmdWall:
            showWall();
            break;
        case kCmdLowLatency:
            settings_.lowLatency = !settings_.lowLatency;
            applyLowLatency();
            saveSettings("low latency");
            break;
        case kCmdInfoShow:
            setSiteInfoVisible(true);
            setStatusVisible(true);
            break;
        case kCmdInfoHide:
            setSiteInfoVisible(false);
            setStatusVisible(false);
            break;
        case kCmdExit:
            control_.Stop();
            leave(QDialog::Accepted);
            return;
        case kCmdSite:
            siteCommand();
            return;
        case kBtnUp:
            ptzAction(kPtzUp);
            break;
        case kBtnDown:
            ptzAction(kPtzDown);
            break;
        case kBtnLeft:
            ptzAction(kPtzLeft);
            break;
        case kBtnRight:
            ptzAction(kPtzRight);
            break;
        case kBtnZoomIn:
            ptzAction(kPtzZoomIn);
            break;
        case kBtnZoomOut:
            ptzAction(kPtzZoomOut);
            break;
        case kBtnOutput1:
            toggleOutput(1);
            break;
        case kBtnOutput2:
            toggleOutput(2);
            break;
        default:
            return;  // the channel items and the status line do nothing
    }
    // A command that ends in the viewer never leaves drawing paused.
    p.inputBusy = 0;
}

void ViewerDialog::ptzAction(int32_t action) {
    VideoThread *video = control_.videoThread();
    if (!video) return;
    PtzRequest request = ptzActionRequest(action);
    video->Command(&request);
}

void ViewerDialog::toggleOutput(int output) {
    VideoThread *video = control_.videoThread();
    if (!video) return;
    AlarmIoRequest read{};
    read.code = IPCAM_CMD_READ_ALARM_IO;
    video->Command(&read);
    AlarmIoRequest write = outputToggleRequest(read, output);
    video->Command(&write);
}

void ViewerDialog::siteCommand() {
    int expected = 0;
    if (!siteCommandBusy_.compare_exchange_strong(expected, 1)) return;
    control_.Stop();
    if (timerId_) killTimer(timerId_);
    timerId_ = 0;
    sleepMs(100);

    const std::string directory = dataDir();
    int index = -1;
    bool exitRequested = false;
    int result;
    if (hooks_.runSiteList) {
        result =
            hooks_.runSiteList(siteList(), directory, options_.smartphone, index, exitRequested);
    } else {
        SiteListDialog dialog(siteList(), directory, options_.smartphone, this);
        result = dialog.exec();
        index = dialog.selectedIndex();
        exitRequested = dialog.exitRequested();
    }
    if (exitRequested) {
        siteCommandBusy_ = 0;
        leave(QDialog::Rejected);
        return;
    }
    timerId_ = startTimer(kWatchdogMs);
    if (result == QDialog::Accepted) {
        if (const SiteRecord *site = siteList().at(index)) {
            current_ = *site;
            startViewing();
        }
    }
    showSiteInfo();
    siteCommandBusy_ = 0;
}

void ViewerDialog::leave(int result) {
    leaving_ = true;
    done(result);
}

void ViewerDialog::reject() {
    // The Back key (Escape) does not end the viewer; the watchdog and Exit do. A site opened
    // from the wall goes back to it.
    if (openedFromWall_) {
        showWall();
        return;
    }
    if (leaving_) QDialog::reject();
}

void ViewerDialog::showWall() {
    control_.Stop();
    openedFromWall_ = false;
    if (!wall_) {
        wall_ = new WallWindow(
            settings_, [this] { saveSettings("the wall"); },
            [this](const SiteRecord &site) { openFromWall(site); }, this);
        // Leaving the wall shows the single view again.
        connect(wall_, &QDialog::rejected, this, [this] {
            show();
            showSiteInfo();
        });
    }
    hide();
    wall_->show();
    wall_->raise();
    wall_->activateWindow();
}

void ViewerDialog::openFromWall(const SiteRecord &site) {
    wall_->hide();
    openedFromWall_ = true;
    current_ = site;
    showSiteInfo();
    show();
    raise();
    startViewing();
}

void ViewerDialog::closeEvent(QCloseEvent *event) {
    if (openedFromWall_) {
        event->ignore();
        showWall();
        return;
    }
    control_.Stop();
    leaving_ = true;
    QDialog::done(QDialog::Accepted);
    event->accept();
}

}  // namespace kestrel
