// The one QApplication of a Qt test binary (offscreen unless the environment says otherwise),
// and running its events while waiting for a condition.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include <QApplication>
#include <QCoreApplication>

namespace kestrel_test {

inline QApplication &qtApp() {
    static int argc = 1;
    static char name[] = "kestrel_qt_tests";
    static char *argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: Qt's own statics may be gone by the time exit handlers would run it.
    static QApplication *application = new QApplication(argc, argv);
    return *application;
}

// Runs the GUI thread's events until done() or timeoutMs have passed.
inline bool pumpUntil(const std::function<bool()> &done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kestrel_test
