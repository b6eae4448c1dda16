#include "transport/h264_depacketizer.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "control/base64.h"
#include "support/h264_packets.h"
#include "support/media.h"
#include "support/rbsp_writer.h"
#include "transport/rtp_reorder.h"

using namespace ipcam;
using kestrel_test::h264Aggregate;
using kestrel_test::h264AnnexB;
using kestrel_test::h264Encode;
using kestrel_test::h264Fragment;
using kestrel_test::H264Packet;
using kestrel_test::h264Packetize;
using kestrel_test::H264PacketOptions;
using kestrel_test::h264RtpBytes;
using kestrel_test::h264Sprop;
using kestrel_test::H264Unit;
using kestrel_test::TestCodec;

namespace {

using Bytes = std::vector<uint8_t>;

// Each packet made into RTP bytes and read back as the client reads it, through the UDP
// reader's reorder window when asked.
std::vector<AccessUnit> h264Depacketize(H264Depacketizer &d, const std::vector<H264Packet> &packets,
                                        bool reorderWindow = false) {
    std::vector<AccessUnit> out;
    RtpReorder window;
    for (const H264Packet &p : packets) {
        const Bytes bytes = h264RtpBytes(p);
        const std::optional<RtpPacket> packet = parseRtpPacket(bytes);
        EXPECT_TRUE(packet);
        if (packet && (!reorderWindow || window.admit(bytes, p.sequence, 0, 50)))
            d.push(*packet, out);
        for (auto held = window.release(0, 50); !held.empty(); held = window.release(0, 50))
            d.push(*parseRtpPacket(held), out);
    }
    return out;
}

// The first packet of that role in the unit; the last packet of the unit for role 0.
std::size_t h264Find(const std::vector<H264Packet> &packets, int unit, char role) {
    for (std::size_t i = 0; i < packets.size(); ++i)
        if (packets[i].unit == unit && (role ? packets[i].role == role : packets[i].marker))
            return i;
    ADD_FAILURE() << "no packet " << role << " in unit " << unit;
    return 0;
}

TEST(H264DepacketizerTest, EncodedStreamsArriveWhole) {
    const std::vector<H264Unit> stream = h264Encode(320, 240, 12, 6);  // keys at 0 and 6
    ASSERT_EQ(stream.size(), 12u);
    std::vector<H264Unit> changing = stream;
    for (const H264Unit &u : h264Encode(176, 144, 8, 4)) changing.push_back(u);
    const std::string sprop = "packetization-mode=1;sprop-parameter-sets=" + h264Sprop(stream[0]);
    using Packets = std::vector<H264Packet>;
    const auto lose = [](int unit, char role) {
        return [=](Packets &p) { p.erase(p.begin() + static_cast<long>(h264Find(p, unit, role))); };
    };
    const struct Case {
        const char *name;
        H264PacketOptions options;
        std::string fmtp;
        std::function<void(Packets &)> change;
        std::set<int> damaged;
        bool sizeChange = false;
        bool reorderWindow = false;
    } cases[] = {
        {"single NAL units", {65000, false}, "packetization-mode=0", {}, {}},
        {"aggregated", {65000, true}, "packetization-mode=1", {}, {}},
        {"fragmented", {}, "", {}, {}},
        {"fragment start lost", {}, "", lose(3, 's'), {3}},
        {"fragment middle lost in a key frame", {}, "", lose(6, 'm'), {6}},
        {"key frame end lost", {}, "", lose(6, 0), {6}},
        {"last packet before a key frame lost", {}, "", lose(5, 0), {5}},
        {"reordered, put back in order by the window",
         {},
         "",
         [](Packets &p) { std::swap(p[h264Find(p, 3, 'm')], p[h264Find(p, 3, 'e')]); },
         {},
         false,
         true},
        {"duplicated",
         {},
         "",
         [](Packets &p) {
             Packets twice;
             for (const H264Packet &one : p) twice.push_back(one), twice.push_back(one);
             twice.insert(twice.begin() + static_cast<long>(h264Find(twice, 8, 's')),
                          p[h264Find(p, 7, 'e')]);
             p = twice;
         },
         {}},
        {"no markers", {300, true, false}, "", {}, {}},
        {"sets only in the description", {300, true, true, false}, sprop, {}, {}},
        {"trailing comma", {300, true, true, false}, sprop + ",", {}, {}},
        {"sets only in band", {}, "packetization-mode=1", {}, {}},
        {"size change", {}, sprop, {}, {}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<H264Unit> &units = c.sizeChange ? changing : stream;
        Packets packets = h264Packetize(units, c.options);
        if (c.change) c.change(packets);
        H264Depacketizer d;
        d.configure(c.fmtp);
        d.setStrict(true);  // losses here cost up to the next key frame; see the next test
        const std::vector<AccessUnit> got = h264Depacketize(d, packets, c.reorderWindow);

        std::vector<AccessUnit> expected;
        bool waiting = true;
        H264Unit lastSets;  // in front of the last key frame delivered
        for (std::size_t i = 0; i < units.size(); ++i) {
            bool key = false, referenced = false;
            H264Unit sets;
            for (const Bytes &nal : units[i]) {
                key |= (nal[0] & 0x1F) == 5;
                referenced |= (nal[0] & 0x1F) <= 5 && (nal[0] & 0x60);
                if ((nal[0] & 0x1F) == 7 || (nal[0] & 0x1F) == 8) sets.push_back(nal);
            }
            if (c.damaged.count(static_cast<int>(i)))
                waiting = true;
            else if (key)
                waiting = false;
            if (waiting || c.damaged.count(static_cast<int>(i))) continue;
            if (!c.options.marker && i + 1 == units.size()) continue;  // never seen to end
            expected.push_back({h264AnnexB(units[i]),
                                key          ? IPCAM_FRAME_KEY
                                : referenced ? IPCAM_FRAME_DEPENDENT
                                             : IPCAM_FRAME_DROPPABLE,
                                static_cast<uint32_t>(0xFFFF0000u + 3000 * i),
                                key && sets != lastSets});
            if (key) lastSets = sets;
        }
        ASSERT_EQ(got.size(), expected.size());
        std::vector<std::string> frames;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].data, expected[i].data) << i;
            EXPECT_EQ(got[i].kind, expected[i].kind) << i;
            EXPECT_EQ(got[i].timestamp, expected[i].timestamp) << i;
            EXPECT_EQ(got[i].parametersChanged, expected[i].parametersChanged) << i;
            frames.emplace_back(got[i].data.begin(), got[i].data.end());
        }
        const VideoParameters size =
            c.sizeChange ? VideoParameters{176, 144, 30} : VideoParameters{320, 240, 30};
        const kestrel_test::Decoded decoded = kestrel_test::decodeVideo(TestCodec::H264, frames);
        EXPECT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.width, size.width);
        EXPECT_EQ(decoded.height, size.height);
        EXPECT_EQ(d.parameters(), size);
    }
}

// A PPS with the given id and nothing else of note: ue(id), a flag, the stop bit.
Bytes h264Pps(uint32_t id) {
    kestrel_test::RbspWriter w;
    w.ue(id);
    w.flag(true);
    return w.nal({0x68});
}

struct H264Sets {
    Bytes sps, pps;
    std::string fmtp;
    H264Sets() {
        const H264Unit key = h264Encode(320, 240, 1, 1).at(0);
        for (const Bytes &nal : key) {
            if ((nal[0] & 0x1F) == 7) sps = nal;
            if ((nal[0] & 0x1F) == 8) pps = nal;
        }
        fmtp = "sprop-parameter-sets=" + h264Sprop(key);
    }
};

TEST(H264DepacketizerTest, HandBuiltPacketsFollowTheRules) {
    const H264Sets sets;
    const Bytes &sps = sets.sps, &pps = sets.pps, pps1 = h264Pps(1), pps0 = h264Pps(0);
    const Bytes idr = {0x65, 0xB8, 0x10, 0x20}, p = {0x41, 0x9A, 0x30}, b = {0x01, 0x9E, 0x40};
    const Bytes p5 = {0x41, 0x9A, 0x30, 0x31, 0x32};
    const Bytes sei = {0x06, 0x05, 0x01, 0x80}, aud = {0x09, 0xF0};
    // Recovery points: alone, after another message, and look-alikes that are none.
    const Bytes recovery = {0x06, 0x06, 0x01, 0x84, 0x80};
    const Bytes second = {0x06, 0x05, 0x01, 0x00, 0x06, 0x01, 0x84, 0x80};
    const Bytes type261 = {0x06, 0xFF, 0x06, 0x01, 0x84, 0x80};
    const Bytes cutShort = {0x06, 0x05, 0x09, 0x00, 0x06, 0x01, 0x84, 0x80};
    const Bytes notFirst = {0x41, 0x5A, 0x30};  // a slice from macroblock 1 on
    const auto fu = [](const Bytes &nal, std::size_t begin, std::size_t end) {
        return h264Fragment(nal, begin, end);
    };
    const Bytes overrun = {0x18, 0x00, 0x03, 0x41, 0x9A, 0x30, 0x00, 0x05, 0x41};
    const Bytes halfSize = {0x18, 0x00, 0x03, 0x41, 0x9A, 0x30, 0x00};
    struct Unit {
        int kind;
        uint32_t timestamp;
        H264Unit nals;
        bool afterLoss = false;
    };
    const int key = IPCAM_FRAME_KEY, dependent = IPCAM_FRAME_DEPENDENT,
              droppable = IPCAM_FRAME_DROPPABLE;
    const struct Case {
        const char *name;
        bool sprop;
        std::vector<H264Packet> packets;  // sequence, timestamp, marker, payload
        std::vector<Unit> expected;
        bool strict = true;  // false: the pictures after a damaged one follow it
    } cases[] = {
        {"kinds",
         true,
         {{1, 100, true, idr}, {2, 200, true, b}, {3, 300, false, b}, {4, 300, true, p}},
         {{key, 100, {sps, pps, idr}}, {droppable, 200, {b}}, {dependent, 300, {b, p}}}},
        {"delimiter stays first",
         true,
         {{1, 100, false, aud},
          {2, 100, false, h264Aggregate({sei, idr})},
          {3, 100, false, fu(idr, 1, 2)},
          {4, 100, true, fu(idr, 2, 4)}},
         {{key, 100, {aud, sps, pps, sei, idr, idr}}}},
        {"other packet types passed over",
         true,
         {{1, 100, false, {0x19, 0, 0, 1, 0x41}},
          {2, 100, false, {0x1A, 0x41}},
          {3, 100, false, {0x1B, 0x41}},
          {4, 100, false, {0x1D, 0x81, 0x41}},
          {5, 100, false, {0x00, 1}},
          {6, 100, false, {0x1E}},
          {7, 100, false, {0x1F, 1}},
          {8, 100, false, {}},
          {9, 100, true, idr}},
         {{key, 100, {sps, pps, idr}}}},
        {"aggregate overruns",
         true,
         {{1, 100, true, idr},
          {2, 200, true, overrun},
          {3, 300, true, p},
          {4, 400, true, halfSize},
          {5, 500, true, idr},
          {6, 600, true, halfSize},
          {7, 700, true, h264Aggregate({p, b})}},
         {{key, 100, {sps, pps, idr}}, {key, 500, {sps, pps, idr}}}},
        {"fragment without its start",
         true,
         {{1, 100, true, idr},
          {2, 200, false, fu(p5, 2, 3)},
          {3, 200, true, fu(p5, 3, 5)},
          {4, 300, true, p},
          {5, 400, true, idr}},
         {{key, 100, {sps, pps, idr}}, {key, 400, {sps, pps, idr}}}},
        {"second start while one is open",
         true,
         {{1, 100, true, idr},
          {2, 200, false, fu(p, 1, 2)},
          {3, 200, false, fu(p, 1, 2)},
          {4, 200, true, fu(p, 2, 3)},
          {5, 300, true, idr}},
         {{key, 100, {sps, pps, idr}}, {key, 300, {sps, pps, idr}}}},
        {"fragment of another type",
         true,
         {{1, 100, true, idr}, {2, 200, false, fu(p, 1, 2)}, {3, 200, true, fu(sei, 2, 4)}},
         {{key, 100, {sps, pps, idr}}}},
        {"fragment end missing at the marker",
         true,
         {{1, 100, true, idr},
          {2, 200, false, fu(p, 1, 2)},
          {3, 200, true, sei},
          {4, 300, true, p}},
         {{key, 100, {sps, pps, idr}}}},
        {"fragment end missing at a new timestamp",
         true,
         {{1, 100, true, idr},
          {2, 200, false, fu(p, 1, 2)},
          {3, 300, true, p},
          {4, 400, true, idr}},
         {{key, 100, {sps, pps, idr}}, {key, 400, {sps, pps, idr}}}},
        {"sequence wraps",
         true,
         {{65535, 100, true, idr}, {0, 200, true, p}, {1, 300, true, p}},
         {{key, 100, {sps, pps, idr}}, {dependent, 200, {p}}, {dependent, 300, {p}}}},
        {"late and repeated packets",
         true,
         {{10, 100, true, idr},
          {11, 200, true, p},
          {11, 200, true, p},
          {9, 100, true, idr},
          {12, 300, true, p}},
         {{key, 100, {sps, pps, idr}}, {dependent, 200, {p}}, {dependent, 300, {p}}}},
        {"numbering afresh",
         true,
         {{5000, 100, true, idr}, {100, 200, true, p}, {101, 300, true, idr}},
         {{key, 100, {sps, pps, idr}}, {key, 300, {sps, pps, idr}}}},
        {"keys before their parameter sets",
         false,
         {{1, 100, true, idr},
          {2, 200, false, sps},
          {3, 200, true, idr},
          {4, 300, false, h264Aggregate({pps, sei})},
          {5, 300, true, idr}},
         {{key, 300, {sps, pps, sei, idr}}}},
        {"fragmented parameter sets",
         false,
         {{1, 100, false, fu(sps, 1, 5)},
          {2, 100, false, fu(sps, 5, sps.size())},
          {3, 100, false, fu(pps, 1, pps.size())},
          {4, 100, true, idr}},
         {{key, 100, {sps, pps, idr}}}},
        {"several picture sets",
         true,
         {{1, 100, false, pps1}, {2, 100, true, idr}, {3, 200, false, pps0}, {4, 200, true, idr}},
         {{key, 100, {sps, pps, pps1, idr}}, {key, 200, {sps, pps1, pps0, idr}}}},
        {"recovery points start decoding",
         true,
         {{1, 100, true, h264Aggregate({cutShort, p})},
          {2, 200, true, h264Aggregate({type261, p})},
          {3, 300, true, h264Aggregate({second, p})},
          {4, 400, true, p},
          {5, 500, true, h264Aggregate({recovery, p})}},
         {{key, 300, {sps, pps, second, p}},
          {dependent, 400, {p}},
          {key, 500, {sps, pps, recovery, p}}}},
        {"decoding on after losses",
         true,
         {{1, 100, true, idr},
          {2, 200, true, overrun},
          {3, 300, true, p},
          {5, 400, true, p},          // after a whole picture lost
          {7, 500, false, notFirst},  // its first slice lost
          {8, 500, true, p},
          {9, 600, false, fu(p5, 2, 3)},
          {10, 600, true, fu(p5, 3, 5)},
          {12, 700, true, idr},            // after a loss, a key frame first
          {13, 800, false, fu(p5, 1, 3)},  // its end lost
          {15, 900, true, b}},
         {{key, 100, {sps, pps, idr}},
          {dependent, 300, {p}, true},
          {dependent, 400, {p}, true},
          {key, 700, {sps, pps, idr}},
          {droppable, 900, {b}, true}},
         false},
        {"units without a picture",
         true,
         {{1, 100, true, h264Aggregate({sps, pps})}, {2, 200, true, sei}, {3, 300, true, idr}},
         {{key, 300, {sps, pps, idr}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        H264Depacketizer d;
        d.configure(c.sprop ? sets.fmtp : "packetization-mode=1");
        d.setStrict(c.strict);
        const std::vector<AccessUnit> got = h264Depacketize(d, c.packets);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].kind, c.expected[i].kind) << i;
            EXPECT_EQ(got[i].afterLoss, c.expected[i].afterLoss) << i;
            EXPECT_EQ(got[i].timestamp, c.expected[i].timestamp) << i;
            EXPECT_EQ(got[i].data, h264AnnexB(c.expected[i].nals)) << i;
        }
    }
}

TEST(H264DepacketizerTest, BoundsRestartAndConfiguration) {
    const H264Sets sets;
    const Bytes idr = {0x65, 0xB8, 0x10, 0x20}, p = {0x41, 0x9A, 0x30};
    H264Depacketizer d;
    EXPECT_EQ(d.parameters(), std::nullopt);
    d.configure(sets.fmtp + ";packetization-mode=1");
    EXPECT_EQ(d.packetizationMode(), 1);
    EXPECT_EQ(d.parameters(), (VideoParameters{320, 240, 30}));

    // An access unit up to the bound is delivered; one above it is dropped, and the picture
    // after it says so.
    std::vector<H264Packet> packets;
    uint16_t sequence = 1;
    std::vector<AccessUnit> got;
    for (const std::size_t over : {0, 1}) {
        packets = {{sequence++, 100, true, idr}};
        Bytes big(kMaxAccessUnit - sizeof kAnnexBStart + over, 0x55);
        big[0] = 0x41;
        for (std::size_t at = 1; at < big.size(); at += 65000)
            packets.push_back(
                {sequence++, 200, false, h264Fragment(big, at, std::min(big.size(), at + 65000))});
        packets.back().marker = true;
        packets.push_back({sequence++, 300, true, p});
        got = h264Depacketize(d, packets);
        ASSERT_EQ(got.size(), over ? 2u : 3u);
        EXPECT_EQ(got[0].parametersChanged, !over);
        EXPECT_EQ(got.back().afterLoss, over == 1);
        if (!over) {
            EXPECT_EQ(got[1].data, h264AnnexB({big}));
        }
    }

    // Picture sets are kept up to the bound, the oldest going first.
    packets.clear();
    for (uint16_t id = 0; id < 40; ++id) packets.push_back({sequence++, 400, false, h264Pps(id)});
    packets.push_back({sequence++, 400, true, idr});
    got = h264Depacketize(d, packets);
    ASSERT_EQ(got.size(), 1u);
    H264Unit front = {sets.sps};
    for (uint32_t id = 40 - kMaxPictureSets; id < 40; ++id) front.push_back(h264Pps(id));
    front.push_back(idr);
    EXPECT_EQ(got[0].data, h264AnnexB(front));
    EXPECT_TRUE(got[0].parametersChanged);

    // A new connection: the unit in progress goes, numbering may start anywhere, the sets stay.
    packets = {{sequence, 500, false, p}};
    EXPECT_TRUE(h264Depacketize(d, packets).empty());
    d.restart();
    sequence -= 50;  // a little behind: not taken for late packets of the old connection
    packets = {{sequence, 500, true, p}, {++sequence, 600, true, idr}, {++sequence, 700, true, p}};
    got = h264Depacketize(d, packets);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data, h264AnnexB(front));
    EXPECT_FALSE(got[0].parametersChanged);
    EXPECT_EQ(got[1].data, h264AnnexB({p}));

    // A new description forgets the sets of the old one.
    d.configure("packetization-mode=0");
    EXPECT_EQ(d.parameters(), std::nullopt);
    EXPECT_EQ(d.packetizationMode(), 0);
    EXPECT_TRUE(h264Depacketize(d, {{++sequence, 800, true, idr}}).empty());
}

}  // namespace
