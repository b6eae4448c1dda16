// A message bus of the test's own: a dbus-daemon started for it and stopped with it.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace kestrel_test {

class PrivateBus {
  public:
    PrivateBus() = default;
    ~PrivateBus() {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // False when there is no dbus-daemon on this machine or it did not start.
    bool start() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return false;
        daemon_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address")});
        if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000)) return false;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        return !address_.isEmpty();
    }
    QString address() const { return address_; }

  private:
    QProcess daemon_;
    QString address_;
};

}  // namespace kestrel_test
