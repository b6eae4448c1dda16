// The main window's keys, stylus and watchdog.
#include <chrono>
#include <thread>

#include <QApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimerEvent>

#include "viewer/pipeline_state.h"
#include "viewer/qt_commands.h"
#include "viewer/qt_screen_lock.h"
#include "viewer/qt_viewer_dialog.h"
#include "viewer/qt_wall_window.h"

namespace kestrel {

namespace {

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

// ---- the watchdog ----

void ViewerDialog::timerEvent(QTimerEvent *event) {
    if (event->timerId() == timerId_) {
        watchdogTick();
        return;
    }
    QDialog::timerEvent(event);
}

void ViewerDialog::watchdogTick() {
    releaseInput();
    if (wall_ && wall_->isVisible()) return;  // the wall stands in for this window
    int32_t idle = kControlIdle;
    if (!controlState().compare_exchange_strong(idle, kControlTimer)) return;
    // A desktop shares its screen: a window covered or minimised there is still the user's
    // choice to look elsewhere, and only a locked screen hides the viewer.
    bool covered = screenLocked();
    if (options_.smartphone && !covered)
        covered = hooks_.covered ? hooks_.covered() : windowCovered(this);
    switch (mainWatchdogVerdict(probe_.step(covered), options_.smartphone)) {
        case WatchdogVerdict::stop:
            control_.Stop();
            break;
        case WatchdogVerdict::quit:
            leave(QDialog::Rejected);
            break;
        case WatchdogVerdict::none:
            break;
    }
    controlState() = kControlIdle;
}

bool ViewerDialog::screenLocked() {
    if (hooks_.screenLocked) return hooks_.screenLocked();
    if (!screenLock_) screenLock_ = new ScreenLockWatch(QDBusConnection::sessionBus(), this);
    return screenLock_->locked();
}

// ---- keys and the stylus ----

void ViewerDialog::releaseInput() {
    if (pipeline().inputBusy && QGuiApplication::mouseButtons() == Qt::NoButton && !softKeyHeld_)
        pipeline().inputBusy = 0;
}

bool ViewerDialog::examineInput(QObject *receiver, QEvent *event) {
    PipelineState &p = pipeline();
    // A press on the menu bar opens a pop-up, which gets the release (or none at all when it
    // is dismissed): a press ending in any window, or a pop-up closing, ends the pause.
    if (event->type() == QEvent::MouseButtonRelease ||
        (event->type() == QEvent::Hide && receiver->isWidgetType() &&
         static_cast<QWidget *>(receiver)->windowType() == Qt::Popup))
        p.inputBusy = 0;
    if (!receiver->isWidgetType() || static_cast<QWidget *>(receiver)->window() != this)
        return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            // A tap pauses drawing until the stylus lifts; the pause lets a pass end.
            if (p.inputBusy) return false;  // the same press passed on to a parent
            p.inputBusy = 1;
            sleepMs(100);
            return false;
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            p.inputBusy = 0;
            return false;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            break;
        default:
            return false;
    }
    // A key goes to the focus widget first and then up to its parents: look at it once.
    QWidget *first = QApplication::focusWidget();
    if (!first || first->window() != this) first = this;
    if (receiver != first) return false;

    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_F1) {  // the first soft key
        if (event->type() == QEvent::KeyPress) {
            if (!key->isAutoRepeat()) {
                softKeyHeld_ = true;
                p.inputBusy = 1;
                sleepMs(100);
            }
        } else if (!key->isAutoRepeat()) {
            softKeyHeld_ = false;
            p.inputBusy = 0;
        }
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    // Qt's codes of the digit keys are their characters.
    if (const int32_t action = ptzActionForKey(key->key())) {
        ptzAction(action);
        return false;
    }
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            toggleRotation();
            return true;
        case Qt::Key_Left:
            pan(-1, 0);
            return false;
        case Qt::Key_Right:
            pan(1, 0);
            return false;
        case Qt::Key_Up:
            pan(0, -1);
            return false;
        case Qt::Key_Down:
            pan(0, 1);
            return false;
        default:
            return false;
    }
}

void ViewerDialog::toggleRotation() {
    PipelineState &p = pipeline();
    p.inputBusy = 1;
    const bool on = p.rotateMode == 0;
    p.rotateMode = on ? 1 : 0;
    QApplication::beep();
    setSiteInfoVisible(!on);
    setStatusVisible(!on);
    if (!on) repaintScreen();
    p.inputBusy = 0;
}

void ViewerDialog::pan(int dx, int dy) {
    PipelineState &p = pipeline();
    if (dx < 0 && p.panX >= 1) p.panX = static_cast<int16_t>(p.panX - 1);
    if (dx > 0 && p.panX < p.panXLimit) p.panX = static_cast<int16_t>(p.panX + 1);
    if (dy < 0 && p.panY >= 1) p.panY = static_cast<int16_t>(p.panY - 1);
    if (dy > 0 && p.panY < p.panYLimit) p.panY = static_cast<int16_t>(p.panY + 1);
    p.newPicture = 1;  // redraw at once, at the limits too
}

}  // namespace kestrel
