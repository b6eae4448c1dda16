#include "viewer/qt_screen_lock.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QString>

namespace kestrel {

namespace {

struct ScreenSaver {
    const char *service, *path, *interface;
};

constexpr ScreenSaver kScreenSavers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
};

}  // namespace

ScreenLockWatch::ScreenLockWatch(QDBusConnection bus, QObject *parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    for (const ScreenSaver &saver : kScreenSavers) {
        const QString service = QString::fromLatin1(saver.service);
        const QString path = QString::fromLatin1(saver.path);
        const QString interface = QString::fromLatin1(saver.interface);
        bus_.connect(service, path, interface, QStringLiteral("ActiveChanged"), this,
                     SLOT(activeChanged(bool)));
        // The answer comes back through the event loop; the watchdog never waits for it.
        const QDBusPendingCall call = bus_.asyncCall(
            QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetActive")));
        auto *watcher = new QDBusPendingCallWatcher(call, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher *done) {
                    const QDBusPendingReply<bool> reply = *done;
                    if (reply.isValid() && reply.value()) locked_ = true;
                    done->deleteLater();
                });
    }
}

void ScreenLockWatch::activeChanged(bool active) {
    locked_ = active;
}

}  // namespace kestrel
