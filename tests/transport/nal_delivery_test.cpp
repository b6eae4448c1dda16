// H.264 through the session's interleaved reader: what the callback gets is what a decoder
// needs, in the order it needs it.
#include "transport/nal_delivery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_source.h"
#include "support/frame_collector.h"
#include "support/h264_packets.h"
#include "support/h265_packets.h"
#include "support/media.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/nal_units.h"
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
// strict mode nothing comes until the next key frame, which brings the format again as after
// a new connection, and which H.264 drops too when the loss may have taken its beginning.
TEST_F(NalDeliveryTest, ALossCostsThePictureItHit) {
    const std::vector<H264Unit> h264 = h264Encode(320, 240, 12, 6);
    const std::vector<std::string> h265 = encodeVideo(TestCodec::H265, 320, 240, 12, 6);
    ASSERT_EQ(h264.size(), 12u);
    ASSERT_EQ(h265.size(), 12u);
    struct Sent {
        std::vector<uint8_t> bytes;
        std::size_t frame;
        bool inside;  // a fragment after the first of its NAL unit
    };
    std::vector<Sent> h264Sent, h265Sent;
    for (const H264Packet &p : h264Packetize(h264, {.mtu = 200}))
        h264Sent.push_back({h264RtpBytes(p), static_cast<std::size_t>(p.unit), p.role == 'm'});
    const std::vector<H265Packet> h265Packed = h265Packets(h265, {.mtu = 300});
    for (std::size_t i = 0; i < h265Packed.size(); ++i) {
        const H265Packet &p = h265Packed[i], *before = i > 0 ? &h265Packed[i - 1] : nullptr;
        const bool inside = p.fragment && before && before->fragment && before->frame == p.frame;
        h265Sent.push_back({p.bytes, p.frame, inside});
    }
    const struct Row {
        const char *name;
        int32_t codec;
        bool strict;
        bool beforeKey = false;  // the last two packets before the second key frame are lost
    } rows[] = {{"H.264", IPCAM_VIDEO_H264, false},
                {"H.264, strict", IPCAM_VIDEO_H264, true},
                {"H.264, strict, before a key frame", IPCAM_VIDEO_H264, true, true},
                {"H.265", IPCAM_VIDEO_H265, false},
                {"H.265, strict", IPCAM_VIDEO_H265, true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const bool isH264 = row.codec == IPCAM_VIDEO_H264;
        std::vector<std::string> frames;
        if (isH264)
            for (const H264Unit &u : h264) {
                const H264Nal annexB = h264AnnexB(u);
                frames.emplace_back(annexB.begin(), annexB.end());
            }
        else
            frames = h265;
        // The first fragment after a NAL unit's first, in a picture after the first key frame.
        std::vector<std::vector<uint8_t>> sent;
        std::size_t lost = 0;
        for (const Sent &p : isH264 ? h264Sent : h265Sent) {
            if (lost == 0 && !row.beforeKey && p.frame > 0 && p.inside)
                lost = p.frame;
            else
                sent.push_back(p.bytes);
        }
        if (row.beforeKey) {
            std::size_t last = 0;
            while (h264Sent[last + 1].frame < 6) ++last;
            sent.erase(sent.begin() + static_cast<long>(last - 1),
                       sent.begin() + static_cast<long>(last + 1));
            lost = 5;
        }
        ASSERT_GT(lost, 0u);
        // The first picture delivered after the loss.
        const std::size_t resume = !row.strict ? lost + 1 : row.beforeKey ? frames.size() : 6;

        LocalSession fresh;
        FrameCollector got;
        got.attach(fresh.get());
        fresh->format.videoCodec = row.codec;
        fresh->options.strictFrames = row.strict;
        std::string bytes;
        for (const std::vector<uint8_t> &packet : sent)
            bytes += interleavedBlock(0, std::string(packet.begin(), packet.end()));
        MemorySource source(bytes, 333);
        while (source.remaining() > 0 && readInterleaved(fresh.get(), source) == 0) {
        }

        std::vector<int32_t> kinds = {IPCAM_MSG_TIME_STEP, IPCAM_MSG_FORMAT};
        std::vector<std::string> pictures;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            if (f >= lost && f < resume) continue;
            if (f == resume && row.strict)
                kinds.insert(kinds.end(), {IPCAM_MSG_TIME_STEP, IPCAM_MSG_FORMAT});
            if (f == resume && !row.strict) kinds.push_back(IPCAM_MSG_DAMAGE);
            kinds.push_back(f % 6 ? IPCAM_FRAME_DEPENDENT : IPCAM_FRAME_KEY);
            pictures.push_back(frames[f]);
        }
        EXPECT_EQ(got.kinds(), kinds);
        // The pictures' own NAL units (the parameter sets in front of key frames may differ).
        const auto units = [isH264](std::string_view frame) {
            std::vector<std::string_view> kept;
            for (std::string_view nal : splitAnnexB(frame)) {
                const int type = isH264 ? nal[0] & 0x1F : (nal[0] >> 1) & 0x3F;
                if (isH264 ? type != 7 && type != 8 : type < 32 || type > 34) kept.push_back(nal);
            }
            return kept;
        };
        const std::vector<std::string> videoFrames = got.videoFrames();
        ASSERT_EQ(videoFrames.size(), pictures.size());
        for (std::size_t i = 0; i < pictures.size(); ++i)
            EXPECT_EQ(units(videoFrames[i]), units(pictures[i])) << i;
        // Every picture delivered decodes, those after the loss with what the decoder conceals.
        const DecodeCount decoded =
            decodeConcealing(isH264 ? TestCodec::H264 : TestCodec::H265, videoFrames);
        EXPECT_EQ(decoded.pictures, static_cast<int>(pictures.size()));
    }
}

}  // namespace
