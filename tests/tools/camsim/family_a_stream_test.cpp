#include "tools/camsim/family_a_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/camsim/av_decode.h"
#include "tools/camsim/camsim_client.h"
#include "tools/camsim/device_model.h"
#include "tools/camsim/hunt_stream.h"
#include "tools/camsim/options.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

// Little-endian fields read by offset, independently of the writers.
uint32_t le(const std::string &s, std::size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s.at(at + i));
    return v;
}
int signed12(uint32_t v) {
    v &= 0xFFF;
    return v & 0x800 ? static_cast<int>(v) - 0x1000 : static_cast<int>(v);
}
// The checksum of a key picture as a receiver computes it (variant B).
uint8_t checksumB(const std::string &p) {
    return static_cast<uint8_t>(~((u8(p, 22) & u8(p, 21)) + (u8(p, 14) | u8(p, 10)) + u8(p, 32)));
}

// One frame or packet off the wire: its magic, its fixed header (after the magic; for "3297"
// the 16 bytes without the extra ones), the payload.
struct Unit {
    std::string magic, header, payload;
    int type() const { return u8(header, 1); }  // "3297" only
    std::string signature() const {
        return magic == "3297" ? "3297/" + std::to_string(type()) : magic;
    }
};

class StreamReader {
  public:
    explicit StreamReader(uint16_t port) : client(port) {}

    // Reads the HTTP head through its blank line.
    std::string head() {
        std::string h;
        while (h.find("\r\n\r\n") == std::string::npos) {
            std::string c = client.read(1, 3000);
            if (c.empty()) break;
            h += c;
        }
        return h;
    }

    // The next unit; its magic alone when that is no known one or the stream ended.
    Unit next() {
        Unit u{client.read(4, 3000), {}, {}};
        std::size_t length = 0;
        if (u.magic == "HUNT") {
            u.header = client.read(24);
            length = le(u.header, 14, 4);
        } else if (u.magic == "HTAD") {
            u.header = client.read(16);
            length = le(u.header, 9, 4);
        } else if (u.magic == "3297") {
            u.header = client.read(16);
            client.read(static_cast<std::size_t>(u8(u.header, 0)) - 20);
            length = (le(u.header, 8, 4) >> 1) & 0xFFFFFF;
        } else {
            return u;
        }
        u.payload = client.read(length);
        EXPECT_EQ(u.payload.size(), length);
        return u;
    }

    std::vector<Unit> next(std::size_t n) {
        std::vector<Unit> units;
        for (std::size_t i = 0; i < n; ++i) {
            units.push_back(next());
            if (units.back().header.empty()) break;
        }
        return units;
    }

    Client client;
};

std::string streamRequest(const std::string &query, bool auth = true) {
    return get("/GetStream.cgi?" + query,
               auth ? std::string("Authorization: Basic ") + kAdminSecret + "\r\n" : "");
}

// A camera with small, quick pictures on a server that asks for admin:secret.
class SimFamilyAStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.setCredentials("admin", "secret");
        ASSERT_TRUE(server.start());
    }
    FamilyAConfig config(FamilyAStreamConfig stream) {
        FamilyAConfig c;
        if (stream.channels.empty()) stream.channels = {small};
        c.stream = std::move(stream);
        return c;
    }
    StreamReader *open(const std::string &query) {
        reader = std::make_unique<StreamReader>(server.port());
        reader->client.send(streamRequest(query));
        EXPECT_NE(reader->head().find(" 200 "), std::string::npos) << query;
        return reader.get();
    }

    static constexpr uint32_t kStart = 1767225600;  // 2026-01-01 00:00:00
    ChannelConfig small{.width = 160, .height = 128, .fps = 30};
    CgiServer server;
    std::unique_ptr<StreamReader> reader;
};

TEST(SimHuntFramingTest, VideoHeaderFieldsSitAtTheirOffsets) {
    struct Case {
        HuntVideoHeader h;
        int rate;  // as written
    } cases[] = {
        {{.width = 640,
          .height = 480,
          .widthNegative = true,
          .overlay = true,
          .overlayMode = 6,
          .pictureType = PictureType::Key,
          .seconds = 1767225600,
          .milliseconds = 999,
          .timeZoneMinutes = -60,
          .codec = HuntCodec::Mpeg4,
          .frameRate = 30,
          .eventCode = 5,
          .inputBits = 2,
          .checksum = 0xA7,
          .talkSlots = 1,
          .talkInUse = 0},
         30},
        {{.width = 4095,
          .height = 2,
          .pictureType = PictureType::Dependent,
          .seconds = 0xFFFFFFFF,
          .timeZoneMinutes = 2047,
          .codec = HuntCodec::Jpeg,
          .frameRate = 60,
          .eventCode = 7,
          .inputBits = 3,
          .talkSlots = 15,
          .talkInUse = 15},
         31},
        {{.width = 176,
          .height = 144,
          .widthNegative = true,
          .heightNegative = true,
          .overlayMode = 13,
          .pictureType = PictureType::Droppable,
          .timeZoneMinutes = -2048},
         0},
    };
    for (const Case &c : cases) {
        const std::string payload(300, 'p');
        const std::string f = huntFrame(c.h, payload);
        ASSERT_EQ(f.size(), 4 + 24 + payload.size());
        const std::string h = f.substr(4, 24);
        EXPECT_EQ(f.substr(0, 4), "HUNT");
        EXPECT_EQ(le(h, 0, 2) & 0xFFF, static_cast<uint32_t>(c.h.width));
        EXPECT_EQ(le(h, 0, 2) >> 15, c.h.overlay ? 1u : 0u);
        EXPECT_EQ(le(h, 2, 2) & 0xFFF, static_cast<uint32_t>(c.h.height));
        EXPECT_EQ(le(h, 2, 2) >> 12, static_cast<uint32_t>(c.h.pictureType));
        EXPECT_EQ(le(h, 4, 4), c.h.seconds);
        EXPECT_EQ(le(h, 8, 2), static_cast<uint32_t>(c.h.milliseconds));
        EXPECT_EQ(signed12(le(h, 10, 2)), c.h.timeZoneMinutes);
        EXPECT_EQ(le(h, 10, 2) >> 12, static_cast<uint32_t>(c.h.overlayMode));
        EXPECT_EQ(u8(h, 13) & 7, static_cast<int>(c.h.codec));
        EXPECT_EQ(u8(h, 13) >> 3, c.rate);
        EXPECT_EQ(le(h, 14, 4), payload.size());
        EXPECT_EQ(u8(h, 18) & 7, c.h.eventCode);
        EXPECT_EQ((u8(h, 18) >> 3) & 3, c.h.inputBits);
        EXPECT_EQ(u8(h, 19), c.h.checksum);
        EXPECT_EQ(u8(h, 20), c.h.talkSlots << 4 | c.h.talkInUse);
        const int signs = int{c.h.widthNegative} + int{c.h.heightNegative};
        EXPECT_EQ(u8(h, 21),
                  (c.h.widthNegative ? 0x80 : 0) | (c.h.heightNegative ? 0x40 : 0) | signs);
        EXPECT_EQ(f.substr(28), payload);
    }
}

TEST(SimHuntFramingTest, TaggedHeadersSetEveryMarkerAndSplitTheSeconds) {
    struct Case {
        uint32_t seconds;
        int ms;
        std::size_t payload, extra;
        TaggedType type;
    } cases[] = {
        {1767225600, 999, 21, 0, TaggedType::Info},
        {0x0001FFFF, 0, 0, 12, TaggedType::Key},  // seconds bit 16 sits apart from 17-31
        {0xFFFFFFFF, 1, 5000, 3, TaggedType::Audio},
        {0x00010000, 512, 1, 0, TaggedType::Ignored},
    };
    for (const Case &c : cases) {
        const std::string p =
            taggedPacket(c.type, c.seconds, c.ms, std::string(c.payload, 'x'), c.extra);
        ASSERT_EQ(p.size(), 20 + c.extra + c.payload);
        EXPECT_EQ(p.substr(0, 4), "3297");
        const std::string h = p.substr(4, 16);
        EXPECT_EQ(static_cast<std::size_t>(u8(h, 0)), 20 + c.extra);
        EXPECT_EQ(u8(h, 1), static_cast<int>(c.type));
        const uint32_t w = le(h, 2, 4), n = le(h, 8, 4);
        EXPECT_EQ(w & 1, 1u);
        EXPECT_EQ((w >> 14) & 1, 1u);
        EXPECT_EQ(w >> 31, 1u);
        EXPECT_EQ(n & 1, 1u);
        EXPECT_EQ(n >> 31, 1u);
        EXPECT_EQ(le(h, 12, 2) >> 15, 1u);
        EXPECT_EQ(le(h, 14, 2) >> 15, 1u);
        EXPECT_EQ(static_cast<int>((w >> 1) & 0x3FF), c.ms);
        const uint32_t seconds = le(h, 6, 2) | ((w >> 15) & 1) << 16 | ((w >> 16) & 0x7FFF) << 17;
        EXPECT_EQ(seconds, c.seconds);
        EXPECT_EQ((n >> 1) & 0xFFFFFF, c.payload);
        EXPECT_EQ(p.substr(20, c.extra), std::string(c.extra, '\0'));
    }
}

TEST(SimHuntFramingTest, TaggedPayloadsAndAudioHeaderCarryTheirFields) {
    const std::string info = taggedInfoPayload({.timeZoneMinutes = -300,
                                                .streamSlots = 5,
                                                .talkSlots = 200,
                                                .codec = HuntCodec::Jpeg,
                                                .width = 1280,
                                                .height = 720,
                                                .heightNegative = true,
                                                .frameRate = 25,
                                                .audioCodecCode = 4,
                                                .audioChannelMode = 2,
                                                .audioBits = 16,
                                                .sampleRateIndex = 5});
    ASSERT_EQ(info.size(), 21u);
    EXPECT_EQ(u8(info, 6) & 0xF, 2);
    EXPECT_EQ(static_cast<int16_t>(le(info, 7, 2)), -300);
    EXPECT_EQ(u8(info, 9) & 0x7F, 5);
    EXPECT_EQ(le(info, 10, 2), 1280u);
    EXPECT_EQ(le(info, 12, 2), 720u);
    const uint32_t word = le(info, 14, 4);
    EXPECT_EQ((word >> 9) & 0xFF, 25u);
    EXPECT_EQ((word >> 17) & 1, 1u);  // height sign
    EXPECT_EQ((word >> 18) & 1, 0u);  // width sign
    EXPECT_EQ((word >> 19) & 0xFF, 200u);
    EXPECT_EQ(u8(info, 18), 4);
    EXPECT_EQ(u8(info, 19), 2 | 16 << 2);
    EXPECT_EQ(u8(info, 20) & 0x7F, 5);

    const std::string event = taggedEventPayload(3), input = taggedInputPayload(2, 1),
                      flag = taggedChannelFlagPayload(0x0005), talk = taggedTalkUsePayload(4, 1);
    ASSERT_EQ(event.size(), 6u);
    EXPECT_EQ(le(event, 0, 2), 3u);
    ASSERT_EQ(input.size(), 6u);
    EXPECT_EQ(le(input, 0, 2), 2u);
    EXPECT_EQ(le(input, 3, 2), 1u);
    ASSERT_EQ(flag.size(), 3u);
    EXPECT_EQ(le(flag, 0, 2), 5u);
    ASSERT_EQ(talk.size(), 2u);
    EXPECT_EQ(u8(talk, 0), 4);
    EXPECT_EQ(u8(talk, 1), 1);

    const std::string a = htadFrame({.seconds = 77,
                                     .milliseconds = 4000,
                                     .codecCode = 5,
                                     .channelMode = 2,
                                     .bitsPerSample = 16,
                                     .sampleRate = 44100},
                                    std::string(100, 'a'));
    ASSERT_EQ(a.size(), 4 + 16 + 100u);
    EXPECT_EQ(a.substr(0, 4), "HTAD");
    const std::string h = a.substr(4, 16);
    EXPECT_EQ(le(h, 0, 4), 77u);
    EXPECT_EQ(le(h, 4, 2) & 0xFFF, 4000u);
    EXPECT_EQ(le(h, 4, 2) >> 12, 5u);
    EXPECT_EQ(u8(h, 6), 2 | 16 << 2);
    EXPECT_EQ(le(h, 7, 2), 44100u);
    EXPECT_EQ(le(h, 9, 4), 100u);
}

TEST_F(SimFamilyAStreamTest, HttpVideoIsPacedDecodableMpeg4WithCheckedKeyFrames) {
    FamilyACamera camera(server, config({.timeZoneMinutes = -60, .startSeconds = kStart}));
    const auto began = std::chrono::steady_clock::now();
    std::vector<Unit> units = open("Video=0&EnableBackupDevice=1&ALiveInterval=5")->next(33);
    const auto elapsed = std::chrono::steady_clock::now() - began;
    ASSERT_EQ(units.size(), 33u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(32 * 1000 / 30 - 50));  // paced, not a burst

    std::vector<std::string> pictures;
    int64_t lastMs = -1;
    for (std::size_t n = 0; n < units.size(); ++n) {
        const Unit &u = units[n];
        ASSERT_EQ(u.magic, "HUNT") << n;
        EXPECT_EQ(le(u.header, 0, 2), 160u);
        EXPECT_EQ(le(u.header, 2, 2) & 0xFFF, 128u);
        EXPECT_EQ(u8(u.header, 13), 1 | 30 << 3);
        EXPECT_EQ(signed12(le(u.header, 10, 2)), -60);
        // Key pictures every 30 frames; the one before a key picture is droppable.
        const int type = static_cast<int>(le(u.header, 2, 2) >> 12);
        EXPECT_EQ(type, n % 30 == 0 ? 0 : n % 30 == 29 ? 1 : 2) << n;
        if (type == 0) {
            EXPECT_EQ(u.payload.substr(0, 4), std::string("\0\0\1\xB0", 4));
            EXPECT_EQ(u8(u.header, 19), checksumB(u.payload)) << n;
        }
        const int64_t ms = int64_t{le(u.header, 4, 4)} * 1000 + le(u.header, 8, 2);
        if (n == 0) {
            EXPECT_EQ(ms, int64_t{kStart} * 1000);
        } else {
            EXPECT_NEAR(ms - lastMs, 33, 1) << n;
        }
        lastMs = ms;
        pictures.push_back(u.payload);
    }
    auto decoded = decodeFrames(AV_CODEC_ID_MPEG4, pictures);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 160);
    EXPECT_EQ(decoded->height, 128);

    auto records = camera.streams().records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, StreamRecord::Kind::HttpVideo);
    EXPECT_TRUE(records[0].accepted);
    EXPECT_NE(records[0].received.find("GET /GetStream.cgi?Video=0&EnableBackupDevice=1"),
              std::string::npos);
}

TEST_F(SimFamilyAStreamTest, TaggedStreamsStartWithInfoAndCarryJpegAndAudio) {
    ChannelConfig jpeg{.codec = ChannelConfig::Codec::Jpeg, .width = 160, .height = 128, .fps = 30};
    FamilyACamera camera(server, config({.framing = Framing::Tagged,
                                         .channels = {small, jpeg},
                                         .timeZoneMinutes = 120,
                                         .extraHeaderBytes = 4,
                                         .audioCodecCode = 3}));
    std::vector<Unit> units = open("Video=1")->next(4);
    ASSERT_EQ(units.size(), 4u);
    ASSERT_EQ(units[0].signature(), "3297/0");
    const std::string &info = units[0].payload;
    ASSERT_EQ(info.size(), 21u);
    EXPECT_EQ(u8(info, 6) & 0xF, 2);
    EXPECT_EQ(static_cast<int16_t>(le(info, 7, 2)), 120);
    EXPECT_EQ(le(info, 10, 2), 160u);
    EXPECT_EQ(le(info, 12, 2), 128u);
    EXPECT_EQ((le(info, 14, 4) >> 9) & 0xFF, 30u);
    EXPECT_EQ(u8(info, 18), 3);
    EXPECT_EQ(u8(info, 20), 3);  // 32000 Hz
    for (std::size_t n = 1; n < units.size(); ++n) {
        EXPECT_EQ(units[n].signature(), "3297/4");
        EXPECT_EQ(units[n].payload.substr(0, 2), "\xFF\xD8");
        EXPECT_EQ(units[n].payload.substr(units[n].payload.size() - 2), "\xFF\xD9");
    }
    auto decoded = decodeFrames(AV_CODEC_ID_MJPEG, {units[3].payload});
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 160);

    units = open("Audio=0")->next(3);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].signature(), "3297/0");
    EXPECT_EQ(units[1].signature(), "3297/5");
    EXPECT_EQ(units[1].payload.substr(0, 1), "\xFF");  // an MPEG audio frame's sync
}

TEST_F(SimFamilyAStreamTest, HtadAudioDescribesTheTone) {
    FamilyACamera camera(server, config({.startSeconds = kStart, .audioCodecCode = 2}));
    std::vector<Unit> units = open("Audio=0")->next(3);
    ASSERT_EQ(units.size(), 3u);
    for (std::size_t n = 0; n < units.size(); ++n) {
        const Unit &u = units[n];
        ASSERT_EQ(u.magic, "HTAD");
        EXPECT_EQ(le(u.header, 0, 4), kStart);
        EXPECT_EQ(le(u.header, 4, 2) & 0xFFF, n * 36);  // 1152 samples at 32 kHz
        EXPECT_EQ(le(u.header, 4, 2) >> 12, 2u);
        EXPECT_EQ(u8(u.header, 6), 1 | 16 << 2);
        EXPECT_EQ(le(u.header, 7, 2), 32000u);
        EXPECT_EQ(static_cast<uint8_t>(u.payload.at(0)), 0xFF);
        EXPECT_EQ(static_cast<uint8_t>(u.payload.at(1)) & 0xE0, 0xE0);
    }
}

TEST_F(SimFamilyAStreamTest, RefusedRequestsGetTheirStatus) {
    struct Case {
        FamilyAStreamConfig stream;
        std::string query;
        bool auth;
        std::string status;
    } cases[] = {
        {{}, "Video=0", false, " 401 "},
        {{}, "Video=1", true, " 404 "},  // one channel only
        {{}, "Audio=1", true, " 404 "},
        {{}, "Video=x", true, " 404 "},
        {{.httpStream = false}, "Video=0", true, " 404 "},
        {{.refuseStatus = 503}, "Video=0", true, " 503 "},
    };
    for (const Case &c : cases) {
        CgiServer fresh;
        fresh.setCredentials("admin", "secret");
        ASSERT_TRUE(fresh.start());
        FamilyACamera camera(fresh, config(c.stream));
        Client client(fresh.port());
        client.send(streamRequest(c.query, c.auth));
        const std::string reply = client.readToEnd(2000);
        EXPECT_NE(reply.find(c.status), std::string::npos) << c.query << "\n" << reply;
        EXPECT_EQ(reply.find("HUNT"), std::string::npos);
        for (const StreamRecord &r : camera.streams().records()) EXPECT_FALSE(r.accepted);
    }
}

TEST_F(SimFamilyAStreamTest, SeparatePortsCheckTheLoginAndRecordIt) {
    FamilyACamera camera(server, config({.videoListenPort = 0, .audioListenPort = 0}));
    ASSERT_TRUE(camera.streamsReady());
    auto block = [](const std::string &text) {
        std::string b = text;
        b.resize(64, '\0');
        return b;
    };
    {
        StreamReader wrong(camera.streams().videoPort());
        wrong.client.send(block("YWRtaW46d3Jvbmc="));  // admin:wrong
        EXPECT_TRUE(wrong.client.endedByServer());
    }
    StreamReader right(camera.streams().videoPort());
    right.client.send(block(kAdminSecret));
    std::vector<Unit> units = right.next(2);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].magic, "HUNT");
    EXPECT_EQ(le(units[0].header, 2, 2) >> 12, 0u);

    StreamReader audio(camera.streams().audioPort());  // no login at all
    EXPECT_EQ(audio.next().magic, "HTAD");

    ASSERT_TRUE(camera.streams().waitForRecords(3, 2000));
    auto records = camera.streams().records();
    EXPECT_EQ(records[0].kind, StreamRecord::Kind::PortVideo);
    EXPECT_EQ(records[0].received, block("YWRtaW46d3Jvbmc="));
    EXPECT_FALSE(records[0].accepted);
    EXPECT_EQ(records[1].received, block(kAdminSecret));
    EXPECT_TRUE(records[1].accepted);
    EXPECT_EQ(records[2].kind, StreamRecord::Kind::PortAudio);
}

TEST_F(SimFamilyAStreamTest, StallStopsSendingForItsTime) {
    FamilyACamera camera(
        server, config({.startSeconds = kStart,
                        .cues = {{.frame = 3, .what = StreamCue::What::Stall, .a = 900}}}));
    StreamReader *r = open("Video=0");
    ASSERT_EQ(r->next(3).size(), 3u);
    const auto stalled = std::chrono::steady_clock::now();
    EXPECT_TRUE(r->client.silentFor(500));
    Unit after = r->next();
    // At least the stall less the time the first frames took to read.
    EXPECT_GE(std::chrono::steady_clock::now() - stalled, std::chrono::milliseconds(700));
    ASSERT_EQ(after.magic, "HUNT");
    // The camera's clock went on during the stall.
    const int64_t ms = int64_t{le(after.header, 4, 4)} * 1000 + le(after.header, 8, 2);
    EXPECT_GE(ms - int64_t{kStart} * 1000, 3 * 33 + 900);
}

TEST_F(SimFamilyAStreamTest, CuesShapeWhatTheStreamCarries) {
    using What = StreamCue::What;
    using Check = std::function<void(const std::vector<Unit> &)>;
    auto byte18 = [](const Unit &u) { return u8(u.header, 18); };
    struct Case {
        const char *name;
        Framing framing;
        std::vector<StreamCue> cues;
        std::vector<std::string> signatures;
        Check check;
    } cases[] = {
        {"hunt event and inputs",
         Framing::Hunt,
         {{.frame = 1, .what = What::Event, .a = 5}, {.frame = 2, .what = What::Inputs, .a = 2}},
         {"HUNT", "HUNT", "HUNT"},
         [&](const std::vector<Unit> &u) {
             EXPECT_EQ(byte18(u[0]), 0);
             EXPECT_EQ(byte18(u[1]), 5);
             EXPECT_EQ(byte18(u[2]), 5 | 2 << 3);
         }},
        {"hunt overlay on and off",
         Framing::Hunt,
         {{.frame = 1, .what = What::Overlay, .a = 6, .b = 1},
          {.frame = 2, .what = What::Overlay, .a = 0, .b = 0}},
         {"HUNT", "HUNT", "HUNT"},
         [](const std::vector<Unit> &u) {
             EXPECT_EQ(le(u[1].header, 0, 2) >> 15, 1u);
             EXPECT_EQ(le(u[1].header, 10, 2) >> 12, 6u);
             EXPECT_EQ(le(u[2].header, 0, 2) >> 15, 0u);
         }},
        {"hunt trailer block",
         Framing::Hunt,
         {{.frame = 1, .what = What::Trailer}},
         {"HUNT", "HUNT", "HUNT"},
         [](const std::vector<Unit> &u) {
             const std::string &p = u[1].payload;
             ASSERT_GT(p.size(), 212u);
             EXPECT_EQ(p.substr(p.size() - 212, 4), std::string("\0\0\1\xF8", 4));
             // Without the block the pictures still decode in order.
             EXPECT_TRUE(decodeFrames(AV_CODEC_ID_MPEG4,
                                      {u[0].payload, p.substr(0, p.size() - 212), u[2].payload}));
         }},
        {"hunt empty frame and bad checksum",
         Framing::Hunt,
         {{.frame = 0, .what = What::BadChecksum}, {.frame = 1, .what = What::EmptyFrame}},
         {"HUNT", "HUNT", "HUNT"},
         [](const std::vector<Unit> &u) {
             EXPECT_NE(u8(u[0].header, 19), checksumB(u[0].payload));
             EXPECT_EQ(le(u[1].header, 14, 4), 0u);
             EXPECT_FALSE(u[2].payload.empty());
         }},
        {"hunt garbage",
         Framing::Hunt,
         {{.frame = 1, .what = What::Garbage}},
         {"HUNT"},
         [](const std::vector<Unit> &u) {
             ASSERT_EQ(u.size(), 2u);
             EXPECT_EQ(u[1].magic.find_first_not_of('\x17'), std::string::npos);
         }},
        {"hunt to 3297 and back",
         Framing::Hunt,
         {{.frame = 1, .what = What::SwitchFraming}, {.frame = 2, .what = What::SwitchFraming}},
         {"HUNT", "3297/0", "3297/2", "HUNT"},
         nullptr},
        {"3297 events and inputs",
         Framing::Tagged,
         {{.frame = 1, .what = What::Event, .a = 3},
          {.frame = 1, .what = What::Inputs, .a = 0b101}},
         {"3297/0", "3297/1", "3297/6", "3297/7", "3297/7", "3297/2"},
         [](const std::vector<Unit> &u) {
             EXPECT_EQ(le(u[2].payload, 0, 2), 3u);
             EXPECT_EQ(le(u[3].payload, 0, 2), 0u);
             EXPECT_EQ(le(u[3].payload, 3, 2), 1u);
             EXPECT_EQ(le(u[4].payload, 0, 2), 2u);
         }},
        {"3297 flag, talk, ignored, empty",
         Framing::Tagged,
         {{.frame = 1, .what = What::ChannelFlag, .a = 1},
          {.frame = 1, .what = What::TalkUse, .a = 2, .b = 1},
          {.frame = 1, .what = What::Ignored, .a = 9},
          {.frame = 1, .what = What::EmptyFrame}},
         {"3297/0", "3297/1", "3297/8", "3297/9", "3297/16", "3297/1", "3297/2"},
         [](const std::vector<Unit> &u) {
             EXPECT_EQ(u[2].payload.size(), 3u);
             EXPECT_EQ(u[3].payload, std::string("\2\1", 2));
             EXPECT_EQ(u[4].payload.size(), 9u);
             EXPECT_TRUE(u[5].payload.empty());
         }},
        {"3297 to hunt",
         Framing::Tagged,
         {{.frame = 1, .what = What::SwitchFraming}},
         {"3297/0", "3297/1", "HUNT"},
         nullptr},
    };
    FamilyACamera camera(server, config({}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camera.streams().setFraming(c.framing);
        camera.streams().setCues(c.cues);
        std::vector<Unit> units = open("Video=0")->next(c.signatures.size() + 1);
        std::vector<std::string> signatures;
        for (std::size_t i = 0; i < c.signatures.size() && i < units.size(); ++i)
            signatures.push_back(units[i].signature());
        EXPECT_EQ(signatures, c.signatures);
        if (c.check && signatures == c.signatures) c.check(units);
    }
}

TEST(SimFamilyAStreamOptionsTest, DeviceKeysConfigureTheStreams) {
    std::string error;
    auto device = parseDeviceSpec(
        "family-a:http-stream,rtsp=8554,framing=3297,video-port=0,audio-port=0,i2p-port=9,"
        "path1=/a,tz=-60,start=100,stream=jpeg:320x240@15/q=50,full,at=30:stall:9000,"
        "at=2:overlay:6:1",
        error);
    ASSERT_TRUE(device) << error;
    for (const char *bad :
         {"family-a:framing=mp4", "family-a:at=3:boom", "family-a:at=x:info", "family-a:tz=5000",
          "family-a:status=42", "family-a:stream=h264:1x1@1", "family-a:stream=h264:320x240@15"})
        EXPECT_FALSE(parseDeviceSpec(bad, error)) << bad;

    auto options = parseOptions({"--device", "family-a:video-port=0,noports"}, error);
    ASSERT_TRUE(options) << error;
    CgiServer web;
    auto camera = applyOptions(*options, web);
    ASSERT_TRUE(camera);
    EXPECT_NE(camera->streams().videoPort(), 0);
    ASSERT_TRUE(web.start());
    const std::string network = exchange(web.port(), get("/GetNetwork.cgi"));
    EXPECT_NE(network.find("Http_Port=80<br>"), std::string::npos) << network;
    EXPECT_EQ(network.find("Video_Port="), std::string::npos) << network;
}

}  // namespace
