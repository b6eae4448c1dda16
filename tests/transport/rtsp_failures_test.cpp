// What a session by URL says when the camera cannot be played, or plays only slowly: each row
// is a peer that fails in one way. The status and the reach item name the failure, a slow
// answer is waited for on the same connection rather than asked again, and deleting the
// session at that moment takes no more than a few of its 100 ms waits.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "camsim/rtsp_server.h"
#include "ipcam.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"
#include "support/wait.h"

using namespace kestrel_test;
using Clock = std::chrono::steady_clock;

// Named, so that its names stay its own in the batched test build.
namespace rtsp_failures {
namespace {

constexpr uint32_t kReceiveTimeoutMs = 300;

// A port whose connection queue is full: the host drops further connection attempts without
// a word, as a host that is off or a firewall does.
class FullQueue {
  public:
    FullQueue() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(fd_, 0);
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &length);
        port_ = ntohs(a.sin_port);
        for (int &waiting : waiting_) {
            waiting = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            connect(waiting, reinterpret_cast<sockaddr *>(&a), sizeof a);
        }
        usleep(50'000);  // the queue fills
    }
    ~FullQueue() {
        for (int waiting : waiting_) close(waiting);
        close(fd_);
    }
    uint16_t port() const { return port_; }

  private:
    int fd_ = -1, waiting_[2] = {-1, -1};
    uint16_t port_ = 0;
};

struct Row {
    const char *name;
    std::function<uint16_t()> port;  // where the camera is; made when the row runs
    int status;                      // the last error once the row has shown what it shows
    std::set<int> reaches;           // every reach seen on the way, the last one last
    int lastReach;
    bool plays = false;  // the row ends playing, after one DESCRIBE
};

TEST(RtspFailures, EachFailureIsNamedAndASlowCameraIsWaitedFor) {
    ScopedTimeouts timeouts(kReceiveTimeoutMs);
    std::unique_ptr<Listener> silent;
    std::unique_ptr<FullQueue> full;
    camsim::StreamingServer slow;
    camsim::ChannelConfig channel;
    channel.width = 160;
    channel.height = 112;
    channel.fps = 15;
    channel.faults.describeDelayMs = 1200;
    ASSERT_FALSE(slow.addChannel(channel).empty());
    ASSERT_TRUE(slow.start());

    const Row rows[] = {
        {"nothing listens",
         [] { return closedPort(); },
         IPCAM_SETSOCKET_IS_ER,
         {IPCAM_REACH_REFUSED},
         IPCAM_REACH_REFUSED},
        {"the host drops the connection attempt",
         [&] { return (full = std::make_unique<FullQueue>())->port(); },
         IPCAM_SETSOCKET_IS_ER,
         {IPCAM_REACH_UNREACHABLE},
         IPCAM_REACH_UNREACHABLE},
        {"the host takes the connection and never answers",
         [&] { return (silent = std::make_unique<Listener>())->port(); },
         -8,
         {IPCAM_REACH_SLOW, IPCAM_REACH_SILENT},
         IPCAM_REACH_SILENT},
        {"DESCRIBE answered after four receive time-outs",
         [&] { return slow.port(); },
         IPCAM_OK,
         {IPCAM_REACH_SLOW, IPCAM_REACH_ANSWERED},
         IPCAM_REACH_ANSWERED,
         true},
    };
    int id = 7600;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string url = "rtsp://127.0.0.1:" + std::to_string(row.port()) + "/CH01";
        IPCamSession *session = nullptr;
        ASSERT_EQ(IPCamCreateUrl(&session, url.c_str(), nullptr, nullptr, ++id), 0);
        // A silent host is given up after a second; the slow camera gets the default deadline.
        if (!row.plays) {
            ASSERT_EQ(IPCamSetOption(session, IPCAM_OPTION_REPLY_TIMEOUT, 1000), 0);
        }
        FrameCollector collector;
        ASSERT_EQ(IPCamAction(session, &FrameCollector::callback, &collector, IPCAM_ACTION_VIDEO),
                  0);
        std::set<int> seen;
        const bool shown = waitFor(
            [&] {
                seen.insert(IPCamGetItem(session, IPCAM_ITEM_REACH));
                return IPCamGetLastError(session) == row.status &&
                       IPCamGetItem(session, IPCAM_ITEM_REACH) == row.lastReach &&
                       (!row.plays || !collector.frames().empty());
            },
            10'000);
        EXPECT_TRUE(shown) << "status " << IPCamGetLastError(session) << ", reach "
                           << IPCamGetItem(session, IPCAM_ITEM_REACH);
        seen.erase(IPCAM_REACH_ANSWERED);
        std::set<int> wanted = row.reaches;
        wanted.erase(IPCAM_REACH_ANSWERED);
        EXPECT_EQ(seen, wanted);
        if (row.plays) {
            EXPECT_EQ(IPCamGetStatus(session), IPCAM_OK);
            const auto requests = slow.rtspRequests();
            EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                                    [](const auto &r) { return r.method == "DESCRIBE"; }),
                      1);
        }
        // The session now pauses before its next attempt, or waits for the next packet: either
        // way it ends within a few of its 100 ms waits.
        usleep(100'000);
        const Clock::time_point deleting = Clock::now();
        EXPECT_EQ(IPCamDelete(session), 0);
        EXPECT_LT(Clock::now() - deleting, std::chrono::milliseconds(300));
    }
}

}  // namespace
}  // namespace rtsp_failures
