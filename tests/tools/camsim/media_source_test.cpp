#include "tools/camsim/media_source.h"

#include <gtest/gtest.h>

#include <string>

using namespace camsim;

namespace {

// Bytes per second and packets per frame over the first second of a channel's loop.
struct Rate {
    double kbps = 0, packetsPerFrame = 0;
    std::size_t largestFrame = 0;
};

Rate firstSecond(const ChannelConfig &config) {
    MediaLoop loop(config);
    EXPECT_TRUE(loop.ok());
    std::size_t bytes = 0, packets = 0;
    Rate rate;
    for (int n = 0; n < config.fps; ++n) {
        const MediaUnit *unit = loop.video(static_cast<uint64_t>(n));
        if (!unit) return {};
        std::size_t frame = 0;
        for (const std::string &p : unit->payloads) frame += p.size();
        bytes += frame;
        packets += unit->payloads.size();
        rate.largestFrame = std::max(rate.largestFrame, frame);
    }
    rate.kbps = bytes * 8.0 / 1000;
    rate.packetsPerFrame = static_cast<double>(packets) / config.fps;
    return rate;
}

TEST(MediaSourceTest, BitratesComeNearTheirTarget) {
    struct Case {
        ChannelConfig config;
        double low, high;  // kbit/s
    } cases[] = {
        // One second holds the key frame, which rate control spends a lot on.
        {{.width = 1280, .height = 720, .bitrateKbps = 4000}, 3000, 6000},
        {{.width = 1280, .height = 720, .bitrateKbps = 8000}, 6000, 11000},
        // x264 and x265 hold their rate from the first second, key frame and all; the NAL
        // unit headers of fragments come on top.
        {{.codec = ChannelConfig::Codec::H264, .width = 1280, .height = 720, .bitrateKbps = 4000},
         3400,
         4800},
        {{.codec = ChannelConfig::Codec::H265, .width = 1280, .height = 720, .bitrateKbps = 4000},
         3400,
         4800},
        {{.codec = ChannelConfig::Codec::H264, .width = 640, .height = 480, .bitrateKbps = 1500},
         1250,
         1800},
        // The RTP/JPEG headers come on top, and the tables in band.
        {{.codec = ChannelConfig::Codec::Jpeg, .width = 640, .height = 480, .bitrateKbps = 1800},
         1450,
         1900},
        {{.codec = ChannelConfig::Codec::Jpeg, .width = 640, .height = 480, .bitrateKbps = 4000},
         3200,
         4150},
        {{.codec = ChannelConfig::Codec::Jpeg,
          .width = 640,
          .height = 480,
          .jpegQ = 255,
          .bitrateKbps = 3000},
         2400,
         3200},
    };
    for (const Case &c : cases) {
#ifdef KESTREL_SANITIZED
        // Encoding 720p costs a minute under the sanitizers; the smaller streams run the same
        // rate control.
        if (c.config.width > 640) continue;
#endif
        const Rate rate = firstSecond(c.config);
        EXPECT_GE(rate.kbps, c.low) << c.config.bitrateKbps;
        EXPECT_LE(rate.kbps, c.high) << c.config.bitrateKbps;
        EXPECT_GT(rate.packetsPerFrame, 5) << c.config.bitrateKbps;  // frames of many packets
    }
}

}  // namespace
