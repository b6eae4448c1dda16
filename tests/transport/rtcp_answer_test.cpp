// RTCP both ways: what a device's compound says, what our report blocks count, and our reports
// as a strict server reads them (the simulator's check, written apart from ours).
#include "transport/rtcp_answer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim/rtcp_check.h"
#include "core/session.h"
#include "platform/clock.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"
#include "transport/rtcp_reception.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

std::span<const uint8_t> bytesOf(const std::string &s) {
    return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

uint32_t word(const std::string &four) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(four[i]);
    return v;
}

const std::string kSenderReport =
    std::string("\x80\xC8\x00\x06", 4) + "SSRC" + "ntp-time" + "rtpT" + std::string(8, 'n');
const std::string kReceiverReport =
    std::string("\x81\xC9\x00\x07", 4) + "RRrr" + std::string(24, 'b');
const std::string kDescription = std::string("\x81\xCA\x00\x02", 4) + "DESC" + "\x01\x00\x00\x00";

TEST(RtcpCompoundTest, TheSenderAndItsReportSurviveDamage) {
    struct Case {
        const char *name;
        std::string compound;
        const char *sender;  // nullptr: none
        bool report;         // the sender report's times come whole
    } cases[] = {
        {"sender report", kSenderReport, "SSRC", true},
        {"receiver report and description", kReceiverReport + kDescription, "RRrr", false},
        {"the sender report wins", kReceiverReport + kSenderReport, "SSRC", true},
        {"an extended report before it is walked past",
         std::string("\x80\xCF\x00\x01", 4) + "XRxr" + kSenderReport, "SSRC", true},
        {"a sender report too short for its times", std::string("\x80\xC8\x00\x01", 4) + "SSRC",
         "SSRC", false},
        {"BYE of 4 bytes", std::string("\x80\xCB\x00\x00", 4), nullptr, false},
        {"BYE of 8 bytes", std::string("\x81\xCB\x00\x01", 4) + "ByeB", "ByeB", false},
        {"empty", "", nullptr, false},
        {"length beyond the end", kSenderReport.substr(0, 20), nullptr, false},
        {"second packet cut short", kReceiverReport + kSenderReport.substr(0, 12), "RRrr", false},
        {"another version", std::string("\x40\xC8\x00\x06", 4) + kSenderReport.substr(4), nullptr,
         false},
        {"RTP-shaped bytes", std::string("\x80\x60\x00\x09", 4) + "tttt" + "SSRC", nullptr, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const RtcpContents got = readRtcpCompound(bytesOf(c.compound));
        ASSERT_EQ(got.sender.has_value(), c.sender != nullptr);
        if (c.sender) {
            EXPECT_EQ(*got.sender, word(c.sender));
        }
        ASSERT_EQ(got.report.has_value(), c.report);
        if (!c.report) continue;
        EXPECT_EQ(got.report->ssrc, word("SSRC"));
        EXPECT_EQ(got.report->ntp, uint64_t{word("ntp-")} << 32 | word("time"));
        EXPECT_EQ(got.report->rtpTime, word("rtpT"));
    }
}

TEST(RtpReceptionTest, BlocksCountLossTheHighestNumberAndJitter) {
    struct Packet {
        uint16_t sequence;
        uint32_t lateUs = 0;  // behind its due time (one number per 40 ms)
    };
    const auto alternating = [] {
        std::vector<Packet> p;
        for (uint16_t i = 0; i < 80; ++i) p.push_back({i, i % 2 ? 10'000u : 0u});
        return p;
    }();
    const struct {
        const char *name;
        std::vector<Packet> packets;
        int32_t lost;
        uint8_t fraction;
        uint32_t highest, jitterFrom, jitterTo;
    } cases[] = {
        {"in order", {{1}, {2}, {3}, {4}}, 0, 0, 4, 0, 0},
        {"two of ten lost", {{1}, {2}, {4}, {5}, {6}, {8}, {9}, {10}}, 2, 51, 10, 0, 0},
        {"a copy", {{1}, {2}, {2}, {3}}, -1, 0, 3, 0, 0},
        {"out of order", {{1}, {3}, {2}, {4}}, 0, 0, 4, 0, 0},
        {"the numbers wrap", {{65534}, {65535}, {0}, {1}}, 0, 0, 65537, 0, 0},
        {"a stray far ahead is not counted", {{1}, {2}, {40000, 30'000}, {3}}, 0, 0, 3, 0, 0},
        {"100 behind is too far back for a straggler", {{200}, {201}, {101}}, 0, 0, 201, 0, 0},
        {"a jump the next packet confirms, a new transit with it",
         {{1}, {2}, {5002, 500'000}, {5003, 500'000}, {5004, 500'000}},
         0,
         0,
         5004,
         0,
         0},
        {"steadily late is no jitter", {{1, 30'000}, {2, 30'000}, {3, 30'000}}, 0, 0, 3, 0, 0},
        {"every other packet 10 ms late", alternating, 0, 0, 79, 850, 900},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        RtpReception r;
        for (const Packet &p : c.packets) {
            const uint16_t n = static_cast<uint16_t>(p.sequence - c.packets[0].sequence);
            r.packet(0xABCD, p.sequence, 1'000'000 + 3600u * n, 5'000'000 + 40'000u * n + p.lateUs,
                     90'000);
        }
        const std::optional<ReportBlock> b = r.report(0);
        ASSERT_TRUE(b);
        EXPECT_EQ(b->ssrc, 0xABCDu);
        EXPECT_EQ(b->cumulativeLost, c.lost);
        EXPECT_EQ(b->fractionLost, c.fraction);
        EXPECT_EQ(b->highestSequence, c.highest);
        EXPECT_GE(b->jitter, c.jitterFrom);
        EXPECT_LE(b->jitter, c.jitterTo);
        EXPECT_EQ(b->lastSenderReport, 0u);
    }
}

TEST(RtpReceptionTest, FractionPerReportAndTheDelaySinceTheSenderReport) {
    RtpReception r;
    EXPECT_FALSE(r.report(0));
    for (uint16_t s : {1, 2, 4}) r.packet(7, s, s * 3600u, s * 40'000u, 90'000);
    std::optional<ReportBlock> b = r.report(0);
    EXPECT_EQ(b->fractionLost, 64);  // 1 of 4
    for (uint16_t s : {5, 6, 7, 8}) r.packet(7, s, s * 3600u, s * 40'000u, 90'000);
    r.senderReport({7, 0x1122334455667788ULL, 0}, 1'000'000);
    b = r.report(1'500'000);
    EXPECT_EQ(b->fractionLost, 0);  // none since the last report
    EXPECT_EQ(b->cumulativeLost, 1);
    EXPECT_EQ(b->lastSenderReport, 0x33445566u);
    EXPECT_EQ(b->delaySinceLast, 32768u);    // half a second
    r.packet(8, 100, 0, 2'000'000, 90'000);  // another source starts afresh
    b = r.report(2'000'000);
    EXPECT_EQ(b->ssrc, 8u);
    EXPECT_EQ(b->highestSequence, 100u);
    EXPECT_EQ(b->cumulativeLost, 0);
}

std::string senderReportOf(uint32_t ssrc) {
    std::string sr("\x80\xC8\x00\x06", 4);
    for (int shift = 24; shift >= 0; shift -= 8) sr += static_cast<char>(ssrc >> shift);
    return sr + "\x11\x22\x33\x44\x55\x66\x77\x88" + std::string(12, '\0');
}

TEST(RtcpAnswerTest, UrlSessionsReportOverBothTransportsAsAStrictServerWants) {
    ScopedTimeouts timeouts{200};
    const std::string sr = senderReportOf(0xCAFE0001);
    for (const bool tcp : {false, true}) {
        SCOPED_TRACE(tcp ? "interleaved" : "UDP");
        LocalSession session;
        session->protocolType = IPCAM_PROTOCOL_RTSP_URL;
        for (uint16_t sequence : {10, 11, 13}) {
            RtpPacket p;
            p.ssrc = 0xCAFE0001;
            p.sequence = sequence;
            p.timestamp = sequence * 3600u;
            countReception(session.get(), RtpChannels::kVideo, p);
        }
        // Over UDP the device's report waits on the RTCP socket; over TCP it came on channel 5.
        MemorySource socket(tcp ? std::vector<std::string>{} : std::vector<std::string>{sr});
        const auto serve = [&] {
            if (tcp)
                answerDeviceReport(session.get(), socket, bytesOf(sr), 5, RtpChannels::kVideo);
            else
                serviceRtcpSocket(session.get(), socket, RtpChannels::kVideo);
        };
        serve();
        std::string sent = socket.sent();
        if (tcp) {
            ASSERT_GT(sent.size(), 4u);
            EXPECT_EQ(sent.substr(0, 2), "$\x05");
            EXPECT_EQ(word(std::string(2, '\0') + sent.substr(2, 2)), sent.size() - 4);
            sent.erase(0, 4);
        }
        const camsim::RtcpCheck c = camsim::checkRtcpCompound(sent);
        EXPECT_TRUE(c.valid) << c.problem;
        EXPECT_EQ(c.reporter, session->rtp.rtcp.ownSsrc());
        EXPECT_FALSE(c.cname.empty());
        ASSERT_EQ(c.blocks.size(), 1u);
        EXPECT_EQ(c.blocks[0].ssrc, 0xCAFE0001u);
        EXPECT_EQ(c.blocks[0].highestSequence, 13u);
        EXPECT_EQ(c.blocks[0].cumulativeLost, 1);
        EXPECT_EQ(c.blocks[0].fractionLost, 64);
        EXPECT_EQ(c.blocks[0].lastSenderReport, 0x33445566u);
        EXPECT_LT(c.blocks[0].delaySinceLast, 65536u);
        // The next is due 2.5 to 7.5 s later.
        const std::size_t before = socket.sent().size();
        serve();
        EXPECT_EQ(socket.sent().size(), before);
        EXPECT_FALSE(session->rtp.rtcp.due(RtcpAnswerState::kVideo, monotonicMs() + 2000, 0));
        EXPECT_TRUE(session->rtp.rtcp.due(RtcpAnswerState::kVideo, monotonicMs() + 7500, 0));
    }
}

// The design's devices get the answer they were built against, flaws and all.
TEST(RtcpAnswerTest, TheDesignsTypesKeepTheirAnswer) {
    ScopedTimeouts timeouts{200};
    LocalSession session;
    session->protocolType = IPCAM_PROTOCOL_STREAMING_SERVER;
    MemorySource connection({});
    answerDeviceReport(session.get(), connection, bytesOf(kSenderReport), 1, RtpChannels::kVideo);
    const std::string first = connection.sent();
    ASSERT_GT(first.size(), 16u);
    EXPECT_EQ(first.substr(0, 2), "$\x01");
    EXPECT_EQ(first.substr(4, 4), std::string("\x81\xC9\x00\x07", 4));
    const std::string own = first.substr(8, 4);
    EXPECT_EQ(word(own), session->rtp.rtcp.ownSsrc());
    EXPECT_EQ(first.substr(12, 4), "SSRC");
    EXPECT_EQ(first.substr(16, 24), std::string(24, '\xFF'));
    EXPECT_EQ(first.substr(40, 4), own);
    EXPECT_EQ(camsim::checkRtcpCompound(first.substr(4)).problem, "version 3 at byte 32");

    // Audio reports get no answer; more video reports none until the interval has passed.
    answerDeviceReport(session.get(), connection, bytesOf(kSenderReport), 3, RtpChannels::kAudio);
    answerDeviceReport(session.get(), connection, bytesOf(kSenderReport), 1, RtpChannels::kVideo);
    EXPECT_EQ(connection.sent(), first);

    // A new connection answers at once, naming the latest sender, from the same SSRC.
    session->rtp.resetForConnection();
    const std::string other = std::string("\x80\xC8\x00\x06", 4) + "NEWS" + std::string(20, 'n');
    answerDeviceReport(session.get(), connection, bytesOf(other), 1, RtpChannels::kVideo);
    const std::string second = connection.sent().substr(first.size());
    ASSERT_EQ(second.size(), first.size());
    EXPECT_EQ(second.substr(8, 4), own);
    EXPECT_EQ(second.substr(12, 4), "NEWS");
}

}  // namespace
