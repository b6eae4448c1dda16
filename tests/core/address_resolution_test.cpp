#include "core/address_resolution.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "core/address_cache.h"
#include "core/config.h"
#include "core/fixed_text.h"
#include "core/reachability.h"
#include "core/session.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"
#include "support/wait.h"

using namespace ipcam;

namespace {

class AddressResolutionTest : public ::testing::Test {
  protected:
    void SetUp() override { clearAddressCache(); }
    void TearDown() override { clearAddressCache(); }  // settings: restored by timeouts

    // The dynamic-DNS service hosts, first to third; the rest stay empty.
    static void useServices(const std::vector<std::string> &names) {
        Settings s = settings();
        for (std::size_t i = 0; i < kDynamicDnsServices; ++i)
            copyText(s.ddnsHost[i], i < names.size() ? names[i] : "");
        setSettings(s);
    }
    static std::unique_ptr<IPCamSession> session(const std::string &host, uint32_t port) {
        auto s = std::make_unique<IPCamSession>();
        copyText(s->hostGiven, host);
        copyText(s->host, "10.9.8.7");  // what an earlier attempt left
        s->portGiven = port;
        s->port = 1;
        s->videoRunning = 1;
        return s;
    }
    static std::string slot(std::size_t i) {
        char text[kAddressSlotSize];
        cachedAddress(i, text);
        return text;
    }

    kestrel_test::ScopedTimeouts timeouts{1000};
};

TEST_F(AddressResolutionTest, NamesAndAddressesWithoutARedirect) {
    camsim::CgiServer server;  // would record any redirect query
    ASSERT_TRUE(server.start());
    struct Case {
        std::string given;
        std::vector<std::string> services;
        int result;
        std::string host, slots[kDynamicDnsServices];
    } cases[] = {
        // A dotted address is used as it is: not even the services are looked up.
        {"127.0.0.1", {"localhost"}, 0, "127.0.0.1", {"", "", ""}},
        {"localhost", {}, 0, "127.0.0.1", {"", "", ""}},
        // Only the strict dotted form is taken as is; a short form is resolved and written out.
        {"127.1", {}, 0, "127.0.0.1", {"", "", ""}},
        // An address none of the services have: empty names are skipped, failures stay empty.
        {"localhost", {"127.0.0.2", "", "no-such-host.invalid"}, 0, "127.0.0.1",
         {"127.0.0.2", "", ""}},
        {"no-such-host.invalid", {"localhost"}, IPCAM_DDNS_IS_ER, "10.9.8.7", {"", "", ""}},
        {"", {}, IPCAM_DDNS_IS_ER, "10.9.8.7", {"", "", ""}},
    };
    for (const Case &c : cases) {
        clearAddressCache();
        useServices(c.services);
        auto s = session(c.given, server.port());
        EXPECT_EQ(resolveAndProbe(s.get()), c.result) << c.given;
        EXPECT_EQ(fieldText(s->host), c.host) << c.given;
        EXPECT_EQ(s->port, c.result == 0 ? server.port() : 1u) << c.given;
        for (std::size_t i = 0; i < kDynamicDnsServices; ++i)
            EXPECT_EQ(slot(i), c.slots[i]) << c.given << " slot " << i;
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AddressResolutionTest, DynamicDnsNameFollowsItsRedirector) {
    constexpr uint32_t kSame = 0;  // expect the redirector's own port, the caller's
    constexpr uint32_t kLeft = 1;  // what an earlier attempt left
    const std::string tooLong(kTextFieldSize, '7');
    struct Case {
        const char *what;
        std::vector<std::string> services;
        std::string location;  // empty: answer with reply instead
        camsim::Reply reply;
        int result;
        std::string host;
        uint32_t port;
    } cases[] = {
        {"address and port", {"localhost"}, "127.0.0.1:8080", {}, 0, "127.0.0.1", 8080},
        {"second service", {"127.0.0.2", "localhost"}, "10.20.30.40:81", {}, 0, "10.20.30.40", 81},
        {"no colon", {"localhost"}, "10.20.30.40", {}, 0, "10.20.30.40", kSame},
        {"200 without redirect", {"localhost"}, "", {200, "parked"}, 0, "localhost", kSame},
        {"401", {"localhost"}, "", {401, "no"}, IPCAM_DDNS_IS_ER, "localhost", kLeft},
        {"404", {"localhost"}, "", {404, "gone"}, IPCAM_DDNS_IS_ER, "localhost", kLeft},
        {"address too long", {"localhost"}, tooLong, {}, IPCAM_DDNS_IS_ER, "localhost", kLeft},
        {"port too high", {"localhost"}, "1.2.3.4:70000", {}, IPCAM_DDNS_IS_ER, "localhost", kLeft},
    };
    for (const Case &c : cases) {
        clearAddressCache();
        useServices(c.services);
        camsim::CgiServer redirector;
        ASSERT_TRUE(redirector.start());
        if (c.location.empty()) redirector.setRedirectReply("LOCALHOST", c.reply);
        else redirector.setRedirect("localhost", c.location);
        auto s = session("localhost", redirector.port());
        EXPECT_EQ(resolveAndProbe(s.get()), c.result) << c.what;
        EXPECT_EQ(fieldText(s->host), c.host) << c.what;
        EXPECT_EQ(s->port, c.port == kSame ? redirector.port() : c.port) << c.what;
        EXPECT_EQ(s->portGiven, redirector.port()) << c.what;
        // The next attempt asks the redirector again, not the port it named.
        EXPECT_EQ(resolveAndProbe(s.get()), c.result) << c.what;
        auto requests = redirector.requests();
        ASSERT_EQ(requests.size(), 2u) << c.what;
        EXPECT_EQ(requests[1].raw, "GET / HTTP/1.1\r\nHost:localhost\r\n\r\n") << c.what;
    }

    // No redirector listening: the query fails like a refusal.
    camsim::CgiServer closed;
    ASSERT_TRUE(closed.start());
    const uint32_t deadPort = closed.port();
    closed.stop();
    auto s = session("localhost", deadPort);
    EXPECT_EQ(resolveAndProbe(s.get()), IPCAM_DDNS_IS_ER);
}

TEST_F(AddressResolutionTest, EveryAttemptAsksTheRedirectorAndNeverTheCamera) {
    // A camera that wants an account, behind a redirector. The session's password is wrong, so
    // every attempt fails at the camera and the next one starts again at the redirector.
    camsim::CgiServer camera;
    ASSERT_TRUE(camera.start());
    camera.setCredentials("admin", "secret");
    camsim::FamilyACamera device(camera, {.capabilities = 1});
    camsim::CgiServer redirector;
    ASSERT_TRUE(redirector.start());
    redirector.setRedirect("localhost", "127.0.0.1:" + std::to_string(camera.port()));
    useServices({"localhost"});

    kestrel_test::FrameCollector frames;
    IPCamSession *s = nullptr;
    ASSERT_EQ(IPCamCreate(&s, "localhost", redirector.port(), "admin", "wrong", 61, 0), 0);
    ASSERT_EQ(IPCamAction(s, &kestrel_test::FrameCollector::callback, &frames, 0), 0);
    auto cameraRefusals = [&] {
        std::size_t n = 0;
        for (const auto &r : camera.requests()) n += r.path == "GetCameraType.cgi";
        return n;
    };
    EXPECT_TRUE(kestrel_test::waitFor([&] { return cameraRefusals() >= 2; }, 15000))
        << "status " << IPCamGetLastError(s);
    EXPECT_EQ(IPCamGetStatus(s), IPCAM_USER_OR_PASSWD_IS_ER);
    EXPECT_EQ(IPCamAllDelete(), 0);

    EXPECT_GE(redirector.requests().size(), 2u);
    for (const auto &r : camera.requests()) EXPECT_NE(r.raw.substr(0, 6), "GET / ") << r.raw;
}

TEST_F(AddressResolutionTest, AfterFramesTheHostIsReusedAndAStopEndsTheStep) {
    auto s = session("no-such-host.invalid", 80);
    copyText(s->authText, "kept");
    s->awaitingFirstFrame = 0;
    EXPECT_EQ(resolveAndProbe(s.get()), IPCAM_OK);
    EXPECT_STREQ(s->host, "10.9.8.7");
    EXPECT_STREQ(s->authText, "kept");

    s->awaitingFirstFrame = 1;  // the last connection delivered nothing: resolve again
    EXPECT_EQ(resolveAndProbe(s.get()), IPCAM_DDNS_IS_ER);

    // Told to stop: the host is settled first, then the step ends with the state set.
    auto stopped = session("localhost", 80);
    stopped->videoRunning = 0;
    EXPECT_EQ(resolveAndProbe(stopped.get()), IPCAM_IS_OVER);
    EXPECT_EQ(stopped->state, IPCAM_IS_OVER);
    EXPECT_STREQ(stopped->host, "127.0.0.1");
}

TEST_F(AddressResolutionTest, AuthorisationTextRefusesAnAccountThatDoesNotFit) {
    struct Case {
        std::string user, password;
        int result;
        std::string expected;
    } cases[] = {
        {"admin", "secret", IPCAM_OK, "YWRtaW46c2VjcmV0"},
        {"", "", IPCAM_OK, "Og=="},
        // "abcdefghijklmnopqrst:012345678901234567", 39 characters
        {"abcdefghijklmnopqrst", "012345678901234567", IPCAM_OK,
         "YWJjZGVmZ2hpamtsbW5vcHFyc3Q6MDEyMzQ1Njc4OTAxMjM0NTY3"},
        {"abcdefghijklmnopqrst", "0123456789012345678", IPCAM_USER_OR_PASSWD_IS_ER, ""},
        {std::string(kTextFieldSize - 1, 'u'), std::string(kTextFieldSize - 1, 'p'),
         IPCAM_USER_OR_PASSWD_IS_ER, ""},
    };
    for (const Case &c : cases) {
        auto s = session("10.0.0.1", 80);
        copyText(s->user, c.user);
        copyText(s->password, c.password);
        copyText(s->authText, "stale");
        s->cseq = 0x5a5a;  // the field after authText
        EXPECT_EQ(buildAuthorisation(s.get()), c.result) << c.user;
        EXPECT_EQ(fieldText(s->authText), c.expected) << c.user;
        EXPECT_EQ(s->cseq, 0x5a5a) << c.user;
        EXPECT_EQ(resolveAndProbe(s.get()), c.result) << c.user;
    }
}

// Echo methods that record the probed address and answer as told.
in_addr_t g_probed = 0;
bool g_answers = true;
int openEcho() {
    return 7;
}
bool echo(int, in_addr_t address, const void *, std::size_t, uint32_t) {
    g_probed = address;
    return g_answers;
}
void closeEcho(int) {}
constexpr EchoMethod kRecordingEcho[] = {{"recording", openEcho, echo, closeEcho}};

TEST_F(AddressResolutionTest, ProbeRunsOnTheSettledAddress) {
    ASSERT_EQ(loadEchoFunctions(kRecordingEcho), 0);
    Settings cfg = settings();
    cfg.pingEnable = true;
    cfg.pingTimeout = 100;
    setSettings(cfg);
    for (bool answers : {true, false}) {
        g_answers = answers;
        g_probed = 0;
        auto s = session("localhost", 80);
        EXPECT_EQ(resolveAndProbe(s.get()), answers ? IPCAM_OK : IPCAM_PING_IS_ER);
        EXPECT_EQ(g_probed, htonl(INADDR_LOOPBACK));
    }
    loadEchoFunctions();
}

TEST_F(AddressResolutionTest, SessionsShareTheServiceCache) {
    camsim::CgiServer redirector;
    ASSERT_TRUE(redirector.start());
    redirector.setRedirect("localhost", "127.0.0.1:8080");
    useServices({"localhost"});
    constexpr int kSessions = 4;
    std::vector<std::unique_ptr<IPCamSession>> sessions;
    std::vector<int> results(kSessions, 1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kSessions; ++i) sessions.push_back(session("localhost", redirector.port()));
    for (int i = 0; i < kSessions; ++i)
        threads.emplace_back([&, i] { results[i] = resolveAndProbe(sessions[i].get()); });
    for (auto &t : threads) t.join();
    for (int i = 0; i < kSessions; ++i) {
        EXPECT_EQ(results[i], IPCAM_OK);
        EXPECT_STREQ(sessions[i]->host, "127.0.0.1");
        EXPECT_EQ(sessions[i]->port, 8080u);
    }
    EXPECT_EQ(redirector.requests().size(), std::size_t{kSessions});
    EXPECT_EQ(slot(0), "127.0.0.1");
}

}  // namespace
