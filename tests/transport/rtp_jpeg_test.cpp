// RTP/JPEG pictures through both readers: where pictures end, and what happens to pictures
// that cannot be whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/session.h"
#include "support/frame_collector.h"
#include "support/media.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/jpeg_header.h"
#include "transport/rtp_reader.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

constexpr int kWidth = 64, kHeight = 48;

struct Picture {
    std::string jpeg;
    std::vector<std::string> payloads;
};

Picture picture(int quality, int q, bool inBand, size_t fragment, bool endMarker = true,
                int width = kWidth, int height = kHeight) {
    Picture p;
    p.jpeg = encodeJpeg({width, height, quality, false, 0});
    p.payloads = rtpJpegFragments(p.jpeg, width, height, q, inBand, fragment, endMarker);
    return p;
}

// What the reader must deliver for a picture: the header rebuilt from its first fragment,
// then its data with the end marker.
std::string whole(const Picture &p) {
    uint8_t header[kJpegHeaderArea];
    const std::string &first = p.payloads.front();
    JpegHeaderResult r =
        makeJpegHeader(reinterpret_cast<const uint8_t *>(first.data()), first.size(), header);
    return std::string(reinterpret_cast<char *>(header), r.headerLength) + scanData(p.jpeg);
}

std::string rebuiltHeader(const Picture &p) {
    const std::string w = whole(p);
    return w.substr(0, w.size() - scanData(p.jpeg).size());
}

struct RtpJpegTest : ::testing::Test {
    ScopedTimeouts timeouts{200};
    LocalSession session;
    FrameCollector collector;
    uint16_t sequence = 1;

    void SetUp() override {
        collector.attach(session.get());
        session->format.videoCodec = 0;
    }

    std::vector<RtpPacketSpec> packets(const Picture &p) {
        std::vector<RtpPacketSpec> out;
        for (size_t i = 0; i < p.payloads.size(); ++i)
            out.push_back({0, sequence++, i + 1 == p.payloads.size(), p.payloads[i]});
        return out;
    }

    // Feeds the packets through the interleaved or the UDP reader; the video frames delivered.
    std::vector<std::string> read(const std::vector<RtpPacketSpec> &sent, bool udp) {
        if (udp) {
            std::vector<std::string> datagrams;
            for (const RtpPacketSpec &p : sent) datagrams.push_back(rtpPacket(p));
            MemorySource source(datagrams, MemorySource::Ending::Silence);
            while (source.remaining() > 0)
                EXPECT_EQ(readUdpVideo(session.get(), source, nullptr, nullptr), 0);
        } else {
            std::string bytes;
            for (const RtpPacketSpec &p : sent) bytes += interleaved(p);
            MemorySource source(bytes, 1000);
            while (source.remaining() > 0) EXPECT_EQ(readInterleaved(session.get(), source), 0);
        }
        std::vector<std::string> frames;
        for (const Delivered &d : collector.frames())
            if (d.kind == IPCAM_FRAME_KEY) frames.push_back(d.payload);
        return frames;
    }
};

bool containsPair(const std::string &s, const char *pair) {
    return s.find(std::string(pair, 2)) != std::string::npos;
}

TEST_F(RtpJpegTest, PicturesEndAfterTheRebuiltHeaderOrAtTheMarkerBit) {
    struct Case {
        const char *name;
        int quality, q;
        bool inBand, endMarker;
        const char *pairInHeader;  // a marker-like pair the rebuilt tables hold, or nullptr
    } cases[] = {
        {"Q 6: the tables hold FF D9", 6, 6, false, true, "\xFF\xD9"},
        {"Q 18: the tables hold FF D8", 18, 18, false, true, "\xFF\xD8"},
        {"in-band tables holding FF D9", 6, 255, true, true, "\xFF\xD9"},
        {"no end marker: the marker bit ends it", 50, 50, false, false, nullptr},
        {"Q 6 without end marker", 6, 6, false, false, "\xFF\xD9"},
    };
    for (const Case &c : cases) {
        for (bool udp : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (udp ? ", UDP" : ", interleaved"));
            collector.clear();
            session->rtp.clearFrame();
            session->rtp.udp.reset();  // a stream of its own: the reorder window starts afresh
            const Picture a = picture(c.quality, c.q, c.inBand, 100, c.endMarker);
            const Picture b = picture(c.quality, c.q, c.inBand, 100, c.endMarker, 32, 16);
            if (c.pairInHeader) {
                ASSERT_TRUE(containsPair(rebuiltHeader(a), c.pairInHeader));
            }
            std::vector<RtpPacketSpec> sent = packets(a), more = packets(b);
            sent.insert(sent.end(), more.begin(), more.end());

            std::vector<std::string> got = read(sent, udp);
            ASSERT_EQ(got.size(), 2u);
            EXPECT_TRUE(got[0] == whole(a));
            EXPECT_TRUE(got[1] == whole(b));
            for (const std::string &g : got) {
                EXPECT_EQ(g.substr(0, 2), "\xFF\xD8");
                EXPECT_EQ(g.substr(g.size() - 2), "\xFF\xD9");
                EXPECT_TRUE(decodeJpeg(g).ok);
            }
            EXPECT_EQ(decodeJpeg(got[0]).width, kWidth);
        }
    }
}

// A picture that cannot be stored whole is never delivered, and the next one is.
TEST_F(RtpJpegTest, PicturesThatCannotBeWholeAreDropped) {
    const Picture a = picture(50, 50, false, 80, true, 32, 16), b = picture(50, 50, false, 80),
                  c = picture(60, 60, false, 80, true, 32, 16);
    ASSERT_GE(b.payloads.size(), 3u);
    struct Case {
        const char *name;
        int drop;       // fragment of b left out: -1 none
        bool renumber;  // the numbering hides the loss
        size_t capacity;
        std::vector<std::string> expected;
    } cases[] = {
        {"a middle fragment lost", 1, false, FrameBuffer::kRtpCapacity, {whole(a), whole(c)}},
        {"a middle fragment lost, numbering unbroken",
         1,
         true,
         FrameBuffer::kRtpCapacity,
         {whole(a), whole(c)}},
        {"the last fragment lost",
         static_cast<int>(b.payloads.size()) - 1,
         true,
         FrameBuffer::kRtpCapacity,
         {whole(a), whole(c)}},
        // Room for b's data but not for its rebuilt header as well.
        {"larger than the buffer with its header",
         -1,
         false,
         whole(b).size() - 1,
         {whole(a), whole(c)}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        LocalSession fresh;
        collector.clear();
        collector.attach(fresh.get());
        fresh->format.videoCodec = 0;
        fresh->rtp.frameBuffer.useCapacity(k.capacity);
        std::vector<RtpPacketSpec> sent = packets(a), second = packets(b), third = packets(c);
        if (k.drop >= 0) second.erase(second.begin() + k.drop);
        sent.insert(sent.end(), second.begin(), second.end());
        sent.insert(sent.end(), third.begin(), third.end());
        if (k.renumber)
            for (size_t i = 0; i < sent.size(); ++i) sent[i].sequence = static_cast<uint16_t>(i);
        std::string bytes;
        for (const RtpPacketSpec &p : sent) bytes += interleaved(p);
        MemorySource source(bytes, 1000);
        while (source.remaining() > 0) EXPECT_EQ(readInterleaved(fresh.get(), source), 0);

        std::vector<std::string> got;
        for (const Delivered &d : collector.frames())
            if (d.kind == IPCAM_FRAME_KEY) got.push_back(d.payload);
        EXPECT_TRUE(got == k.expected) << got.size();
        for (const std::string &g : got) EXPECT_TRUE(decodeJpeg(g).ok);
        // Every picture stands alone: the stream goes on as it was, nothing to announce.
        const std::vector<int32_t> kinds = collector.kinds();
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), IPCAM_MSG_FORMAT), 1);
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), IPCAM_MSG_DAMAGE), 0);
    }
}

}  // namespace
