// Sessions against a simulated camera whose network or encoder misbehaves in one way per row.
// Each row plays through the whole library while FFmpeg plays a twin of the same server beside
// it as the yardstick: what we deliver must decode, the session must hold (one connection, no
// time-out on the server), and we must show about as many of the pictures as FFmpeg shows.
// The rows run side by side, so the suite waits for them once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camsim/rtsp_server.h"
#include "core/session.h"
#include "ipcam.h"
#include "support/command_output.h"
#include "support/frame_collector.h"
#include "support/media.h"
#include "support/scoped_timeouts.h"
#include "support/tcp_states.h"

using namespace kestrel_test;
using camsim::ChannelConfig;
using Clock = std::chrono::steady_clock;

// Named, so that its names stay its own in the batched test build.
namespace network_conditions {
namespace {

constexpr int kRunSeconds = 6;
#if defined(__SANITIZE_THREAD__)
constexpr uint32_t kReceiveTimeoutMs = 10000;  // the race detector slows every thread manifold
#else
constexpr uint32_t kReceiveTimeoutMs = 3000;
#endif

struct Row {
    const char *name;
    ChannelConfig channel;
    bool udp = true;
    double ofSent = 0.9;     // our pictures against those the camera sent in our time
    double ofFfmpeg = 0.95;  // our share against FFmpeg's; below 0: FFmpeg is not asked
    int maxDamaged = 0;      // pictures the decoder finds damaged or keeps; below 0: any number
    std::size_t connections = 1;
    std::size_t minKeepAlives = 0;
    bool steadyTimes = false;  // frame times rise and keep in step with the arrivals
};

ChannelConfig h264(camsim::StreamFaults faults = {}) {
    ChannelConfig c;
    c.codec = ChannelConfig::Codec::H264;
    c.width = 320;
    c.height = 240;
    c.fps = 15;
    c.faults = faults;
    return c;
}

// Damaged pictures over a run with losses: libavcodec shows no H.264 picture between a lost
// IDR picture and the next (their order counts start from the one lost), a second each time.
constexpr int kLossDamage = 30;

std::vector<Row> rows() {
    using Faults = camsim::StreamFaults;
    std::vector<Row> r;
    r.push_back({"H.264 over UDP, nothing wrong", h264()});
    r.push_back({"H.264 interleaved, nothing wrong", h264(), false});
    r.push_back(
        {"H.264 interleaved, stray bytes between blocks", h264({.garbageAfterFrames = 20}), false});
    // The camera's clock runs off ours, by more than cameras do, so that the clocks part by a
    // second within the run. FFmpeg's -t counts the stream's seconds: with a slow clock it
    // shows more pictures than were sent in ours.
    r.push_back({"H.264 over UDP, camera clock 25 % fast", h264({.rtpClockPercent = 125}), true,
                 0.9, 0.95, 0, 1, 0, true});
    r.push_back({"H.264 over UDP, camera clock 20 % slow", h264({.rtpClockPercent = 80}), true, 0.9,
                 0.7, 0, 1, 0, true});
    r.push_back({"H.264 interleaved, camera clock 25 % fast", h264({.rtpClockPercent = 125}), false,
                 0.9, 0.95, 0, 1, 0, true});
    // A loss costs the picture it hit; those after it come behind a damage message, for the
    // decoder to conceal. FFmpeg decodes what arrived of the damaged picture as well, hence
    // the lower share of FFmpeg's, and the decoder may show damage up to the next key frame.
    ChannelConfig lossy = h264({.dropEveryNth = 300});
    lossy.bitrateKbps = 2000;  // a dozen packets a picture: a loss every second or two
    r.push_back({"H.264, a loss every 300 packets", lossy, true, 0.9, 0.9, kLossDamage});
    lossy.codec = ChannelConfig::Codec::H265;
    r.push_back({"H.265, a loss every 300 packets", lossy, true, 0.9, 0.9, kLossDamage});
    lossy.codec = ChannelConfig::Codec::Mpeg4;
    lossy.faults.dropEveryNth = 150;  // its pictures are smaller
    r.push_back({"MPEG-4, a loss every 150 packets", lossy, true, 0.9, 0.9, kLossDamage});
    // Periodic intra refresh, joined between two recovery points: no IDR picture ever comes.
    ChannelConfig refresh = h264();
    refresh.intraRefresh = refresh.live = true;
    refresh.startFrame = 7;
    // The first sweep after the recovery point decodes from what it has refreshed so far.
    r.push_back({"H.264 intra refresh, joined mid-stream", refresh, true, 0.9, 0.95, 15});
    r.push_back({.name = "H.264 over UDP, no marker bits, server time-out 3 s",
                 .channel = h264(Faults{.noMarker = true, .sessionTimeout = 3}),
                 .minKeepAlives = 4});
    // FFmpeg 5.1 shows nothing after the change and may hang there: not asked.
    r.push_back({"H.264 over UDP, the encoder restarts under a new SSRC",
                 h264(Faults{.newSsrcAfterFrames = 40}), true, 0.9, -1});
    r.push_back({"H.264 over UDP, RTP from another port", h264(Faults{.rtpFromOtherPort = true})});
    r.push_back(
        {"H.264 over UDP, SETUP reply without server_port", h264(Faults{.noServerPort = true})});
    ChannelConfig swapped = h264(Faults{.swapEveryNth = 40});
    swapped.width = 640, swapped.height = 480, swapped.bitrateKbps = 3000;
    r.push_back({"H.264 over UDP, every 40th packet after its successor", swapped});
    r.push_back({"H.264 over UDP, key frames padded to 3 MB in one burst",
                 h264(Faults{.keyFramePadding = 3'000'000})});
    return r;
}

struct Outcome {
    int pictures = 0;
    double share = 0;  // of the pictures the camera sent meanwhile
};

struct Played {
    Row row;
    camsim::StreamingServer ours, yardstick;
    FrameCollector collector;
    IPCamSession *session = nullptr;
    std::thread ffmpeg;  // plays the yardstick when FFmpeg is asked
    std::string ffmpegSaid;
};

std::string urlOf(const camsim::StreamingServer &server) {
    return "rtsp://127.0.0.1:" + std::to_string(server.port()) + "/CH01";
}

// FFmpeg's pictures in kRunSeconds of the stream: the last "frame=" of its statistics.
Outcome ffmpegOutcome(const Played &p) {
    Outcome o;
    const std::size_t at = p.ffmpegSaid.rfind("frame=");
    if (at == std::string::npos) return o;
    o.pictures = std::atoi(p.ffmpegSaid.c_str() + at + 6);
    o.share = o.pictures / double(p.row.channel.fps * kRunSeconds);
    return o;
}

// Our pictures from the first key frame on until the end of the run, in the order they came.
std::vector<std::string> pictures(const FrameCollector &collector, Clock::time_point until,
                                  Clock::time_point &first) {
    std::vector<std::string> got;
    for (const Delivered &d : collector.frames()) {
        if (d.arrival > until) break;
        if (got.empty() && d.kind != IPCAM_FRAME_KEY) continue;
        if (got.empty()) first = d.arrival;
        if (d.kind == IPCAM_FRAME_KEY || d.kind == IPCAM_FRAME_DEPENDENT ||
            d.kind == IPCAM_FRAME_DROPPABLE)
            got.push_back(d.payload);
    }
    return got;
}

DecodeCount decoded(ChannelConfig::Codec codec, const std::vector<std::string> &got) {
    if (codec != ChannelConfig::Codec::Jpeg)
        return decodeConcealing(codec == ChannelConfig::Codec::H264   ? TestCodec::H264
                                : codec == ChannelConfig::Codec::H265 ? TestCodec::H265
                                                                      : TestCodec::Mpeg4,
                                got);
    DecodeCount count;
    for (const std::string &picture : got)
        (decodeJpeg(picture).ok ? count.pictures : count.damaged)++;
    return count;
}

// Where frame times of the pictures from the first key frame on go back, or step apart from
// the arrivals by nearly the second at which a clock would be taken for broken; "" when
// nowhere.
std::string unsteadyTimes(const FrameCollector &collector) {
    const Delivered *last = nullptr;
    for (const Delivered &d : collector.frames()) {
        if (d.kind != IPCAM_FRAME_KEY && d.kind != IPCAM_FRAME_DEPENDENT) continue;
        if (!last && d.kind != IPCAM_FRAME_KEY) continue;
        if (last) {
            const double step = (double(d.time) - double(last->time)) / 1e7,
                         arrived = std::chrono::duration<double>(d.arrival - last->arrival).count();
            if (step <= 0 || std::abs(step - arrived) > 0.85)
                return "a step of " + std::to_string(step) + " s after " + std::to_string(arrived) +
                       " s";
        }
        last = &d;
    }
    return "";
}

std::size_t requestsOf(const camsim::StreamingServer &server,
                       std::initializer_list<const char *> methods) {
    std::size_t n = 0;
    for (const auto &request : server.rtspRequests())
        for (const char *method : methods) n += request.method == method;
    return n;
}

TEST(NetworkConditions, EveryRowPlaysAboutAsWellAsFfmpegAndHolds) {
    const bool withFfmpeg = onPath("ffmpeg");
    ScopedTimeouts timeouts(kReceiveTimeoutMs);
    std::vector<std::unique_ptr<Played>> played;
    int id = 7400;
    for (const Row &row : rows()) {
        auto p = std::make_unique<Played>();
        p->row = row;
        ASSERT_FALSE(p->ours.addChannel(row.channel).empty()) << row.name;
        ASSERT_TRUE(p->ours.start()) << row.name;
        ASSERT_EQ(IPCamCreateUrl(&p->session, urlOf(p->ours).c_str(), nullptr, nullptr, ++id), 0);
        IPCamSetTransport(p->session, row.udp ? 1 : 0, 0);
        ASSERT_EQ(
            IPCamAction(p->session, &FrameCollector::callback, &p->collector, IPCAM_ACTION_VIDEO),
            0);
        if (withFfmpeg && row.ofFfmpeg >= 0) {
            ASSERT_FALSE(p->yardstick.addChannel(row.channel).empty());
            ASSERT_TRUE(p->yardstick.start());
            p->ffmpeg = std::thread([p = p.get()] {
                p->ffmpegSaid =
                    commandOutput(std::string("ffmpeg -nostdin -v error -stats -rtsp_transport ") +
                                      (p->row.udp ? "udp" : "tcp") + " -i " + urlOf(p->yardstick) +
                                      " -t " + std::to_string(kRunSeconds) + " -f null -",
                                  kRunSeconds + 15);
            });
        }
        played.push_back(std::move(p));
    }
    const Clock::time_point started = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kRunSeconds));
    const Clock::time_point ended = Clock::now();
    for (const auto &p : played)
        if (p->ffmpeg.joinable()) p->ffmpeg.join();

    for (const auto &p : played) {
        const Row &row = p->row;
        SCOPED_TRACE(row.name);
        Clock::time_point first = ended;
        const std::vector<std::string> got = pictures(p->collector, ended, first);
        const double seconds = std::chrono::duration<double>(ended - first).count();
        const Outcome ours{int(got.size()), got.size() / std::max(1.0, seconds * row.channel.fps)};
        const DecodeCount count = decoded(row.channel.codec, got);
        // Every picture delivered comes out of the decoder; one that does not counts as damaged.
        const int damaged =
            count.damaged + std::max(0, ours.pictures - count.pictures - count.damaged);
        const Outcome theirs = ffmpegOutcome(*p);
        std::printf(
            "%-50s kestrel %4d pictures (%3.0f %%), %d damaged; ffmpeg %4d (%3.0f %%); "
            "first picture after %.2f s\n",
            row.name, ours.pictures, 100 * ours.share, damaged, theirs.pictures, 100 * theirs.share,
            std::chrono::duration<double>(first - started).count());
        EXPECT_GE(ours.share, row.ofSent) << "status " << IPCamGetLastError(p->session);
        if (withFfmpeg && row.ofFfmpeg >= 0) {
            EXPECT_GT(theirs.pictures, 0) << p->ffmpegSaid;
            EXPECT_GE(ours.share, row.ofFfmpeg * theirs.share);
        }
        if (row.maxDamaged >= 0) {
            EXPECT_LE(damaged, row.maxDamaged);
        }
        EXPECT_LE(requestsOf(p->ours, {"DESCRIBE"}), row.connections) << "the session was lost";
        EXPECT_EQ(p->ours.statistics().sessionsTimedOut, 0u) << "no keep-alive reached the server";
        EXPECT_GE(requestsOf(p->ours, {"OPTIONS", "GET_PARAMETER"}), row.minKeepAlives);
        const camsim::RtspStatistics stats = p->ours.statistics();
        EXPECT_GT(stats.rtcpValid, 0u) << "no receiver report reached the server";
        EXPECT_EQ(stats.rtcpInvalid, 0u) << stats.lastRtcpProblem;
        if (row.steadyTimes) {
            EXPECT_EQ(unsteadyTimes(p->collector), "");
        }
        // The device's reports are read as they come, not left to pile up (one may be on
        // its way).
        if (row.udp) {
            EXPECT_LT(udpQueuedAt(static_cast<uint16_t>(p->session->clientPortBase + 1)), 2048);
        }
    }
    EXPECT_EQ(IPCamAllDelete(), 0);
    for (const auto &p : played) {
        p->ours.stop();
        p->yardstick.stop();
    }
}

}  // namespace
}  // namespace network_conditions
