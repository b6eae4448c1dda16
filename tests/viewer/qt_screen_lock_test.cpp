// The desktop's screen lock as the viewer's watchdog sees it, against a screen saver on a
// private bus: its first answer, then its signals.
#include "viewer/qt_screen_lock.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include "support/private_bus.h"
#include "support/qt_app.h"

namespace kestrel {
namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");

// Answers GetActive with what it is told.
class FakeScreenSaver : public QDBusVirtualObject {
  public:
    bool active = false;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override {
        if (m.member() != QLatin1String("GetActive")) return false;
        bus.send(m.createReply(QVariant(active)));
        return true;
    }
};

TEST(ScreenLockWatch, FollowsTheScreenSaver) {
    kestrel_test::qtApp();
    kestrel_test::PrivateBus bus;
    if (!bus.start()) GTEST_SKIP() << "no dbus-daemon";
    {
        QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "saver");
        QDBusConnection client = QDBusConnection::connectToBus(bus.address(), "viewer");
        ASSERT_TRUE(service.isConnected() && client.isConnected());
        FakeScreenSaver saver;
        saver.active = true;  // locked before the viewer looks
        ASSERT_TRUE(service.registerVirtualObject(kPath, &saver));
        ASSERT_TRUE(service.registerService(kService));

        ScreenLockWatch watch(client);
        EXPECT_FALSE(watch.locked());  // the answer comes later: nothing waits for it
        EXPECT_TRUE(kestrel_test::pumpUntil([&] { return watch.locked(); }));

        for (const bool active : {false, true, false}) {
            QDBusMessage changed =
                QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActiveChanged"));
            changed << active;
            ASSERT_TRUE(service.send(changed));
            EXPECT_TRUE(kestrel_test::pumpUntil([&] { return watch.locked() == active; }))
                << active;
        }
        service.unregisterObject(kPath);
    }
    QDBusConnection::disconnectFromBus("saver");
    QDBusConnection::disconnectFromBus("viewer");

    // No screen saver at all: never locked.
    QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                         QStringLiteral("none"));
    ScreenLockWatch unlocked(none);
    EXPECT_FALSE(unlocked.locked());
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

}  // namespace
}  // namespace kestrel
