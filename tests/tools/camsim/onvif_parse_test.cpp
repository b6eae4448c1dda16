// The readers of the simulated ONVIF device's small texts: xs:dateTime of a UsernameToken's
// Created, xs:duration of a PTZ Timeout, and the --onvif options.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tools/camsim/onvif_time.h"
#include "tools/camsim/options.h"

namespace {

// Milliseconds since 1970 of a Created text; nothing when refused.
std::optional<long long> createdMs(const char *text) {
    auto t = camsim::parseDateTime(text);
    if (!t) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(t->time_since_epoch()).count();
}

}  // namespace

TEST(OnvifParseTest, CreatedTimesNeedAZone) {
    struct Case {
        const char *text;
        std::optional<long long> ms;  // since 1970
    } cases[] = {
        {"2010-09-16T07:50:45Z", 1284623445000},
        {"2010-09-16T07:50:45.5Z", 1284623445500},
        {"2010-09-16T07:50:45.123456Z", 1284623445123},
        {"2010-09-16T09:50:45+02:00", 1284623445000},
        {"2010-09-16T02:20:45-05:30", 1284623445000},
        {"2024-02-29T00:00:00Z", 1709164800000},
        {"2010-09-16T07:50:45", std::nullopt},  // whose clock?
        {"2010-09-16T07:50:45z", std::nullopt},
        {"2010-09-16 07:50:45Z", std::nullopt},
        {"2010-09-16T07:50:45.Z", std::nullopt},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"2010-13-01T00:00:00Z", std::nullopt},
        {"2010-09-16T24:00:00Z", std::nullopt},
        {"2010-09-16T07:60:00Z", std::nullopt},
        {"2010-09-16T07:50:45+2:00", std::nullopt},
        {"2010-09-16T07:50:45Z ", std::nullopt},
        {"2010-9-16T07:50:45Z", std::nullopt},
        {"1005-09-16T06:50:45Z", std::nullopt},  // beyond the clock's nanoseconds
        {"1969-12-31T23:59:59Z", std::nullopt},
        {"2200-12-31T23:59:59Z", 7289654399000},
        {"2201-01-01T00:00:00Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) EXPECT_EQ(createdMs(c.text), c.ms) << c.text;
    EXPECT_EQ(camsim::formatDateTime(*camsim::parseDateTime("2026-12-08T09:00:00.9Z")),
              "2026-12-08T09:00:00Z");
}

TEST(OnvifParseTest, TimeoutsAreDurationsOfDaysToSeconds) {
    struct Case {
        const char *text;
        long long ms;  // -1: refused
    } cases[] = {
        {"PT1S", 1000},    {"PT0.5S", 500},    {"PT1M", 60000}, {"PT1H2M3.25S", 3723250},
        {"P1D", 86400000}, {"P0DT10S", 10000}, {"PT0S", 0},     {"PT", -1},
        {"P", -1},         {"1S", -1},         {"-PT1S", -1},   {"P1M", -1},
        {"P1Y", -1},       {"PT1D", -1},       {"P1H", -1},     {"PT1S1M", -1},
        {"PT1.5M", -1},    {"PT.5S", -1},      {"PT1,5S", -1},  {"P1DT25H", -1},
        {"PT1S ", -1},     {"PT1H1H", -1},
    };
    for (const Case &c : cases) {
        auto d = camsim::parseDuration(c.text);
        EXPECT_EQ(d ? d->count() : -1, c.ms) << c.text;
    }
}

TEST(OnvifParseTest, OnvifOptions) {
    std::string error;
    auto defaults = camsim::parseOptions({}, error);
    ASSERT_TRUE(defaults);
    EXPECT_FALSE(defaults->onvif.enabled);
    EXPECT_EQ(defaults->onvif.discoveryPort, 3702);

    auto set = camsim::parseOptions(
        {"--onvif", "--discovery-port", "13702", "--clock-skew", "-90", "--onvif-xaddr-any",
         "--onvif-internal-uri", "--onvif-digest", "--onvif-name", "Gate cam", "--onvif-hardware",
         "GC-1", "--onvif-prefixes", "gsoap", "--onvif-fault", "drip", "--onvif-fault", "no-zoom",
         "--onvif-xaddrs", "http://a@b/", "--onvif-endpoint", "urn:x", "--onvif-flood", "1000"},
        error);
    ASSERT_TRUE(set) << error;
    const camsim::OnvifConfig &o = set->onvif;
    EXPECT_TRUE(o.enabled && o.xaddrAny && o.internalUri && o.digest);
    EXPECT_EQ(o.discoveryPort, 13702);
    EXPECT_EQ(o.clockSkewSeconds, -90);
    EXPECT_EQ(o.name, "Gate cam");
    EXPECT_EQ(o.hardware, "GC-1");
    EXPECT_EQ(o.prefixes, camsim::PrefixStyle::Gsoap);
    EXPECT_TRUE(o.faults.dripMs > 0 && o.faults.noZoom && !o.faults.noPtz);
    EXPECT_EQ(o.discoveryXAddrs + o.discoveryEndpoint + std::to_string(o.floodDevices), "http://a@b/urn:x1000");
    EXPECT_EQ(camsim::parseOptions({"--clock-skew", "+315360000"}, error)->onvif.clockSkewSeconds,
              315360000);

    struct Case {
        std::vector<std::string> args;
        const char *error;
    } bad[] = {
        {{"--discovery-port", "0"}, "--discovery-port: not a port number from 1: '0'"},
        {{"--discovery-port", "70000"}, "--discovery-port: not a port number from 1: '70000'"},
        {{"--clock-skew", "1h"},
         "--clock-skew: expected signed seconds within ten years, got '1h'"},
        {{"--clock-skew", "400000000"},
         "--clock-skew: expected signed seconds within ten years, got '400000000'"},
        {{"--onvif-name", ""}, "--onvif-name: must not be empty"},
        {{"--onvif-prefixes", "tt"}, "--onvif-prefixes: expected gsoap or odd, got 'tt'"},
        {{"--onvif-hardware"}, "--onvif-hardware: needs a value"},
        {{"--onvif-fault", "melt"}, "--onvif-fault: no such fault: 'melt'"},
        {{"--onvif-flood", "1001"}, "--onvif-flood: expected 0 to 1000 devices, got '1001'"},
    };
    for (const Case &c : bad) {
        EXPECT_FALSE(camsim::parseOptions(c.args, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}
