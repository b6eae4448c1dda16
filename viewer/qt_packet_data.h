// The connection manager of a Linux desktop or handset: NetworkManager on the system bus.
#pragma once

#include <memory>

#include <QDBusConnection>
#include <QString>

#include "viewer/packet_data.h"

class QDBusMessage;

namespace kestrel {

class NetworkManagerConnection : public ConnectionManager {
  public:
    // bus is where NetworkManager is looked for; pollIntervalMs how often establish() reads the
    // new connection's state while it comes up.
    explicit NetworkManagerConnection(QDBusConnection bus = QDBusConnection::systemBus(),
                                      int pollIntervalMs = 250);

    // The bus is connected and "org.freedesktop.NetworkManager" has an owner on it.
    bool available() override;

    // Activates the first mobile broadband profile ("gsm" or "cdma") on the first modem device
    // and waits until the active connection is activated (up), deactivated or timeoutMs have
    // passed (failed). Without such a profile or device, or without NetworkManager, there is
    // nothing to connect; any D-Bus error fails. Every call on the bus is bounded by the time
    // that is left.
    Result establish(int timeoutMs) override;

  private:
    class Deadline;
    // A method call on NetworkManager's service; an error reply when the time is up.
    QDBusMessage call(const Deadline &deadline, const QString &path, const QString &interface,
                      const QString &method, const QList<QVariant> &arguments = {});
    QVariant property(const Deadline &deadline, const QString &path, const QString &interface,
                      const QString &name);
    QString mobileBroadbandProfile(const Deadline &deadline);
    QString modemDevice(const Deadline &deadline);
    void pause(int ms);

    QDBusConnection bus_;
    int pollIntervalMs_;
};

// The platform's connection manager for the viewer: NetworkManager on the system bus (not
// available when it is not running).
std::unique_ptr<ConnectionManager> makeSystemConnectionManager();

}  // namespace kestrel
