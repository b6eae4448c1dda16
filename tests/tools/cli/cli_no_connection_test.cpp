// The built ipcam tool against devices that give it no stream: it keeps trying for the time it
// was given, then says what the device did; Ctrl-C ends it with the time it really ran.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "tool_process.h"

namespace {

namespace fs = std::filesystem;
using kestrel_test::ToolProcess;
using kestrel_test::ToolRun;

// The requests by which the library learns a device's kind.
constexpr const char *kDetectionCgis[] = {"GetCameraType.cgi", "GetNetwork.cgi", "GetMyself.cgi",
                                          "GetServerInfo.cgi"};

// A port of 127.0.0.1 with nothing listening: one the system handed out and took back.
uint16_t closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

// The line the tool ends with when it never connected.
std::string finalLine(const std::string &output) {
    const std::size_t at = output.find("ipcam: no connection to ");
    return at == std::string::npos ? std::string() : output.substr(at, output.find('\n', at) - at);
}

// The seconds the final line states ("... after 2.5 s").
double statedSeconds(const std::string &line) {
    const std::size_t at = line.find(" after ");
    return at == std::string::npos ? -1 : std::strtod(line.c_str() + at + 7, nullptr);
}

std::size_t requestsFor(const camsim::CgiServer &server, const std::string &path) {
    std::size_t n = 0;
    for (const auto &r : server.requests()) n += r.path == path;
    return n;
}

class CliNoConnection : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("ipcam-cli-noconn-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_TRUE(silent_.start());
        for (const char *cgi : kDetectionCgis) silent_.setBehaviour(cgi, {.never = true});
    }
    void TearDown() override { fs::remove_all(dir_); }
    // Requests of the library time out after 200 ms (300 ms with the last wait).
    void useShortTimeouts() { std::ofstream(dir_ / "IPCamconfig.txt") << "Get_Timeout=200<E>\n"; }
    std::string silentAddress() const { return "127.0.0.1:" + std::to_string(silent_.port()); }

    fs::path dir_;
    camsim::CgiServer silent_;  // takes every connection, never answers what the device is
};

TEST_F(CliNoConnection, KeepsTryingUntilTheTimeIsUpThenSaysWhatTheDeviceDid) {
    useShortTimeouts();
    struct Case {
        const char *name;
        std::string address;
        int seconds;
        const char *said;
        std::size_t detections;  // rounds of detection the silent device saw at least
    } cases[] = {
        // A round takes four requests of 300 ms, then the library pauses 3 s.
        {"device that never answers", silentAddress(), 7, "No answer", 2},
        {"port with nothing listening", "127.0.0.1:" + std::to_string(closedPort()), 2,
         "Connection refused", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        silent_.clearRequests();
        const ToolRun r = kestrel_test::runTool(
            "watch " + c.address + " --seconds " + std::to_string(c.seconds), dir_);
        EXPECT_EQ(r.status, 1) << r.output;
        const std::string last = finalLine(r.output);
        EXPECT_NE(last.find(c.said), std::string::npos) << r.output;
        EXPECT_GE(r.seconds, c.seconds - 0.5) << "gave up early\n" << r.output;
        EXPECT_NEAR(statedSeconds(last), c.seconds, 1.0) << r.output;
        EXPECT_GE(requestsFor(silent_, "GetCameraType.cgi"), c.detections) << r.output;
    }
}

TEST_F(CliNoConnection, CtrlCEndsTheRunWithTheTimeItTook) {
    camsim::CgiServer web;
    ASSERT_TRUE(web.start());
    camsim::FamilyACamera camera(web, camsim::FamilyAConfig{.capabilities = 1});
    const std::string streaming = "127.0.0.1:" + std::to_string(web.port());
    struct Case {
        const char *name;
        std::string args;
        const char *waitFor;  // printed once the tool is under way
        int status;
        const char *said;  // the line that states the time, up to the number
    } cases[] = {
        {"watch while connecting", "watch " + silentAddress() + " --seconds 60", "connecting: ", 1,
         "ipcam: no connection to "},
        {"get while connecting", "get " + silentAddress() + " name --seconds 60", "connecting: ", 1,
         "ipcam: no connection to "},
        {"watch while streaming", "watch " + streaming + " --seconds 60", "fps key ", 0,
         "summary: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ToolProcess tool(c.args, dir_);
        ASSERT_TRUE(tool.waitFor(c.waitFor, 20'000)) << tool.finish().output;
        tool.signal(SIGINT);
        const ToolRun r = tool.finish();
        EXPECT_EQ(r.status, c.status) << r.output;
        const std::size_t at = r.output.find(c.said);
        ASSERT_NE(at, std::string::npos) << r.output;
        const std::string line = r.output.substr(at, r.output.find('\n', at) - at);
        const double stated =
            c.status == 0 ? std::strtod(line.c_str() + 9, nullptr) : statedSeconds(line);
        EXPECT_GE(stated, 0.0) << line;
        EXPECT_LE(stated, r.seconds + 0.1) << line;
        EXPECT_LT(r.seconds, 30) << r.output;
    }
}

}  // namespace
