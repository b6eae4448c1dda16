// The RTSP connection as real servers use it once media flows: blocks of any length and
// channel, and RTSP messages between them.
#include "transport/interleaved_unit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/session.h"
#include "support/frame_collector.h"
#include "support/media.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/rtp_reader.h"

using namespace ipcam;
using namespace kestrel_test;
using Ending = MemorySource::Ending;

namespace {

const std::vector<std::string> &frames() {
    static const std::vector<std::string> f = encodeMpeg4(176, 144, 6, 3);
    return f;
}

struct InterleavedTest : ::testing::Test {
    ScopedTimeouts timeouts{200};
    LocalSession session;
    FrameCollector collector;

    void SetUp() override { collector.attach(session.get()); }

    // The stream's blocks on channel, one frame per group, the last frame's block followed by
    // a picture start so that it is delivered too.
    std::vector<std::string> streamBlocks(uint8_t channel) {
        std::vector<std::string> out;
        uint16_t sequence = 1;
        std::vector<std::string> all = frames();
        all.push_back(std::string("\0\0\1\xB6", 4));
        for (const std::string &f : all) {
            std::string group;
            for (size_t at = 0; at < f.size(); at += 400) {
                RtpPacketSpec p{channel, sequence++, at + 400 >= f.size(), f.substr(at, 400)};
                group += interleaved(p);
            }
            out.push_back(group);
        }
        return out;
    }

    // Reads until the source is used up; every call must succeed.
    void readAll(MemorySource &source) {
        while (source.remaining() > 0) ASSERT_EQ(readInterleaved(session.get(), source), 0);
    }

    std::vector<std::string> videoFrames() { return collector.videoFrames(); }
};

TEST_F(InterleavedTest, BlocksOfAnyLengthKeepTheReaderInStep) {
    struct Case {
        const char *name;
        uint8_t channel;
        std::string body;
    } cases[] = {
        {"empty block", 1, ""},
        {"RTCP BYE of 4 bytes", 1, std::string("\x80\xCB\x00\x00", 4)},
        {"RTCP BYE of 8 bytes", 1, std::string("\x81\xCB\x00\x01\x01\x02\x03\x04", 8)},
        {"11 bytes of audio reports", 3, std::string(11, '\x81')},
        {"12 bytes on an unknown channel", 9, std::string(12, '\x80')},
        {"compound report", 1,
         std::string("\x80\xC8\x00\x06", 4) + std::string(24, 's') +
             std::string("\x81\xCA\x00\x02\x01\x02\x03\x04\x01\x00\x00\x00", 12)},
        {"65535 bytes on an unknown channel", 6, std::string(65535, '$')},
        {"65535 bytes of reports", 1, std::string(65535, '\x80')},
        {"video block of 4 bytes", 0, std::string("\x80\x60\x00\x09", 4)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession fresh;
        collector.clear();
        collector.attach(fresh.get());
        std::string bytes;
        for (const std::string &group : streamBlocks(0))
            bytes += group + interleavedBlock(c.channel, c.body);
        MemorySource source(bytes, 777);
        while (source.remaining() > 0) ASSERT_EQ(readInterleaved(fresh.get(), source), 0);
        EXPECT_TRUE(videoFrames() == frames());
    }
}

TEST_F(InterleavedTest, ChannelsFollowWhatTheServerAssigned) {
    session->rtp.interleaved = {4, 5, 6, 7};
    session->awaitingFirstFrame = 0;
    std::vector<std::string> video = streamBlocks(4), decoy = streamBlocks(0);
    std::string bytes;
    for (size_t i = 0; i < video.size(); ++i) bytes += decoy[i] + video[i];
    bytes += interleaved({6, 1, false, "sound"}) + interleaved({2, 1, false, "not sound"});
    bytes += interleavedBlock(
        5, std::string("\x80\xC8\x00\x06\xA1\xA2\xA3\xA4", 8) + std::string(20, 'n'));
    MemorySource source(bytes, 1000);
    readAll(source);
    EXPECT_TRUE(videoFrames() == frames());
    std::vector<std::string> audio;
    for (const Delivered &d : collector.frames())
        if (d.kind == IPCAM_FRAME_AUDIO) audio.push_back(d.payload);
    EXPECT_EQ(audio, std::vector<std::string>{"sound"});
    // The report on channel 5 is answered on channel 5.
    ASSERT_GE(source.sent().size(), 4u);
    EXPECT_EQ(source.sent().substr(0, 2), std::string("$\x05", 2));
}

// A server request is answered with its CSeq, a reply is noted; the stream goes on.
TEST_F(InterleavedTest, MessagesBetweenBlocks) {
    struct Case {
        const char *name;
        std::string message;
        std::string answer;
        int32_t replyStatus, replyCseq;  // what is noted: 0 and -1 for none
    } cases[] = {
        {"SET_PARAMETER with a body",
         "SET_PARAMETER rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 7\r\nContent-Type: "
         "text/parameters\r\ncontent-length:  12\r\n\r\nparameter: 1",
         "RTSP/1.0 200 OK\r\nCSeq: 7\r\nSession: 5A3F9C\r\n\r\n", 0, -1},
        {"GET_PARAMETER, lines ended by LF, a stray line end after it",
         "GET_PARAMETER * RTSP/1.0\ncseq: 12\n\n\r\n",
         "RTSP/1.0 200 OK\r\nCSeq: 12\r\nSession: 5A3F9C\r\n\r\n", 0, -1},
        {"OPTIONS", "OPTIONS * RTSP/1.0\r\nCSeq: 3000\r\nSession: 5A3F9C\r\n\r\n",
         "RTSP/1.0 200 OK\r\nCSeq: 3000\r\nSession: 5A3F9C\r\n\r\n", 0, -1},
        {"ANNOUNCE", "ANNOUNCE rtsp://h/x RTSP/1.0\r\nCSeq: 2\r\nContent-Length: 3\r\n\r\nv=0",
         "RTSP/1.0 501 Not Implemented\r\nCSeq: 2\r\nSession: 5A3F9C\r\n\r\n", 0, -1},
        {"a reply with a body",
         "RTSP/1.0 454 Session Not Found\r\nCSeq: 9\r\nContent-Length: 4\r\n\r\ngone", "", 454, 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession fresh;
        fresh->rtsp.sessionId = "5A3F9C";
        collector.clear();
        collector.attach(fresh.get());
        std::vector<std::string> groups = streamBlocks(0);
        std::string bytes;
        for (size_t i = 0; i < groups.size(); ++i) bytes += groups[i] + (i == 2 ? c.message : "");
        MemorySource source(bytes, 333);
        while (source.remaining() > 0) ASSERT_EQ(readInterleaved(fresh.get(), source), 0);
        EXPECT_EQ(source.sent(), c.answer);
        EXPECT_EQ(fresh->rtp.replies.lastStatus, c.replyStatus);
        EXPECT_EQ(fresh->rtp.replies.lastCseq, c.replyCseq);
        EXPECT_TRUE(videoFrames() == frames());
    }
}

TEST_F(InterleavedTest, BlocksBeforeTheReplyAreKeptForTheReader) {
    std::vector<std::string> groups = streamBlocks(0);
    const std::string late = "RTSP/1.0 200 OK\r\nCSeq: 4\r\n\r\n";
    const std::string request = "GET_PARAMETER * RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    const std::string play = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nRange: npt=0-\r\n\r\n";
    std::string bytes = groups[0] + late + groups[1] + request + play;
    for (size_t i = 2; i < groups.size(); ++i) bytes += groups[i];
    MemorySource source(bytes, 100);

    RtspMessage reply;
    ASSERT_EQ(awaitRtspReply(session.get(), source, reply, 2000, 5), 200);
    EXPECT_NE(reply.head.find("Range: npt=0-"), std::string::npos);
    EXPECT_EQ(session->rtp.replies.lastCseq, 5);
    EXPECT_EQ(source.sent(), "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n");
    EXPECT_GT(session->rtp.pending.size(), 2u);
    EXPECT_TRUE(collector.frames().empty());  // nothing delivered before the reply

    readAll(source);
    EXPECT_TRUE(session->rtp.pending.empty());
    EXPECT_TRUE(videoFrames() == frames());
}

TEST_F(InterleavedTest, AwaitingAReplyEndsOnFailures) {
    const std::string block = interleaved({0, 1, false, "data"});
    struct Case {
        const char *name;
        std::string bytes;
        Ending ending;
    } cases[] = {
        {"the server closes", block + block, Ending::Close},
        {"silence", block, Ending::Silence},
        {"bytes that are neither", block + "\x17\x17\x17\x17junk\r\n\r\n", Ending::Silence},
        {"a reply head without its end", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", Ending::Close},
        {"a body cut short", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc", Ending::Close},
        {"a body beyond the limit", "RTSP/1.0 200 OK\r\nContent-Length: 999999\r\n\r\n",
         Ending::Silence},
        {"a head beyond the limit", "RTSP/1.0 200 OK\r\nX: " + std::string(9000, 'x'),
         Ending::Silence},
        {"a start line of neither kind", "HELLO there\r\n\r\n", Ending::Silence},
        {"line ends and nothing else", std::string(40, '\n') + block, Ending::Silence},
    };
    for (const Case &c : cases) {
        LocalSession fresh;
        MemorySource source({c.bytes}, c.ending);
        RtspMessage reply;
        EXPECT_EQ(awaitRtspReply(fresh.get(), source, reply, 300), -8) << c.name;
    }
}

TEST_F(InterleavedTest, TheQueueOfWaitingBlocksIsBounded) {
    std::string bytes;
    const size_t sent = PendingBlocks::kMaxBlocks + 20;
    for (size_t i = 0; i < sent; ++i)
        bytes += interleaved({0, static_cast<uint16_t>(i), false, "x"});
    bytes += "RTSP/1.0 200 OK\r\n\r\n";
    MemorySource source(bytes, 4096);
    RtspMessage reply;
    ASSERT_EQ(awaitRtspReply(session.get(), source, reply, 2000), 200);
    EXPECT_EQ(session->rtp.pending.size(), PendingBlocks::kMaxBlocks);
    EXPECT_EQ(session->rtp.pending.dropped(), 20u);

    // The byte bound holds too.
    PendingBlocks queue;
    const std::vector<uint8_t> big(65535, 1);
    size_t kept = 0;
    while (queue.push(0, big)) ++kept;
    EXPECT_EQ(kept, PendingBlocks::kMaxBytes / big.size());
}

// Only a gap in the video costs a picture; in strict mode it restarts the wait for a key frame.
TEST_F(InterleavedTest, GapsByChannel) {
    struct Case {
        uint8_t channel;
        bool strict, awaiting, lost;
    } cases[] = {{0, true, true, false}, {0, false, false, true}, {2, false, false, false}};
    for (const Case &c : cases) {
        LocalSession fresh;
        fresh->awaitingFirstFrame = 0;
        fresh->options.strictFrames = c.strict;
        MemorySource source(
            {interleaved({c.channel, 10, false, "a"}), interleaved({c.channel, 12, false, "b"})});
        EXPECT_EQ(readInterleaved(fresh.get(), source), 0);
        EXPECT_EQ(readInterleaved(fresh.get(), source), 0);
        EXPECT_EQ(fresh->awaitingFirstFrame, c.awaiting) << int(c.channel);
        EXPECT_EQ(fresh->rtp.pictureLost, c.lost) << int(c.channel);
    }
}

}  // namespace
