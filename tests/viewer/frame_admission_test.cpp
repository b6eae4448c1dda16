// Which frames enter the queue, what each decision costs the producer, and how the video
// thread paces itself by the queue's length.
#include "viewer/frame_admission.h"

#include <gtest/gtest.h>

#include "viewer/pipeline_fixture.h"

using namespace kestrel;

namespace {

constexpr int32_t kJpeg = 0, kMpeg4 = 4;

TEST(FrameAdmissionTable, MarksByRotationWidthAndCodec) {
    struct Case {
        bool rotate;
        int32_t width, codec;
        AdmissionMarks marks;
    } cases[] = {
        {false, 176, kJpeg, {10, 20, 1, 5}},      {false, 199, kMpeg4, {30, 120, 1, 500}},
        {false, 200, kJpeg, {5, 10, 1, 100}},     {false, 399, kMpeg4, {30, 90, 1, 500}},
        {false, 400, kJpeg, {3, 5, 1, 5}},        {false, 799, kMpeg4, {30, 60, 1, 100}},
        {false, 800, kJpeg, {3, 5, 1, 5}},        {false, 1280, kMpeg4, {10, 30, 1, 100}},
        {true, 160, kJpeg, {8, 12, 50, 100}},     {true, 160, kMpeg4, {120, 121, 1, 1000}},
        {true, 320, kJpeg, {4, 10, 200, 400}},    {true, 320, kMpeg4, {60, 61, 1, 1000}},
        {true, 400, kJpeg, {2, 3, 300, 500}},     {true, 640, kMpeg4, {30, 31, 1, 6000}},
        // Any codec other than Motion-JPEG counts as MPEG-4; the placeholder width is negative.
        {false, 320, 5, {30, 90, 1, 500}},        {false, -1, kJpeg, {10, 20, 1, 5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rotate << " " << c.width << " " << c.codec);
        EXPECT_EQ(admissionFor(c.rotate, c.width, c.codec), c.marks);
    }
}

TEST(FrameAdmissionTable, DecisionsByStateKindAndQueue) {
    FrameAdmission marks;  // low 10, high 20, hold 1, drop 500, widest 3840
    struct Case {
        const char *name;
        bool waiting;
        int32_t kind;
        std::size_t queue;
        int32_t codec, width;
        bool append;
        int sleepFirst, hold, after;
        bool setWaiting, clearWaiting;
    } cases[] = {
        {"short queue takes a frame", false, 3, 9, kMpeg4, 640, true, 0, 0, 0, false, false},
        {"between the marks, MPEG-4", false, 3, 10, kMpeg4, 640, true, 0, 0, 0, false, false},
        {"between the marks, JPEG holds the lock", false, 2, 19, kJpeg, 640, true, 0, 1, 0, false,
         false},
        {"a full queue drops and waits for a key", false, 3, 20, kMpeg4, 640, false, 0, 0, 500,
         true, false},
        {"a full queue drops JPEG without waiting", false, 2, 20, kJpeg, 640, false, 0, 0, 500,
         false, false},
        {"too wide a picture costs 300 ms first", false, 2, 0, kMpeg4, 3841, true, 300, 0, 0, false,
         false},
        {"other kinds are dropped", false, 6, 0, kMpeg4, 640, false, 0, 0, 0, false, false},
        {"waiting: a key frame in a short queue", true, 2, 9, kMpeg4, 640, true, 0, 0, 0, false,
         true},
        {"waiting: other frames are dropped free", true, 3, 0, kMpeg4, 640, false, 0, 0, 0, false,
         false},
        {"waiting: a long queue costs a second", true, 2, 10, kMpeg4, 640, false, 0, 0, 1000, false,
         false},
        {"waiting and too wide", true, 2, 0, kJpeg, 4000, true, 300, 0, 0, false, true},
        // A loss message changes nothing and costs nothing, however full the queue.
        {"a loss while waiting", true, IPCAM_MSG_DAMAGE, 10, kMpeg4, 4000, false, 0, 0, 0, false,
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const AdmissionStep s = decideAdmission(c.waiting, c.kind, c.queue, c.codec, c.width, marks);
        EXPECT_EQ(s.append, c.append);
        EXPECT_EQ(s.sleepFirst, c.sleepFirst);
        EXPECT_EQ(s.holdLocked, c.hold);
        EXPECT_EQ(s.sleepAfter, c.after);
        EXPECT_EQ(s.setWaiting, c.setWaiting);
        EXPECT_EQ(s.clearWaiting, c.clearWaiting);
    }
}

TEST(FrameAdmissionTable, PacingByQueueLength) {
    struct Case {
        std::size_t queue;
        int32_t kind, low, high;
        int delay;
    } cases[] = {
        {0, 3, 10, 20, 33},  {9, 2, 10, 20, 33},   {10, 3, 10, 20, 20},  // 30 * 10 / 15
        {19, 3, 10, 20, 2},  {30, 3, 30, 31, 5},   // 30 * 1 / 6
        {119, 2, 10, 120, 1}, {119, 3, 10, 120, 0},  // below a millisecond: 1 after a key frame
        {20, 2, 10, 20, 1},  {20, 3, 10, 20, -1},  {500, 3, 3, 5, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.queue << " of " << c.low << "-" << c.high);
        EXPECT_EQ(pacingDelay(c.queue, c.kind, c.low, c.high), c.delay);
    }
}

class OnFrameTest : public kestrel_test::PipelineFixture {};

TEST_F(OnFrameTest, AFormatSetsTheMarksAndWaitsForAKeyFrame) {
    PipelineState &p = pipeline();
    p.admission.waitingForKeyFrame = 0;
    OnFrame(nullptr, 0, formatFrame(kJpeg, 320, 240), 0);
    EXPECT_EQ(queued(), 1u);
    EXPECT_EQ(p.admission.waitingForKeyFrame.load(), 1);
    EXPECT_EQ(p.admission.lowMark.load(), 5);
    EXPECT_EQ(p.admission.highMark.load(), 10);
    EXPECT_EQ(p.admission.dropDelay.load(), 100);
    // Rotation on at the moment of the format: its row of the table.
    p.rotateMode = 1;
    OnFrame(nullptr, 0, formatFrame(kMpeg4, 640, 480), 0);
    EXPECT_EQ(p.admission.lowMark.load(), 30);
    EXPECT_EQ(p.admission.highMark.load(), 31);
    EXPECT_EQ(p.admission.dropDelay.load(), 6000);
    EXPECT_TRUE(takeSleeps().empty());
}

TEST_F(OnFrameTest, AfterAFormatOnlyAKeyFrameStartsTheStream) {
    OnFrame(nullptr, 0, formatFrame(kMpeg4, 640, 480), 0);  // low 30, high 60
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_DEPENDENT), 0);      // dropped: no key frame yet
    EXPECT_EQ(queued(), 1u);
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY), 0);
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_DEPENDENT), 0);
    EXPECT_EQ(queued(), 3u);
    EXPECT_EQ(pipeline().admission.waitingForKeyFrame.load(), 0);
    EXPECT_TRUE(takeSleeps().empty());
}

TEST_F(OnFrameTest, AFullQueueDropsTheNextFrameAndSlowsTheProducer) {
    OnFrame(nullptr, 0, formatFrame(kMpeg4, 1024, 768), 0);  // low 10, high 30
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY), 0);
    while (queued() < 30) OnFrame(nullptr, 0, frame(IPCAM_FRAME_DEPENDENT), 0);
    takeSleeps();
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_DEPENDENT), 0);  // exactly highMark queued: dropped
    EXPECT_EQ(queued(), 30u);
    EXPECT_EQ(takeSleeps(), std::vector<int>{100});
    EXPECT_EQ(pipeline().admission.waitingForKeyFrame.load(), 1);
    // Waiting with a long queue: each refusal costs the producer a second.
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY), 0);
    EXPECT_EQ(takeSleeps(), std::vector<int>{1000});
    EXPECT_EQ(queued(), 30u);
}

TEST_F(OnFrameTest, MotionJpegBetweenTheMarksHoldsTheQueue) {
    OnFrame(nullptr, 0, formatFrame(kJpeg, 320, 240), 0);  // low 5, high 10, hold 1
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY), 0);
    while (queued() < 5) OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY), 0);
    EXPECT_TRUE(takeSleeps().empty());
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY), 0);
    EXPECT_EQ(queued(), 6u);
    EXPECT_EQ(takeSleeps(), std::vector<int>{1});
}

TEST_F(OnFrameTest, PicturesWiderThanTheMaximumCostThreeHundredMilliseconds) {
    OnFrame(nullptr, 0, formatFrame(kJpeg, 3841, 2160), 0);
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_KEY), 0);
    EXPECT_EQ(takeSleeps(), std::vector<int>{300});
    EXPECT_EQ(queued(), 2u);
    // Audio and events are never queued in the normal state, and cost nothing.
    OnFrame(nullptr, 0, frame(IPCAM_FRAME_AUDIO), 0);
    OnFrame(nullptr, 0, frame(IPCAM_MSG_EVENT), 0);
    EXPECT_EQ(queued(), 2u);
    EXPECT_TRUE(takeSleeps().empty());
}

}  // namespace
