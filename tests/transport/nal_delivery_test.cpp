// H.264 through the session's interleaved reader: what the callback gets is what a decoder
// needs, in the order it needs it.
#include "transport/nal_delivery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/byte_source.h"
#include "support/frame_collector.h"
#include "support/h264_packets.h"
#include "support/h265_packets.h"
#include "support/media.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/rtp_reader.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

struct NalDeliveryTest : ::testing::Test {
    ScopedTimeouts timeouts{200};
    LocalSession session;
    FrameCollector collector;

    void SetUp() override {
        collector.attach(session.get());
        session->format.videoCodec = IPCAM_VIDEO_H264;
        session->awaitingFirstFrame = 1;
    }
    // Reads the packets as interleaved blocks on channel 0, in pieces of 333 bytes.
    void readAll(const std::vector<H264Packet> &packets) {
        std::vector<std::vector<uint8_t>> rtp;
        for (const H264Packet &p : packets) rtp.push_back(h264RtpBytes(p));
        readBlocks(rtp);
    }
    void readBlocks(const std::vector<std::vector<uint8_t>> &rtp) {
        std::string bytes;
        for (const std::vector<uint8_t> &packet : rtp)
            bytes += interleavedBlock(0, std::string(packet.begin(), packet.end()));
        MemorySource source(bytes, 333);
        while (source.remaining() > 0 && readInterleaved(session.get(), source) == 0) {
        }
    }
    std::vector<StreamFormatBlock> formats() const {
        std::vector<StreamFormatBlock> found;
        for (const Delivered &d : collector.frames())
            if (d.kind == IPCAM_MSG_FORMAT) {
                StreamFormatBlock f;
                std::memcpy(&f, d.payload.data(), sizeof f);
                found.push_back(f);
            }
        return found;
    }
};

TEST_F(NalDeliveryTest, KeyFramesStartWithTheirFormatAndEveryPictureDecodes) {
    const std::vector<H264Unit> units = h264Encode(320, 240, 12, 6);
    ASSERT_EQ(units.size(), 12u);
    readAll(h264Packetize(units, {}));

    const std::vector<int32_t> kinds = collector.kinds();
    ASSERT_GE(kinds.size(), 4u);
    EXPECT_EQ(std::vector<int32_t>(kinds.begin(), kinds.begin() + 4),
              (std::vector<int32_t>{IPCAM_MSG_TIME_STEP, IPCAM_MSG_FORMAT, IPCAM_FRAME_KEY,
                                    IPCAM_FRAME_DEPENDENT}));
    const std::vector<StreamFormatBlock> f = formats();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].videoCodec, IPCAM_VIDEO_H264);
    EXPECT_EQ(f[0].width, 320);
    EXPECT_EQ(f[0].height, 240);
    EXPECT_EQ(f[0].frameRate, 30.0);  // the encoder's timing information

    // Every unit arrives whole, in Annex B form; each key frame carries its parameter sets.
    const std::vector<std::string> got = collector.videoFrames();
    ASSERT_EQ(got.size(), units.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const H264Nal expected = h264AnnexB(units[i]);
        EXPECT_EQ(got[i], std::string(expected.begin(), expected.end())) << i;
    }
    const Decoded d = decodeVideo(TestCodec::H264, got);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.width, 320);
}

// H.264 and H.265 take the same road: the depacketiser of the format's codec, the same rules.
// A lost fragment costs its picture, and the next one comes behind the damage message; in
// strict mode nothing comes until the next key frame (6), which brings the format again as
// after a new connection, and which H.264 drops too when the loss may have taken its start.
TEST_F(NalDeliveryTest, ALossCostsThePictureItHit) {
    using Packets = std::vector<std::pair<std::size_t, std::vector<uint8_t>>>;  // frame, bytes
    Packets h264, h265;
    for (const H264Packet &p : h264Packetize(h264Encode(320, 240, 12, 6), {.mtu = 100}))
        h264.push_back({p.unit, h264RtpBytes(p)});
    for (const H265Packet &p :
         h265Packets(encodeVideo(TestCodec::H265, 320, 240, 12, 6), {.mtu = 100}))
        h265.push_back({p.frame, p.bytes});
    const struct Row {
        const char *name;
        bool h264, strict;
        std::size_t lostFrame;
        int from, count;  // the packets of that frame lost; from < 0 counts from its end
    } rows[] = {{"H.264", true, false, 2, 1, 1},
                {"H.264, strict", true, true, 2, 1, 1},
                {"H.264, strict, before a key frame", true, true, 5, -2, 2},
                {"H.265", false, false, 2, 1, 1},
                {"H.265, strict", false, true, 2, 1, 1}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const Packets &all = row.h264 ? h264 : h265;
        std::size_t first = 0, end = 0;
        while (all[first].first < row.lostFrame) ++first;
        for (end = first; all[end].first == row.lostFrame;) ++end;
        const std::size_t lost = row.from < 0 ? end + row.from : first + row.from;
        ASSERT_GE(end - first, 3u);
        std::string bytes;
        for (std::size_t i = 0; i < all.size(); ++i)
            if (i < lost || i >= lost + row.count)
                bytes +=
                    interleavedBlock(0, std::string(all[i].second.begin(), all[i].second.end()));
        LocalSession fresh;
        FrameCollector got;
        got.attach(fresh.get());
        fresh->format.videoCodec = row.h264 ? IPCAM_VIDEO_H264 : IPCAM_VIDEO_H265;
        fresh->options.strictFrames = row.strict;
        MemorySource source(bytes, 333);
        while (source.remaining() > 0 && readInterleaved(fresh.get(), source) == 0) {
        }

        const std::size_t resume = !row.strict ? row.lostFrame + 1 : row.count > 1 ? 12 : 6;
        std::vector<int32_t> kinds = {IPCAM_MSG_TIME_STEP, IPCAM_MSG_FORMAT};
        for (std::size_t f = 0; f < 12; ++f) {
            if (f >= row.lostFrame && f < resume) continue;
            if (f == resume && row.strict)
                kinds.insert(kinds.end(), {IPCAM_MSG_TIME_STEP, IPCAM_MSG_FORMAT});
            if (f == resume && !row.strict) kinds.push_back(IPCAM_MSG_DAMAGE);
            kinds.push_back(f % 6 ? IPCAM_FRAME_DEPENDENT : IPCAM_FRAME_KEY);
        }
        EXPECT_EQ(got.kinds(), kinds);
        // Every picture delivered decodes, those after the loss with what the decoder conceals.
        const std::vector<std::string> pictures = got.videoFrames();
        EXPECT_EQ(decodeConcealing(row.h264 ? TestCodec::H264 : TestCodec::H265, pictures).pictures,
                  static_cast<int>(pictures.size()));
    }
}

}  // namespace
