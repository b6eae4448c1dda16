#include "transport/h265_depacketizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "control/base64.h"
#include "support/h265_packets.h"
#include "support/media.h"
#include "transport/rtp_packet.h"
#include "transport/rtp_reorder.h"

using namespace ipcam;
using kestrel_test::H265Packet;
using kestrel_test::H265Packing;
using kestrel_test::TestCodec;
using kestrel_test::h265Packets;
using kestrel_test::h265Type;
using kestrel_test::annexBUnits;

namespace {

using Bytes = std::vector<uint8_t>;

bool h265IsKey(const std::string &frame) {
    for (const Bytes &nal : annexBUnits(frame))
        if (h265Type(nal) >= 16 && h265Type(nal) <= 23) return true;
    return false;
}

// What the depacketiser must deliver for a frame: its NAL units without parameter sets, and
// the stream's latest parameter sets in front of a key frame.
AccessUnit h265Expected(const std::vector<std::string> &frames, std::size_t f) {
    std::vector<Bytes> sets(3);
    for (std::size_t i = 0; i <= f; ++i)
        for (const Bytes &nal : annexBUnits(frames[i]))
            if (h265Type(nal) >= 32 && h265Type(nal) <= 34) sets[h265Type(nal) - 32] = nal;
    AccessUnit unit;
    unit.timestamp = 90000 + 3000 * static_cast<uint32_t>(f);
    const auto append = [&](const Bytes &nal) {
        unit.data.insert(unit.data.end(), {0, 0, 0, 1});
        unit.data.insert(unit.data.end(), nal.begin(), nal.end());
    };
    unit.kind = h265IsKey(frames[f]) ? IPCAM_FRAME_KEY : IPCAM_FRAME_DEPENDENT;
    if (unit.kind == IPCAM_FRAME_KEY)
        for (const Bytes &set : sets) append(set);
    for (const Bytes &nal : annexBUnits(frames[f]))
        if (h265Type(nal) < 32 || h265Type(nal) > 34) append(nal);
    return unit;
}

// The fmtp of the stream's first parameter sets.
std::string h265Fmtp(const std::string &firstFrame, const char *separator) {
    std::string fmtp;
    const char *names[] = {"sprop-vps", "sprop-sps", "sprop-pps"};
    for (const Bytes &nal : annexBUnits(firstFrame)) {
        if (h265Type(nal) < 32 || h265Type(nal) > 34) continue;
        char text[256];
        EncodeBase64(nal.data(), nal.size(), text, sizeof text);
        fmtp += std::string(names[h265Type(nal) - 32]) + "=" + text + separator + "; ";
    }
    return fmtp;
}

using H265Damage = std::function<void(std::vector<H265Packet> &)>;

// The index of the n-th fragment (negative: from the end) of a frame.
std::size_t h265Fragment(const std::vector<H265Packet> &packets, std::size_t frame, int n) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < packets.size(); ++i)
        if (packets[i].frame == frame && packets[i].fragment) at.push_back(i);
    return at.at(n >= 0 ? static_cast<std::size_t>(n) : at.size() - static_cast<std::size_t>(-n));
}

H265Damage h265Lose(std::size_t frame, int n) {
    return [=](std::vector<H265Packet> &p) {
        p.erase(p.begin() + static_cast<std::ptrdiff_t>(h265Fragment(p, frame, n)));
    };
}

TEST(H265DepacketizerTest, StreamsArriveAsTheEncoderMadeThem) {
    const std::vector<std::string> first =
        kestrel_test::encodeVideo(TestCodec::H265, 320, 240, 7, 3);
    const std::vector<std::string> second =
        kestrel_test::encodeVideo(TestCodec::H265, 176, 144, 4, 3);
    ASSERT_EQ(first.size(), 7u);
    ASSERT_TRUE(h265IsKey(first[0]) && h265IsKey(first[3]) && !h265IsKey(first[1]));
    std::vector<std::string> both = first;
    both.insert(both.end(), second.begin(), second.end());

    struct Row {
        const char *name;
        H265Packing packing;
        std::string fmtp;
        H265Damage damage;
        std::size_t damagedFrame = 99;  // it and what follows up to the next key frame are lost
        const std::vector<std::string> *frames = nullptr;
        bool reorderWindow = false;  // the packets go through the UDP reader's reorder window
    } rows[] = {
        {"single NAL units", {.mtu = 60000, .aggregate = false}, "", {}},
        {"aggregated", {.mtu = 1400}, "", {}},
        {"fragmented", {.mtu = 200, .aggregate = false}, "", {}},
        {"decoding order numbers", {.don = true}, "sprop-max-don-diff=2", {}},
        {"lost first fragment", {}, "", h265Lose(3, 0), 3},
        {"lost middle fragment", {}, "", h265Lose(3, 2), 3},
        {"lost last fragment", {}, "", h265Lose(3, -1), 3},
        {"lost end of the first key frame", {}, "", h265Lose(0, -1), 0},
        {"reordered, put back in order by the window",
         {},
         "",
         [](std::vector<H265Packet> &p) {
             std::swap(p[h265Fragment(p, 3, 1)], p[h265Fragment(p, 3, 2)]);
         },
         99,
         nullptr,
         true},
        {"duplicated",
         {},
         "",
         [](std::vector<H265Packet> &p) {
             const std::size_t at = h265Fragment(p, 3, 1);
             p.insert(p.begin() + static_cast<std::ptrdiff_t>(at + 1), p[at]);
             p.insert(p.begin() + static_cast<std::ptrdiff_t>(at + 4), p[at]);
         }},
        {"marker-less", {.marker = false}, "", {}, 6},  // the last one waits for a next packet
        {"sets only in the description", {.inBandSets = false}, h265Fmtp(first[0], ""), {}},
        {"trailing commas", {.inBandSets = false}, h265Fmtp(first[0], ","), {}},
        {"parameter-set change", {}, "", {}, 99, &both},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> &frames = row.frames ? *row.frames : first;
        std::vector<H265Packet> packets = h265Packets(frames, row.packing);
        if (row.damage) row.damage(packets);
        H265Depacketizer d;
        d.configure(row.fmtp);
        d.setStrict(true);  // losses here cost up to the next key frame; see the next test
        std::vector<AccessUnit> got;
        RtpReorder window;
        for (const H265Packet &packet : packets) {
            const std::optional<RtpPacket> parsed = parseRtpPacket(packet.bytes);
            ASSERT_TRUE(parsed);
            if (!row.reorderWindow || window.admit(packet.bytes, parsed->sequence, 0, 50))
                d.push(*parsed, got);
            for (auto held = window.release(0, 50); !held.empty(); held = window.release(0, 50))
                d.push(*parseRtpPacket(held), got);
        }
        std::vector<AccessUnit> expected;
        bool lost = false;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            lost = f == row.damagedFrame || (lost && !h265IsKey(frames[f]));
            if (!lost) expected.push_back(h265Expected(frames, f));
        }
        ASSERT_EQ(got.size(), expected.size());
        std::vector<std::string> delivered;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].timestamp, expected[i].timestamp) << i;
            EXPECT_EQ(got[i].kind, expected[i].kind) << i;
            EXPECT_TRUE(got[i].data == expected[i].data) << i;
            delivered.emplace_back(got[i].data.begin(), got[i].data.end());
        }
        const kestrel_test::Decoded decoded = kestrel_test::decodeVideo(TestCodec::H265, delivered);
        EXPECT_TRUE(decoded.ok);
        const bool changed = row.frames == &both;
        EXPECT_EQ(decoded.width, changed ? 176 : 320);
        ASSERT_TRUE(d.parameters());
        EXPECT_EQ(d.parameters()->width, decoded.width);
        EXPECT_EQ(d.parameters()->height, decoded.height);
        // Only a key frame whose sets differ from those of the one before says so.
        for (const AccessUnit &unit : got)
            EXPECT_EQ(unit.parametersChanged,
                      unit.timestamp == got[0].timestamp ||
                          (changed && unit.timestamp == 90000 + 3000 * first.size()));
    }
}

// Hand-made packets for what an encoder does not produce: a slice of a type, beginning a
// picture or not, and the packets that carry it.
Bytes h265Slice(int type, bool firstInPicture = true) {
    return {static_cast<uint8_t>(type << 1), 1, static_cast<uint8_t>(firstInPicture ? 0x80 : 0),
            0x55, 0xAA};
}
Bytes h265Aggregate(const std::vector<Bytes> &nals) {
    Bytes p = {48 << 1, 1};
    for (const Bytes &n : nals) {
        p.insert(p.end(), {uint8_t(n.size() >> 8), uint8_t(n.size())});
        p.insert(p.end(), n.begin(), n.end());
    }
    return p;
}
Bytes h265Fu(const Bytes &nal, bool start, bool end) {
    Bytes p = {49 << 1, 1,
               static_cast<uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | h265Type(nal))};
    p.insert(p.end(), nal.begin() + 2, nal.end());
    return p;
}

TEST(H265DepacketizerTest, DamagedAndUnusualUnits) {
    const std::vector<std::string> frames =
        kestrel_test::encodeVideo(TestCodec::H265, 320, 240, 1, 1);
    ASSERT_EQ(frames.size(), 1u);
    const std::string sets = h265Fmtp(frames[0], "");
    const Bytes idr = h265Slice(19), cra = h265Slice(21), trailR = h265Slice(1);
    Bytes overrun = h265Aggregate({trailR, trailR});
    overrun.pop_back();
    Bytes broken = idr;
    broken[0] |= 0x80;
    struct Step {
        uint32_t timestamp;
        Bytes payload;
        bool marker = true;
        bool restartBefore = false;
    };
    struct Row {
        const char *name;
        std::vector<Step> steps;
        std::vector<std::pair<uint32_t, int32_t>> expected;  // timestamp and kind
        bool withSets = true;
        bool strict = true;  // false: the pictures after a damaged one follow it
    } rows[] = {
        {"kinds by slice types",
         {{1, idr},
          {2, h265Slice(0)},
          {3, trailR},
          {4, h265Aggregate({h265Slice(6), h265Slice(2, false)})},
          {5, h265Aggregate({h265Slice(14), h265Slice(1, false)})},
          {6, h265Slice(9)}},
         {{1, IPCAM_FRAME_KEY},
          {2, IPCAM_FRAME_DROPPABLE},
          {3, IPCAM_FRAME_DEPENDENT},
          {4, IPCAM_FRAME_DROPPABLE},
          {5, IPCAM_FRAME_DEPENDENT},
          {6, IPCAM_FRAME_DEPENDENT}}},
        {"aggregation overrunning its packet",
         {{1, idr}, {2, overrun}, {3, trailR}, {4, cra}},
         {{1, IPCAM_FRAME_KEY}, {4, IPCAM_FRAME_KEY}}},
        {"decoding on after damage",
         {{1, idr},
          {2, overrun},
          {3, trailR},
          {4, h265Slice(1, false)},
          {5, h265Slice(0)},
          {6, cra},
          {7, trailR},
          {8, h265Fu(trailR, true, false)},
          {9, trailR}},
         {{1, IPCAM_FRAME_KEY},
          {3, IPCAM_MSG_DAMAGE},
          {3, IPCAM_FRAME_DEPENDENT},
          {5, IPCAM_MSG_DAMAGE},
          {5, IPCAM_FRAME_DROPPABLE},
          {6, IPCAM_FRAME_KEY},
          {7, IPCAM_FRAME_DEPENDENT},
          {9, IPCAM_MSG_DAMAGE},
          {9, IPCAM_FRAME_DEPENDENT}},
         true,
         false},
        {"second fragment start",
         {{1, h265Fu(idr, true, false), false},
          {1, h265Fu(idr, true, false), false},
          {1, h265Fu(idr, false, true)},
          {2, idr}},
         {{2, IPCAM_FRAME_KEY}}},
        {"fragment end never came",
         {{1, h265Fu(idr, true, false)}, {2, h265Fu(idr, true, false), false}, {3, idr}},
         {{3, IPCAM_FRAME_KEY}}},
        {"fragment without start",
         {{1, h265Fu(idr, false, true)}, {2, idr}},
         {{2, IPCAM_FRAME_KEY}}},
        {"picture without its first slice",
         {{1, h265Slice(19, false)}, {2, idr}},
         {{2, IPCAM_FRAME_KEY}}},
        {"forbidden bit", {{1, broken}, {2, trailR}, {3, idr}}, {{3, IPCAM_FRAME_KEY}}},
        {"no parameter sets", {{1, idr}, {2, trailR}}, {}, false},
        {"skipped leading pictures after a first CRA",
         {{1, cra}, {2, h265Slice(8)}, {3, h265Slice(9)}, {4, trailR}, {5, h265Slice(8)}},
         {{1, IPCAM_FRAME_KEY}, {4, IPCAM_FRAME_DEPENDENT}, {5, IPCAM_FRAME_DROPPABLE}}},
        {"other payload types passed over",
         {{1, {50 << 1, 1, 9, 9, 9}, false}, {1, {55 << 1, 1, 7}, false}, {1, idr}},
         {{1, IPCAM_FRAME_KEY}}},
        {"a new connection",
         {{1, idr},
          {2, h265Fu(trailR, true, false), false},
          {2, h265Fu(trailR, false, true), true, true},
          {3, trailR},
          {4, cra}},
         {{1, IPCAM_FRAME_KEY}, {4, IPCAM_FRAME_KEY}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        H265Depacketizer d;
        d.configure(row.withSets ? sets : "");
        d.setStrict(row.strict);
        std::vector<AccessUnit> got;
        uint16_t sequence = 100;
        for (const Step &step : row.steps) {
            if (step.restartBefore) d.restart();
            d.push({96, step.marker, sequence++, step.timestamp, 1, 1, step.payload}, got);
        }
        std::vector<std::pair<uint32_t, int32_t>> kinds;
        for (const AccessUnit &unit : got) {
            if (unit.afterLoss) kinds.emplace_back(unit.timestamp, IPCAM_MSG_DAMAGE);
            kinds.emplace_back(unit.timestamp, unit.kind);
        }
        EXPECT_EQ(kinds, row.expected);
    }
}

TEST(H265DepacketizerTest, DelimiterStaysFirstAndHugeUnitsAreDropped) {
    const std::vector<std::string> frames =
        kestrel_test::encodeVideo(TestCodec::H265, 176, 144, 1, 1);
    ASSERT_EQ(frames.size(), 1u);
    H265Depacketizer d;
    EXPECT_FALSE(d.parameters());
    d.configure(h265Fmtp(frames[0], ""));
    ASSERT_TRUE(d.parameters());
    EXPECT_EQ(d.parameters()->width, 176);
    const Bytes delimiter = {35 << 1, 1, 0x50}, idr = h265Slice(19);
    std::vector<AccessUnit> got;
    d.push({96, true, 1, 10, 1, 1, h265Aggregate({delimiter, idr})}, got);
    ASSERT_EQ(got.size(), 1u);
    Bytes expected = {0, 0, 0, 1};
    expected.insert(expected.end(), delimiter.begin(), delimiter.end());
    for (const Bytes &nal : annexBUnits(frames[0]))
        if (h265Type(nal) >= 32 && h265Type(nal) <= 34) {
            expected.insert(expected.end(), {0, 0, 0, 1});
            expected.insert(expected.end(), nal.begin(), nal.end());
        }
    expected.insert(expected.end(), {0, 0, 0, 1});
    expected.insert(expected.end(), idr.begin(), idr.end());
    EXPECT_TRUE(got[0].data == expected);

    // A picture over the limit is lost; the one after it says so.
    got.clear();
    Bytes big = idr;
    big.resize(60000, 0x11);
    uint16_t sequence = 2;
    const std::size_t pieces = kMaxH265AccessUnit / (big.size() - 2) + 1;
    for (std::size_t i = 0; i < pieces; ++i)
        d.push({96, i + 1 == pieces, sequence++, 20, 1, 1, h265Fu(big, i == 0, i + 1 == pieces)},
               got);
    d.push({96, true, sequence++, 30, 1, 1, h265Slice(1)}, got);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].timestamp, 30u);
    EXPECT_TRUE(got[0].afterLoss);
}

}  // namespace
