#include "transport/rtp_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "support/frame_collector.h"
#include "support/media.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/jpeg_assembler.h"
#include "transport/mpeg4_assembler.h"

using namespace ipcam;
using namespace kestrel_test;
using Ending = MemorySource::Ending;

namespace {

using Packet = RtpPacketSpec;

std::string rtp(const Packet &p) {
    return rtpPacket(p);
}

struct Fixture : ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{200};

    void SetUp() override { collector.attach(session.get()); }

    // Reads interleaved packets until the source is exhausted; returns the last result.
    int readAll(const std::vector<Packet> &packets, size_t piece = 1500) {
        std::string bytes;
        for (const Packet &p : packets) bytes += interleaved(p);
        MemorySource source(bytes, piece);
        int r = 0;
        while (source.remaining() > 0 && (r = readInterleaved(session.get(), source)) == 0) {
        }
        return r;
    }
    std::vector<std::string> videoFrames() {
        std::vector<std::string> v;
        for (const Delivered &d : collector.frames())
            if (d.kind >= 2 && d.kind <= 4) v.push_back(d.payload);
        return v;
    }

    LocalSession session;
    FrameCollector collector;
};

using RtpReaderTest = Fixture;

TEST_F(RtpReaderTest, Mpeg4FramesComeOutWholeAndDecode) {
    std::vector<std::string> frames = encodeMpeg4(320, 240, 12, 5);
    ASSERT_EQ(frames.size(), 12u);
    ASSERT_EQ(frames[0].substr(0, 4), std::string("\0\0\1\xB0", 4));
    EXPECT_EQ(readAll(packetize(frames, 700), 333), 0);

    // Each frame ends where the next begins, so the last one waits in the buffer.
    std::vector<std::string> got = videoFrames();
    ASSERT_EQ(got.size(), 11u);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == frames[i]) << i;
    std::vector<int32_t> kinds = collector.kinds();
    ASSERT_GE(kinds.size(), 4u);
    EXPECT_EQ(std::vector<int32_t>(kinds.begin(), kinds.begin() + 4),
              (std::vector<int32_t>{12, 7, 2, 3}));

    StreamFormatBlock format;
    std::memcpy(&format, collector.frames()[1].payload.data(), sizeof format);
    EXPECT_EQ(format.width, 320);
    EXPECT_EQ(format.height, 240);
    Decoded d = decodeMpeg4(got);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.width, 320);
    // The decoder configuration is the key frame's headers up to its group of pictures.
    const std::string &config = reinterpret_cast<const std::string &>(frames[0]);
    size_t group = config.find(std::string("\0\0\1\xB3", 4));
    if (group != std::string::npos) {
        EXPECT_EQ(std::string(session->rtp.decoderConfig.begin(), session->rtp.decoderConfig.end()),
                  config.substr(0, group));
    }
}

// Delivery starts at a key frame; a loss costs the frame it hit, and the next one comes behind
// the damage message (strict: nothing comes until the next key frame).
TEST_F(RtpReaderTest, DeliveryStartsAtAKeyFrameAndGoesOnAfterALoss) {
    const std::vector<std::string> frames = encodeMpeg4(176, 144, 15, 5);
    const std::vector<Packet> packets = packetize(frames, 60);
    const struct Case {
        const char *name;
        std::size_t lostFrame;
        int lostPacket;  // which packet of that frame goes missing; -1 its last
        bool strict;
        std::vector<int> expected;  // frames in order, -1 the damage message
    } cases[] = {
        // A frame ends at the next start code: the seventh goes out with the eighth's first
        // packet, before the gap.
        {"inside a frame, strict", 7, 1, true, {5, 6, 10, 11, 12, 13}},
        {"inside a frame", 7, 1, false, {5, 6, -1, 8, 9, 10, 11, 12, 13}},
        // The marker bit before the gap says that the frame in the buffer is whole.
        {"a frame's first packet", 8, 0, false, {5, 6, 7, -1, 9, 10, 11, 12, 13}},
        {"a frame's last packet", 7, -1, false, {5, 6, -1, 8, 9, 10, 11, 12, 13}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession fresh;
        collector.clear();
        collector.attach(fresh.get());
        fresh->options.strictFrames = c.strict;
        std::string bytes;  // joined in the middle of the first group
        for (std::size_t i = 0, frame = 0, first = 0; i < packets.size(); ++i) {
            const bool lost =
                frame == c.lostFrame &&
                (c.lostPacket < 0 ? packets[i].marker : i - first == std::size_t(c.lostPacket));
            if (frame >= 2 && !lost) bytes += interleaved(packets[i]);
            if (packets[i].marker) ++frame, first = i + 1;
        }
        MemorySource source(bytes, 1500);
        while (source.remaining() > 0) ASSERT_EQ(readInterleaved(fresh.get(), source), 0);
        std::vector<int> got;  // a frame that is none of those sent: 15
        for (const Delivered &d : collector.frames()) {
            const auto at = std::find(frames.begin(), frames.end(), d.payload);
            if (d.kind == IPCAM_MSG_DAMAGE || d.kind == IPCAM_FRAME_KEY ||
                d.kind == IPCAM_FRAME_DEPENDENT)
                got.push_back(d.kind == IPCAM_MSG_DAMAGE ? -1 : int(at - frames.begin()));
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST_F(RtpReaderTest, DamagedBlocksFailAndClearTheFrame) {
    struct Case {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"no dollar", "#" + interleaved({0, 1, true, "abc"}).substr(1)},
        {"short head", interleaved({0, 1, true, "abcdef"}).substr(0, 10)},
        {"short payload", interleaved({0, 1, true, "abcdef"}).substr(0, 19)},
        {"neither a block nor a message",
         "\x17\x17\x17\x17"
         "camsim garbage\r\n"},
        {"message head without its end", "RTSP/1.0 200 OK\r\nCSeq: 4\r\n"},
    };
    for (const Case &c : cases) {
        session->rtp.frameBuffer.append("\0\0\1\xB6junk", 8);
        MemorySource source({c.bytes}, Ending::Silence);
        EXPECT_EQ(readInterleaved(session.get(), source), -8) << c.name;
        EXPECT_EQ(session->rtp.frameBuffer.count(), 0u) << c.name;
    }
}

TEST_F(RtpReaderTest, StrayBytesBetweenUnitsArePassedOverAndCounted) {
    const std::vector<std::string> frames = encodeMpeg4(176, 144, 4, 4);
    const std::vector<Packet> packets = packetize(frames, 300);
    const struct Case {
        const char *name;
        std::string stray;
        uint64_t skipped;
    } cases[] = {
        {"nothing stray", "", 0},
        {"bytes that begin nothing",
         "\x17\x17\x17\x17"
         "camsim garbage\r\n",
         20},
        {"a '$' of a channel nobody set up", "xx$\x09\x01\x02yy", 8},
        {"capitals that begin no start line", "GARBAGE OF A CAMERA\r\n", 21},
        {"a reply after stray bytes", "\x17\x17RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n", 2},
    };
    std::vector<std::string> clean;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession fresh;
        FrameCollector got;
        got.attach(fresh.get());
        std::string bytes;
        for (std::size_t i = 0; i < packets.size(); ++i)
            bytes += interleaved(packets[i]) + (i == 1 ? c.stray : "");
        MemorySource source(bytes, 7);
        while (source.remaining() > 0) ASSERT_EQ(readInterleaved(fresh.get(), source), 0);
        if (clean.empty()) clean = got.videoFrames();
        EXPECT_TRUE(got.videoFrames() == clean);
        EXPECT_EQ(fresh->rtp.strayBytes, c.skipped);
        if (c.stray.find("CSeq: 5") != std::string::npos) {
            EXPECT_EQ(fresh->rtp.replies.lastCseq, 5);
        }
    }
    EXPECT_EQ(clean.size(), frames.size() - 1);
}

TEST_F(RtpReaderTest, APayloadLargerThanTheFreeSpaceEmptiesTheFrameFirst) {
    FrameBuffer &buffer = session->rtp.frameBuffer;
    std::string picture = std::string("\0\0\1\xB6", 4) + std::string(buffer.capacity() - 100, 'p');
    ASSERT_TRUE(buffer.append(picture.data(), picture.size()));
    session->rtp.mpeg4 = {3, picture.size() - 3, false};
    std::string payload(500, 'q');
    MemorySource source({interleaved({0, 1, false, payload})});
    EXPECT_EQ(readInterleaved(session.get(), source), 0);
    EXPECT_LE(buffer.count(), payload.size());
}

TEST_F(RtpReaderTest, DeviceReportsAreAnsweredAndAudioIsHandedOn) {
    session->awaitingFirstFrame = 0;
    std::string report = std::string("\x80\xC8\x00\x06\xB1\xB2\xB3\xB4", 8) + std::string(20, 'n');
    std::string bytes = interleaved({0, 5, false, "", 0xA1A2A3A4}) + interleavedBlock(1, report) +
                        interleaved({2, 1, false, "sound", 0xC1C2C3C4}) +
                        interleaved({3, 1, false, "", 0});
    MemorySource source(bytes, 7);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(readInterleaved(session.get(), source), 0) << i;

    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host(name, strnlen(name, 209));
    const std::string &sent = source.sent();
    ASSERT_EQ(sent.size(), 50u + host.size());
    const std::string own = sent.substr(8, 4);
    EXPECT_NE(own, std::string(4, '\0'));
    std::string answer = "$";
    answer += '\x01';
    answer += '\0';
    answer += static_cast<char>(host.size() + 46);
    answer += std::string("\x81\xC9\x00\x07", 4);
    answer += own + "\xB1\xB2\xB3\xB4";
    answer += std::string(24, '\xFF');
    answer += own;
    answer += '\x01';
    answer += static_cast<char>(host.size());
    answer += host + std::string(4, '\0');
    EXPECT_EQ(sent, answer);

    std::vector<Delivered> frames = collector.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, IPCAM_FRAME_AUDIO);
    EXPECT_EQ(frames[0].payload, "sound");
}

TEST_F(RtpReaderTest, JpegPicturesInOneBufferComeOutInOneCall) {
    std::string a = encodeJpeg({32, 16, 50, false, 0}), b = encodeJpeg({64, 32, 50, false, 0});
    {
        StreamFormatBlock f = session->format;
        f.videoCodec = 0;
        f.width = 722;  // what the RTSP connect leaves for a stream it cannot size
        f.height = 482;
        session->format = f;
    }
    std::string bytes = "noise\xFF" + a + "\xFF\xD9" + b + "\xFF";
    session->rtp.frameBuffer.append(bytes.data(), bytes.size());
    EXPECT_EQ(assembleJpeg(session.get()), 0);
    EXPECT_EQ(collector.kinds(), (std::vector<int32_t>{7, 2, 2}));
    // The description gives the first picture's size.
    StreamFormatBlock format;
    std::memcpy(&format, collector.frames()[0].payload.data(), sizeof format);
    EXPECT_EQ(format.width, 32);
    EXPECT_EQ(format.height, 16);
    EXPECT_TRUE(videoFrames() == (std::vector<std::string>{a, b}));
    EXPECT_EQ(session->rtp.largestFrame, b.size() + 512);
    EXPECT_EQ(session->rtp.frameBuffer.count(), 1u);  // the trailing FF may start a marker

    // A second start discards what came before it.
    collector.clear();
    session->rtp.frameBuffer.clear();
    session->rtp.jpeg = {};
    std::string broken = a.substr(0, a.size() / 2) + b;
    session->rtp.frameBuffer.append(broken.data(), broken.size());
    EXPECT_EQ(assembleJpeg(session.get()), 0);
    EXPECT_TRUE(videoFrames() == (std::vector<std::string>{b}));
}

// A stream whose configuration travels only in the description: the first intra picture
// after joining or (strict frames) after a gap starts decoding with that configuration in front.
TEST_F(RtpReaderTest, ConfigurationFromTheDescription) {
    const std::vector<std::string> frames = encodeMpeg4(176, 144, 12, 4);
    const std::string vop("\0\0\1\xB6", 4), group("\0\0\1\xB3", 4);
    const std::string &key = frames[0];
    const std::string config = key.substr(0, std::min(key.find(group), key.find(vop)));
    ASSERT_EQ(config.substr(0, 4), std::string("\0\0\1\xB0", 4));
    std::vector<std::string> pictures;
    for (const std::string &f : frames) pictures.push_back(f.substr(f.find(vop)));

    struct Case {
        const char *name;
        bool configInBand;
    } cases[] = {{"only in the description", false}, {"in band as well", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession fresh;
        collector.clear();
        collector.attach(fresh.get());
        fresh->rtp.sdpConfig.assign(config.begin(), config.end());
        fresh->options.strictFrames = 1;
        const std::vector<std::string> &sent = c.configInBand ? frames : pictures;
        // Join after the first key picture and lose the second packet of the seventh frame
        // (its first still ends the sixth).
        std::vector<Packet> packets = packetize({sent.begin() + 1, sent.end()}, 100);
        size_t lost = 0;
        for (size_t i = 0, frame = 1; i < packets.size() && !lost; ++i) {
            if (frame == 6 && !packets[i].marker) lost = i + 1;
            if (packets[i].marker) ++frame;
        }
        ASSERT_GT(lost, 0u);
        packets.erase(packets.begin() + static_cast<long>(lost));
        std::string bytes;
        for (const Packet &p : packets) bytes += interleaved(p);
        MemorySource source(bytes, 1000);
        while (source.remaining() > 0) ASSERT_EQ(readInterleaved(fresh.get(), source), 0);

        const std::vector<std::string> expected =
            c.configInBand
                ? std::vector<std::string>{frames[4], frames[5], frames[8], frames[9], frames[10]}
                : std::vector<std::string>{config + pictures[4], pictures[5], config + pictures[8],
                                           pictures[9], pictures[10]};
        std::vector<std::string> got;
        std::vector<int32_t> kinds;
        for (const Delivered &d : collector.frames())
            if (d.kind == IPCAM_FRAME_KEY || d.kind == IPCAM_FRAME_DEPENDENT) {
                got.push_back(d.payload);
                kinds.push_back(d.kind);
            }
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == expected[i]) << i;
        EXPECT_EQ(kinds, (std::vector<int32_t>{2, 3, 2, 3, 3}));
        EXPECT_TRUE(decodeMpeg4({got.begin(), got.begin() + 2}).ok);
        EXPECT_TRUE(decodeMpeg4({got.begin() + 2, got.end()}).ok);
        EXPECT_EQ(fresh->format.width, 176);
        EXPECT_EQ(fresh->format.height, 144);
        if (!c.configInBand || key.find(group) != std::string::npos) {
            EXPECT_EQ(std::string(fresh->rtp.decoderConfig.begin(), fresh->rtp.decoderConfig.end()),
                      config);
        }
    }
}

// A session keeps no packet or frame storage until a reader needs it; the reader that does
// reserves only its own.
TEST(RtpBuffersTest, AreReservedByTheReaderThatFirstNeedsThem) {
    kestrel_test::ScopedTimeouts timeouts{200};
    const std::string video = interleaved({0, 1, false, std::string("\0\0\1\xB0", 4)});
    const std::string audio = rtp({2, 1, false, "tone"});
    struct Case {
        const char *name;
        int (*read)(IPCamSession *, const std::string &video, const std::string &audio);
        bool packet, audioPacket, frame;
    } cases[] = {
        {"nothing read", [](IPCamSession *, const std::string &, const std::string &) { return 0; },
         false, false, false},
        {"interleaved video",
         [](IPCamSession *s, const std::string &v, const std::string &) {
             MemorySource source(v, v.size());
             return readInterleaved(s, source);
         },
         true, false, true},
        {"UDP audio",
         [](IPCamSession *s, const std::string &, const std::string &a) {
             MemorySource source(std::vector<std::string>{a});
             return readUdpAudio(s, source, nullptr);
         },
         false, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LocalSession session;
        FrameCollector collector;
        collector.attach(session.get());
        EXPECT_EQ(c.read(session.get(), video, audio), 0);
        EXPECT_EQ(session->rtp.packet.reserved(), c.packet);
        EXPECT_EQ(session->rtp.audioPacket.reserved(), c.audioPacket);
        EXPECT_EQ(session->rtp.frameBuffer.reserved(), c.frame);
    }
}

// What the session thread resets before it connects again; the first key frame after it comes
// out whole from the buffers the first connection reserved.
TEST_F(RtpReaderTest, TheFirstFrameAfterAReconnectionComesOutWhole) {
    std::vector<std::string> frames = encodeMpeg4(176, 144, 10, 5);
    std::vector<Packet> first = packetize({frames.begin(), frames.begin() + 4}, 200, 100);
    EXPECT_EQ(readAll(first), 0);
    ASSERT_EQ(videoFrames().size(), 3u);  // the fourth waits for the next start code

    session->awaitingFirstFrame = 1;
    session->rtp.channels.clear();
    session->rtp.clearFrame();
    collector.clear();
    EXPECT_EQ(readAll(packetize({frames.begin() + 5, frames.end()}, 200, 7)), 0);
    std::vector<std::string> got = videoFrames();
    ASSERT_EQ(got.size(), 4u);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == frames[5 + i]) << i;
    std::vector<int32_t> kinds = collector.kinds();
    ASSERT_GE(kinds.size(), 3u);
    EXPECT_EQ(std::vector<int32_t>(kinds.begin(), kinds.begin() + 3),
              (std::vector<int32_t>{12, 7, 2}));
}

TEST_F(RtpReaderTest, UdpVideoAndItsKeepAliveReports) {
    std::vector<std::string> frames = encodeMpeg4(176, 144, 4, 10);
    std::vector<std::string> datagrams;
    for (const Packet &p : packetize(frames, 500)) datagrams.push_back(rtp(p));
    MemorySource source(datagrams, Ending::Silence);
    MemorySource rtcp({});
    int calls = 0;
    while (source.remaining() > 0) {
        EXPECT_EQ(readUdpVideo(session.get(), source, &rtcp, nullptr), 0);
        ++calls;
    }
    EXPECT_EQ(calls, 4);  // one call per frame, ended by its marker
    EXPECT_EQ(videoFrames(), (std::vector<std::string>{frames[0], frames[1], frames[2]}));
    ASSERT_EQ(rtcp.sent().size(), 32u);  // once, the receive time-out has not passed since
    EXPECT_EQ(rtcp.sent().substr(0, 4), std::string("\x81\xC9\x00\x07", 4));
    EXPECT_EQ(rtcp.sent().substr(4), std::string(28, '\xFF'));

    MemorySource tiny({std::string(12, '\x80')});
    EXPECT_EQ(readUdpVideo(session.get(), tiny, nullptr, nullptr), -8);
}

// A lost audio packet costs only itself; a copy that comes late, and a bare header of
// another source, are passed over.
TEST_F(RtpReaderTest, UdpAudioLosesOnlyWhatIsMissing) {
    session->awaitingFirstFrame = 0;
    MemorySource source({rtp({2, 10, false, "a"}), rtp({2, 11, false, "b"}),
                         rtp({2, 13, false, "after the gap"}), rtp({2, 11, false, "late"}),
                         rtp({2, 14, false, "c"}), std::string(12, '\x80')});
    MemorySource rtcp({std::string("\x80\xC8\x00\x01\x44\x33\x22\x11", 8)}, Ending::Silence);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(readUdpAudio(session.get(), source, &rtcp), 0);
    EXPECT_EQ(rtcp.remaining(), 0u);  // the device's reports are read as they come
    EXPECT_EQ(readUdpAudio(session.get(), source, &rtcp), -9);
    std::vector<std::string> payloads;
    for (const Delivered &d : collector.frames()) payloads.push_back(d.payload);
    EXPECT_EQ(payloads, (std::vector<std::string>{"a", "b", "after the gap", "c"}));
    EXPECT_EQ(rtcp.sent().size(), 32u);
    EXPECT_EQ(session->awaitingFirstFrame, 0);
}

}  // namespace
