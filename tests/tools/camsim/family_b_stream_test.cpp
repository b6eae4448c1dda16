#include "tools/camsim/family_b_stream.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/av_decode.h"
#include "tools/camsim/camsim_client.h"
#include "tools/camsim/device_model.h"
#include "tools/camsim/options.h"

using namespace camsim;
using namespace kestrel_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The requests a family B client sends, byte for byte.
std::string dataRequest(const std::string &target, bool auth) {
    return "GET /" + target + " HTTP/1.1\r\n" +
           (auth ? std::string("Authorization:Basic ") + kAdminSecret + "\r\n" : "") +
           "Accept:image/gif,image/x-xbitmap, image/jpeg,image/pjpeg, */*\r\nHost:127.0.0.1\r\n"
           "Connection:Keep-Alive\r\nAccept-Language:zh-tw\r\n\r\n\r\n";
}
const std::string kChatting =
    std::string("GET /Chatting.cgi?Chatting=1 HTTP/1.1\r\nAuthorization:Basic ") + kAdminSecret +
    "\r\n\r\n";


// One picture of GetData.cgi as a client cuts it: whatever came before FF D8, the bytes
// through the first FF D9, the 9-byte marker word and the 82-byte block after it.
struct DataUnit {
    std::string before, picture, marker, block;
    Clock::time_point at;  // when its last byte arrived
    std::string bytes(std::size_t from, std::size_t n) const { return block.substr(from, n); }
};

class DataReader {
  public:
    explicit DataReader(uint16_t port) : client(port) {}

    // Sends request; the reply head through its blank line, or all that came when the server
    // closed first.
    std::string open(const std::string &request) {
        client.send(request);
        std::size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos)
            if (!more()) return buffer;
        std::string head = buffer.substr(0, end + 4);
        buffer.erase(0, end + 4);
        return head;
    }

    std::optional<DataUnit> next() {
        for (;;) {
            const std::size_t start = buffer.find("\xFF\xD8");
            const std::size_t end =
                start == std::string::npos ? start : buffer.find("\xFF\xD9", start + 2);
            if (end != std::string::npos && buffer.size() >= end + 2 + 9 + 82) {
                DataUnit u{buffer.substr(0, start), buffer.substr(start, end + 2 - start),
                           buffer.substr(end + 2, 9), buffer.substr(end + 11, 82), Clock::now()};
                buffer.erase(0, end + 2 + 9 + 82);
                return u;
            }
            if (!more()) return std::nullopt;
        }
    }

    std::vector<DataUnit> next(std::size_t n) {
        std::vector<DataUnit> units;
        while (units.size() < n)
            if (auto u = next())
                units.push_back(std::move(*u));
            else
                break;
        return units;
    }

    // Whatever arrives within timeoutMs, appended to buffer; false on silence or the end.
    bool more(int timeoutMs = 3000) {
        pollfd p{client.fd(), POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char chunk[65536];
        ssize_t n = recv(client.fd(), chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    Client client;
    std::string buffer;
};

class SimFamilyBStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.setCredentials("admin", "secret");
        ASSERT_TRUE(server.start());
    }
    FamilyBCamera &camera(FamilyBStreamConfig stream) {
        camera_ = std::make_unique<FamilyBCamera>(server, FamilyBConfig{.stream = stream});
        return *camera_;
    }
    DataReader &open(const std::string &target = "GetData.cgi?Status=true") {
        reader = std::make_unique<DataReader>(server.port());
        EXPECT_NE(reader->open(dataRequest(target, true)).substr(0, 20).find(" 200 "),
                  std::string::npos);
        return *reader;
    }

    CgiServer server;
    std::unique_ptr<FamilyBCamera> camera_;
    std::unique_ptr<DataReader> reader;
};

TEST_F(SimFamilyBStreamTest, PicturesAreWholeJpegsFollowedByTheMarkerAndTheStatusBlock) {
    struct Case {
        int width, height, code;
    } cases[] = {{160, 120, 0}, {320, 240, 1}, {640, 480, 2}, {176, 144, 255}};
    const StatusBytes motion = {1, 2, 3, 0xFE, 0x80, 0};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        FamilyBCamera &cam =
            camera({.width = c.width, .height = c.height, .fps = 30, .statusBytes = motion});
        std::string block(82, ' ');
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('A' + i % 26);
        cam.set("GetStatus.cgi", "status_block", block);
        std::vector<DataUnit> units = open().next(4);
        ASSERT_EQ(units.size(), 4u);
        for (const DataUnit &u : units) {
            EXPECT_EQ(u.before, "");
            EXPECT_EQ(u.marker.substr(0, 4), "plai");
            EXPECT_EQ(u8(u.block, 21), c.code);
            EXPECT_EQ(u.bytes(60, 6), std::string(motion.begin(), motion.end()));
            // The rest of the block is what GetStatus.cgi reports.
            EXPECT_EQ(u.bytes(0, 21), block.substr(0, 21));
            EXPECT_EQ(u.bytes(22, 38), block.substr(22, 38));
            EXPECT_EQ(u.bytes(66, 16), block.substr(66));
            auto decoded = decodeFrames(AV_CODEC_ID_MJPEG, {u.picture});
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->width, c.width);
            EXPECT_EQ(decoded->height, c.height);
        }
        EXPECT_NE(units[0].picture, units[1].picture);  // the counter moves
    }
}

TEST_F(SimFamilyBStreamTest, PicturesArePacedAtTheirRate) {
    camera({.width = 160, .height = 120, .fps = 20});
    DataReader &r = open();
    ASSERT_TRUE(r.next());
    const auto first = Clock::now();
    ASSERT_EQ(r.next(10).size(), 10u);
    const auto elapsed = Clock::now() - first;
    EXPECT_GE(elapsed, 450ms);  // ten periods of 50 ms, less the first's head start
    EXPECT_LT(elapsed, 2000ms);
    ASSERT_TRUE(camera_->streams().waitForSent(0, 11, 1000));
}

TEST_F(SimFamilyBStreamTest, RefusalsOfGetDataEndTheConnection) {
    struct Case {
        const char *name;
        FamilyBStreamConfig config;
        bool auth;
        std::string status;
        bool completeHead;
    } cases[] = {
        {"wrong credentials", {.cutRefusal = true}, false, " 401 ", true},  // the site's
        {"forced 401, cut", {.refuseStatus = 401, .cutRefusal = true}, true, " 401 ", false},
        {"forced 503", {.refuseStatus = 503}, true, " 503 ", true},
        {"no data channel", {.dataStream = false}, true, " 404 ", true},
        {"no data channel, cut", {.dataStream = false, .cutRefusal = true}, true, " 404 ", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camera(c.config);
        Client client(server.port());
        client.send(dataRequest("GetData.cgi?Status=true", c.auth));
        const std::string reply = client.readToEnd(2000);  // ends: the server closed
        EXPECT_EQ(reply.find(c.status), 8u) << reply;
        EXPECT_EQ(reply.find("\r\n\r\n") != std::string::npos, c.completeHead) << reply;
        EXPECT_EQ(reply.find("\xFF\xD8"), std::string::npos);
    }
}

TEST_F(SimFamilyBStreamTest, CuesShapeWhatThePicturesCarry) {
    using What = DataCue::What;
    using Check = std::function<void(const std::vector<DataUnit> &)>;
    const StatusBytes x = {9, 9, 9, 9, 9, 9}, y = {0, 0, 0, 0, 0, 0x10};
    auto status = [](const DataUnit &u) { return u.bytes(60, 6); };
    auto text = [](const StatusBytes &b) { return std::string(b.begin(), b.end()); };
    struct Case {
        const char *name;
        std::vector<DataCue> cues;
        std::size_t pictures;
        Check check;
    } cases[] = {
        {"status bytes from a picture on, changing, fixed again",
         {{.picture = 2, .what = What::Status, .bytes = x},
          {.picture = 4, .what = What::Changing},
          {.picture = 7, .what = What::Status, .bytes = y}},
         9,
         [&](const std::vector<DataUnit> &u) {
             const std::string zero(6, '\0');
             EXPECT_EQ(status(u[0]), zero);
             EXPECT_EQ(status(u[1]), zero);
             EXPECT_EQ(status(u[2]), text(x));
             EXPECT_EQ(status(u[3]), text(x));
             for (std::size_t n = 4; n < 7; ++n) EXPECT_NE(status(u[n]), status(u[n - 1])) << n;
             EXPECT_EQ(status(u[7]), text(y));
             EXPECT_EQ(status(u[8]), text(y));
         }},
        {"resize and size code",
         {{.picture = 1, .what = What::Resize, .a = 320, .b = 240},
          {.picture = 2, .what = What::SizeCode, .a = 7},
          {.picture = 3, .what = What::SizeCode, .a = -1}},
         4,
         [](const std::vector<DataUnit> &u) {
             EXPECT_EQ(u8(u[0].block, 21), 0);
             EXPECT_EQ(u8(u[1].block, 21), 1);
             EXPECT_EQ(u8(u[2].block, 21), 7);
             EXPECT_EQ(u8(u[3].block, 21), 1);
             auto decoded = decodeFrames(AV_CODEC_ID_MJPEG, {u[1].picture});
             ASSERT_TRUE(decoded);
             EXPECT_EQ(decoded->width, 320);
             EXPECT_EQ(decoded->height, 240);
         }},
        {"garbage and a picture larger than a client's buffer",
         {{.picture = 1, .what = What::Garbage},
          {.picture = 2, .what = What::Oversize, .a = 400000}},
         4,
         [](const std::vector<DataUnit> &u) {
             EXPECT_EQ(u[0].before, "");
             EXPECT_FALSE(u[1].before.empty());
             EXPECT_EQ(u[1].before.find('\xFF'), std::string::npos);
             EXPECT_GE(u[2].picture.size(), 400000u);
             EXPECT_LT(u[3].picture.size(), 400000u);
             auto decoded = decodeFrames(AV_CODEC_ID_MJPEG, {u[2].picture});
             ASSERT_TRUE(decoded);
             EXPECT_EQ(decoded->width, 160);
         }},
        {"stall",
         {{.picture = 2, .what = What::Stall, .a = 700}},
         4,
         [](const std::vector<DataUnit> &u) {
             EXPECT_LT(u[1].at - u[0].at, 300ms);
             EXPECT_GE(u[2].at - u[1].at, 600ms);
             EXPECT_LT(u[3].at - u[2].at, 300ms);
         }},
    };
    FamilyBCamera &cam = camera({.width = 160, .height = 120, .fps = 30});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cam.streams().setCues(c.cues);
        std::vector<DataUnit> units = open().next(c.pictures);
        ASSERT_EQ(units.size(), c.pictures);
        c.check(units);
    }
}

TEST_F(SimFamilyBStreamTest, ASplitBlockComesInTwoPiecesAndAStallForGoodSendsNothing) {
    FamilyBCamera &cam =
        camera({.width = 160,
                .height = 120,
                .fps = 30,
                .cues = {{.picture = 1, .what = DataCue::What::Split, .a = 600, .b = 30},
                         {.picture = 2, .what = DataCue::What::Stall}}});
    DataReader &r = open();
    ASSERT_TRUE(r.next());
    // Everything up to the pause: the picture, the marker and the block's first 30 bytes.
    std::size_t marker;
    while ((marker = r.buffer.find("plai")) == std::string::npos) ASSERT_TRUE(r.more());
    while (r.more(300)) {
    }
    EXPECT_EQ(r.buffer.size() - marker, 9u + 30u);
    const auto rest = r.next();
    ASSERT_TRUE(rest);
    EXPECT_EQ(u8(rest->block, 21), 0);
    EXPECT_TRUE(r.client.silentFor(600));  // still open, nothing more
    EXPECT_EQ(cam.streams().records()[0].sent, 2u);
}

// The share of the samples' energy in the tone's frequency.
double toneShare(const std::vector<int16_t> &s, double hz, double rate) {
    double re = 0, im = 0, total = 0;
    for (std::size_t n = 0; n < s.size(); ++n) {
        const double phase = 2 * std::numbers::pi * hz * static_cast<double>(n) / rate;
        re += s[n] * std::cos(phase);
        im += s[n] * std::sin(phase);
        total += static_cast<double>(s[n]) * s[n];
    }
    return total > 0 ? (re * re + im * im) * 2 / static_cast<double>(s.size()) / total : 0;
}

TEST_F(SimFamilyBStreamTest, AudioIsAToneInRealTimeAlignedAfter256Bytes) {
    FamilyBCamera &cam = camera({});
    Client client(server.port());
    const auto began = Clock::now();
    client.send(dataRequest("GetAudioData.cgi=?Format=Pcm", true));
    const std::string first = client.read(256);
    ASSERT_EQ(first.size(), 256u);
    EXPECT_NE(first.substr(0, 20).find(" 200 "), std::string::npos);
    const std::string pcm = client.read(8000);  // four blocks of 2000 bytes, half a second
    ASSERT_EQ(pcm.size(), 8000u);
    EXPECT_GE(Clock::now() - began, 450ms);

    std::vector<int16_t> samples;
    int peak = 0;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        samples.push_back(static_cast<int16_t>(u8(pcm, i) | u8(pcm, i + 1) << 8));
        peak = std::max(peak, std::abs(int{samples.back()}));
    }
    EXPECT_GT(toneShare(samples, 1000, 8000), 0.999);
    EXPECT_LT(toneShare(samples, 2000, 8000), 0.001);
    EXPECT_GT(peak, 1000);
    EXPECT_GE(cam.streams().records().at(0).sent, 8000u);
}

// Talk: what the client sends after its head, in pieces and partly with the head.
TEST(SimTalkSinkTest, ChattingRecordsEveryByteInBothFamilies) {
    std::string talk = "3297" + std::string(16, '\x01') + "\x05\x42\x80";  // talk start
    talk += "3297" + std::string(16, '\x02') + std::string(1000, 'a');     // audio
    talk += "HTAD" + std::string(16, '\x03') + "xyz";
    for (const bool familyA : {true, false}) {
        SCOPED_TRACE(familyA ? "family A" : "family B");
        CgiServer server;
        server.setCredentials("admin", "secret");
        ASSERT_TRUE(server.start());
        std::unique_ptr<StoredDevice> camera;
        if (familyA)
            camera = std::make_unique<FamilyACamera>(server, FamilyAConfig{});
        else
            camera = std::make_unique<FamilyBCamera>(server, FamilyBConfig{});
        TalkSink &sink = camera->talk();

        Client refused(server.port());
        refused.send("GET /Chatting.cgi?Chatting=1 HTTP/1.1\r\nAuthorization:Basic \r\n\r\n");
        EXPECT_NE(refused.readToEnd(2000).find(" 401 "), std::string::npos);

        Client client(server.port());
        client.send(kChatting + talk.substr(0, 10));
        const std::string head = client.read(17);
        EXPECT_EQ(head, "HTTP/1.1 200 OK\r\n");
        for (std::size_t at = 10; at < talk.size(); at += 400) {
            std::this_thread::sleep_for(20ms);
            client.send(talk.substr(at, 400));
        }
        ASSERT_TRUE(sink.waitForBytes(talk.size(), 3000));
        const std::vector<TalkRecord> records = sink.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].head, kChatting);
        EXPECT_EQ(sink.received(), talk);
        EXPECT_EQ(records[0].bytes, talk.size());
        EXPECT_FALSE(records[0].ended);
        client.close();
        EXPECT_TRUE(sink.waitUntilEnded(2000));
    }
}

TEST(SimTalkSinkTest, TalkStatusRefusesOrClosesUnanswered) {
    for (const int status : {0, 503}) {
        SCOPED_TRACE(status);
        CgiServer server;
        ASSERT_TRUE(server.start());
        FamilyBCamera camera(server, {.talk = {.status = status}});
        Client client(server.port());
        client.send(kChatting + "abc");
        const std::string reply = client.readToEnd(2000);
        EXPECT_EQ(reply.empty(), status == 0) << reply;
        if (status != 0) {
            EXPECT_EQ(reply.find(" 503 "), 8u);
        }
        ASSERT_TRUE(camera.talk().waitForConnections(1, 2000));
        EXPECT_TRUE(camera.talk().waitUntilEnded(2000));
    }
}

TEST(SimFamilyBStreamOptionsTest, DeviceKeysConfigureTheStreams) {
    std::string error;
    auto device = parseDeviceSpec(
        "family-b:size=320x240,fps=10,q=50,size-code=9,bytes=0102030405FF,noaudio,refuse=503,"
        "cut,talk-status=0,at=3:status:000000000010,at=4:changing,at=5:resize:160x120,at=6:code,"
        "at=7:split:300:20,at=8:garbage,at=9:big:400000,at=10:stall:0",
        error);
    ASSERT_TRUE(device) << error;
    for (const char *bad :
         {"family-b:size=100x100", "family-b:bytes=01020304", "family-b:bytes=0102030405GG",
          "family-b:fps=0", "family-b:at=1:status", "family-b:at=1:split", "family-b:at=1:wobble",
          "family-b:talk-status=42", "family-a:talk-status=x", "family-b:refuse=42"})
        EXPECT_FALSE(parseDeviceSpec(bad, error)) << bad;
    EXPECT_TRUE(parseDeviceSpec("family-a:talk-status=503", error)) << error;

    // The camera object of applyOptions is gone; its routes stream on.
    auto options = parseOptions({"--device", "family-b:size=160x120,bytes=00000000002A"}, error);
    ASSERT_TRUE(options) << error;
    CgiServer web;
    applyOptions(*options, web);
    ASSERT_TRUE(web.start());
    DataReader r(web.port());
    EXPECT_NE(r.open(dataRequest("GetData.cgi?Status=true", false)).find(" 200 "),
              std::string::npos);
    auto unit = r.next();
    ASSERT_TRUE(unit);
    EXPECT_EQ(u8(unit->block, 21), 0);
    EXPECT_EQ(u8(unit->block, 65), 0x2A);
}

}  // namespace
