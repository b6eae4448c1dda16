#include "viewer/qt_packet_data.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QThread>

#include "support/private_bus.h"
#include "support/qt_app.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;
using Settings = QMap<QString, QVariantMap>;

const QString kRoot = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kActive = kRoot + QStringLiteral("/ActiveConnection/7");

// NetworkManager as far as establish() sees it: profiles, devices, one activation whose state
// runs through a list (its last entry repeats).
struct Scene {
    std::vector<QString> profileTypes;  // profile i is kRoot/Settings/i
    std::vector<uint> deviceTypes;      // device i is kRoot/Devices/i
    std::vector<uint> states;
    bool activationFails = false;
};

class FakeNetworkManager : public QDBusVirtualObject {
  public:
    explicit FakeNetworkManager(Scene scene) : scene_(std::move(scene)) {}

    std::vector<std::string> activations() {
        std::lock_guard lock(mutex_);
        return activations_;
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override {
        std::lock_guard lock(mutex_);
        const QString member = m.member(), path = m.path();
        const QList<QVariant> args = m.arguments();
        QList<QVariant> out;
        if (member == QLatin1String("ListConnections")) {
            QList<QDBusObjectPath> paths;
            for (std::size_t i = 0; i < scene_.profileTypes.size(); ++i)
                paths << QDBusObjectPath(kRoot + QStringLiteral("/Settings/%1").arg(i));
            out << QVariant::fromValue(paths);
        } else if (member == QLatin1String("GetSettings")) {
            const QString type = scene_.profileTypes.at(path.section('/', -1).toUInt());
            const Settings settings{{QStringLiteral("connection"),
                                     {{QStringLiteral("id"), QStringLiteral("Carrier")},
                                      {QStringLiteral("type"), type}}}};
            out << QVariant::fromValue(settings);
        } else if (member == QLatin1String("GetDevices")) {
            QList<QDBusObjectPath> paths;
            for (std::size_t i = 0; i < scene_.deviceTypes.size(); ++i)
                paths << QDBusObjectPath(kRoot + QStringLiteral("/Devices/%1").arg(i));
            out << QVariant::fromValue(paths);
        } else if (member == QLatin1String("Get") && path.contains(QLatin1String("/Devices/")) &&
                   args.value(1).toString() == QLatin1String("DeviceType")) {
            const uint type = scene_.deviceTypes.at(path.section('/', -1).toUInt());
            out << QVariant::fromValue(QDBusVariant(type));
        } else if (member == QLatin1String("ActivateConnection") && !scene_.activationFails) {
            for (const QVariant &arg : args)
                activations_.push_back(arg.value<QDBusObjectPath>().path().toStdString());
            out << QVariant::fromValue(QDBusObjectPath(kActive));
        } else if (member == QLatin1String("Get") && path == kActive &&
                   args.value(1).toString() == QLatin1String("State")) {
            out << QVariant::fromValue(QDBusVariant(scene_.states.at(step_)));
            if (step_ + 1 < scene_.states.size()) ++step_;
        } else {
            bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.NetworkManager.Failed"),
                                        member));
            return true;
        }
        bus.send(m.createReply(out));
        return true;
    }

  private:
    Scene scene_;
    std::mutex mutex_;
    std::vector<std::string> activations_;  // std::string: readable in failures
    std::size_t step_ = 0;
};

// A private message bus; NetworkManager, when there is one, answers from its own thread.
class QtPacketDataTest : public testing::Test {
  protected:
    void SetUp() override {
        kestrel_test::qtApp();
        qDBusRegisterMetaType<Settings>();
        if (!bus_.start()) GTEST_SKIP() << "no dbus-daemon";
        const QString address = bus_.address();
        client_ = QDBusConnection::connectToBus(address, QStringLiteral("packet-data-client"));
        service_ = QDBusConnection::connectToBus(address, QStringLiteral("packet-data-service"));
        ASSERT_TRUE(client_.isConnected() && service_.isConnected());
        serviceThread_.start();
    }
    void TearDown() override {
        if (!fakes_.empty()) service_.unregisterObject(kRoot, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(QStringLiteral("packet-data-client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("packet-data-service"));
        serviceThread_.quit();
        serviceThread_.wait();
        fakes_.clear();  // their thread has stopped
    }

    FakeNetworkManager &serve(const Scene &scene) {
        // Registered first: the connection's helpers become its children and move along.
        FakeNetworkManager &fake =
            *fakes_.emplace_back(std::make_unique<FakeNetworkManager>(scene));
        EXPECT_TRUE(service_.registerVirtualObject(kRoot, &fake, QDBusConnection::SubPath));
        fake.moveToThread(&serviceThread_);
        EXPECT_TRUE(service_.registerService(QStringLiteral("org.freedesktop.NetworkManager")));
        return fake;
    }

    kestrel_test::PrivateBus bus_;
    QDBusConnection client_{QString()};
    QDBusConnection service_{QString()};
    QThread serviceThread_;
    std::vector<std::unique_ptr<FakeNetworkManager>> fakes_;
};

TEST_F(QtPacketDataTest, Establish) {
    const QString gsm = QStringLiteral("gsm"), cdma = QStringLiteral("cdma");
    const QString wired = QStringLiteral("802-3-ethernet");
    const QString wifi = QStringLiteral("802-11-wireless");
    using Result = ConnectionManager::Result;
    const struct {
        const char *name;
        Scene scene;
        int timeoutMs;
        Result expected;
        int profile, device;  // the activation's arguments; -1: no activation
    } cases[] = {
        {"gsm profile on the modem",
         {{wired, wifi, gsm}, {1, 2, 8}, {1, 1, 2}},
         5000,
         Result::up,
         2,
         2},
        {"cdma profile, first modem", {{cdma, gsm}, {8, 8}, {2}}, 5000, Result::up, 0, 0},
        {"no mobile broadband profile",
         {{wired, wifi}, {8}, {2}},
         5000,
         Result::nothingToConnect,
         -1,
         -1},
        {"no modem", {{gsm}, {1, 2}, {2}}, 5000, Result::nothingToConnect, -1, -1},
        {"activation refused", {{gsm}, {8}, {2}, true}, 5000, Result::failed, -1, -1},
        {"comes up and fails", {{gsm}, {8}, {1, 4}}, 5000, Result::failed, 0, 0},
        {"never comes up", {{gsm}, {8}, {1}}, 600, Result::failed, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeNetworkManager &fake = serve(c.scene);
        NetworkManagerConnection manager(client_, 20);
        EXPECT_TRUE(manager.available());
        const auto start = Clock::now();
        EXPECT_EQ(manager.establish(c.timeoutMs), c.expected);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(c.timeoutMs + 1000));
        if (c.profile < 0) {
            EXPECT_TRUE(fake.activations().empty());
        } else {
            const std::string root = kRoot.toStdString();
            const std::vector<std::string> expected{root + "/Settings/" + std::to_string(c.profile),
                                                    root + "/Devices/" + std::to_string(c.device),
                                                    "/"};
            EXPECT_EQ(fake.activations(), expected);
        }
        if (c.expected == Result::failed && c.timeoutMs < 1000) {  // waited out the time
            EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(c.timeoutMs - 100));
        }
        service_.unregisterService(QStringLiteral("org.freedesktop.NetworkManager"));
        service_.unregisterObject(kRoot, QDBusConnection::UnregisterTree);
    }
}

TEST_F(QtPacketDataTest, NoNetworkManagerOnTheBus) {
    NetworkManagerConnection manager(client_);
    const auto start = Clock::now();
    EXPECT_FALSE(manager.available());
    EXPECT_EQ(manager.establish(30000), ConnectionManager::Result::nothingToConnect);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

// This machine's own system bus; on a device with NetworkManager only the quick answer counts,
// nothing is activated.
TEST(QtPacketData, SystemManagerAnswersQuickly) {
    kestrel_test::qtApp();
    const auto start = Clock::now();
    const std::unique_ptr<ConnectionManager> manager = makeSystemConnectionManager();
    const bool available = manager->available();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    if (!available) {
        EXPECT_EQ(manager->establish(30000), ConnectionManager::Result::nothingToConnect);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    }
}

}  // namespace
}  // namespace kestrel
