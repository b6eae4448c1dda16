#include "viewer/qt_packet_data.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QMap>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>

#include <algorithm>

namespace kestrel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kProfileInterface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kDeviceInterface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr uint kDeviceTypeModem = 8;
constexpr uint kActiveActivated = 2;
constexpr uint kActiveDeactivated = 4;
constexpr int kAvailableTimeoutMs = 2000;

// The first argument of a reply as a list of object paths ("ao").
QList<QDBusObjectPath> objectPaths(const QDBusMessage &reply) {
    QList<QDBusObjectPath> paths;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return paths;
    const QVariant first = reply.arguments().constFirst();
    if (first.canConvert<QDBusArgument>()) {
        first.value<QDBusArgument>() >> paths;
    } else if (first.canConvert<QList<QDBusObjectPath>>()) {
        paths = first.value<QList<QDBusObjectPath>>();
    }
    return paths;
}

}  // namespace

class NetworkManagerConnection::Deadline {
  public:
    explicit Deadline(int timeoutMs) : timeoutMs_(timeoutMs) { clock_.start(); }
    int remaining() const { return int(std::max<qint64>(0, timeoutMs_ - clock_.elapsed())); }
    bool passed() const { return remaining() == 0; }

  private:
    QElapsedTimer clock_;
    int timeoutMs_;
};

NetworkManagerConnection::NetworkManagerConnection(QDBusConnection bus, int pollIntervalMs)
    : bus_(std::move(bus)), pollIntervalMs_(std::max(1, pollIntervalMs)) {}

bool NetworkManagerConnection::available() {
    if (!bus_.isConnected()) return false;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << kService;
    const QDBusMessage reply = bus_.call(ask, QDBus::Block, kAvailableTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

QDBusMessage NetworkManagerConnection::call(const Deadline &deadline, const QString &path,
                                            const QString &interface, const QString &method,
                                            const QList<QVariant> &arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    if (deadline.passed()) return message.createErrorReply(QDBusError::Timeout, {});
    message.setArguments(arguments);
    return bus_.call(message, QDBus::Block, deadline.remaining());
}

QVariant NetworkManagerConnection::property(const Deadline &deadline, const QString &path,
                                            const QString &interface, const QString &name) {
    const QDBusMessage reply =
        call(deadline, path, kPropertiesInterface, QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

QString NetworkManagerConnection::mobileBroadbandProfile(const Deadline &deadline) {
    const QList<QDBusObjectPath> profiles = objectPaths(
        call(deadline, kSettingsPath, kSettingsInterface, QStringLiteral("ListConnections")));
    for (const QDBusObjectPath &profile : profiles) {
        const QDBusMessage reply =
            call(deadline, profile.path(), kProfileInterface, QStringLiteral("GetSettings"));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) continue;
        const QVariant first = reply.arguments().constFirst();
        if (!first.canConvert<QDBusArgument>()) continue;
        QMap<QString, QVariantMap> settings;  // a{sa{sv}}
        first.value<QDBusArgument>() >> settings;
        const QString type =
            settings.value(QStringLiteral("connection")).value(QStringLiteral("type")).toString();
        if (type == QLatin1String("gsm") || type == QLatin1String("cdma")) return profile.path();
    }
    return {};
}

QString NetworkManagerConnection::modemDevice(const Deadline &deadline) {
    const QList<QDBusObjectPath> devices =
        objectPaths(call(deadline, kManagerPath, kManagerInterface, QStringLiteral("GetDevices")));
    for (const QDBusObjectPath &device : devices) {
        const QVariant type =
            property(deadline, device.path(), kDeviceInterface, QStringLiteral("DeviceType"));
        if (type.isValid() && type.toUInt() == kDeviceTypeModem) return device.path();
    }
    return {};
}

void NetworkManagerConnection::pause(int ms) {
    if (ms <= 0) return;
    if (!QCoreApplication::instance()) {
        QThread::msleep(ulong(ms));
        return;
    }
    // Keeps the window painting meanwhile; the user's input waits until the call is over, so
    // the command cannot be chosen again while it runs.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

ConnectionManager::Result NetworkManagerConnection::establish(int timeoutMs) {
    const Deadline deadline(timeoutMs);
    if (!available()) return Result::nothingToConnect;
    const QString profile = mobileBroadbandProfile(deadline);
    const QString device = profile.isEmpty() ? QString() : modemDevice(deadline);
    if (device.isEmpty()) return deadline.passed() ? Result::failed : Result::nothingToConnect;

    const QDBusMessage reply =
        call(deadline, kManagerPath, kManagerInterface, QStringLiteral("ActivateConnection"),
             {QVariant::fromValue(QDBusObjectPath(profile)),
              QVariant::fromValue(QDBusObjectPath(device)),
              QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return Result::failed;
    const QString active = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    if (active.isEmpty() || active == QLatin1String("/")) return Result::failed;

    for (;;) {
        const QVariant state =
            property(deadline, active, kActiveInterface, QStringLiteral("State"));
        // The active connection's object goes away when the attempt fails.
        if (!state.isValid()) return Result::failed;
        if (state.toUInt() == kActiveActivated) return Result::up;
        if (state.toUInt() == kActiveDeactivated || deadline.passed()) return Result::failed;
        pause(std::min(pollIntervalMs_, deadline.remaining()));
    }
}

std::unique_ptr<ConnectionManager> makeSystemConnectionManager() {
    return std::make_unique<NetworkManagerConnection>();
}

}  // namespace kestrel
