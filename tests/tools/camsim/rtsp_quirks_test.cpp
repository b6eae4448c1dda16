// The quirks of real servers, each switched on by its channel setting and seen on the wire.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tools/camsim/av_decode.h"
#include "tools/camsim/jpeg_encoder.h"
#include "tools/camsim/mpeg4_encoder.h"
#include "tools/camsim/rtsp_play.h"
#include "tools/camsim/rtsp_server.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

struct Row {
    std::string spec;  // the channel; its first path= (or CH01) is played
    std::function<void(RtspClient &, const Played &, const std::string &port)> check;
};

// Starts a server with the row's channel, plays it over TCP and runs the row's check.
void runRows(const std::vector<Row> &rows) {
    for (const Row &row : rows) {
        SCOPED_TRACE(row.spec);
        std::string error;
        auto config = parseChannelSpec(row.spec, error);
        ASSERT_TRUE(config) << error;
        StreamingServer server;
        ASSERT_FALSE(server.addChannel(*config).empty());
        ASSERT_TRUE(server.start());
        RtspClient c(server.port());
        const std::string path = config->paths.empty() ? "/CH01" : config->paths.front();
        const Played played = playTcp(c, rtspUrl(server, path), config->audio);
        row.check(c, played, std::to_string(server.port()));
    }
}

// Every header line of a head: a lower-case name, a colon, none, two blanks, a tab or one.
void expectOddHeaders(const std::string &head) {
    const std::regex line("[a-z-]+:(|  |\t| )[^ \t].*");
    std::size_t at = head.find("\r\n") + 2, lines = 0;
    for (std::size_t end; (end = head.find("\r\n", at)) != at; at = end + 2, ++lines)
        EXPECT_TRUE(std::regex_match(head.substr(at, end - at), line)) << head.substr(at, end - at);
    EXPECT_GE(lines, 2u);
}

TEST(RtspQuirksTest, RepliesAndDescriptions) {
    const std::string query = "/cam/realmonitor?channel=1&subtype=0";
    runRows({
        {"mpeg4:160x128@30,lowerheaders",
         [](RtspClient &, const Played &p, const std::string &) {
             for (const RtspReply *r : {&p.describe, &p.setup, &p.play}) expectOddHeaders(r->head);
             EXPECT_NE(p.describe.head.find("\r\ncseq:1\r\n"), std::string::npos);
             EXPECT_NE(p.describe.head.find("\r\ncontent-base:  rtsp://"), std::string::npos);
             EXPECT_NE(p.setup.head.find("\r\nsession:  " + p.session + ";timeout=60\r\n"),
                       std::string::npos);
         }},
        {"mpeg4:160x128@30,abscontrol",
         [](RtspClient &, const Played &p, const std::string &port) {
             EXPECT_EQ(sdpControl(p.describe.body, "video"),
                       "rtsp://127.0.0.1:" + port + "/CH01/track1");
         }},
        {"mpeg4:160x128@30,audio,abscontrol,path=/cam/realmonitor?channel=1&subtype=0",
         [](RtspClient &, const Played &p, const std::string &port) {
             const std::string at = "rtsp://127.0.0.1:" + port + "/cam/realmonitor/";
             EXPECT_EQ(p.videoUrl, at + "trackID=0?channel=1&subtype=0");
             EXPECT_EQ(sdpControl(p.describe.body, "audio"), at + "trackID=1?channel=1&subtype=0");
         }},
        {"mpeg4:160x128@30,path=/cam/realmonitor?channel=1&subtype=0",
         [](RtspClient &c, const Played &p, const std::string &port) {
             EXPECT_EQ(p.base, "rtsp://127.0.0.1:" + port + "/cam/realmonitor/");
             EXPECT_EQ(sdpControl(p.describe.body, "video"), "trackID=0?channel=1&subtype=0");
             // The query at the end of the base, as Dahua would have it, is another URL.
             const std::string wrong =
                 "SETUP rtsp://127.0.0.1/cam/realmonitor?channel=1&subtype=0/"
                 "trackID=0 RTSP/1.0\r\nCSeq: 4\r\nTransport: "
                 "RTP/AVP/TCP;unicast;interleaved=2-3\r\n\r\n";
             EXPECT_EQ(c.request(wrong).status, 404);
         }},
        {"mpeg4:160x128@30,querybase,path=/cam/realmonitor?channel=1&subtype=0",
         [&](RtspClient &c, const Played &p, const std::string &port) {
             EXPECT_EQ(p.base, "rtsp://127.0.0.1:" + port + query + "/");
             EXPECT_EQ(sdpControl(p.describe.body, "video"), "trackID=0");
             EXPECT_EQ(p.videoUrl, p.base + "trackID=0");
             // Resolved as RFC 3986 would: the last segment and the query go.
             const std::string resolved =
                 "SETUP rtsp://127.0.0.1/cam/trackID=0 RTSP/1.0\r\nCSeq: "
                 "4\r\nTransport: RTP/AVP/TCP;unicast\r\n\r\n";
             EXPECT_EQ(c.request(resolved).status, 404);
         }},
        {"mpeg4:160x128@30,notype,nobase,path=/cam/realmonitor?channel=1&subtype=0",
         [&](RtspClient &, const Played &p, const std::string &port) {
             EXPECT_EQ(p.describe.header("Content-Type"), "");
             EXPECT_EQ(p.describe.header("Content-Base"), "");
             EXPECT_EQ(p.videoUrl, "rtsp://127.0.0.1:" + port + query + "/trackID=0");
             EXPECT_EQ(p.describe.header("Content-Length"), std::to_string(p.describe.body.size()));
         }},
        {"mpeg4:160x128@30,sdplf,path=/live/ch00_0,pathonly",
         [](RtspClient &c, const Played &p, const std::string &) {
             EXPECT_EQ(p.describe.body.find('\r'), std::string::npos);
             EXPECT_NE(p.describe.body.find("\na=control:trackID=0\n"), std::string::npos);
             EXPECT_EQ(c.request(describe("CH01", 5)).status, 404);
         }},
        {"mpeg4:160x128@30,audio,sdpblanks",
         [](RtspClient &, const Played &p, const std::string &) {
             const std::string &sdp = p.describe.body;
             std::size_t lines = 0;
             for (std::size_t at = 0; (at = sdp.find('\n', at)) != std::string::npos; ++at, ++lines)
                 EXPECT_EQ(sdp.substr(at - 3, 4), " \t\r\n");
             EXPECT_EQ(lines, 13u);
         }},
        {"mpeg4:160x128@30,audio,sdplower,extramap,pt=101",
         [](RtspClient &c, const Played &p, const std::string &) {
             EXPECT_NE(p.describe.body.find("m=video 0 RTP/AVP 101\r\na=rtpmap:97 h264/90000\r\n"
                                            "a=rtpmap:101 mp4v-es/90000\r\na=fmtp:101 "),
                       std::string::npos);
             EXPECT_NE(p.describe.body.find("a=rtpmap:14 mpa/90000\r\n"), std::string::npos);
             for (const Rtp &r : readStream(c, 5).video) EXPECT_EQ(r.payloadType, 101);
         }},
        {"jpeg:160x128@30,sdplower,pt=127",
         [](RtspClient &c, const Played &p, const std::string &) {
             EXPECT_NE(p.describe.body.find("m=video 0 RTP/AVP 127\r\na=rtpmap:127 jpeg/90000\r\n"),
                       std::string::npos);
             for (const Rtp &r : readStream(c, 5).video) EXPECT_EQ(r.payloadType, 127);
         }},
    });
}

// Packets 1, N+1, 2N+1, ... of the stream have what the setting adds; all are decodable.
void expectEveryNth(const Stream &s, int every, const std::function<bool(const Rtp &)> &has) {
    ASSERT_FALSE(s.video.empty());
    for (std::size_t i = 0; i < s.video.size(); ++i)
        EXPECT_EQ(has(s.video[i]), i % static_cast<std::size_t>(every) == 0) << "packet " << i;
    EXPECT_TRUE(decodeFrames(AV_CODEC_ID_MPEG4, framesOf(s.video)));
}

TEST(RtspQuirksTest, Packets) {
    runRows({
        {"mpeg4:160x128@30,ext=1",
         [](RtspClient &c, const Played &, const std::string &) {
             expectEveryNth(readStream(c, 12), 1, [](const Rtp &r) {
                 return r.extensionProfile == 0xBEDE && r.extensionBytes >= 4 &&
                        r.extensionBytes <= 16;
             });
         }},
        {"mpeg4:160x128@30,ext2=3",
         [](RtspClient &c, const Played &, const std::string &) {
             expectEveryNth(readStream(c, 12), 3, [](const Rtp &r) {
                 return r.extensionProfile >= 0 && (r.extensionProfile & 0xFFF0) == 0x1000;
             });
         }},
        {"mpeg4:160x128@30,pad=2,ext=2",
         [](RtspClient &c, const Played &, const std::string &) {
             const Stream s = readStream(c, 12);
             expectEveryNth(s, 2, [](const Rtp &r) { return r.padding > 0; });
             for (const std::string &raw : s.rawVideo) {  // padding: zeros, then the count
                 const std::size_t n = raw[0] & 0x20 ? static_cast<uint8_t>(raw.back()) : 1;
                 EXPECT_EQ(raw.substr(raw.size() - n, n - 1), std::string(n - 1, '\0'));
             }
         }},
        {"mpeg4:160x128@30,sdpconfig",
         [](RtspClient &c, const Played &p, const std::string &) {
             std::vector<std::string> frames = framesOf(readStream(c, 8).video);
             ASSERT_FALSE(frames.empty());
             EXPECT_EQ(frames[0].substr(0, 4), std::string("\0\0\1\xB3", 4));  // the GOV
             std::smatch hex;
             ASSERT_TRUE(std::regex_search(p.describe.body, hex, std::regex("config=([0-9A-F]+)")));
             std::string config;
             for (std::size_t i = 0; i < hex.str(1).size(); i += 2)
                 config += static_cast<char>(std::stoi(hex.str(1).substr(i, 2), nullptr, 16));
             EXPECT_FALSE(decodeFrames(AV_CODEC_ID_MPEG4, frames));
             frames[0] = config + frames[0];
             EXPECT_TRUE(decodeFrames(AV_CODEC_ID_MPEG4, frames));
         }},
        {"mpeg4:160x128@30,shortrtcp",
         [](RtspClient &c, const Played &p, const std::string &) {
             std::vector<std::string> reports;
             for (const Interleaved &f : readStream(c, 20).others)
                 if (f.channel == 1) reports.push_back(f.packet);
             ASSERT_GE(reports.size(), 3u);
             EXPECT_GE(reports[0].size(), 28u);  // the sender report and its description
             EXPECT_EQ(reports[1], std::string("\x80\xC9\0\0", 4));
             EXPECT_EQ(reports[2].substr(0, 4), std::string("\x80\xC9\0\1", 4));
             EXPECT_EQ(reports[2].size(), 8u);
             // A BYE comes before the TEARDOWN reply.
             c.raw().send("TEARDOWN " + p.base + " RTSP/1.0\r\nCSeq: 4\r\nSession: " + p.session +
                          "\r\n\r\n");
             std::string last;
             Incoming in;
             for (int n = 0; n < 100 && (in = c.next()).frame; ++n) last = in.frame->packet;
             ASSERT_TRUE(in.message);
             EXPECT_EQ(in.message->status, 200);
             EXPECT_EQ(last.substr(0, 4), std::string("\x81\xCB\0\1", 4));
             EXPECT_EQ(last.size(), 8u);
         }},
        {"mpeg4:160x128@30,audio,channels=4",
         [](RtspClient &c, const Played &p, const std::string &) {
             EXPECT_NE(p.setup.header("Transport").find("interleaved=4-5;"), std::string::npos);
             EXPECT_NE(p.audioSetup.header("Transport").find("interleaved=6-7;"),
                       std::string::npos);
             std::set<int> channels;
             for (const Interleaved &f : readStream(c, 20, 4).others) channels.insert(f.channel);
             EXPECT_EQ(channels, (std::set<int>{5, 6, 7}));
         }},
    });
}

// The header a receiver rebuilds from Q holds the pair the row names (in band: the tables
// themselves), and the picture decodes.
TEST(RtspQuirksTest, JpegTablesWithMarkerBytes) {
    struct Case {
        const char *spec;
        int tablesQ;
        const char *pair;
    } cases[] = {
        {"jpeg:160x128@30,q=6", 6, "\xFF\xD9"},
        {"jpeg:160x128@30,q=18", 18, "\xFF\xD8"},
        {"jpeg:160x128@30,q=255,tables=6,noeoi", 6, "\xFF\xD9"},
        {"jpeg:160x128@30,q=128,tables=18", 18, "\xFF\xD8"},
    };
    std::vector<Row> rows;
    for (const Case &k : cases)
        rows.push_back({k.spec, [k](RtspClient &c, const Played &, const std::string &) {
                            const Stream s = readStream(c, 10);
                            std::string scan;
                            for (const Rtp &r : s.video) {
                                std::size_t at = 8;
                                if (scan.empty() && static_cast<uint8_t>(r.payload[5]) >= 128) {
                                    EXPECT_NE(r.payload.substr(12, 128).find(k.pair),
                                              std::string::npos);
                                    at += 132;
                                }
                                scan += r.payload.substr(at);
                                if (r.marker) break;
                            }
                            ASSERT_FALSE(scan.empty());
                            const JpegParams params{tablesForQ(k.tablesQ), 0};
                            const std::string head = jpegHeaders(160, 128, Chroma::Yuv420, params);
                            EXPECT_NE(head.find(k.pair), std::string::npos);
                            if (!scan.ends_with("\xFF\xD9")) scan += "\xFF\xD9";
                            EXPECT_TRUE(decodeFrames(AV_CODEC_ID_MJPEG, {head + scan}));
                        }});
    runRows(rows);
}

}  // namespace
