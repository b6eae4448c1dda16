#include "transport/rtcp_answer.h"

#include <gtest/gtest.h>

#include <string>

#include "core/session.h"
#include "platform/clock.h"
#include "support/frame_collector.h"
#include "support/rtp_packets.h"
#include "support/scoped_timeouts.h"
#include "transport/rtp_reader.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

std::span<const uint8_t> bytesOf(const std::string &s) {
    return {reinterpret_cast<const uint8_t *>(s.data()), s.size()};
}

uint32_t raw(const char *four) {
    uint32_t v;
    std::memcpy(&v, four, 4);
    return v;
}

const std::string kSenderReport =
    std::string("\x80\xC8\x00\x06", 4) + "SSRC" + std::string(20, 'n');
const std::string kReceiverReport =
    std::string("\x81\xC9\x00\x07", 4) + "RRrr" + std::string(24, 'b');
const std::string kDescription = std::string("\x81\xCA\x00\x02", 4) + "DESC" + "\x01\x00\x00\x00";

TEST(RtcpSenderTest, TheSenderOfACompoundPacket) {
    struct Case {
        const char *name;
        std::string compound;
        const char *sender;  // nullptr: none
    } cases[] = {
        {"sender report", kSenderReport, "SSRC"},
        {"receiver report and description", kReceiverReport + kDescription, "RRrr"},
        {"the sender report wins", kReceiverReport + kSenderReport, "SSRC"},
        {"BYE of 4 bytes", std::string("\x80\xCB\x00\x00", 4), nullptr},
        {"BYE of 8 bytes", std::string("\x81\xCB\x00\x01", 4) + "ByeB", "ByeB"},
        {"empty", "", nullptr},
        {"length beyond the end", kSenderReport.substr(0, 20), nullptr},
        {"second packet cut short", kReceiverReport + kSenderReport.substr(0, 12), "RRrr"},
        {"another version", std::string("\x40\xC8\x00\x06", 4) + kSenderReport.substr(4), nullptr},
        {"RTP-shaped bytes", std::string("\x80\x60\x00\x09", 4) + "tttt" + "SSRC", nullptr},
    };
    for (const Case &c : cases) {
        std::optional<uint32_t> got = rtcpSenderSsrc(bytesOf(c.compound));
        if (c.sender) {
            ASSERT_TRUE(got) << c.name;
            EXPECT_EQ(*got, raw(c.sender)) << c.name;
        } else {
            EXPECT_FALSE(got) << c.name;
        }
    }
}

TEST(RtcpAnswerTest, NamesBothSidesAndKeepsItsInterval) {
    ScopedTimeouts timeouts{200};
    LocalSession session;
    MemorySource connection({});
    const uint64_t before = monotonicMs();
    answerDeviceReport(session.get(), connection, bytesOf(kSenderReport), 1);
    const std::string first = connection.sent();
    ASSERT_GT(first.size(), 16u);
    EXPECT_EQ(first.substr(0, 2), "$\x01");
    EXPECT_EQ(first.substr(4, 4), std::string("\x81\xC9\x00\x07", 4));
    const std::string own = first.substr(8, 4);
    EXPECT_NE(own, std::string(4, '\0'));
    EXPECT_EQ(first.substr(12, 4), "SSRC");
    EXPECT_EQ(first.substr(40, 4), own);

    // More reports at once get no answer: the next is due 2.5 to 7.5 s after the first.
    answerDeviceReport(session.get(), connection, bytesOf(kReceiverReport + kDescription), 1);
    answerDeviceReport(session.get(), connection, bytesOf(kSenderReport), 1);
    EXPECT_EQ(connection.sent(), first);
    const uint64_t due = session->rtp.rtcp.nextAnswerMs;
    EXPECT_GE(due, before + 2500);
    EXPECT_LE(due, monotonicMs() + 7500);

    // Once due, the answer names the latest sender, from the same own SSRC.
    session->rtp.rtcp.nextAnswerMs = 1;
    const std::string other = std::string("\x80\xC8\x00\x06", 4) + "NEWS" + std::string(20, 'n');
    answerDeviceReport(session.get(), connection, bytesOf(other), 1);
    const std::string second = connection.sent().substr(first.size());
    ASSERT_EQ(second.size(), first.size());
    EXPECT_EQ(second.substr(8, 4), own);
    EXPECT_EQ(second.substr(12, 4), "NEWS");
}

}  // namespace
