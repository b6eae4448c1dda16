#include "core/config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/session.h"
#include "ipcam.h"

using namespace ipcam;

namespace {

struct Expected {
    bool pingEnable;
    uint32_t pingTimeout, getTimeout, setTimeout, connectLimit;
    bool usePCTime;
};

void expectSettings(const Settings &s, const Expected &e, const std::string &what) {
    EXPECT_EQ(s.pingEnable, e.pingEnable) << what;
    EXPECT_EQ(s.pingTimeout, e.pingTimeout) << what;
    EXPECT_EQ(s.getTimeout, e.getTimeout) << what;
    EXPECT_EQ(s.setTimeout, e.setTimeout) << what;
    EXPECT_EQ(s.connectLimit, e.connectLimit) << what;
    EXPECT_EQ(s.usePCTime, e.usePCTime) << what;
}

TEST(ConfigTest, ParsesTheKeysByTheirRules) {
    struct Case {
        std::string text;
        Expected expected;
    } cases[] = {
        {"", {false, 6000, 7000, 7000, 6, true}},
        {"Ping_Enable=yPing_Timeout=3000<E>Get_Timeout=500<E>Set_Timeout=800<E>ConnectLimit=2<E>"
         "UsePCTime=n",
         {true, 3000, 500, 800, 2, false}},
        // Keys in any order with any text around them; the first occurrence counts.
        {"junk UsePCTime=N Set_Timeout=10<E> x Get_Timeout=20<E>Get_Timeout=30<E>",
         {false, 6000, 20, 10, 6, false}},
        // The ping time-out is only kept when the probe is enabled.
        {"Ping_Timeout=3000<E>", {false, 0, 7000, 7000, 6, true}},
        {"Ping_Enable=Yes Ping_Timeout=3000<E>", {true, 3000, 7000, 7000, 6, true}},
        {"Ping_Enable=yes", {true, 6000, 7000, 7000, 6, true}},
        {"Ping_Enable=1 Ping_Timeout=3000<E>", {false, 0, 7000, 7000, 6, true}},
        // A negative value stops the numeric keys: it and the ones after it keep their defaults.
        {"Get_Timeout=-1<E>Set_Timeout=2000<E>ConnectLimit=3<E>",
         {false, 6000, 7000, 7000, 6, true}},
        {"Ping_Enable=y Ping_Timeout=-5<E>Get_Timeout=100<E>", {true, 6000, 7000, 7000, 6, true}},
        {"Set_Timeout=-2<E>Get_Timeout=100<E>ConnectLimit=3<E>", {false, 6000, 100, 7000, 6, true}},
        // Without "<E>" the key keeps its default and the next keys are still read.
        {"Set_Timeout=2000<E> ConnectLimit=4<E> Get_Timeout=5000",
         {false, 6000, 7000, 2000, 4, true}},
        {"Get_Timeout=5000", {false, 6000, 7000, 7000, 6, true}},
        // The ordinary decimal conversion: blanks, sign, stop at the first non-digit.
        {"Get_Timeout=  +1200ms<E>", {false, 6000, 1200, 7000, 6, true}},
        {"Get_Timeout=abc<E>", {false, 6000, 0, 7000, 6, true}},
        {"Get_Timeout=99999999999999<E>", {false, 6000, 2147483647, 7000, 6, true}},
        // A number has at most 19 characters: the rest is cut off before the conversion.
        {"Get_Timeout=                  12<E>", {false, 6000, 1, 7000, 6, true}},
        // UsePCTime: only n or N turns our clock off.
        {"UsePCTime=no", {false, 6000, 7000, 7000, 6, false}},
        {"UsePCTime=0", {false, 6000, 7000, 7000, 6, true}},
        {"UsePCTime=", {false, 6000, 7000, 7000, 6, true}},
        // The text ends at an embedded NUL, as a C string would.
        {std::string("Get_Timeout=10<E>\0Set_Timeout=20<E>", 35), {false, 6000, 10, 7000, 6, true}},
    };
    for (const Case &c : cases) expectSettings(parseConfig(c.text), c.expected, c.text);
}

TEST(ConfigTest, ReadsTheDynamicDnsServiceHosts) {
    const std::string longest(kServiceHostSize - 1, 'h');
    struct Case {
        std::string text;
        std::string hosts[kDynamicDnsServices];
    } cases[] = {
        {"", {"", "", ""}},
        {"DDNS_Host3=c.example<E>DDNS_Host1=a.example<E>", {"a.example", "", "c.example"}},
        // Blanks around the name go; the first occurrence counts; "<E>" is required.
        {"DDNS_Host2= \tb.example\r\n<E>DDNS_Host2=x<E>", {"", "b.example", ""}},
        {"DDNS_Host1=a.example DDNS_Host2=b.example<E>",
         {"a.example DDNS_Host2=b.example", "b.example", ""}},
        {"DDNS_Host1=a.example", {"", "", ""}},
        {"DDNS_Host1=   <E>", {"", "", ""}},
        // A name longer than the field is left out rather than cut.
        {"DDNS_Host1=" + longest + "<E>", {longest, "", ""}},
        {"DDNS_Host1=" + longest + "h<E>", {"", "", ""}},
        // A negative number ends the numeric keys only.
        {"Get_Timeout=-1<E>DDNS_Host1=a.example<E>", {"a.example", "", ""}},
    };
    for (const Case &c : cases) {
        Settings s = parseConfig(c.text);
        for (std::size_t i = 0; i < kDynamicDnsServices; ++i)
            EXPECT_EQ(std::string(s.ddnsHost[i]), c.hosts[i]) << c.text << " host " << i + 1;
    }
}

class ConfigFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kestrel-config-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        setenv("IPCAM_CONFIG_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("IPCAM_CONFIG_DIR");
        std::filesystem::remove_all(dir_);
        setSettings(Settings{});
    }
    void write(const std::string &text) {
        std::ofstream(dir_ / kConfigFileName, std::ios::binary) << text;
    }
    std::filesystem::path dir_;
};

TEST_F(ConfigFileTest, MissingFileGivesTheDefaults) {
    setSettings(parseConfig("Get_Timeout=1<E>"));
    EXPECT_EQ(IPCamInit(), 1);
    expectSettings(settings(), {false, 6000, 7000, 7000, 6, true}, "no file");
}

TEST_F(ConfigFileTest, InitReadsTheFileAndSessionsUseIt) {
    write("Get_Timeout=2500<E>\r\nSet_Timeout=900<E>\r\nUsePCTime=n\r\n");
    EXPECT_EQ(IPCamInit(), 1);
    expectSettings(settings(), {false, 6000, 2500, 900, 6, false}, "file");

    // The keep-alive interval of a new session's extra query is a fifth of the receive time-out.
    IPCamSession *s = nullptr;
    ASSERT_EQ(IPCamCreate(&s, "10.0.0.1", 80, "", "", 4711, 1), 0);
    EXPECT_STREQ(s->extraQuery, "&EnableBackupDevice=1&ALiveInterval=500");
    IPCamAllDelete();
}

TEST_F(ConfigFileTest, OnlyTheFirst1023BytesCount) {
    std::string text = "Set_Timeout=1234<E>";
    text += std::string(1023 - text.size() - 6, ' ');
    text += "Get_Timeout=55<E>";  // starts inside the limit, ends outside it
    write(text);
    Settings s = readConfigFile((dir_ / kConfigFileName).string());
    EXPECT_EQ(s.setTimeout, 1234u);
    EXPECT_EQ(s.getTimeout, 7000u);
}

}  // namespace
