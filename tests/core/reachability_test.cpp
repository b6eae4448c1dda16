#include "core/reachability.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "control/cgi_client.h"
#include "core/config.h"
#include "ipcam.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

// Fake echo methods that record what the loader and the probe do with them.
struct Log {
    std::vector<std::string> events;
    bool replies = true;
    uint32_t lastTimeout = 0;
    std::string lastData;
} g_log;

template <int N>
int openFake() {
    g_log.events.push_back("open" + std::to_string(N));
    return N == 3 ? 33 : -1;  // only the third is available
}
bool echoFake(int, in_addr_t address, const void *data, std::size_t length, uint32_t timeoutMs) {
    g_log.events.push_back("echo " + std::to_string(ntohl(address)));
    g_log.lastData.assign(static_cast<const char *>(data), length);
    g_log.lastTimeout = timeoutMs;
    return g_log.replies;
}
void closeFake(int handle) {
    g_log.events.push_back("close" + std::to_string(handle));
}

constexpr EchoMethod kFakes[] = {
    {"first", openFake<1>, echoFake, closeFake},
    {"second", openFake<2>, echoFake, closeFake},
    {"third", openFake<3>, echoFake, closeFake},
};

class ReachabilityTest : public ::testing::Test {
  protected:
    void SetUp() override { g_log = Log{}; }
    void TearDown() override { loadEchoFunctions(); }
};

TEST_F(ReachabilityTest, LoaderTakesTheFirstMethodThatWorks) {
    EXPECT_EQ(loadEchoFunctions(kFakes), 0);
    EXPECT_EQ(g_log.events, (std::vector<std::string>{"open1", "open2", "open3", "close33"}));
    EXPECT_EQ(loadEchoFunctions(std::span<const EchoMethod>(kFakes, 2)), -1);
}

TEST_F(ReachabilityTest, ProbeSendsOneEchoWithTheHuntPayload) {
    ASSERT_EQ(loadEchoFunctions(kFakes), 0);
    g_log.events.clear();
    EXPECT_EQ(probeHost("10.0.0.2", true, 1234), 0);
    EXPECT_EQ(g_log.events, (std::vector<std::string>{"open3", "echo 167772162", "close33"}));
    EXPECT_EQ(g_log.lastData, std::string("hunt", 5));
    EXPECT_EQ(g_log.lastTimeout, 1234u);

    g_log.replies = false;
    EXPECT_EQ(probeHost("10.0.0.2", true, 50), IPCAM_PING_IS_ER);
}

TEST_F(ReachabilityTest, DisabledProbeSendsNothing) {
    ASSERT_EQ(loadEchoFunctions(kFakes), 0);
    g_log.events.clear();
    EXPECT_EQ(probeHost("10.0.0.2", false, 1000), 0);
    EXPECT_TRUE(g_log.events.empty());
}

TEST_F(ReachabilityTest, WithoutAMethodEveryHostCountsAsReachable) {
    // None loaded at all, or none of those tried available: the probe cannot tell.
    for (std::span<const EchoMethod> methods :
         {std::span<const EchoMethod>(), std::span<const EchoMethod>(kFakes, 2)}) {
        EXPECT_EQ(loadEchoFunctions(methods), -1);
        g_log.events.clear();
        for (bool enabled : {true, false})
            EXPECT_EQ(probeHost("127.0.0.1", enabled, 100), 0) << enabled;
        EXPECT_TRUE(g_log.events.empty());
    }
}

TEST_F(ReachabilityTest, WithoutAMethodSessionsStillConnect) {
    // Probing on, nothing to probe with: a camera that answers is used.
    kestrel_test::ScopedTimeouts timeouts{1000};
    Settings cfg = settings();
    cfg.pingEnable = true;
    cfg.pingTimeout = 200;
    setSettings(cfg);
    ASSERT_EQ(loadEchoFunctions(std::span<const EchoMethod>()), -1);
    camsim::CgiServer camera;
    ASSERT_TRUE(camera.start());
    camera.setBody("GetStatus.cgi", "Status=1<br>");
    CgiClient client;
    ASSERT_EQ(client.SetAddress("127.0.0.1", camera.port()), 0);
    EXPECT_EQ(client.Get("GetStatus.cgi"), 1);
}

TEST_F(ReachabilityTest, BadAddressIsUnreachable) {
    ASSERT_EQ(loadEchoFunctions(kFakes), 0);
    g_log.events.clear();
    EXPECT_EQ(probeHost("no.such.host", true, 100), IPCAM_PING_IS_ER);
    EXPECT_EQ(probeHost(nullptr, true, 100), IPCAM_PING_IS_ER);
    EXPECT_TRUE(g_log.events.empty());
}

TEST_F(ReachabilityTest, LoopbackAnswersARealEcho) {
    if (loadEchoFunctions() != 0) GTEST_SKIP() << "no ICMP echo method on this machine";
    EXPECT_EQ(probeHost("127.0.0.1", true, 2000), 0);
}

std::vector<std::string> g_messages;
void collect(const char *text, const char *caption) {
    g_messages.push_back(std::string(caption) + ": " + text);
}

TEST_F(ReachabilityTest, InitReportsMissingEchoThroughTheMessageHook) {
    IPCamSetMessageHandler(collect);
    g_messages.clear();
    bool available = loadEchoFunctions() == 0;
    EXPECT_EQ(IPCamInit(), 1);
    IPCamSetMessageHandler(nullptr);
    if (available) {
        EXPECT_TRUE(g_messages.empty());
    } else {
        EXPECT_EQ(g_messages,
                  (std::vector<std::string>{"error: Can't initiate the ping functions."}));
    }
}

}  // namespace
