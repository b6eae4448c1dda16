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

TEST(ThreadTest, WhatAnAbandonedThreadIsLeftToDoRunsOnceItsBodyHasReturned) {
    // Abandoned while the body runs: the thread runs it at its end. Abandoned once the body has
    // returned: it runs at once, on the caller's thread.
    for (bool endedFirst : {false, true}) {
        SCOPED_TRACE(endedFirst ? "ended first" : "still running");
        std::atomic<bool> release{false}, bodyDone{false}, hookRan{false};
        std::atomic<bool> hookAfterBody{false}, hookOnCaller{false};
        const std::thread::id caller = std::this_thread::get_id();
        Thread t;
        ASSERT_TRUE(t.create([&] {
            waitFor(release);
            bodyDone = true;
            return 0u;
        }));
        t.resume();
        if (endedFirst) {
            release = true;
            while (t.exitCode() == Thread::kStillActive)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        t.abandon([&] {
            hookAfterBody = bodyDone.load();
            hookOnCaller = std::this_thread::get_id() == caller;
            hookRan = true;
        });
        EXPECT_EQ(hookRan.load(), endedFirst);
        release = true;
        waitFor(hookRan);
        EXPECT_TRUE(hookAfterBody);
        EXPECT_EQ(hookOnCaller.load(), endedFirst);
    }
}

}  // namespace
