#include "viewer/packet_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using Addresses = std::vector<IPv4Address>;

// A connection manager that, when it succeeds, may make new addresses appear.
class FakeManager : public ConnectionManager {
  public:
    bool isAvailable = true;
    bool succeeds = true;
    bool nothingToConnect = false;   // no modem or profile: nothing to try
    Addresses *addresses = nullptr;  // replaced by afterConnect on success
    Addresses afterConnect;
    int availableCalls = 0;
    std::vector<int> timeouts;

    bool available() override {
        ++availableCalls;
        return isAvailable;
    }
    Result establish(int timeoutMs) override {
        timeouts.push_back(timeoutMs);
        // A caller that keeps asking would never end; stop it here instead of hanging the suite.
        if (timeouts.size() > 3) {
            ADD_FAILURE() << "establish called again and again";
            return Result::failed;
        }
        if (nothingToConnect) return Result::nothingToConnect;
        if (succeeds && addresses) *addresses = afterConnect;
        return succeeds ? Result::up : Result::failed;
    }
};

std::u16string text(const char16_t *buffer) {
    return std::u16string(buffer);
}

TEST(PacketData, BringUp) {
    const std::u16string failure = u"Can not create GPRS/3G connection!!!";
    const std::u16string noManager =
        u"No mobile connection to make: no connection manager is running";
    const std::u16string nothing =
        u"No mobile connection to make: no modem or mobile broadband profile";
    const std::u16string has = u"No mobile connection needed: this device has the address ";
    const std::u16string made = u"Mobile connection made";
    const struct {
        const char *name;
        Addresses before;
        bool hasManager, available, succeeds;
        Addresses after;
        int expected;
        std::u16string address;
        int establishCalls;
        std::u16string status;
        bool nothingToConnect = false;
    } cases[] = {
        {"private 192 asks, then a carrier address",
         {{192, 168, 1, 5}},
         true,
         true,
         true,
         {{192, 168, 1, 5}, {10, 64, 2, 9}},
         1,
         u"10.64.2.9",
         1,
         made + u": 10.64.2.9"},
        {"private 192 asks, no modem",
         {{192, 168, 1, 5}},
         true,
         true,
         true,
         {},
         0,
         u"",
         1,
         nothing,
         true},
        {"10.x is there already",
         {{10, 0, 0, 3}},
         true,
         true,
         true,
         {},
         0,
         u"10.0.0.3",
         0,
         has + u"10.0.0.3"},
        {"skips loopback, link-local, 255 and 192",
         {{127, 0, 0, 1}, {169, 254, 1, 1}, {255, 255, 255, 0}, {192, 168, 0, 2}, {172, 16, 0, 9}},
         true,
         true,
         true,
         {},
         0,
         u"172.16.0.9",
         0,
         has + u"172.16.0.9"},
        {"first usable one wins",
         {{172, 16, 0, 9}, {10, 0, 0, 3}},
         true,
         true,
         true,
         {},
         0,
         u"172.16.0.9",
         0,
         has + u"172.16.0.9"},
        {"neighbours of the excluded bytes count",
         {{191, 255, 128, 254}},
         true,
         true,
         true,
         {},
         0,
         u"191.255.128.254",
         0,
         has + u"191.255.128.254"},
        {"193 counts",
         {{127, 0, 0, 1}, {193, 0, 0, 0}},
         true,
         true,
         true,
         {},
         0,
         u"193.0.0.0",
         0,
         has + u"193.0.0.0"},
        {"manager not available", {{127, 0, 0, 1}}, true, false, true, {}, 0, u"", 0, noManager},
        {"no manager at all", {}, false, false, false, {}, 0, u"", 0, noManager},
        {"manager fails", {}, true, true, false, {}, 0, u"", 1, failure},
        {"connection brings an address",
         {{127, 0, 0, 1}},
         true,
         true,
         true,
         {{127, 0, 0, 1}, {100, 64, 3, 4}},
         1,
         u"100.64.3.4",
         1,
         made + u": 100.64.3.4"},
        {"connection up but no address ever",
         {{127, 0, 0, 1}},
         true,
         true,
         true,
         {{127, 0, 0, 1}, {169, 254, 9, 9}},
         1,
         u"",
         1,
         made},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // Once with the main window's buffer, once without one: the outcome is the same.
        for (const bool withBuffer : {true, false}) {
            Addresses addresses = c.before;
            int lookups = 0;
            FakeManager manager;
            manager.isAvailable = c.available;
            manager.succeeds = c.succeeds;
            manager.nothingToConnect = c.nothingToConnect;
            manager.addresses = &addresses;
            manager.afterConnect = c.after;
            std::vector<std::u16string> status;
            PacketDataConnection connection(
                [&] {
                    ++lookups;
                    return addresses;
                },
                c.hasManager ? &manager : nullptr,
                [&](const std::u16string &line) { status.push_back(line); });

            char16_t buffer[PacketDataConnection::kAddressTextUnits + 1];
            std::fill(std::begin(buffer), std::end(buffer), u'#');
            EXPECT_EQ(connection.bringUp(withBuffer ? buffer : nullptr), c.expected);
            if (withBuffer) {
                EXPECT_EQ(text(buffer), c.address);
                EXPECT_EQ(buffer[PacketDataConnection::kAddressTextUnits], u'#');
            } else {
                EXPECT_EQ(buffer[0], u'#');
            }
            EXPECT_EQ(manager.timeouts, std::vector<int>(std::size_t(c.establishCalls), 30000));
            // Looked once, and once more after a connection came up.
            EXPECT_EQ(lookups, 1 + (c.expected == 1 ? 1 : 0));
            // Every outcome is said, once.
            EXPECT_EQ(status, std::vector<std::u16string>{c.status});
        }
    }
}

TEST(PacketData, EachCallCountsOnlyItsOwnConnection) {
    Addresses addresses;
    FakeManager manager;
    manager.addresses = &addresses;
    manager.afterConnect = {{10, 1, 1, 1}};
    PacketDataConnection connection([&] { return addresses; }, &manager, nullptr);
    char16_t buffer[PacketDataConnection::kAddressTextUnits];
    EXPECT_EQ(connection.bringUp(buffer), 1);
    EXPECT_EQ(connection.bringUp(buffer), 0);  // up since the first call
    EXPECT_EQ(text(buffer), u"10.1.1.1");
    EXPECT_EQ(manager.timeouts.size(), 1u);

    addresses.clear();  // the carrier dropped it
    manager.succeeds = false;
    EXPECT_EQ(connection.bringUp(buffer), 0);  // no status sink: nothing to tell
    EXPECT_EQ(text(buffer), u"");
    EXPECT_EQ(manager.timeouts.size(), 2u);
}

TEST(PacketData, LocalAddressesIncludeLoopback) {
    const Addresses addresses = localIPv4Addresses();
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), IPv4Address{127, 0, 0, 1}),
              addresses.end());
}

}  // namespace
}  // namespace kestrel
