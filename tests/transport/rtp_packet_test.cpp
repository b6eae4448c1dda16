#include "transport/rtp_packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/frame_collector.h"
#include "support/media.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/rtp_reader.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

std::optional<RtpPacket> parse(const std::string &bytes) {
    return parseRtpPacket(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()));
}

std::string payloadOf(const RtpPacket &p) {
    return std::string(reinterpret_cast<const char *>(p.payload.data()), p.payload.size());
}

TEST(RtpPacketTest, HeadersAroundThePayloadAreTakenOff) {
    struct Case {
        int csrcCount;
        std::string extension;
        uint8_t padding;
        std::string payload;
    } cases[] = {
        {0, "", 0, "picture"},
        {3, "", 0, "picture"},
        {0, "EXT1", 0, "picture"},
        {0, std::string(4 * 300, 'e'), 0, "picture"},
        {0, "", 1, "picture"},
        {0, "", 255, "picture"},
        {15, "EXT1EXT2", 7, "picture"},
        {2, "EXT1", 4, ""},  // the padding takes all that is left
        {0, "", 0, ""},
    };
    for (const Case &c : cases) {
        RtpPacketSpec spec{0,          0xBEEF,      true,        c.payload,
                           0x04030201, c.csrcCount, c.extension, c.padding};
        std::string bytes = rtpPacket(spec);
        bytes[4] = '\x12';  // timestamp 0x12000000
        std::optional<RtpPacket> p = parse(bytes);
        SCOPED_TRACE(testing::Message() << c.csrcCount << " CSRC, " << c.extension.size()
                                        << " bytes of extension, padding " << int(c.padding));
        ASSERT_TRUE(p);
        EXPECT_EQ(payloadOf(*p), c.payload);
        EXPECT_TRUE(p->marker);
        EXPECT_EQ(p->payloadType, 96);
        EXPECT_EQ(p->sequence, 0xBEEF);
        EXPECT_EQ(p->timestamp, 0x12000000u);
        EXPECT_EQ(p->ssrcRaw, 0x04030201u);
        EXPECT_EQ(p->ssrc, 0x01020304u);  // little-endian host: the bytes were 01 02 03 04
    }
}

TEST(RtpPacketTest, DamagedPacketsAreRefused) {
    const std::string good = rtpPacket({0, 1, false, "data", 1, 1, "EXT1", 3});
    auto withFirstByte = [&](uint8_t b) {
        std::string s = good;
        s[0] = static_cast<char>(b);
        return s;
    };
    std::string zeroPadding = rtpPacket({0, 1, false, "data", 1, 0, "", 3});
    zeroPadding.back() = '\0';
    std::string paddingTooLarge = rtpPacket({0, 1, false, "data", 1, 0, "", 3});
    paddingTooLarge.back() = '\x08';  // 4 data bytes and 3 padding: 8 is one too many
    std::string extensionTooLong = rtpPacket({0, 1, false, "", 1, 0, "EXT1"});
    extensionTooLong[15] = '\x02';  // two words announced, one there
    struct Case {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"version 0", withFirstByte(good[0] & 0x3F)},
        {"version 1", withFirstByte((good[0] & 0x3F) | 0x40)},
        {"version 3", withFirstByte(good[0] | 0xC0)},
        {"shorter than the fixed header", good.substr(0, 11)},
        {"CSRC list beyond the end", rtpPacket({0, 1, false, "", 1, 1}).substr(0, 12) + "abc"},
        {"CSRC count beyond the end", withFirstByte((good[0] & 0xF0) | 0x0F)},
        {"extension head cut short", rtpPacket({0, 1, false, "", 1, 0, "EXT1"}).substr(0, 14)},
        {"extension longer than the packet", extensionTooLong},
        {"padding count 0", zeroPadding},
        {"padding count beyond the payload", paddingTooLarge},
        {"padding bit on an empty payload", withFirstByte(0xA0).substr(0, 12)},
    };
    for (const Case &c : cases) EXPECT_FALSE(parse(c.bytes)) << c.name;
    EXPECT_TRUE(parse(good));
}

// Both readers go through the parser: extensions and padding never reach a picture, and
// packets of another version are passed over without ending the stream.
TEST(RtpPacketReadersTest, PicturesComeOutWithoutExtensionsOrPadding) {
    ScopedTimeouts timeouts{200};
    const std::vector<std::string> frames = encodeMpeg4(176, 144, 6, 3);
    std::vector<RtpPacketSpec> sent = packetize(frames, 300);
    for (size_t i = 0; i < sent.size(); ++i) {
        if (i % 2 == 0) sent[i].extension = std::string(8, static_cast<char>(0xB6 - i));
        if (i % 3 == 0) sent[i].padding = static_cast<uint8_t>(1 + i % 40);
        if (i % 5 == 0) sent[i].csrcCount = 2;
    }
    RtpPacketSpec stranger = sent[4];
    stranger.version = 1;
    stranger.payload = std::string("\0\0\1\xB0", 4);
    sent.insert(sent.begin() + 4, stranger);

    for (bool udp : {false, true}) {
        SCOPED_TRACE(udp ? "UDP" : "interleaved");
        LocalSession session;
        FrameCollector collector;
        collector.attach(session.get());
        if (udp) {
            std::vector<std::string> datagrams;
            for (const RtpPacketSpec &p : sent) datagrams.push_back(rtpPacket(p));
            MemorySource source(datagrams, MemorySource::Ending::Silence);
            while (source.remaining() > 0)
                ASSERT_EQ(readUdpVideo(session.get(), source, nullptr, nullptr), 0);
        } else {
            std::string bytes;
            for (const RtpPacketSpec &p : sent) bytes += interleaved(p);
            MemorySource source(bytes, 500);
            while (source.remaining() > 0) ASSERT_EQ(readInterleaved(session.get(), source), 0);
        }
        std::vector<std::string> got;
        for (const Delivered &d : collector.frames())
            if (d.kind == IPCAM_FRAME_KEY || d.kind == IPCAM_FRAME_DEPENDENT)
                got.push_back(d.payload);
        // The last frame waits for the start of the next.
        ASSERT_EQ(got.size(), frames.size() - 1);
        for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == frames[i]) << i;
        EXPECT_TRUE(decodeMpeg4(got).ok);
    }
}

}  // namespace
