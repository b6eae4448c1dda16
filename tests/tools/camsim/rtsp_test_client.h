// An RTSP client for the streaming server's tests: exact request texts, replies and the
// interleaved frames between them, RTP packets taken apart, and Digest answers computed here
// (with libavutil's hashes) rather than by the server's code.
#pragma once

#include <strings.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include "tools/camsim/camsim_client.h"

namespace kestrel_test {

struct RtspReply {
    std::string head, body;
    int status = 0;

    // Every value of the headers of that name, whatever the case of the name and the blanks
    // after its colon.
    std::vector<std::string> headers(std::string_view name) const {
        std::vector<std::string> values;
        for (std::size_t at = head.find("\r\n"); at != std::string::npos;) {
            at += 2;
            const std::size_t end = head.find("\r\n", at);
            if (end == std::string::npos) break;
            const std::string_view line = std::string_view(head).substr(at, end - at);
            if (line.size() > name.size() && line[name.size()] == ':' &&
                strncasecmp(line.data(), name.data(), name.size()) == 0) {
                std::string_view value = line.substr(name.size() + 1);
                while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                    value.remove_prefix(1);
                values.emplace_back(value);
            }
            at = end;
        }
        return values;
    }
    // The first of them, "" when absent.
    std::string header(std::string_view name) const {
        auto all = headers(name);
        return all.empty() ? std::string() : all.front();
    }
};

struct Rtp {
    bool marker = false;
    int payloadType = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0, ssrc = 0;
    int extensionProfile = -1;  // -1: no extension
    std::size_t extensionBytes = 0;
    int padding = 0;
    std::string payload;  // without CSRCs, extension and padding

    // Version 2 packets, taken apart as RFC 3550 says; nothing when the lengths do not fit.
    static std::optional<Rtp> parse(const std::string &p) {
        if (p.size() < 12 || (static_cast<uint8_t>(p[0]) >> 6) != 2) return std::nullopt;
        auto at = [&](std::size_t i) { return static_cast<uint8_t>(p[i]); };
        Rtp r;
        r.marker = at(1) & 0x80;
        r.payloadType = at(1) & 0x7F;
        r.sequence = static_cast<uint16_t>(at(2) << 8 | at(3));
        r.timestamp = static_cast<uint32_t>(at(4)) << 24 | at(5) << 16 | at(6) << 8 | at(7);
        r.ssrc = static_cast<uint32_t>(at(8)) << 24 | at(9) << 16 | at(10) << 8 | at(11);
        std::size_t start = 12 + 4 * (at(0) & 0x0F), end = p.size();
        if (at(0) & 0x10) {
            if (start + 4 > end) return std::nullopt;
            r.extensionProfile = at(start) << 8 | at(start + 1);
            r.extensionBytes = 4 * static_cast<std::size_t>(at(start + 2) << 8 | at(start + 3));
            start += 4 + r.extensionBytes;
        }
        if (at(0) & 0x20) {
            r.padding = at(end - 1);
            if (r.padding == 0 || static_cast<std::size_t>(r.padding) > end) return std::nullopt;
            end -= static_cast<std::size_t>(r.padding);
        }
        if (start > end) return std::nullopt;
        r.payload = p.substr(start, end - start);
        return r;
    }
};

struct Interleaved {
    int channel = -1;
    std::string packet;
};

// What the server sends next on the connection: an interleaved frame or a message (a reply,
// or a request of the server's own).
struct Incoming {
    std::optional<Interleaved> frame;
    std::optional<RtspReply> message;
};

class RtspClient {
  public:
    explicit RtspClient(uint16_t port) : c_(port) {}

    Client &raw() { return c_; }

    // Sends text and reads the reply; interleaved frames before it are dropped.
    RtspReply request(const std::string &text, int timeoutMs = 5000) {
        c_.send(text);
        for (;;) {
            Incoming in = next(timeoutMs);
            if (in.message) return *in.message;
            if (!in.frame) return {};
        }
    }

    // The next frame or message; neither on silence, close or bytes that are neither.
    Incoming next(int timeoutMs = 3000) {
        if (!fill(4, timeoutMs)) return {};
        if (in_[0] == '$') return {frame(timeoutMs), std::nullopt};
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
        return {std::nullopt, r};
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

// Lower-case hex MD5 or SHA-256 of text.
inline std::string testDigest(bool sha256, const std::string &text) {
    uint8_t out[32];
    const auto *data = reinterpret_cast<const uint8_t *>(text.data());
    std::size_t n = 16;
    if (!sha256) {
        av_md5_sum(out, data, text.size());
    } else {
        std::unique_ptr<AVSHA, void (*)(void *)> sha(av_sha_alloc(), av_free);
        av_sha_init(sha.get(), 256);
        av_sha_update(sha.get(), data, text.size());
        av_sha_final(sha.get(), out);
        n = 32;
    }
    std::string hex;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", out[i]);
        hex += two;
    }
    return hex;
}

// The value of name="..." or name=token in a challenge; "" when absent.
inline std::string challengeParam(const std::string &challenge, const std::string &name) {
    for (std::size_t at = challenge.find(name + "="); at != std::string::npos;
         at = challenge.find(name + "=", at + 1)) {
        if (at > 0 && challenge[at - 1] != ' ' && challenge[at - 1] != ',') continue;
        std::size_t start = at + name.size() + 1;
        if (challenge[start] == '"')
            return challenge.substr(start + 1, challenge.find('"', start + 1) - start - 1);
        return challenge.substr(start, challenge.find_first_of(", ", start) - start);
    }
    return {};
}

// What a client answers to a Digest challenge; the fields can be spoilt one by one.
struct DigestAnswer {
    std::string user = "admin", password = "secret", method, uri;
    std::string nc = "00000001", cnonce = "0a4f113b";
    bool sha256 = false;
    bool qop = true;  // answer with qop when the challenge offers it

    std::string header(const std::string &challenge) const {
        const std::string realm = challengeParam(challenge, "realm"),
                          nonce = challengeParam(challenge, "nonce"),
                          opaque = challengeParam(challenge, "opaque");
        const bool withQop = qop && !challengeParam(challenge, "qop").empty();
        const std::string ha1 = testDigest(sha256, user + ":" + realm + ":" + password);
        const std::string ha2 = testDigest(sha256, method + ":" + uri);
        const std::string response =
            withQop
                ? testDigest(sha256, ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2)
                : testDigest(sha256, ha1 + ":" + nonce + ":" + ha2);
        std::string h = "Authorization: Digest username=\"" + user + "\", realm=\"" + realm +
                        "\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"" + response +
                        "\", algorithm=" + (sha256 ? "SHA-256" : "MD5");
        if (!opaque.empty()) h += ", opaque=\"" + opaque + "\"";
        if (withQop) h += ", qop=auth, nc=" + nc + ", cnonce=\"" + cnonce + "\"";
        return h + "\r\n";
    }
};

}  // namespace kestrel_test
