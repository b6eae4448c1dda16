// The pipeline's thread base: Run starts only at the first Resume, a thread never resumed
// ends without running, and a stop request reaches a running body.
#include "viewer/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "viewer/text_convert.h"

using namespace kestrel;

namespace {

class Counting final : public WorkerThread {
  public:
    ~Counting() override { stopAndWait(); }
    std::atomic<int> runs{0};
    std::atomic<bool> sawStop{false};

  protected:
    uint32_t Run() override {
        ++runs;
        while (!stopRequested) Sleep(1);
        sawStop = true;
        return 631;
    }
};

TEST(WorkerThread, RunWaitsForTheFirstResume) {
    Counting t;
    EXPECT_TRUE(t.hasThread());
    EXPECT_TRUE(t.suspended());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(t.runs.load(), 0);
    t.Resume();
    t.Resume();  // a second resume changes nothing
    EXPECT_FALSE(t.suspended());
    while (t.runs.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    t.RequestStop();
    t.Wait();
    EXPECT_TRUE(t.sawStop.load());
    EXPECT_EQ(t.runs.load(), 1);
    EXPECT_EQ(t.exitCode(), 631u);
}

TEST(WorkerThread, AThreadNeverResumedEndsWithoutRunning) {
    std::atomic<int> *runs = nullptr;
    {
        Counting t;
        runs = &t.runs;
        EXPECT_EQ(runs->load(), 0);
    }  // destroyed while suspended: must not hang, must not run
    SUCCEED();
}

TEST(TextConvert, Utf16AndUtf8BothWays) {
    struct Case {
        std::u16string wide;
        std::string narrow;
    } cases[] = {
        {u"cam.local", "cam.local"},
        {u"K\u00e4fig", "K\xC3\xA4" "fig"},
        {u"\u6444\u50cf", "\xE6\x91\x84\xE5\x83\x8F"},
        {u"\U0001F4F7", "\xF0\x9F\x93\xB7"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(toUtf8(c.wide.c_str(), 100, 100), c.narrow);
        EXPECT_EQ(fromUtf8(c.narrow), c.wide);
    }
    // Cut at a character, never inside one; stops at the zero or the unit limit.
    EXPECT_EQ(toUtf8(u"ab\u00e4", 100, 4), "ab");
    EXPECT_EQ(toUtf8(u"abc", 2, 100), "ab");
    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(toUtf8(loneSurrogate, 100, 100), "a\xEF\xBF\xBD" "b");
    // Bytes that are not UTF-8 become replacement characters.
    EXPECT_EQ(fromUtf8("a\xFF" "b\xC3"), u"a\uFFFDb\uFFFD");
    EXPECT_EQ(fromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");  // an over-long encoding
}

}  // namespace
