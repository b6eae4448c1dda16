// The family A stream readers on recorded bytes: "HUNT"/"HTAD" frames and "3297" packets.
#include "transport/family_a_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/session.h"
#include "platform/byte_source.h"
#include "support/family_a_frames.h"
#include "support/frame_collector.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

using Ending = MemorySource::Ending;

constexpr uint64_t kMinute = 600'000'000;

uint64_t deviceTime(uint32_t seconds, uint32_t ms, int32_t zone) {
    return static_cast<uint64_t>((194074560LL - zone) * static_cast<int64_t>(kMinute)) +
           uint64_t{seconds} * 10'000'000 + uint64_t{ms} * 10'000;
}

// An MPEG-4-looking payload of n bytes that varies, so checksums differ from frame to frame.
std::string payload(std::size_t n, uint8_t seed = 1) {
    std::string p(n, '\0');
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return p;
}

std::string jpeg(std::size_t n) {
    std::string p = payload(n);
    p[0] = '\xFF';
    p[1] = '\xD8';
    p[n - 2] = '\xFF';
    p[n - 1] = '\xD9';
    return p;
}

std::string withEnd(const std::string &p) {
    return p + std::string("\x00\x00\x01\xF8", 4);
}

class FamilyAReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Settings s;
        s.getTimeout = 50;
        s.usePCTime = false;
        setSettings(s);
        frames.attach(session.get());
        session->deviceNumber = 1.05;
    }
    void TearDown() override { setSettings(Settings{}); }

    // Reads video units until the source is used up or a call fails; the results in order.
    std::vector<int> readVideo(MemorySource &source, bool tagged = false, int calls = 1) {
        std::vector<int> results;
        for (int i = 0; i < calls; ++i)
            results.push_back(tagged ? readTaggedVideo(session.get(), source)
                                     : readHuntVideo(session.get(), source));
        return results;
    }
    std::vector<Delivered> ofKind(int32_t kind) {
        std::vector<Delivered> out;
        for (const Delivered &d : frames.frames())
            if (d.kind == kind) out.push_back(d);
        return out;
    }

    LocalSession session;
    FrameCollector frames;
};

TEST_F(FamilyAReaderTest, HuntFramesAreDeliveredAfterTheNextMagic) {
    const std::string key = payload(100), next = payload(60, 9);
    HuntFields f;
    f.seconds = 1000;
    f.milliseconds = 250;
    f.zoneMinutes = -60;
    HuntFields g = f;
    g.pictureType = 2;  // dependent
    g.milliseconds = 290;
    MemorySource source(huntFrame(f, key) + huntFrame(g, next) + "HUNT", 7, Ending::Silence);
    EXPECT_EQ(readVideo(source, false, 2), (std::vector<int>{0, 0}));
    EXPECT_EQ(frames.kinds(), (std::vector<int32_t>{IPCAM_MSG_TIME_STEP, IPCAM_MSG_FORMAT,
                                                    IPCAM_FRAME_KEY, IPCAM_FRAME_DEPENDENT}));
    auto all = frames.frames();
    EXPECT_EQ(all[2].payload, withEnd(key));
    EXPECT_EQ(all[2].time, deviceTime(1000, 250, -60));
    EXPECT_EQ(all[3].payload, withEnd(next));
    StreamFormatBlock format;
    std::memcpy(&format, all[1].payload.data(), sizeof format);
    EXPECT_EQ(format.videoCodec, 4);
    EXPECT_EQ(format.width, 640);
    EXPECT_EQ(format.height, 480);
    EXPECT_EQ(format.frameRate, 30.0);
    EXPECT_EQ(session->stream.timeZoneMinutes, -60);
}

TEST_F(FamilyAReaderTest, HuntHeadersAreBoundedAndCheckedBeforeAnyAllocation) {
    struct Case {
        const char *name;
        HuntFields fields;
        std::size_t size;  // payload bytes actually sent
        int expected;
        bool delivered;
    } cases[] = {
        {"largest payload", {.length = 2'048'000}, 2'048'000, 0, true},
        {"one byte more", {.length = 2'048'001}, 0, kVideoFramingError, false},
        {"codec 3", {.codec = 3}, 40, kVideoFramingError, false},
        {"codec 0 with data", {.codec = 0}, 40, kVideoFramingError, false},
        {"picture type 3", {.pictureType = 3}, 40, kVideoFramingError, false},
        {"payload cut short", {.length = 41}, 40, kVideoFramingError, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession s;
        FrameCollector collected;
        collected.attach(s.get());
        MemorySource source(huntFrame(c.fields, payload(c.size)) + "HUNT", 65536);
        EXPECT_EQ(readHuntVideo(s.get(), source), c.expected);
        bool gotFrame = false;
        for (const Delivered &d : collected.frames())
            gotFrame = gotFrame || d.kind == IPCAM_FRAME_KEY;
        EXPECT_EQ(gotFrame, c.delivered);
        EXPECT_EQ(s->stream.expectMagic, c.delivered ? 0 : 1);
    }
}

TEST_F(FamilyAReaderTest, EmptyFrameMakesTheNextCallExpectAMagic) {
    HuntFields empty;
    MemorySource source(huntFrame(empty, "") + huntFrame({}, payload(50)) + "HUNT", 1000);
    EXPECT_EQ(readHuntVideo(session.get(), source), 0);
    EXPECT_TRUE(frames.frames().empty());
    EXPECT_EQ(session->stream.expectMagic, 1);
    EXPECT_EQ(session->timeStepFlag, 1);
    EXPECT_EQ(readHuntVideo(session.get(), source), 0);
    EXPECT_EQ(ofKind(IPCAM_FRAME_KEY).size(), 1u);
}

TEST_F(FamilyAReaderTest, ChecksumByFirmwareVersion) {
    const std::string mpeg = payload(200, 3), picture = jpeg(200);
    struct Case {
        const char *name;
        double firmware;
        HuntFields fields;
        std::string payload;
        int expected;
    } cases[] = {
        {"1.05 is not checked", 1.05, {.checksum = 0x11}, mpeg, 0},
        {"1.06 with the sum over the start", 1.06, {}, mpeg, 0},
        {"1.06 with the sum over the end", 1.06, {.checksum = huntChecksumFromEnd(mpeg)}, mpeg, 0},
        {"1.06 wrong on a key frame", 1.06, {.checksum = static_cast<uint8_t>(huntChecksum(mpeg) + 1)},
         mpeg, kChecksumMismatch},
        {"1.06 wrong on a JPEG", 1.06,
         {.codec = 2, .checksum = static_cast<uint8_t>(huntChecksum(picture) ^ 0x80)}, picture,
         kChecksumMismatch},
        {"1.06 not checked on a dependent frame", 1.06, {.pictureType = 2, .checksum = 0x11}, mpeg,
         0},
        {"too short to be checked", 1.06, {}, payload(32), kVideoFramingError},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession s;
        s->deviceNumber = c.firmware;
        s->timeStepFlag = 0;
        s->awaitingFirstFrame = 0;
        MemorySource source(huntFrame(c.fields, c.payload) + "HUNT", 4096);
        EXPECT_EQ(readHuntVideo(s.get(), source), c.expected);
    }
}

TEST_F(FamilyAReaderTest, LookAheadTimeOutsAndSilentConnections) {
    // A fresh connection that sends nothing: no free stream slot.
    MemorySource silent(std::vector<std::string>{}, Ending::Silence);
    EXPECT_EQ(readHuntVideo(session.get(), silent), kNoStreamSlot);

    // A frame whose look-ahead does not come is dropped; a second silence ends the stream.
    MemorySource paused(huntFrame({}, payload(80)), 4096, Ending::Silence);
    EXPECT_EQ(readHuntVideo(session.get(), paused), 0);
    EXPECT_TRUE(ofKind(IPCAM_FRAME_KEY).empty());
    EXPECT_EQ(session->stream.magicTimedOut, 1);
    EXPECT_EQ(readHuntVideo(session.get(), paused), kVideoFramingError);
    EXPECT_EQ(session->stream.expectMagic, 1);
    EXPECT_EQ(session->stream.magicRetryCount, 1);

    // After one time-out the stream may go on: the magic is read first.
    LocalSession s;
    FrameCollector c;
    c.attach(s.get());
    MemorySource resumed(std::vector<std::string>{huntFrame({}, payload(80)), "",
                                                  huntFrame({}, payload(90)) + "HUNT"},
                         Ending::Silence);
    EXPECT_EQ(readHuntVideo(s.get(), resumed), 0);
    EXPECT_EQ(readHuntVideo(s.get(), resumed), 0);
    ASSERT_FALSE(c.frames().empty());
    EXPECT_EQ(c.frames().back().payload, withEnd(payload(90)));
}

TEST_F(FamilyAReaderTest, SizeSignsOnNewerFirmware) {
    struct Case {
        double firmware;
        uint8_t signs;
        int32_t width, height;
    } cases[] = {{2.0, 0xC2, -640, -480}, {2.0, 0x81, -640, 480}, {2.0, 0x41, 640, -480},
                 {2.0, 0xC1, 640, 480},   {2.0, 0x80, 640, 480},  {1.9, 0xC2, 640, 480}};
    for (const Case &c : cases) {
        LocalSession s;
        FrameCollector collected;
        collected.attach(s.get());
        s->deviceNumber = c.firmware;
        MemorySource source(huntFrame({.signs = c.signs}, payload(100)) + "HUNT", 4096);
        ASSERT_EQ(readHuntVideo(s.get(), source), 0);
        StreamFormatBlock format = s->format;
        EXPECT_EQ(format.width, c.width) << int(c.signs);
        EXPECT_EQ(format.height, c.height) << int(c.signs);
    }
}

TEST_F(FamilyAReaderTest, TrailerBlockIsCutAndMarksAnEvent) {
    std::string p = payload(400);
    std::memcpy(p.data() + 400 - 212, "\x00\x00\x01\xF8", 4);
    MemorySource source(huntFrame({}, p) + "HUNT", 4096);
    ASSERT_EQ(readHuntVideo(session.get(), source), 0);
    auto key = ofKind(IPCAM_FRAME_KEY);
    ASSERT_EQ(key.size(), 1u);
    EXPECT_EQ(key[0].payload, p.substr(0, 192));
    auto events = ofKind(IPCAM_MSG_EVENT);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, std::string(1, '\x01'));
}

TEST_F(FamilyAReaderTest, EventsAreHeldForASecondAndInputsReportedOnChange) {
    struct Step {
        uint32_t ms;  // since the first frame
        uint8_t events;
        std::vector<std::string> messages;  // kind 6 / 9 payloads sent, as "E<n>" / "I<n>"
    } steps[] = {
        {0, 3, {"E3"}},
        {400, 0, {}},
        {900, 3 | 1 << 3, {"I1"}},  // the event again refreshes its time
        {1800, 0, {"I0"}},  // 900 ms after the last event: still held
        {2000, 0, {"E0"}},
        {2100, 2 << 3, {"I2"}},
    };
    std::string bytes;
    for (const Step &s : steps)
        bytes += huntFrame({.seconds = 5000 + s.ms / 1000,
                            .milliseconds = s.ms % 1000,
                            .events = s.events},
                           payload(60));
    MemorySource source(bytes + "HUNT", 100000);
    for (const Step &s : steps) {
        frames.clear();
        ASSERT_EQ(readHuntVideo(session.get(), source), 0) << s.ms;
        std::vector<std::string> got;
        for (const Delivered &d : frames.frames()) {
            if (d.kind == IPCAM_MSG_EVENT) got.push_back("E" + std::to_string(d.payload[0]));
            if (d.kind == IPCAM_MSG_INPUT) got.push_back("I" + std::to_string(d.payload[0]));
        }
        EXPECT_EQ(got, s.messages) << s.ms;
    }
}

TEST_F(FamilyAReaderTest, OverlayMessagesOnTheModelsThatDrawThem) {
    struct Case {
        uint32_t model;
        uint8_t overlayMode;
        int mode, factor;  // of the first message; -1 none
    } cases[] = {{0x5A, 4, 5, 4}, {0x5B, 12, 5, 64}, {0x63, 3, 4, 8}, {0x63, 14, 2, 1},
                 {0x20, 4, -1, -1}};
    for (const Case &c : cases) {
        LocalSession s;
        FrameCollector collected;
        collected.attach(s.get());
        s->modelCode = c.model;
        MemorySource source(huntFrame({.overlay = true, .overlayMode = c.overlayMode}, payload(70)) +
                                huntFrame({.milliseconds = 40}, payload(70)) + "HUNT",
                            4096);
        ASSERT_EQ(readHuntVideo(s.get(), source), 0);
        ASSERT_EQ(readHuntVideo(s.get(), source), 0);
        std::vector<Delivered> overlays;
        for (const Delivered &d : collected.frames())
            if (d.kind == IPCAM_MSG_OVERLAY) overlays.push_back(d);
        if (c.mode < 0) {
            EXPECT_TRUE(overlays.empty());
            continue;
        }
        ASSERT_EQ(overlays.size(), 2u) << c.model;
        ASSERT_EQ(overlays[0].payload.size(), 16u);
        EXPECT_EQ(overlays[0].payload[8], c.mode);
        EXPECT_EQ(overlays[0].payload[12], c.factor);
        EXPECT_EQ(overlays[1].payload, std::string(8, '\0').replace(0, 8, overlays[1].payload, 0, 8) +
                                           std::string("\0\0\0\0\x01\0\0\0", 8));
        EXPECT_EQ(s->stream.overlayPending, 0);
    }
}

TEST_F(FamilyAReaderTest, JpegPicturesMustBeWhole) {
    std::string broken = jpeg(100);
    broken[99] = 0;
    MemorySource source(huntFrame({.codec = 2}, broken) + huntFrame({.codec = 2}, jpeg(100)) +
                            "HUNT",
                        4096);
    EXPECT_EQ(readHuntVideo(session.get(), source), 0);
    EXPECT_TRUE(ofKind(IPCAM_FRAME_KEY).empty());
    EXPECT_EQ(readHuntVideo(session.get(), source), 0);
    EXPECT_EQ(ofKind(IPCAM_FRAME_KEY).size(), 1u);
}

TEST_F(FamilyAReaderTest, FramingSwitchesWhereAStreamStarts) {
    session->driver.runVideo = huntRunVideo;
    // A fresh connection that starts with "3297" is read by the tagged reader from then on.
    MemorySource tagged(taggedPacket({.type = 1}, payload(50)) + taggedPacket({.type = 3}, payload(30)) +
                            "3297",
                        4096);
    EXPECT_EQ(readHuntVideo(session.get(), tagged), 0);
    EXPECT_EQ(session->driver.runVideo.load(), &taggedRunVideo);
    EXPECT_EQ(readTaggedVideo(session.get(), tagged), 0);
    EXPECT_EQ(ofKind(IPCAM_FRAME_KEY).size(), 1u);
    EXPECT_EQ(ofKind(IPCAM_FRAME_DROPPABLE).size(), 1u);

    // Inside a stream the other framing's magic is an error.
    MemorySource mixed(taggedPacket({.type = 1}, payload(50)) + "HUNT", 4096);
    session->stream.expectMagic = 1;
    EXPECT_EQ(readTaggedVideo(session.get(), mixed), kVideoFramingError);

    // And back: a reconnection that starts with "HUNT".
    MemorySource hunt(huntFrame({}, payload(50)) + "HUNT", 4096);
    EXPECT_EQ(readTaggedVideo(session.get(), hunt), 0);
    EXPECT_EQ(session->driver.runVideo.load(), &huntRunVideo);

    // A "3297" look-ahead in a "HUNT" stream resynchronises.
    MemorySource lookAhead(huntFrame({}, payload(50)) + "3297", 4096);
    session->stream.expectMagic = 1;
    EXPECT_EQ(readHuntVideo(session.get(), lookAhead), kVideoFramingError);
    EXPECT_EQ(session->stream.expectMagic, 1);
}

TEST_F(FamilyAReaderTest, HtadAudioBoundsFormatAndLookAhead) {
    struct Case {
        const char *name;
        double firmware;
        HtadFields fields;
        std::size_t size;
        std::string after;
        int expected;
    } cases[] = {
        {"largest payload", 1.04, {.length = 100'000}, 100'000, "HTAD", 0},
        {"one byte more", 1.04, {.length = 100'001}, 0, "", kAudioFramingError},
        {"look-ahead of another framing", 1.04, {}, 320, "HUNT", kAudioFramingError},
        {"older firmware reads no look-ahead", 1.03, {}, 320, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession s;
        FrameCollector collected;
        collected.attach(s.get());
        s->deviceNumber = c.firmware;
        MemorySource source(htadFrame(c.fields, payload(c.size)) + c.after, 65536);
        EXPECT_EQ(readHtadAudio(s.get(), source), c.expected);
        EXPECT_EQ(s->audioDisconnected, c.expected == 0 ? 0 : 1);
        if (c.expected != 0) continue;
        StreamFormatBlock format = s->format;
        if (c.firmware >= 1.04) {
            EXPECT_EQ(format.audioCodec, 1);
            EXPECT_EQ(format.channels, 1);
            EXPECT_EQ(format.sampleRate, 8000);
            EXPECT_EQ(format.bitsPerSample, 16);
            EXPECT_EQ(format.audioFrameSize, static_cast<int32_t>(c.size));
        } else {
            EXPECT_EQ(format.audioCodec, 0);
            EXPECT_EQ(format.sampleRate, 48000);
            EXPECT_EQ(format.audioFrameSize, 20500);
        }
        auto audio = collected.frames();
        ASSERT_FALSE(audio.empty());
        EXPECT_EQ(audio.back().kind, IPCAM_FRAME_AUDIO);
        EXPECT_EQ(audio.back().payload.size(), c.size);
    }
}

TEST_F(FamilyAReaderTest, EveryTaggedPacketType) {
    session->videoStream = 2;
    const std::string info = taggedInfo({.videoCodecNibble = 4,
                                         .zoneMinutes = 120,
                                         .streamSlots = 3,
                                         .width = 352,
                                         .height = 288,
                                         .talkSlots = 2,
                                         .frameRate = 15,
                                         .negateHeight = true});
    struct Step {
        const char *name;
        std::string packet;
        int expected;
        std::vector<int32_t> kinds;  // delivered by this call
    } steps[] = {
        {"info", taggedPacket({.type = 0}, info + "extra"), 0, {IPCAM_MSG_FORMAT}},
        {"key frame", taggedPacket({.type = 1, .milliseconds = 40}, payload(64)), 0,
         {IPCAM_FRAME_KEY}},
        {"dependent", taggedPacket({.type = 2}, payload(32)), 0, {IPCAM_FRAME_DEPENDENT}},
        {"droppable", taggedPacket({.type = 3}, payload(32)), 0, {IPCAM_FRAME_DROPPABLE}},
        {"whole JPEG", taggedPacket({.type = 4}, jpeg(64)), 0, {IPCAM_FRAME_KEY}},
        {"broken JPEG", taggedPacket({.type = 4}, payload(64)), 0, {}},
        {"event", taggedPacket({.type = 6}, std::string("\x05\x00\x00\x00\x00\x00", 6)), 0,
         {IPCAM_MSG_EVENT}},
        {"same event", taggedPacket({.type = 6}, std::string("\x05\x00\x00\x00\x00\x00", 6)), 0,
         {}},
        {"input 3 on", taggedPacket({.type = 7}, std::string("\x03\x00\x00\x01\x00\x00", 6)), 0,
         {IPCAM_MSG_INPUT}},
        {"input 40 changes no bit", taggedPacket({.type = 7}, std::string("\x28\x00\x00\x01\x00\x00", 6)),
         0, {IPCAM_MSG_INPUT}},
        {"longer header", taggedPacket({.type = 16, .extraHeader = 12}, payload(10)), 0, {}},
        {"talk in use", taggedPacket({.type = 9}, std::string("\x02\x01", 2)), 0, {}},
        {"other channel flagged", taggedPacket({.type = 8}, std::string("\x01\x00\x00", 3)), 0, {}},
        {"our channel flagged", taggedPacket({.type = 8}, std::string("\x04\x00\x00", 3)),
         kChannelFlagged, {}},
    };
    std::string bytes;
    for (const Step &s : steps) bytes += s.packet;
    MemorySource source(bytes + "3297", 4096);
    for (const Step &s : steps) {
        frames.clear();
        EXPECT_EQ(readTaggedVideo(session.get(), source), s.expected) << s.name;
        EXPECT_EQ(frames.kinds(), s.kinds) << s.name;
        if (std::string(s.name) == "info") {
            StreamFormatBlock format = session->format;
            EXPECT_EQ(format.videoCodec, 1);
            EXPECT_EQ(format.width, 352);
            EXPECT_EQ(format.height, -288);
            EXPECT_EQ(format.frameRate, 15.0);
            EXPECT_EQ(session->stream.timeZoneMinutes, 120);
            EXPECT_EQ(session->stream.streamSlots, 3);
            EXPECT_EQ(session->stream.talkSlots, 2);
            EXPECT_EQ(session->stream.talkAvailable, 1);
        }
        if (std::string(s.name) == "key frame") {
            EXPECT_EQ(frames.frames()[0].time, deviceTime(1'700'000'000, 40, 120));
        }
        if (std::string(s.name) == "input 3 on") {
            EXPECT_EQ(session->inputState, 8);
            EXPECT_EQ(frames.frames()[0].payload, std::string("\x01\x03", 2));
        }
        if (std::string(s.name) == "talk in use") {
            EXPECT_EQ(session->stream.talkAvailable, 0);
        }
    }
    EXPECT_EQ(session->channelFlagged, 1);
    EXPECT_EQ(session->stream.magicTimedOut, 1);

    // More talkers than stream slots: the device is full.
    LocalSession full;
    full->stream.streamSlots = 1;
    MemorySource crowded(taggedPacket({.type = 9}, std::string("\x02\x00", 2)) + "3297", 4096);
    EXPECT_EQ(readTaggedVideo(full.get(), crowded), kNoStreamSlot);
}

TEST_F(FamilyAReaderTest, TaggedHeadersWithoutTheirMarkersAreRejected) {
    for (int marker = 0; marker <= 6; ++marker) {
        LocalSession s;
        MemorySource source(taggedPacket({.type = 1, .dropMarker = marker}, payload(40)) + "3297",
                            4096);
        EXPECT_EQ(readTaggedVideo(s.get(), source), kVideoFramingError) << marker;
        EXPECT_EQ(s->stream.expectMagic, 1);
    }
    struct Case {
        uint32_t length;
        std::size_t size;
        int expected;
    } bounds[] = {{2'048'000, 2'048'000, 0}, {2'048'001, 0, kVideoFramingError}, {0, 0, 0}};
    for (const Case &c : bounds) {
        LocalSession s;
        MemorySource source(taggedPacket({.type = 1, .length = c.length}, payload(c.size)) + "3297",
                            65536);
        EXPECT_EQ(readTaggedVideo(s.get(), source), c.expected) << c.length;
        if (c.length == 0) {
            EXPECT_EQ(s->stream.expectMagic, 1);
        }
    }
    // A header that says it is shorter than 20 bytes.
    std::string shortHeader = taggedPacket({.type = 1}, payload(10));
    shortHeader[4] = 19;
    LocalSession s;
    MemorySource source(shortHeader + "3297", 4096);
    EXPECT_EQ(readTaggedVideo(s.get(), source), kVideoFramingError);
}

TEST_F(FamilyAReaderTest, TaggedAudioStream) {
    const std::string info =
        taggedInfo({.audioCode = 5, .audioChannel = 1, .audioBits = 8, .rateIndex = 4});
    MemorySource source(taggedPacket({.type = 0}, info) + taggedPacket({.type = 5}, payload(160)) +
                            taggedPacket({.type = 9}, "ab") + "3297",
                        4096);
    session->audioDisconnected = 1;
    EXPECT_EQ(readTaggedAudio(session.get(), source), 0);
    StreamFormatBlock format = session->format;
    EXPECT_EQ(format.audioCodec, 6);
    EXPECT_EQ(format.channels, 0);
    EXPECT_EQ(format.bitsPerSample, 8);
    EXPECT_EQ(format.sampleRate, 44100);
    EXPECT_EQ(readTaggedAudio(session.get(), source), 0);
    EXPECT_EQ(readTaggedAudio(session.get(), source), 0);
    EXPECT_EQ(frames.kinds(), (std::vector<int32_t>{IPCAM_MSG_FORMAT, IPCAM_FRAME_AUDIO}));

    // An audio connection that starts with "HTAD" goes back to that reader.
    session->audioDisconnected = 1;
    session->deviceNumber = 1.04;
    MemorySource htad(htadFrame({}, payload(64)) + "HTAD", 4096);
    EXPECT_EQ(readTaggedAudio(session.get(), htad), 0);
    EXPECT_EQ(session->driver.runAudio.load(), &htadRunAudio);

    // A broken header fails the audio side.
    session->audioDisconnected = 0;
    MemorySource broken(taggedPacket({.type = 5, .dropMarker = 3}, payload(10), false), 4096);
    EXPECT_EQ(readTaggedAudio(session.get(), broken), kAudioFramingError);
    EXPECT_EQ(session->audioDisconnected, 1);
}

}  // namespace
