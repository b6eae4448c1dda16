#include "transport/delivery.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "support/frame_collector.h"
#include "transport/encoded_frame.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

TEST(DeliveryTest, FormatIsSentOnChangeWhenForcedOrPending) {
    struct Step {
        int width;
        bool forced;
        bool pendingBefore;
        int sent;
    } steps[] = {
        {320, false, true, 1},   // the first format always goes out
        {320, false, false, 0},  // unchanged
        {320, true, false, 1},   // forced
        {640, false, false, 1},  // changed
        {640, false, true, 1},   // pending
        {640, false, false, 0},
    };
    LocalSession s;
    FrameCollector collector;
    collector.attach(s.get());
    size_t expectedMessages = 0;
    for (const Step &st : steps) {
        s->formatPending = st.pendingBefore;
        StreamFormatBlock f = currentFormat(s.get());
        f.width = st.width;
        EXPECT_EQ(formatRule(s.get(), f, st.forced, 77), st.sent) << st.width;
        EXPECT_EQ(s->formatPending.load(), 0);
        EXPECT_EQ(currentFormat(s.get()).width, st.width);
        expectedMessages += static_cast<size_t>(st.sent);
        auto frames = collector.frames();
        ASSERT_EQ(frames.size(), expectedMessages);
        if (st.sent) {
            EXPECT_EQ(frames.back().kind, IPCAM_MSG_FORMAT);
            EXPECT_EQ(frames.back().time, 77u);
            ASSERT_EQ(frames.back().payload.size(), 44u);
            EXPECT_EQ(std::memcmp(frames.back().payload.data(), &f, 44), 0);
        }
    }
}

TEST(DeliveryTest, TimeStepsOnTheFirstFrameAndOnRepeatedStepsBack) {
    struct Step {
        bool awaiting;
        uint64_t last, time;
        int sent;
        uint8_t flagAfter;
    } steps[] = {
        {true, 0, 100, 1, 1},     // first frame after a connection
        {false, 100, 200, 0, 0},  // forward
        {false, 200, 150, 0, 1},  // one step back: noted, not sent
        {false, 200, 150, 1, 1},  // a second one in a row: sent
        {false, 150, 150, 0, 0},  // same time is not backwards
    };
    LocalSession s;
    FrameCollector collector;
    collector.attach(s.get());
    for (const Step &st : steps) {
        s->awaitingFirstFrame = st.awaiting;
        s->lastFrameTime = st.last;
        size_t before = collector.frames().size();
        EXPECT_EQ(timeStepRule(s.get(), st.time), st.sent) << st.time;
        EXPECT_EQ(s->timeStepFlag, st.flagAfter) << st.time;
        EXPECT_EQ(s->awaitingFirstFrame.load(), 0);
        EXPECT_EQ(collector.frames().size(), before + static_cast<size_t>(st.sent));
        if (st.sent) {
            EXPECT_EQ(collector.frames().back().kind, IPCAM_MSG_TIME_STEP);
        }
    }
}

TEST(DeliveryTest, FramesWithoutACallbackAreFreed) {
    LocalSession s;  // no callback: the block must not leak (the leak checker watches)
    EXPECT_TRUE(sendMessage(s.get(), IPCAM_MSG_EVENT, "\x01", 1, 5));
}

}  // namespace

namespace ipcam_recycling {

// Large picture blocks come back from the receiver and go out again, so that a stream of
// large pictures does not take fresh pages for each; small ones, and blocks far too large for
// the picture, are left to the heap.
TEST(FrameBlocksTest, LargeBlocksAreUsedAgain) {
    struct Row {
        std::size_t freed, wanted;
        bool same;
    } rows[] = {
        {100'000, 100'000, true},
        {100'000, 80'000, true},
        {300'000, 100'000, false},
        {100'000, 200'000, false},
    };
    for (const Row &r : rows) {
        void *first = ipcam::allocateFrame(IPCAM_FRAME_KEY, r.freed, 0);
        void *keepBusy = std::malloc(r.freed);  // the heap does not simply hand it back
        IPCamFreeFrame(first);
        EncodedFrame *next = ipcam::allocateFrame(IPCAM_FRAME_KEY, r.wanted, 7);
        EXPECT_EQ(next == first, r.same) << r.freed << " then " << r.wanted;
        EXPECT_EQ(next->totalSize, r.wanted + IPCAM_FRAME_HEAD_SIZE);
        EXPECT_EQ(next->time, 7u);
        IPCamFreeFrame(next);
        std::free(keepBusy);
    }
}

}  // namespace ipcam_recycling
