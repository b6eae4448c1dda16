// An RTSP client for the streaming server's tests: exact request texts, replies and the
// interleaved frames between them, and RTP packets taken apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/camsim/camsim_client.h"

namespace kestrel_test {

struct RtspReply {
    std::string head, body;
    int status = 0;

    // The value of the first header of that name, "" when absent.
    std::string header(std::string_view name) const {
        std::string key = "\r\n" + std::string(name) + ": ";
        std::size_t at = head.find(key);
        if (at == std::string::npos) return {};
        at += key.size();
        return head.substr(at, head.find("\r\n", at) - at);
    }
};

struct Rtp {
    bool marker = false;
    int payloadType = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0, ssrc = 0;
    std::string payload;

    // Version 2 packets without CSRCs or extension, as the simulator sends them.
    static std::optional<Rtp> parse(const std::string &p) {
        if (p.size() < 12 || static_cast<uint8_t>(p[0]) != 0x80) return std::nullopt;
        auto at = [&](int i) { return static_cast<uint8_t>(p[i]); };
        Rtp r;
        r.marker = at(1) & 0x80;
        r.payloadType = at(1) & 0x7F;
        r.sequence = static_cast<uint16_t>(at(2) << 8 | at(3));
        r.timestamp = static_cast<uint32_t>(at(4)) << 24 | at(5) << 16 | at(6) << 8 | at(7);
        r.ssrc = static_cast<uint32_t>(at(8)) << 24 | at(9) << 16 | at(10) << 8 | at(11);
        r.payload = p.substr(12);
        return r;
    }
};

struct Interleaved {
    int channel = -1;
    std::string packet;
};

class RtspClient {
  public:
    explicit RtspClient(uint16_t port) : c_(port) {}

    Client &raw() { return c_; }

    // Sends text and reads the reply; interleaved frames before it are dropped.
    RtspReply request(const std::string &text, int timeoutMs = 5000) {
        c_.send(text);
        for (;;) {
            if (!fill(4, timeoutMs)) return {};
            if (in_[0] == '$') {
                if (!frame(timeoutMs)) return {};
                continue;
            }
            std::size_t end;
            while ((end = in_.find("\r\n\r\n")) == std::string::npos)
                if (!fill(in_.size() + 1, timeoutMs)) return {};
            RtspReply r;
            r.head = in_.substr(0, end + 4);
            std::string length = r.header("Content-Length");
            std::size_t n = length.empty() ? 0 : std::stoul(length);
            if (!fill(end + 4 + n, timeoutMs)) return {};
            r.body = in_.substr(end + 4, n);
            in_.erase(0, end + 4 + n);
            r.status = r.head.compare(0, 9, "RTSP/1.0 ") == 0 ? std::atoi(r.head.c_str() + 9) : 0;
            return r;
        }
    }

    // The next interleaved frame; nothing on silence, close or bytes that are no frame.
    std::optional<Interleaved> frame(int timeoutMs = 3000) {
        if (!fill(4, timeoutMs) || in_[0] != '$') return std::nullopt;
        std::size_t n = static_cast<uint8_t>(in_[2]) << 8 | static_cast<uint8_t>(in_[3]);
        if (!fill(4 + n, timeoutMs)) return std::nullopt;
        Interleaved f{static_cast<uint8_t>(in_[1]), in_.substr(4, n)};
        in_.erase(0, 4 + n);
        return f;
    }

    // The next n bytes as they are, taken.
    std::string take(std::size_t n, int timeoutMs = 3000) {
        fill(n, timeoutMs);
        std::string out = in_.substr(0, n);
        in_.erase(0, out.size());
        return out;
    }

  private:
    bool fill(std::size_t n, int timeoutMs) {
        if (in_.size() < n) in_ += c_.read(n - in_.size(), timeoutMs);
        return in_.size() >= n;
    }

    Client c_;
    std::string in_;
};

// The requests our library sends, byte for byte.
inline std::string describe(const std::string &path, int cseq,
                            const std::string &host = "127.0.0.1") {
    return "DESCRIBE rtsp://" + host + "/" + path + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
           "\r\n\r\n";
}
inline std::string setupTcpVideo(const std::string &path, int cseq) {
    return "SETUP rtsp://127.0.0.1/" + path + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
           "\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0\r\n\r\n";
}
inline std::string setupUdpVideo(const std::string &path, int cseq, int port) {
    return "SETUP rtsp://127.0.0.1/" + path + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
           "\r\nTransport: RTP/AVP/UDP;unicast;client_port=" + std::to_string(port) + "\r\n\r\n";
}
inline std::string setupTcpAudio(const std::string &path, const std::string &session, int cseq) {
    return "SETUP rtsp://127.0.0.1/" + path + " RTSP/1.0\r\nSession: " + session +
           "\r\nCSeq: " + std::to_string(cseq) +
           "\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2\r\n\r\n";
}
inline std::string setupUdpAudio(const std::string &path, const std::string &session, int cseq,
                                 int port) {
    return "SETUP rtsp://127.0.0.1/" + path + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
           "\r\nSession: " + session +
           "\r\nTransport: RTP/AVP/UDP;unicast;client_port=" + std::to_string(port) + "-" +
           std::to_string(port + 1) + "\r\n\r\n";
}
inline std::string play(const std::string &path, const std::string &session, int cseq) {
    return "PLAY rtsp://127.0.0.1/" + path + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
           "\r\nSession: " + session + "\r\n\r\n";
}
inline std::string teardown(const std::string &path, const std::string &session, int cseq) {
    return "TEARDOWN rtsp://127.0.0.1/" + path + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
           "\r\nSession: " + session + "\r\n\r\n\r\n";
}

// The session id of a SETUP reply, as our client reads it: up to ';' or the line's end.
inline std::string sessionOf(const RtspReply &r) {
    std::string s = r.header("Session");
    return s.substr(0, s.find(';'));
}

}  // namespace kestrel_test
