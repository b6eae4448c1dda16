// H.264 through the session's interleaved reader: what the callback gets is what a decoder
// needs, in the order it needs it.
#include "transport/nal_delivery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

TEST_F(NalDeliveryTest, ALostFragmentWaitsForTheNextKeyFrame) {
    const std::vector<H264Unit> units = h264Encode(320, 240, 12, 6);
    std::vector<H264Packet> packets = h264Packetize(units, {.mtu = 200});
    // The middle fragment of the third picture goes missing.
    std::size_t lost = packets.size();
    for (std::size_t i = 0; i < packets.size() && lost == packets.size(); ++i)
        if (packets[i].unit == 2 && packets[i].role == 'm') lost = i;
    ASSERT_LT(lost, packets.size());
    packets.erase(packets.begin() + static_cast<long>(lost));
    readAll(packets);

    // Pictures 0 and 1, then nothing until the key frame at 6.
    const std::vector<std::string> got = collector.videoFrames();
    ASSERT_EQ(got.size(), 2u + 6u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::size_t unit = i < 2 ? i : i + 4;
        const H264Nal expected = h264AnnexB(units[unit]);
        EXPECT_EQ(got[i], std::string(expected.begin(), expected.end())) << i;
    }
    EXPECT_TRUE(decodeVideo(TestCodec::H264, got).ok);
}

// H.265 takes the same road: the depacketiser of the format's codec, the same rules.
TEST_F(NalDeliveryTest, H265PicturesDecodeAndALossWaitsForTheNextKeyFrame) {
    session->format.videoCodec = IPCAM_VIDEO_H265;
    const std::vector<std::string> frames = encodeVideo(TestCodec::H265, 320, 240, 12, 6);
    ASSERT_EQ(frames.size(), 12u);
    const std::vector<H265Packet> packets = h265Packets(frames, {.mtu = 300});
    // The second fragment of the first fragmented picture after the key frame goes missing.
    std::vector<std::vector<uint8_t>> sent;
    std::size_t lostFrame = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const bool lose = lostFrame == 0 && packets[i].frame > 0 && packets[i].frame < 6 &&
                          packets[i].fragment && i > 0 && packets[i - 1].fragment &&
                          packets[i - 1].frame == packets[i].frame;
        if (lose) {
            lostFrame = packets[i].frame;
            continue;
        }
        sent.push_back(packets[i].bytes);
    }
    ASSERT_NE(lostFrame, 0u) << "no picture was fragmented";
    readBlocks(sent);

    // The format comes with the first key frame and again after the gap, as for every codec.
    const std::vector<StreamFormatBlock> f = formats();
    ASSERT_EQ(f.size(), 2u);
    for (const StreamFormatBlock &one : f) {
        EXPECT_EQ(one.videoCodec, IPCAM_VIDEO_H265);
        EXPECT_EQ(one.width, 320);
        EXPECT_EQ(one.height, 240);
    }
    // Pictures before the loss, then none until the key frame at 6, then the rest.
    const std::vector<std::string> got = collector.videoFrames();
    EXPECT_EQ(got.size(), lostFrame + 6u);
    const Decoded d = decodeVideo(TestCodec::H265, got);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.width, 320);
}

}  // namespace
