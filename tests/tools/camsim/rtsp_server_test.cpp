#include "tools/camsim/rtsp_server.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tools/camsim/av_decode.h"
#include "tools/camsim/jpeg_encoder.h"
#include "tools/camsim/mpeg4_encoder.h"
#include "tools/camsim/rtp_packetizer.h"
#include "tools/camsim/rtsp_play.h"
#include "tools/camsim/rtsp_test_client.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

using Codec = ChannelConfig::Codec;

ChannelConfig mpeg4(bool audio = false) {
    return {.codec = Codec::Mpeg4, .width = 160, .height = 128, .fps = 30, .audio = audio};
}

ChannelConfig jpeg(int type = 1, int q = 50, int restart = 0) {
    ChannelConfig c = mpeg4();
    c.codec = Codec::Jpeg;
    c.jpegType = type;
    c.jpegQ = q;
    c.restartInterval = restart;
    return c;
}

int threads() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/task")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

uint32_t be32(const std::string &s, std::size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

std::string fromHex(const std::string &hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// A video frame put together from its RTP packets.
struct VideoFrame {
    std::vector<Rtp> packets;
    std::string data() const {
        std::string d;
        for (const Rtp &p : packets) d += p.payload;
        return d;
    }
};

struct Capture {
    std::vector<VideoFrame> video;  // complete frames, channel 0
    std::vector<Rtp> audio;         // channel 2
    std::vector<std::string> reports[4];
    std::vector<SteadyClock::time_point> frameTimes;
};

// Reads interleaved frames until `frames` video frames are complete, or none comes for
// timeoutMs.
Capture capture(RtspClient &c, std::size_t frames, int timeoutMs = 3000) {
    Capture got;
    VideoFrame current;
    while (got.video.size() < frames) {
        auto f = c.frame(timeoutMs);
        if (!f) break;
        if (f->channel % 2 == 1) {
            got.reports[f->channel].push_back(f->packet);
            continue;
        }
        auto rtp = Rtp::parse(f->packet);
        if (!rtp) break;
        if (f->channel == 2) {
            got.audio.push_back(*rtp);
            continue;
        }
        current.packets.push_back(*rtp);
        if (rtp->marker) {
            got.video.push_back(std::move(current));
            got.frameTimes.push_back(SteadyClock::now());
            current = {};
        }
    }
    return got;
}

class StreamingServerTest : public ::testing::Test {
  protected:
    void start(const std::vector<ChannelConfig> &channels) {
        for (const auto &c : channels) ASSERT_FALSE(server.addChannel(c).empty());
        ASSERT_TRUE(server.start());
    }

    // DESCRIBE, SETUP of video (and audio) over TCP, PLAY; the PLAY reply.
    RtspReply playTcp(RtspClient &c, const std::string &path, bool audio = false) {
        c.request(describe(path, 1));
        RtspReply video = c.request(setupTcpVideo(path + "/track1", 2));
        session = sessionOf(video);
        videoTransport = video.header("Transport");
        if (audio) c.request(setupTcpAudio(path + "/track2", session, 3));
        return c.request(play(path, session, 4));
    }

    StreamingServer server;
    std::string session, videoTransport;
};

TEST_F(StreamingServerTest, HandshakeAsOurClientSendsIt) {
    start({mpeg4(true)});
    RtspClient c(server.port());
    const std::vector<std::string> sent = {describe("CH01", 1), setupTcpVideo("CH01/track1", 2)};
    RtspReply d = c.request(sent[0]);
    EXPECT_EQ(d.head.substr(0, 26), "RTSP/1.0 200 OK\r\nCSeq: 1\r\n");
    EXPECT_EQ(d.header("Content-Type"), "application/sdp");
    EXPECT_EQ(d.header("Content-Length"), std::to_string(d.body.size()));
    EXPECT_EQ(d.body.substr(0, 5), "v=0\r\n");

    RtspReply v = c.request(sent[1]);
    EXPECT_EQ(v.head.substr(0, 26), "RTSP/1.0 200 OK\r\nCSeq: 2\r\n");
    EXPECT_TRUE(std::regex_match(v.header("Session"), std::regex("[0-9A-F]{16};timeout=60")))
        << v.header("Session");
    const std::string id = sessionOf(v);
    EXPECT_TRUE(std::regex_match(
        v.header("Transport"), std::regex("RTP/AVP/TCP;unicast;interleaved=0-1;ssrc=[0-9A-F]{8}")))
        << v.header("Transport");
    EXPECT_EQ(server.activeSessions(), 1u);

    const std::vector<std::string> more = {
        setupTcpAudio("CH01/track2", id, 3), play("CH01", id, 4),
        "GET_PARAMETER rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 5\r\nSession: " + id + "\r\n\r\n",
        teardown("CH01", id, 6), "OPTIONS rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 7\r\n\r\n"};
    RtspReply a = c.request(more[0]);
    EXPECT_EQ(sessionOf(a), id);
    EXPECT_NE(a.header("Transport").find(";interleaved=2-3;"), std::string::npos);
    RtspReply p = c.request(more[1]);
    EXPECT_EQ(p.head.substr(0, 26), "RTSP/1.0 200 OK\r\nCSeq: 4\r\n");
    EXPECT_EQ(p.header("Session"), id);
    EXPECT_TRUE(std::regex_match(
        p.header("RTP-Info"), std::regex("url=rtsp://127.0.0.1/CH01/track1;seq=\\d+;rtptime=\\d+,"
                                         "url=rtsp://127.0.0.1/CH01/track2;seq=\\d+;rtptime=\\d+")))
        << p.header("RTP-Info");
    ASSERT_TRUE(c.frame());

    // A receiver report the way our client sends it: '$' alone, the rest a moment later.
    c.raw().send("$");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.raw().send(std::string("\x01\x00\x08\x80\xC9\x00\x01\x00\x00\x00\x01", 11));
    EXPECT_EQ(c.request(more[2]).head.substr(0, 26), "RTSP/1.0 200 OK\r\nCSeq: 5\r\n");
    EXPECT_EQ(server.rtcpPacketsReceived(), 1u);
    EXPECT_EQ(server.statistics().rtcpInvalid, 1u);  // no CNAME
    EXPECT_EQ(c.request(more[3]).head, "RTSP/1.0 200 OK\r\nCSeq: 6\r\n\r\n");
    EXPECT_EQ(server.activeSessions(), 0u);
    RtspReply o = c.request(more[4]);  // after the TEARDOWN's stray CRLF
    EXPECT_EQ(o.header("Public"),
              "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, SET_PARAMETER");

    auto recorded = server.rtspRequests();
    ASSERT_EQ(recorded.size(), 7u);
    EXPECT_EQ(recorded[0].raw, sent[0]);
    EXPECT_EQ(recorded[1].raw, sent[1]);
    for (std::size_t i = 0; i < more.size(); ++i) {
        std::string head = more[i].substr(0, more[i].find("\r\n\r\n") + 4);
        EXPECT_EQ(recorded[i + 2].raw, head) << i;
    }
}

TEST_F(StreamingServerTest, RefusalsCarryTheirStatusAndCSeq) {
    ChannelConfig dahua = mpeg4();
    dahua.paths = {"/cam/realmonitor?channel=1&subtype=0"};
    start({mpeg4(), jpeg(), mpeg4(true), dahua});
    const std::string setupAt = "SETUP rtsp://127.0.0.1/CH01/track1 RTSP/1.0\r\nCSeq: 9\r\n";
    const std::string keepAlive = "GET_PARAMETER rtsp://127.0.0.1/CH03 RTSP/1.0\r\nCSeq: 9\r\n";
    const std::string other = "00000000000000AA";
    // A row with a session first sets up CH03's video; {s} is then its id.
    struct Case {
        bool session;
        std::string request;
        int status;
    } cases[] = {
        {false, describe("CH01", 9, "127.0.0.1:554"), 200},  // any host[:port]
        {false, describe("CH02", 9, "camera.local"), 200},
        {false, describe("CH05", 9), 404},
        {false, describe("CH01/track1", 9), 404},
        {false, describe("cam/realmonitor?channel=1&subtype=0", 9), 200},  // query exact
        {false, describe("cam/realmonitor?channel=1&subtype=1", 9), 404},
        {false, describe("cam/realmonitor?subtype=0&channel=1", 9), 404},
        {false, describe("cam/realmonitor", 9), 404},
        {false, describe("cam/realmonitor?channel=1&subtype=0/", 9), 404},
        {false, setupTcpVideo("cam/realmonitor/trackID=0?channel=1&subtype=0", 9), 200},
        {false, setupTcpVideo("cam/realmonitor?channel=1&subtype=0/trackID=0", 9), 404},
        {false, setupTcpVideo("CH05/track1", 9), 404},
        {false, setupTcpVideo("CH01/track9", 9), 404},
        {false, setupTcpVideo("CH01/trackID=0", 9), 404},
        {false, setupTcpAudio("CH01/track2", "0000000000000001", 9), 404},  // no audio on CH01
        {false, setupTcpAudio("CH01/track1", "0000000000000001", 9), 454},
        {false, play("CH01", "0000000000000001", 9), 454},
        {false, teardown("CH01", "0000000000000001", 9), 454},
        {false, keepAlive + "\r\n", 454},
        {false, "PLAY rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 9\r\n\r\n", 454},
        {false, setupAt + "Transport: RTP/AVP/UDP;multicast;client_port=4000\r\n\r\n", 461},
        {false, setupAt + "Transport: RTP/AVP/UDP;unicast\r\n\r\n", 461},
        {false, setupAt + "Transport: RTP/SAVP;unicast;client_port=4000\r\n\r\n", 461},
        {false, setupAt + "\r\n", 461},
        {false, "PAUSE rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 9\r\n\r\n", 405},
        {false, "RECORD rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 9\r\n\r\n", 405},
        {false, "FLY rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 9\r\n\r\n", 501},
        {false, "OPTIONS * RTSP/1.0\r\n\r\n", 400},
        {false, "DESCRIBE rtsp://127.0.0.1/CH01 RTSP/1.0\r\n\r\n", 400},
        {true, keepAlive + "Session: {s}\r\n\r\n", 200},
        {true, keepAlive + "Session: " + other + "\r\n\r\n", 454},
        {true, "SET_PARAMETER rtsp://127.0.0.1/CH03 RTSP/1.0\r\nCSeq: 9\r\nSession: {s}\r\n\r\n",
         200},
        {true, "GET_PARAMETER rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSeq: 9\r\nSession: {s}\r\n\r\n",
         404},  // another channel's URL
        {true, play("CH03/track1", "{s}", 9), 200},
        {true, play("CH02", "{s}", 9), 404},
        {true, setupTcpAudio("CH03/track2", "{s}", 9), 200},
        {true, setupTcpAudio("CH03/track2", other, 9), 459},
        {true, setupTcpAudio("CH01/track1", "{s}", 9), 459},
        {true, setupTcpAudio("CH03/track1", "{s}", 9), 455},
        {true, teardown("CH03", "{s}", 9), 200},
    };
    for (Case &c : cases) {
        RtspClient client(server.port());
        if (c.session) {
            const std::string id = sessionOf(client.request(setupTcpVideo("CH03/track1", 8)));
            ASSERT_FALSE(id.empty());
            c.request = std::regex_replace(c.request, std::regex("\\{s\\}"), id);
        }
        RtspReply r = client.request(c.request);
        EXPECT_EQ(r.status, c.status) << c.request;
        EXPECT_EQ(r.header("CSeq"), c.status == 400 ? "" : "9") << c.request;
        if (c.status == 405) {
            EXPECT_EQ(r.header("Allow"),
                      "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, SET_PARAMETER");
        }
    }
    EXPECT_TRUE(server.waitUntilIdle(3000));
}

TEST_F(StreamingServerTest, DescriptionsFollowTheChannel) {
    ChannelConfig noControl = mpeg4(true);
    noControl.faults.omitVideoControl = true;
    ChannelConfig slowJpeg = jpeg(0, 255, 4);
    slowJpeg.fps = 15;
    start({mpeg4(true), slowJpeg, noControl});
    RtspClient c(server.port());
    const std::string session = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=camsim CH0";
    const std::string sessionEnd = "\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\nm=video";

    std::string withAudio = c.request(describe("CH01", 1)).body;
    EXPECT_EQ(withAudio.substr(0, session.size() + 1), session + "1");
    EXPECT_EQ(withAudio.find(sessionEnd), session.size() + 1);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        withAudio, m,
        std::regex("m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n"
                   "a=fmtp:96 profile-level-id=(\\d+);config=([0-9A-F]+)\r\n"
                   "a=control:track1\r\n"
                   "m=audio 0 RTP/AVP 14\r\na=rtpmap:14 MPA/90000\r\na=control:track2\r\n$")))
        << withAudio;
    const std::string config = fromHex(m[2]);
    EXPECT_EQ(config.substr(0, 4), std::string("\0\0\1\xB0", 4));
    EXPECT_EQ(std::stoi(m[1]), static_cast<uint8_t>(config[4]));
    EXPECT_NE(findStartCode(config, 0x20), std::string::npos);  // the VOL
    EXPECT_EQ(findStartCode(config, 0xB3), std::string::npos);
    EXPECT_EQ(findStartCode(config, 0xB6), std::string::npos);

    std::string mjpeg = c.request(describe("CH02", 2)).body;
    EXPECT_EQ(mjpeg.substr(mjpeg.find("m=")),
              "m=video 0 RTP/AVP 26\r\na=framerate:15\r\na=control:track1\r\n");

    std::string bare = c.request(describe("CH03", 3)).body;
    EXPECT_EQ(bare.find("a=control:track1"), std::string::npos);
    EXPECT_EQ(bare.substr(bare.find("a=control:", bare.find("m=video"))), "a=control:track2\r\n");

    for (const std::string &sdp : {withAudio, mjpeg, bare}) {
        auto count = [&](const char *what) {
            std::ptrdiff_t n = 0;
            for (std::size_t at = 0; (at = sdp.find(what, at)) != std::string::npos; ++at) ++n;
            return n;
        };
        EXPECT_EQ(count("\n"), count("\r\n")) << sdp;
    }
}

TEST_F(StreamingServerTest, Mpeg4AndAudioArrivePacedInOrder) {
    ChannelConfig live = mpeg4(true);
    live.live = true;
    start({mpeg4(true), live});
    // The loop for a second and more, to see the next key frame; live for a few frames.
    for (const auto &[path, count] :
         {std::pair<std::string, std::size_t>{"CH01", 32}, {"CH02", 4}}) {
        SCOPED_TRACE(path);
        RtspClient c(server.port());
        RtspReply p = playTcp(c, path, true);
        ASSERT_EQ(p.status, 200);
        Capture got = capture(c, count);
        ASSERT_EQ(got.video.size(), count);

        std::smatch info;
        const std::string rtpInfo = p.header("RTP-Info");
        ASSERT_TRUE(std::regex_search(rtpInfo, info, std::regex("seq=(\\d+);rtptime=(\\d+)")));
        uint16_t seq = static_cast<uint16_t>(std::stoul(info[1]));
        const uint32_t ts0 = static_cast<uint32_t>(std::stoul(info[2]));
        const uint32_t ssrc = static_cast<uint32_t>(
            std::stoul(videoTransport.substr(videoTransport.find("ssrc=") + 5), nullptr, 16));
        std::vector<std::string> frames;
        for (std::size_t n = 0; n < got.video.size(); ++n) {
            const VideoFrame &f = got.video[n];
            for (std::size_t i = 0; i < f.packets.size(); ++i) {
                const Rtp &r = f.packets[i];
                EXPECT_EQ(r.payloadType, 96);
                EXPECT_EQ(r.sequence, seq++) << "frame " << n;
                EXPECT_EQ(r.ssrc, ssrc);
                EXPECT_EQ(r.timestamp, ts0 + 3000 * n) << "frame " << n;
                EXPECT_EQ(r.marker, i + 1 == f.packets.size());
                EXPECT_LE(r.payload.size(), kMaxRtpPayload);
            }
            const std::string data = f.data();
            frames.push_back(data);
            if (n % 30 == 0) {
                EXPECT_EQ(data.substr(0, 4), std::string("\0\0\1\xB0", 4)) << "frame " << n;
                EXPECT_LT(findStartCode(data, 0xB3), findStartCode(data, 0xB6)) << "frame " << n;
            } else {
                EXPECT_EQ(data.substr(0, 4), std::string("\0\0\1\xB6", 4)) << "frame " << n;
            }
        }
        auto decoded = decodeFrames(AV_CODEC_ID_MPEG4, frames);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, 160);
        EXPECT_EQ(decoded->height, 128);

        // Thirty frames at 30 a second take about a second.
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(got.frameTimes.back() -
                                                                        got.frameTimes[1]);
        if (count > 30) {
            EXPECT_GT(ms.count(), 800);
        }
        EXPECT_LT(ms.count(), 2500);

        ASSERT_GE(got.audio.size(), 2u);
        for (std::size_t i = 0; i < got.audio.size(); ++i) {
            const Rtp &r = got.audio[i];
            EXPECT_EQ(r.payloadType, 14);
            EXPECT_EQ(r.sequence, static_cast<uint16_t>(got.audio[0].sequence + i));
            EXPECT_EQ(r.timestamp, got.audio[0].timestamp + 3240 * i);
            ASSERT_GE(r.payload.size(), 6u);
            EXPECT_EQ(r.payload.substr(0, 4), std::string(4, '\0'));
            EXPECT_EQ(static_cast<uint8_t>(r.payload[4]), 0xFF);  // frame sync
            EXPECT_EQ(static_cast<uint8_t>(r.payload[5]) & 0xE0, 0xE0);
        }
        const uint32_t audioSsrc = got.audio[0].ssrc;
        for (int channel : {1, 3}) {
            ASSERT_FALSE(got.reports[channel].empty()) << channel;
            const std::string &sr = got.reports[channel][0];
            EXPECT_EQ(sr.substr(0, 2), "\x80\xC8");
            EXPECT_EQ(be32(sr, 4), channel == 1 ? ssrc : audioSsrc);
        }
    }
}

TEST_F(StreamingServerTest, JpegFragmentsRebuildIntoPictures) {
    ChannelConfig noEnd = jpeg(1, 255, 3);
    noEnd.jpegEndMarker = false;
    start({jpeg(0, 40, 0), noEnd});
    for (const std::string path : {"CH01", "CH02"}) {
        SCOPED_TRACE(path);
        RtspClient c(server.port());
        ASSERT_EQ(playTcp(c, path).status, 200);
        Capture got = capture(c, 3);
        ASSERT_EQ(got.video.size(), 3u);
        const int type = path == "CH01" ? 0 : 1, q = path == "CH01" ? 40 : 255;
        const int restart = path == "CH01" ? 0 : 3;

        // Every fragment: offset where the previous ended, the same type, Q and size.
        JpegParams params{tablesForQ(q), restart};
        std::string scan;
        for (const Rtp &r : got.video[2].packets) {
            const std::string &p = r.payload;
            EXPECT_EQ(r.payloadType, 26);
            EXPECT_EQ(be32(p, 0), scan.size());  // type-specific 0, then the offset
            EXPECT_EQ(p[4], type + (restart ? 64 : 0));
            EXPECT_EQ(static_cast<uint8_t>(p[5]), q);
            EXPECT_EQ(p.substr(6, 2), "\x14\x10");  // 160 / 8, 128 / 8
            std::size_t at = 8;
            if (restart) {
                EXPECT_EQ(be32(p, 8), static_cast<uint32_t>(restart) << 16 | 0xFFFF);
                at += 4;
            }
            if (q >= 128 && scan.empty()) {
                EXPECT_EQ(be32(p, at), 128u);
                std::copy_n(p.begin() + at + 4, 64, params.tables.luma.begin());
                std::copy_n(p.begin() + at + 68, 64, params.tables.chroma.begin());
                at += 132;
            }
            scan += p.substr(at);
        }
        // CH01 sends the end marker, CH02 leaves it to the receiver.
        EXPECT_EQ(scan.substr(scan.size() - 2) == "\xFF\xD9", path == "CH01");
        if (path == "CH02") scan += "\xFF\xD9";
        // The receiver's rebuilt header: type gives the sampling, Q or the packet the tables.
        const Chroma chroma = type == 0 ? Chroma::Yuv422 : Chroma::Yuv420;
        auto decoded =
            decodeFrames(AV_CODEC_ID_MJPEG, {jpegHeaders(160, 128, chroma, params) + scan});
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, 160);
        EXPECT_EQ(decoded->height, 128);
        EXPECT_EQ(decoded->format, type == 0 ? AV_PIX_FMT_YUVJ422P : AV_PIX_FMT_YUVJ420P);
        const Picture expected = drawTestPattern(160, 128, chroma, 2, true);
        double error = 0;
        for (std::size_t i = 0; i < expected.y.size(); ++i)
            error += std::abs(static_cast<uint8_t>(decoded->luma[i]) - expected.y[i]);
        EXPECT_LT(error / expected.y.size(), 6);  // frame 2 of the pattern, not just any picture
    }
}

TEST_F(StreamingServerTest, UdpTracksUseTheClientPortsAndEndWithTheConnection) {
    start({mpeg4(true)});
    UdpPorts video, audio;
    ASSERT_GE(video.rtcp, 0);
    ASSERT_GE(audio.rtcp, 0);
    auto c = std::make_unique<RtspClient>(server.port());
    c->request(describe("CH01", 1));
    RtspReply v = c->request(setupUdpVideo("CH01/track1", 2, video.port));
    std::smatch m;
    const std::string transport = v.header("Transport");
    ASSERT_TRUE(std::regex_search(
        transport, m,
        std::regex(
            "^RTP/AVP/UDP;unicast;client_port=(\\d+)-(\\d+);server_port=(\\d+)-(\\d+);ssrc=")))
        << transport;
    EXPECT_EQ(std::stoi(m[1]), video.port);
    EXPECT_EQ(std::stoi(m[2]), video.port + 1);  // one port given: RTCP on the next
    const int serverRtp = std::stoi(m[3]);
    EXPECT_EQ(serverRtp % 2, 0);
    EXPECT_EQ(std::stoi(m[4]), serverRtp + 1);
    const std::string id = sessionOf(v);
    EXPECT_EQ(c->request(setupUdpAudio("CH01/track2", id, 3, audio.port)).status, 200);
    EXPECT_EQ(c->request(play("CH01", id, 4)).status, 200);

    auto rtp = UdpPorts::receive(video.rtp);
    ASSERT_TRUE(rtp);
    EXPECT_EQ(rtp->second, serverRtp);
    EXPECT_EQ(Rtp::parse(rtp->first)->payloadType, 96);
    auto report = UdpPorts::receive(video.rtcp);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->second, serverRtp + 1);
    EXPECT_EQ(report->first.substr(0, 2), "\x80\xC8");
    auto sound = UdpPorts::receive(audio.rtp);
    ASSERT_TRUE(sound);
    EXPECT_EQ(Rtp::parse(sound->first)->payloadType, 14);

    // A receiver report back to the server's RTCP port is taken.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(serverRtp + 1));
    const std::string rr("\x80\xC9\x00\x01\x00\x00\x00\x01", 8);
    sendto(video.rtcp, rr.data(), rr.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    EXPECT_TRUE(eventually([&] { return server.rtcpPacketsReceived() == 1; }));
    EXPECT_EQ(server.statistics().rtcpInvalid, 1u);

    c.reset();  // the client goes away without a TEARDOWN
    EXPECT_TRUE(server.waitUntilIdle(3000));
    while (UdpPorts::receive(video.rtp, 50)) {
    }
    EXPECT_FALSE(UdpPorts::receive(video.rtp, 300));
}

TEST_F(StreamingServerTest, FaultsShapeTheStream) {
    start({mpeg4(), mpeg4(), mpeg4()});
    ASSERT_TRUE(server.setFaults(1, {.dropEveryNth = 4}));
    ASSERT_TRUE(server.setFaults(2, {.stallAfterFrames = 3}));
    ASSERT_TRUE(server.setFaults(3, {.garbageAfterFrames = 2}));
    EXPECT_FALSE(server.setFaults(4, {}));

    {  // packets 4, 8, 12, ... are missing, their sequence numbers skipped
        RtspClient c(server.port());
        RtspReply p = playTcp(c, "CH01");
        std::smatch m;
        const std::string info = p.header("RTP-Info");
        ASSERT_TRUE(std::regex_search(info, m, std::regex("seq=(\\d+)")));
        const uint16_t first = static_cast<uint16_t>(std::stoul(m[1]));
        std::set<uint16_t> expected, received;
        for (int i = 0; i < 20; ++i) {
            auto f = c.frame();
            ASSERT_TRUE(f);
            if (f->channel != 0) {
                --i;
                continue;
            }
            received.insert(Rtp::parse(f->packet)->sequence);
        }
        for (int i = 0; expected.size() < 20; ++i)
            if ((i + 1) % 4 != 0) expected.insert(static_cast<uint16_t>(first + i));
        EXPECT_EQ(received, expected);
    }
    {  // three frames, then silence on an open, answering connection
        RtspClient c(server.port());
        playTcp(c, "CH02");
        EXPECT_EQ(capture(c, 4, 300).video.size(), 3u);
        EXPECT_EQ(c.request("GET_PARAMETER rtsp://127.0.0.1/CH02 RTSP/1.0\r\nCSeq: 5\r\nSession: " +
                            session + "\r\n\r\n")
                      .status,
                  200);
        EXPECT_TRUE(c.raw().silentFor(200));
    }
    {  // garbage once after the second frame, then the stream goes on
        RtspClient c(server.port());
        playTcp(c, "CH03");
        Capture before = capture(c, 2);
        ASSERT_EQ(before.video.size(), 2u);
        EXPECT_EQ(c.take(FaultPlan::garbage().size()), FaultPlan::garbage());
        Capture after = capture(c, 2);
        ASSERT_EQ(after.video.size(), 2u);
        EXPECT_EQ(after.video[0].packets[0].sequence,
                  static_cast<uint16_t>(before.video[1].packets.back().sequence + 1));
    }
}

TEST_F(StreamingServerTest, StopEndsSessionsThreadsAndSocketsPromptly) {
    std::thread([] {}).join();  // a sanitizer starts its helper thread with the first thread
    const int fds = openDescriptors(), baseThreads = threads();
    start({mpeg4(true), jpeg()});
    UdpPorts ports;
    std::vector<std::unique_ptr<RtspClient>> clients;
    for (const std::string path : {"CH01", "CH02"}) {
        clients.push_back(std::make_unique<RtspClient>(server.port()));
        ASSERT_EQ(playTcp(*clients.back(), path, path == "CH01").status, 200);
    }
    clients.push_back(std::make_unique<RtspClient>(server.port()));
    RtspReply v = clients.back()->request(setupUdpVideo("CH01/track1", 1, ports.port));
    ASSERT_EQ(clients.back()->request(play("CH01", sessionOf(v), 2)).status, 200);
    clients.push_back(std::make_unique<RtspClient>(server.port()));
    clients.back()->raw().send("DESCRIBE rtsp://127.0.0.1/CH01 RTSP/1.0\r\nCSe");  // half a request
    ASSERT_TRUE(eventually([&] { return server.activeSessions() == 3; }));

    EXPECT_LT(elapsedMs([&] { server.stop(); }), 1000);
    EXPECT_EQ(server.activeSessions(), 0u);
    for (auto &c : clients) EXPECT_TRUE(c->raw().endedByServer());
    clients.clear();
    ports.close();
    EXPECT_EQ(threads(), baseThreads);
    EXPECT_EQ(openDescriptors(), fds);
}

TEST(GetServerInfoTest, AnnouncesChannelsAndPort) {
    CgiServer web;
    ASSERT_TRUE(web.start());
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: ";
    {
        StreamingServer streaming;
        streaming.addChannel(mpeg4());
        streaming.addChannel(jpeg());
        ASSERT_TRUE(streaming.start());
        streaming.attachTo(web);
        const std::string body =
            "Channel=2<br>\r\nRtsp_Port=" + std::to_string(streaming.port()) + "<br>\r\n";
        EXPECT_EQ(exchange(web.port(), get("/GetServerInfo.cgi")),
                  head + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        streaming.addChannel(jpeg());
        streaming.attachTo(web, false);
    }
    // The server is gone; its last word stays.
    EXPECT_EQ(exchange(web.port(), get("/GetServerInfo.cgi")),
              head + "15\r\nConnection: close\r\n\r\nChannel=3<br>\r\n");
}

}  // namespace
