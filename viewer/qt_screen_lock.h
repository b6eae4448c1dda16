// Whether the desktop's screen is locked, as the session's screen saver says on the message
// bus ("org.freedesktop.ScreenSaver", or GNOME's "org.gnome.ScreenSaver"): asked once without
// waiting for the answer, then followed through its ActiveChanged signal. Without a screen
// saver on the bus the screen counts as unlocked.
#pragma once

#include <QDBusConnection>
#include <QObject>

namespace kestrel {

class ScreenLockWatch final : public QObject {
    Q_OBJECT

  public:
    explicit ScreenLockWatch(QDBusConnection bus, QObject *parent = nullptr);

    bool locked() const { return locked_; }

  private slots:
    void activeChanged(bool active);

  private:
    QDBusConnection bus_;
    bool locked_ = false;
};

}  // namespace kestrel
