#include "tools/camsim/rtp_packetizer.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/camsim/av_decode.h"
#include "tools/camsim/mpeg4_encoder.h"
#include "tools/camsim/rtcp_check.h"
#include "tools/camsim/rtcp_report.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

unsigned be(const std::string &s, std::size_t at, int bytes) {
    unsigned v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

std::string bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 256);
    return s;
}

TEST(RtpPacketizerTest, Mpeg4AndAudioFramesSplitWithoutLoss) {
    for (std::size_t size : {1u, 1400u, 1401u, 4000u}) {
        const std::string frame = bytes(size);
        auto video = packetizeMpeg4(frame);
        EXPECT_EQ(video.size(), (size + 1399) / 1400) << size;
        std::string joined;
        for (const auto &p : video) {
            EXPECT_LE(p.size(), kMaxRtpPayload);
            joined += p;
        }
        EXPECT_EQ(joined, frame) << size;

        auto audio = packetizeMpegAudio(frame);
        EXPECT_EQ(audio.size(), (size + 1395) / 1396) << size;
        joined.clear();
        for (const auto &p : audio) {
            EXPECT_LE(p.size(), kMaxRtpPayload);
            EXPECT_EQ(be(p, 0, 2), 0u);  // MBZ
            EXPECT_EQ(be(p, 2, 2), joined.size()) << "fragment offset";
            joined += p.substr(4);
        }
        EXPECT_EQ(joined, frame) << size;
    }
}

TEST(RtpPacketizerTest, JpegHeadersOnEveryFragment) {
    const QuantTables tables = tablesForQ(80);
    struct Case {
        int type, q, width, height, restart;
        std::size_t scanSize;
    } cases[] = {
        {0, 50, 320, 240, 0, 3000},   // plain
        {1, 255, 640, 480, 0, 3000},  // tables in the first fragment only
        {1, 60, 2048, 16, 8, 1392},   // width 2048 is sent as 0; restart header
        {0, 128, 2032, 2040, 65535, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " q " + std::to_string(c.q));
        const std::string scan = bytes(c.scanSize);
        auto payloads = packetizeJpeg({c.type, c.q, c.width, c.height, c.restart, tables, scan});
        std::string joined;
        for (std::size_t i = 0; i < payloads.size(); ++i) {
            const std::string &p = payloads[i];
            ASSERT_GE(p.size(), 8u);
            EXPECT_LE(p.size(), kMaxRtpPayload);
            EXPECT_EQ(p[0], 0);
            EXPECT_EQ(be(p, 1, 3), joined.size()) << "fragment offset of " << i;
            EXPECT_EQ(be(p, 4, 1), static_cast<unsigned>(c.type + (c.restart ? 64 : 0)));
            EXPECT_EQ(be(p, 5, 1), static_cast<unsigned>(c.q));
            EXPECT_EQ(be(p, 6, 1), static_cast<unsigned>(c.width / 8 % 256));
            EXPECT_EQ(be(p, 7, 1), static_cast<unsigned>(c.height / 8));
            std::size_t at = 8;
            if (c.restart) {
                EXPECT_EQ(be(p, 8, 2), static_cast<unsigned>(c.restart));
                EXPECT_EQ(be(p, 10, 2), 0xFFFFu);  // F, L, count 0x3FFF
                at += 4;
            }
            if (c.q >= 128 && i == 0) {
                EXPECT_EQ(be(p, at, 4), 128u);  // MBZ, precision 0, length 128
                EXPECT_EQ(p.substr(at + 4, 64),
                          std::string(tables.luma.begin(), tables.luma.end()));
                EXPECT_EQ(p.substr(at + 68, 64),
                          std::string(tables.chroma.begin(), tables.chroma.end()));
                at += 132;
            }
            joined += p.substr(at);
        }
        EXPECT_EQ(joined, scan);
    }
}

TEST(RtpPacketizerTest, HeadersAndSenderReports) {
    EXPECT_EQ(rtpHeader(96, true, 0xABCD, 0x01020304, 0xDEADBEEF),
              std::string("\x80\xE0\xAB\xCD\x01\x02\x03\x04\xDE\xAD\xBE\xEF", 12));
    EXPECT_EQ(rtpHeader(26, false, 1, 2, 3).substr(0, 4), std::string("\x80\x1A\x00\x01", 4));

    const SenderStats stats{0x11223344, 90000, 7, 7000};
    for (const std::string cname : {"", "a", "camsim@127.0.0.1"}) {
        const std::string r = senderReport(stats, 0x0102030405060708ULL, cname);
        ASSERT_EQ(r.size() % 4, 0u);
        EXPECT_EQ(be(r, 0, 2), 0x80C8u);  // version 2, SR
        EXPECT_EQ(be(r, 2, 2), 6u);
        EXPECT_EQ(be(r, 4, 4), stats.ssrc);
        EXPECT_EQ(r.substr(8, 8), std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
        EXPECT_EQ(be(r, 16, 4), 90000u);
        EXPECT_EQ(be(r, 20, 4), 7u);
        EXPECT_EQ(be(r, 24, 4), 7000u);
        EXPECT_EQ(be(r, 28, 2), 0x81CAu);  // one SDES chunk
        EXPECT_EQ((be(r, 30, 2) + 1) * 4, r.size() - 28);
        EXPECT_EQ(be(r, 36, 1), 1u);  // CNAME
        EXPECT_EQ(r.substr(38, be(r, 37, 1)), cname);
        EXPECT_EQ(r.back(), '\0');  // ends the item list
    }
    // 1970 is 2208988800 s after 1900; half a second is half of 2^32.
    EXPECT_TRUE(checkRtcpCompound(senderReport(stats, 1, "c")).valid);
    EXPECT_EQ(ntpTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(500))),
              (2208988800ULL << 32) | 0x80000000ULL);
}

// What the server takes from clients: compounds as strict as RFC 3550 has them, problems said.
TEST(RtcpCheckTest, OnlyWellFormedCompoundsWithACnamePass) {
    const std::string sr = senderReport({0x53535243, 1, 2, 3}, 4, "c");  // SSRC "SSRC"
    const std::string sdes = sr.substr(28), rr = std::string("\x80\xC9\x00\x01", 4) + "SSRC";
    const std::string paddedSdes =
        std::string("\xA1\xCA\x00\x03", 4) + sdes.substr(4) + std::string("\0\0\0\x04", 4);
    const struct {
        const char *name;
        std::string compound;
        const char *problem;
    } cases[] = {
        {"a sender report and a CNAME", sr, ""},
        {"a receiver report and a CNAME", rr + sdes, ""},
        {"padding on the last packet", rr + paddedSdes, ""},
        {"no CNAME", rr, "no CNAME"},
        {"SDES first", sdes + rr, "the first packet is of type 202"},
        {"padding in the first packet", "\xA0" + rr.substr(1) + sdes,
         "padding in the first packet"},
        {"padding before the last packet", rr + paddedSdes + rr,
         "padding that is not the last packet's own"},
        {"a length word past the end", sr.substr(0, 36), "a length word beyond the end at byte 28"},
        {"a header cut short", sr + "\x80\xC9", "a header cut short at byte 40"},
        {"a report block beyond its packet", "\x81" + rr.substr(1) + sdes,
         "report blocks beyond the packet"},
        {"items without their end", rr + std::string("\x81\xCA\x00\x02SSRC\x01\x02", 10) + "ab",
         "SDES items that do not fill their packet"},
        {"version 1 after", sr + "\x40" + rr.substr(1), "version 1 at byte 40"},
        {"empty", "", "empty"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const RtcpCheck check = checkRtcpCompound(c.compound);
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_EQ(check.valid, check.problem.empty());
        if (check.valid) {
            EXPECT_EQ(check.reporter, 0x53535243u);
            EXPECT_EQ(check.cname, "c");
        }
    }
}

TEST(Mpeg4EncoderTest, KeyFramesCarryHeadersAndAGroupOfVop) {
    Mpeg4Encoder encoder(96, 64, 10);
    ASSERT_TRUE(encoder.ok());
    std::vector<std::string> frames;
    for (int n = 0; n < 12; ++n) {
        auto frame = encoder.encode(drawTestPattern(96, 64, Chroma::Yuv420, n));
        ASSERT_TRUE(frame) << n;
        EXPECT_EQ(frame->key, n % 10 == 0) << n;
        frames.push_back(frame->data);
    }
    const std::string &key = frames[0];
    ASSERT_EQ(key.substr(0, 4), std::string("\0\0\1\xB0", 4));
    const std::size_t vol = findStartCode(key, 0x20), gov = findStartCode(key, 0xB3),
                      vop = findStartCode(key, 0xB6);
    EXPECT_LT(vol, gov);
    EXPECT_LT(gov, vop);
    EXPECT_EQ(decoderConfig(key), key.substr(0, gov));
    EXPECT_EQ(findStartCode(frames[1], 0xB0), std::string::npos);

    // A key frame that lacks the GOV gets one, and decodes as before.
    std::string bare = key.substr(0, gov) + key.substr(vop);
    std::string mended = withGroupOfVop(bare);
    EXPECT_EQ(findStartCode(mended, 0xB3), gov);
    // Time code 00:00:00 with its marker bit as the encoder writes it for frame 0, closed_gov
    // set, broken_link clear, stuffing to the byte boundary.
    EXPECT_EQ(mended.substr(gov, 6), key.substr(gov, 6));
    EXPECT_EQ(static_cast<uint8_t>(mended[gov + 6]), 0x27);
    EXPECT_EQ(withGroupOfVop(mended), mended);  // already there: unchanged
    auto original = decodeFrames(AV_CODEC_ID_MPEG4, {key});
    auto decoded = decodeFrames(AV_CODEC_ID_MPEG4, {mended});
    ASSERT_TRUE(original);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->luma, original->luma);
    EXPECT_TRUE(decodeFrames(AV_CODEC_ID_MPEG4, frames));
}

}  // namespace
