// The viewer's main window: the picture area the renderer paints, the menu bar at the bottom
// (the handheld's soft-key bar), the site-information and status texts above it, the PTZ
// button panel, the 100 ms occlusion watchdog and every command and key of the Operate menu.
//
// A desktop shares its screen with other windows: there the watchdog counts only while the
// screen is locked; with --smartphone it counts while the window is covered. The site viewed
// last and its stream are remembered in the data directory for the next start.
//
// The keys, the stylus and the watchdog are in qt_viewer_input.cpp, the application in
// qt_viewer_app.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QDialog>
#include <QString>

#include "viewer/main_window_model.h"
#include "viewer/occlusion.h"
#include "viewer/pipeline_control.h"
#include "viewer/qt_display.h"
#include "viewer/site_record.h"
#include "viewer/viewer_settings.h"
#include "viewer/viewer_window.h"

class QLabel;
class QMenuBar;
class QPushButton;

namespace kestrel {

class PacketDataConnection;
class ScreenLockWatch;
class SiteList;
class WallWindow;

class ViewerDialog final : public QDialog, public ViewerWindow {
    Q_OBJECT

  public:
    struct Options {
        bool smartphone = false;
        int width = 0, height = 0;  // client area; 0 for the default
        std::string dataDir;        // where the site list lives; empty for dataDirectory()
    };

    // Hooks the tests replace; the defaults talk to the real system.
    struct Hooks {
        std::function<bool()> covered;                 // the watchdog's probe (smartphone)
        std::function<bool()> screenLocked;            // the desktop's screen is locked
        std::function<uint64_t()> availableMemory;     // bytes, 0 when unknown
        std::function<void(const QString &)> message;  // a message box
        std::function<int(SiteList &, const std::string &dataDir, bool smartphone, int &index,
                          bool &exitRequested)>
            runSiteList;  // QDialog result code
        std::function<void()> bringUpPacketData;
    };

    explicit ViewerDialog(const Options &options, Hooks hooks = {}, QWidget *parent = nullptr);
    ~ViewerDialog() override;

    // Runs a command of the menu or a button by its id, as choosing it does.
    void onCommand(int id);
    // One tick of the 100 ms watchdog.
    void watchdogTick();
    // Starts viewing the current site (the --start option, the Start command).
    void startViewing();
    // Stops viewing and shows the wall in place of the single view (Operate, Wall; --wall).
    void showWall();
    WallWindow *wall() const { return wall_; }

    const SiteRecord &currentSite() const { return current_; }
    void setCurrentSite(const SiteRecord &site);
    QString statusText() const;
    QString siteInfoText() const;
    bool panelShown() const { return panelShown_; }
    uint16_t occlusionCounter() const { return probe_.counter; }
    bool viewing();
    PipelineControl &control() { return control_; }
    QtDisplay &qtDisplay() { return display_; }
    QMenuBar *menuBar() const { return menuBar_; }

    // ViewerWindow.
    void setStatusText(const std::u16string &text) override;  // any thread
    void setSiteInfoVisible(bool visible) override;
    void setStatusVisible(bool visible) override;
    void repaintScreen() override;
    Display &display() override { return display_; }

    // Shows a message box (the message hook when one is set).
    void showMessage(const QString &text, const QString &caption);

    // Examines the main window's input before the window handles it; true when consumed.
    bool examineInput(QObject *receiver, QEvent *event);

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

  private:
    std::string dataDir() const;
    // Says on the status line (and in the picture area when asked) that there is no site to
    // view; false when the current site has an address.
    bool sayWhenNoSite(bool inPicture);
    // Writes the settings file; what names the setting in the message when that fails.
    void saveSettings(const char *what);
    // The pipeline and the menu's check mark follow the low-latency setting.
    void applyLowLatency();
    // Ends a pause of drawing that no held button or key accounts for any more.
    void releaseInput();
    bool screenLocked();
    void layoutWindow();
    void showPanel(bool shown);
    void showSiteInfo();
    void siteCommand();
    void ptzAction(int32_t action);
    void toggleOutput(int output);
    void toggleRotation();
    void pan(int dx, int dy);
    void leave(int result);  // ends the program's dialog
    void openFromWall(const SiteRecord &site);

    Options options_;
    Hooks hooks_;
    // Declared before control_: its destructor stops the pipeline, which shows "Stop".
    mutable std::mutex statusLock_;
    QString statusText_;  // statusLock_
    QtDisplay display_;
    QtDisplayWidget *picture_ = nullptr;
    QMenuBar *menuBar_ = nullptr;
    QLabel *siteInfo_ = nullptr;
    QLabel *status_ = nullptr;
    QPushButton *buttons_[8] = {};
    SiteRecord current_{};
    ViewerSettings settings_;
    PipelineControl control_;
    OcclusionProbe probe_;
    bool panelShown_ = false;
    bool softKeyHeld_ = false;
    ScreenLockWatch *screenLock_ = nullptr;  // made on first use
    int timerId_ = 0;
    std::atomic<int> siteCommandBusy_{0};
    bool leaving_ = false;
    WallWindow *wall_ = nullptr;   // made when first shown
    bool openedFromWall_ = false;  // the single view shows a tile of the wall
};

// The application: parses the command line, opens the main window and runs it.
class ViewerApp {
  public:
    // Returns the program's exit status.
    static int run(int argc, char **argv);
};

}  // namespace kestrel
