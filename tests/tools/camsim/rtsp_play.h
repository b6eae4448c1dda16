// A careful client's handshake against the streaming server: it follows Content-Base (or the
// request URL) and absolute controls, and reads whatever the server's quirks make of the
// replies. The quirk tests build on it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/camsim/rtsp_server.h"
#include "tools/camsim/rtsp_test_client.h"

namespace kestrel_test {

// The a=control of a media section ("video" or "audio"); "" when it has none.
inline std::string sdpControl(const std::string &sdp, const std::string &media) {
    const std::size_t section = sdp.find("m=" + media);
    if (section == std::string::npos) return {};
    const std::size_t next = sdp.find("m=", section + 2);
    const std::size_t at = sdp.find("a=control:", section);
    if (at == std::string::npos || at > next) return {};
    const std::size_t start = at + 10;
    return sdp.substr(start, sdp.find_first_of(" \t\r\n", start) - start);
}

// A relative control joined to its base as cameras expect: base, a '/' when it has none, the
// control; absolute controls as they are.
inline std::string joinControl(std::string base, const std::string &control) {
    if (control.starts_with("rtsp://")) return control;
    if (!base.ends_with('/')) base += '/';
    return base + control;
}

struct Played {
    RtspReply describe, setup, audioSetup, play;
    std::string base, videoUrl, session;
};

// DESCRIBE url, SETUP its video over TCP asking for channels 0-1 (and its audio asking for
// 2-3), PLAY.
inline Played playTcp(RtspClient &c, const std::string &url, bool audio = false) {
    Played p;
    p.describe = c.request("DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
    EXPECT_EQ(p.describe.status, 200) << url;
    p.base = p.describe.header("Content-Base");
    if (p.base.empty()) p.base = url;
    p.videoUrl = joinControl(p.base, sdpControl(p.describe.body, "video"));
    p.setup =
        c.request("SETUP " + p.videoUrl +
                  " RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
    EXPECT_EQ(p.setup.status, 200) << p.videoUrl;
    p.session = sessionOf(p.setup);
    if (audio) {
        p.audioSetup =
            c.request("SETUP " + joinControl(p.base, sdpControl(p.describe.body, "audio")) +
                      " RTSP/1.0\r\nCSeq: 4\r\nSession: " + p.session +
                      "\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n\r\n");
        EXPECT_EQ(p.audioSetup.status, 200);
    }
    p.play =
        c.request("PLAY " + p.base + " RTSP/1.0\r\nCSeq: 3\r\nSession: " + p.session + "\r\n\r\n");
    EXPECT_EQ(p.play.status, 200) << p.base;
    return p;
}

// Interleaved frames until n RTP packets of video have come (or the stream stops, or three
// seconds pass), sorted by channel.
struct Stream {
    std::vector<Rtp> video;
    std::vector<std::string> rawVideo;
    std::vector<Interleaved> others;  // every frame of another channel
};

inline Stream readStream(RtspClient &c, std::size_t n, int videoChannel = 0) {
    Stream s;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (s.video.size() < n && std::chrono::steady_clock::now() < until) {
        auto f = c.frame();
        if (!f) break;
        if (f->channel != videoChannel) {
            s.others.push_back(*f);
            continue;
        }
        auto rtp = Rtp::parse(f->packet);
        if (!rtp) break;
        s.video.push_back(*rtp);
        s.rawVideo.push_back(f->packet);
    }
    return s;
}

// The frames the packets make, split at the marker bit.
inline std::vector<std::string> framesOf(const std::vector<Rtp> &packets) {
    std::vector<std::string> frames(1);
    for (const Rtp &r : packets) {
        frames.back() += r.payload;
        if (r.marker) frames.emplace_back();
    }
    frames.pop_back();  // unfinished
    return frames;
}

// A client's RTP and RTCP sockets: an even port and the next.
struct UdpPorts {
    int rtp = -1, rtcp = -1;
    uint16_t port = 0;

    UdpPorts() {
        for (int attempt = 0; attempt < 50 && rtcp < 0; ++attempt) {
            close();
            rtp = bindUdp(0, &port);
            if (port % 2 == 0) rtcp = bindUdp(static_cast<uint16_t>(port + 1), nullptr);
        }
    }
    ~UdpPorts() { close(); }
    void close() {
        for (int fd : {rtp, rtcp})
            if (fd >= 0) ::close(fd);
        rtp = rtcp = -1;
    }
    static int bindUdp(uint16_t p, uint16_t *bound) {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{AF_INET, htons(p), {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t n = sizeof a;
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), n) != 0) return ::close(fd), -1;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
        if (bound) *bound = ntohs(a.sin_port);
        return fd;
    }
    // A datagram and the port it came from; nothing after timeoutMs.
    static std::optional<std::pair<std::string, uint16_t>> receive(int fd, int timeoutMs = 2000) {
        pollfd p{fd, POLLIN, 0};
        char buffer[2048];
        sockaddr_in from{};
        socklen_t n = sizeof from;
        if (poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
        ssize_t got =
            recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &n);
        if (got < 0) return std::nullopt;
        return std::make_pair(std::string(buffer, got), ntohs(from.sin_port));
    }
};

inline std::string rtspUrl(const camsim::StreamingServer &server, const std::string &path) {
    return "rtsp://127.0.0.1:" + std::to_string(server.port()) + path;
}

}  // namespace kestrel_test
