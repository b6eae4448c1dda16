#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace ipcam;

namespace {

void waitFor(const std::atomic<bool> &flag) {
    while (!flag) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(ThreadTest, RunsOnlyAfterResumeAndReportsItsExitCode) {
    std::atomic<bool> ran{false}, release{false};
    Thread t;
    ASSERT_TRUE(t.create(
        [&] {
            ran = true;
            waitFor(release);
            return 7u;
        },
        128 * 1024));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(ran);
    EXPECT_EQ(t.exitCode(), Thread::kStillActive);
    t.resume();
    waitFor(ran);
    EXPECT_EQ(t.exitCode(), Thread::kStillActive);
    release = true;
    while (t.exitCode() == Thread::kStillActive) std::this_thread::yield();
    EXPECT_EQ(t.exitCode(), 7u);
    t.join();
    EXPECT_FALSE(t.valid());
}

TEST(ThreadTest, DestroyedBeforeResumeNeverRunsItsBody) {
    std::atomic<bool> ran{false};
    {
        Thread t;
        ASSERT_TRUE(t.create([&] {
            ran = true;
            return 0u;
        }));
    }
    EXPECT_FALSE(ran);
}

TEST(ThreadTest, AnAbandonedThreadRunsOnWithItsOwnState) {
    std::atomic<bool> release{false}, finished{false};
    auto witness = std::make_shared<int>(41);
    {
        Thread t;
        ASSERT_TRUE(t.create([&, witness] {
            waitFor(release);
            ++*witness;
            finished = true;
            return 0u;
        }));
        t.resume();
        t.abandon();
        EXPECT_FALSE(t.valid());
    }
    release = true;
    waitFor(finished);
    EXPECT_EQ(*witness, 42);
}

}  // namespace
