// Deletion of sessions whose threads are busy elsewhere: in a slow name lookup, in a caller's
// callback that does not return, in a retired command object's worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "core/name_lookup.h"
#include "core/session.h"
#include "core/session_api.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"
#include "support/tcp_states.h"
#include "support/wait.h"

using namespace ipcam;
using namespace kestrel_test;
using Clock = std::chrono::steady_clock;

namespace {

// A resolver that knows one name. Every lookup after the first waits until released.
class SlowLookups {
  public:
    SlowLookups() {
        setNameResolver(
            [this](const std::string &name, std::string &dotted) { return resolve(name, dotted); });
    }
    ~SlowLookups() {
        release();
        std::unique_lock hold(lock_);
        changed_.wait_for(hold, std::chrono::seconds(10), [&] { return returned_ == calls_; });
        setNameResolver(nullptr);
    }
    int calls() {
        std::lock_guard hold(lock_);
        return calls_;
    }
    void release() {
        std::lock_guard hold(lock_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    bool resolve(const std::string &name, std::string &dotted) {
        std::unique_lock hold(lock_);
        if (++calls_ > 1) changed_.wait(hold, [&] { return released_; });
        ++returned_;
        changed_.notify_all();
        dotted = "127.0.0.1";
        return name == "camera.test";
    }

    std::mutex lock_;
    std::condition_variable changed_;
    int calls_ = 0, returned_ = 0;  // lock_
    bool released_ = false;         // lock_
};

// A callback that blocks in the first stream-format message until released, and notes when it
// is entered.
class BlockingCallback {
  public:
    static int callback(void *context, int, void *frame, int) {
        auto *self = static_cast<BlockingCallback *>(context);
        const int32_t kind = static_cast<EncodedFrame *>(frame)->kind;
        IPCamFreeFrame(frame);
        std::unique_lock hold(self->lock_);
        self->entries_.push_back(Clock::now());
        if (kind == IPCAM_MSG_FORMAT && !self->blocked_) {
            self->blocked_ = true;
            self->changed_.notify_all();
            self->changed_.wait_for(hold, std::chrono::seconds(20),
                                    [&] { return self->released_; });
        }
        return 0;
    }
    bool waitUntilBlocked(int timeoutMs) {
        std::unique_lock hold(lock_);
        return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                 [&] { return blocked_; });
    }
    void release() {
        std::lock_guard hold(lock_);
        released_ = true;
        changed_.notify_all();
    }
    std::size_t entriesAfter(Clock::time_point t) {
        std::lock_guard hold(lock_);
        std::size_t n = 0;
        for (Clock::time_point e : entries_) n += e > t;
        return n;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Clock::time_point> entries_;   // lock_
    bool blocked_ = false, released_ = false;  // lock_
};

class SessionDeleteTest : public ::testing::Test {
    ScopedTimeouts timeouts{1000};

  protected:
    void SetUp() override {
        ASSERT_TRUE(device.start());
        device.setCredentials("admin", "secret");
    }
    void TearDown() override { IPCamAllDelete(); }

    camsim::CgiServer device;
};

TEST_F(SessionDeleteTest, ASlowLookupNeitherDelaysDeletionNorKeepsTheDeviceConnection) {
    // The device takes the stream request and sends nothing, so the next attempt looks the
    // name up again while the stream connection is still open.
    camsim::FamilyACamera camera(device, {.capabilities = 1, .stream = {.fullHouse = true}});
    SlowLookups lookups;
    FrameCollector frames;
    IPCamSession *s = nullptr;
    ASSERT_EQ(IPCamCreate(&s, "camera.test", device.port(), "admin", "secret", 71, 1), 0);
    ASSERT_EQ(IPCamAction(s, &FrameCollector::callback, &frames, 0), 0);
    ASSERT_TRUE(waitFor([&] { return lookups.calls() >= 2; }, 15000))
        << "status " << IPCamGetLastError(s);
    EXPECT_GE(establishedAt(device.port()), 1);

    const uint32_t abandonedBefore = abandonedThreadCount();
    EXPECT_LT(elapsedMs([] { EXPECT_EQ(IPCamAllDelete(), 0); }), 1500);
    EXPECT_EQ(abandonedThreadCount(), abandonedBefore);
    EXPECT_TRUE(waitFor([&] { return establishedAt(device.port()) == 0; }, 2000));
    // The lookup still runs and ends by itself once released (~SlowLookups).
}

// One session goes while others stream and another is still connecting: the others go on,
// nothing of the deleted ones stays, and a second deletion finds nothing.
TEST_F(SessionDeleteTest, OneSessionGoesWhileTheOthersStream) {
    camsim::FamilyACamera camera(device, {.capabilities = 1});
    Listener silent;  // takes connections and never answers: a session there stays connecting
    FrameCollector frames[3];
    IPCamSession *streaming[3] = {};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(IPCamCreate(&streaming[i], "127.0.0.1", device.port(), "admin", "secret", 81 + i,
                              1),
                  0);
        ASSERT_EQ(IPCamAction(streaming[i], &FrameCollector::callback, &frames[i], 0), 0);
    }
    IPCamSession *connecting = nullptr;
    ASSERT_EQ(IPCamCreate(&connecting, "127.0.0.1", silent.port(), "admin", "secret", 84, 1), 0);
    ASSERT_EQ(IPCamAction(connecting, &FrameCollector::callback, &frames[0], 0), 0);
    for (FrameCollector &f : frames)
        ASSERT_TRUE(waitFor([&] { return f.videoFrames().size() >= 5; }, 15000));
    ASSERT_TRUE(waitFor([&] { return establishedAt(silent.port()) >= 1; }, 5000));
    ASSERT_EQ(establishedAt(device.port()), 3);

    EXPECT_LT(elapsedMs([&] { EXPECT_EQ(IPCamDelete(streaming[1]), 0); }), 1500);
    EXPECT_LT(elapsedMs([&] { EXPECT_EQ(IPCamDelete(connecting), 0); }), 1500);
    const std::size_t deletedHad = frames[1].videoFrames().size();
    const std::size_t othersHad[] = {frames[0].videoFrames().size(),
                                     frames[2].videoFrames().size()};
    EXPECT_TRUE(waitFor([&] { return establishedAt(silent.port()) == 0; }, 2000));
    EXPECT_TRUE(waitFor([&] { return establishedAt(device.port()) == 2; }, 2000));
    EXPECT_TRUE(waitFor(
        [&] {
            return frames[0].videoFrames().size() >= othersHad[0] + 10 &&
                   frames[2].videoFrames().size() >= othersHad[1] + 10;
        },
        5000));
    EXPECT_EQ(frames[1].videoFrames().size(), deletedHad);

    int notASession = 0;
    for (IPCamSession *gone : {streaming[1], connecting, static_cast<IPCamSession *>(nullptr),
                               reinterpret_cast<IPCamSession *>(&notASession)})
        EXPECT_EQ(IPCamDelete(gone), -1);
    EXPECT_EQ(IPCamGetLastError(streaming[0]), 0);
    // The sessions that still stream go before the collectors they deliver to.
    EXPECT_EQ(IPCamAllDelete(), 0);
}

TEST_F(SessionDeleteTest, AnAbandonedThreadLeavesNoConnectionAndNeverEntersTheCallbackAgain) {
    camsim::FamilyACamera camera(device, {.capabilities = 1});
    const int descriptorsBefore = openDescriptors();
    const std::size_t keptBefore = sessionsAwaitingThreads();
    const uint32_t abandonedBefore = abandonedThreadCount();
    BlockingCallback callback;
    IPCamSession *s = nullptr;
    ASSERT_EQ(IPCamCreate(&s, "127.0.0.1", device.port(), "admin", "secret", 72, 1), 0);
    ASSERT_EQ(IPCamAction(s, &BlockingCallback::callback, &callback, 0), 0);
    ASSERT_TRUE(callback.waitUntilBlocked(15000)) << "status " << IPCamGetLastError(s);
    EXPECT_GE(establishedAt(device.port()), 1);

    EXPECT_GE(elapsedMs([] { EXPECT_EQ(IPCamAllDelete(), 0); }), 2500);  // the polls ran out
    const Clock::time_point returned = Clock::now();
    EXPECT_EQ(abandonedThreadCount(), abandonedBefore + 1);
    EXPECT_TRUE(waitFor([&] { return establishedAt(device.port()) == 0; }, 2000));

    // The callback returns: the frame after the format is not handed to it, and the thread
    // ends, freeing the session and closing its descriptors.
    callback.release();
    EXPECT_TRUE(waitFor([&] { return sessionsAwaitingThreads() == keptBefore; }, 5000));
    EXPECT_EQ(callback.entriesAfter(returned), 0u);
    EXPECT_TRUE(waitFor([&] { return openDescriptors() <= descriptorsBefore; }, 5000))
        << openDescriptors() << " descriptors, " << descriptorsBefore << " before";
}

// A retired command object whose worker is still busy with the session when deletion comes.
class BusyRetiredControl : public CameraControl {
  public:
    BusyRetiredControl(IPCamSession *session, std::atomic<bool> &sawSessionWhole)
        : session_(session), sawSessionWhole_(sawSessionWhole) {
        worker_ = std::thread([this] {
            while (!stop_) {
                IPCamGetItem(session_, 3);  // the current command object
                session_->rtp.channels.advance(0, 1, 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~BusyRetiredControl() override {
        sawSessionWhole_ = session_->control != nullptr;
        stop_ = true;
        worker_.join();
    }
    int Command(IPCamSession *, void *, void *) override { return 0; }

  private:
    IPCamSession *session_;
    std::atomic<bool> &sawSessionWhole_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

class PlainControl : public CameraControl {
  public:
    int Command(IPCamSession *, void *, void *) override { return 0; }
    int32_t GetValue() override { return 1; }
};

TEST_F(SessionDeleteTest, RetiredCommandObjectsGoFirst) {
    std::atomic<bool> sawSessionWhole{false};
    IPCamSession *s = nullptr;
    ASSERT_EQ(IPCamCreate(&s, "127.0.0.1", device.port(), "admin", "secret", 73, 1), 0);
    s->control = new PlainControl;
    s->retiredControls.emplace_back(new BusyRetiredControl(s, sawSessionWhole));
    EXPECT_EQ(IPCamAllDelete(), 0);
    EXPECT_TRUE(sawSessionWhole);
}

}  // namespace
