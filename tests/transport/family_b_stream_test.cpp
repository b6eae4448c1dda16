// The type-2 readers on recorded bytes: JPEG pictures cut out between status blocks, events
// from the status bytes, and raw audio blocks.
#include "transport/family_b_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config.h"
#include "core/session.h"
#include "platform/byte_source.h"
#include "platform/clock.h"
#include "support/frame_collector.h"
#include "support/media.h"

using namespace ipcam;
using kestrel_test::Delivered;

namespace {

using Ending = MemorySource::Ending;

uint64_t g_now = 0;
uint64_t testClock() {
    return g_now;
}
constexpr uint64_t kMs = 10'000;

// A live stream keeps coming: the reader asks for a picture's worth at a time.
const std::string kMore = std::string(64 * 1024, 'z');

// One unit of the stream: the picture, the 9-byte marker word, the status block with bytes
// 60-65 set to motion.
std::string unit(const std::string &picture, uint8_t motion, uint8_t sizeCode = 2) {
    std::string block(kStatusBlockSize, '\0');
    block[21] = static_cast<char>(sizeCode);
    for (int i = 60; i < 66; ++i) block[i] = static_cast<char>(motion);
    return picture + "plai\x01\x02\x03\x04\x05" + block;
}

class FamilyBStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Settings s;
        s.getTimeout = 50;
        setSettings(s);
        g_now = fileTimeFromUnix(1'700'000'000);
        setLocalTimeSource(testClock);
        frames.attach(session.get());
    }
    void TearDown() override {
        setLocalTimeSource(nullptr);
        setSettings(Settings{});
    }
    std::vector<Delivered> ofKind(int32_t kind) {
        std::vector<Delivered> out;
        for (const Delivered &d : frames.frames())
            if (d.kind == kind) out.push_back(d);
        return out;
    }
    // Calls the reader until the source is used up; the results that were not 0.
    std::vector<int> drain(MemorySource &source) {
        std::vector<int> failures;
        for (int calls = 0; calls < 1000 && source.remaining() > 0; ++calls)
            if (int r = readStatusVideo(session.get(), source); r != 0) failures.push_back(r);
        return failures;
    }

    kestrel_test::LocalSession session;
    kestrel_test::FrameCollector frames;
    const std::string picture = kestrel_test::encodeJpeg({.width = 320, .height = 240});
};

TEST_F(FamilyBStreamTest, PicturesAreCutBetweenStatusBlocks) {
    // Junk before the first picture; the status block arrives in two pieces; the stream goes
    // on with the next picture so the block is known to be whole.
    const std::string bytes = "junk" + unit(picture, 9) + unit(picture, 9) + "\xFF\xD8" + kMore;
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < bytes.size(); at += 700) chunks.push_back(bytes.substr(at, 700));
    MemorySource source(chunks, Ending::Silence);
    drain(source);
    auto pictures = ofKind(IPCAM_FRAME_KEY);
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0].payload, picture);
    EXPECT_EQ(pictures[1].payload, picture);
    EXPECT_EQ(frames.kinds().front(), IPCAM_MSG_TIME_STEP);
    EXPECT_EQ(session->format.width, 320);
    EXPECT_EQ(session->format.height, 240);
    EXPECT_EQ(session->format.videoCodec, 0);
    EXPECT_EQ(session->familyB.statusBlock[21], 2);
    EXPECT_EQ(session->rtp.largestFrame, picture.size() + 512);
}

TEST_F(FamilyBStreamTest, StatusBytesStartAndEndEvents) {
    struct Step {
        uint64_t atMs;
        uint8_t motion;
        std::vector<int> events;  // kind-6 payloads sent with this picture
    } steps[] = {
        {0, 1, {}},       // the first picture never reports, whatever its bytes
        {100, 1, {}},
        {200, 2, {1}},    // a change starts an event
        {700, 3, {}},     // and keeps it going
        {1500, 3, {}},    // 800 ms without a change: held
        {1800, 3, {0}},   // 1100 ms: ended
        {1900, 3, {}},
    };
    std::string bytes;
    for (const Step &s : steps) bytes += unit(picture, s.motion);
    bytes += "\xFF\xD8" + kMore;
    MemorySource source(bytes, bytes.size(), Ending::Silence);
    const uint64_t start = g_now;
    std::size_t seen = 0;
    for (const Step &s : steps) {
        g_now = start + s.atMs * kMs;
        frames.clear();
        for (int calls = 0; calls < 200 && ofKind(IPCAM_FRAME_KEY).empty(); ++calls)
            ASSERT_EQ(readStatusVideo(session.get(), source), 0) << s.atMs;
        std::vector<int> events;
        for (const Delivered &d : ofKind(IPCAM_MSG_EVENT)) events.push_back(d.payload[0]);
        ASSERT_FALSE(ofKind(IPCAM_FRAME_KEY).empty()) << s.atMs;
        EXPECT_EQ(events, s.events) << s.atMs;
        ++seen;
    }
    EXPECT_EQ(seen, std::size(steps));
}

TEST_F(FamilyBStreamTest, APictureLargerThanTheBufferDoesNotCostTheNextOne) {
    std::string huge = "\xFF\xD8" + std::string(FrameBuffer::kDataChannelCapacity + 1000, 'x') +
                       "\xFF\xD9";
    const std::string bytes = unit(huge, 9) + unit(picture, 9) + "\xFF\xD8" + kMore;
    MemorySource source(bytes, 4096, Ending::Silence);
    drain(source);
    auto pictures = ofKind(IPCAM_FRAME_KEY);
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].payload, picture);
}

TEST_F(FamilyBStreamTest, ALostConnectionEndsTheEvent) {
    session->eventState = 1;
    MemorySource source(std::vector<std::string>{}, Ending::Close);
    EXPECT_EQ(readStatusVideo(session.get(), source), -10);
    auto events = ofKind(IPCAM_MSG_EVENT);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, std::string(1, '\0'));
    EXPECT_EQ(session->eventState, 0);
}

TEST_F(FamilyBStreamTest, AudioComesInBlocksWithItsFormatOnce) {
    session->audioDisconnected = 1;
    session->lastFrameTime = 1234;
    const std::string audio(kAudioBlockSize * 2, 'a');
    MemorySource source(audio + std::string(10, 'b'), 600, Ending::Close);
    EXPECT_EQ(readStatusAudio(session.get(), source), 0);
    EXPECT_EQ(readStatusAudio(session.get(), source), 0);
    EXPECT_EQ(frames.kinds(),
              (std::vector<int32_t>{IPCAM_MSG_FORMAT, IPCAM_FRAME_AUDIO, IPCAM_FRAME_AUDIO}));
    EXPECT_EQ(ofKind(IPCAM_FRAME_AUDIO)[0].time, 1234u);
    EXPECT_EQ(session->format.sampleRate, 8000);
    EXPECT_EQ(session->format.audioFrameSize, 2000);
    EXPECT_EQ(session->format.channels, 0);
    // A block cut short ends the audio side.
    EXPECT_EQ(readStatusAudio(session.get(), source), -11);
    EXPECT_EQ(session->audioDisconnected, 1);
}

}  // namespace
