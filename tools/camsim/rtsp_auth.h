// Authentication of the streaming server: Basic and Digest (MD5, SHA-256; with or without
// qop) challenges, and a strict check of every answer.
//
// The hashes come from libavutil, not from the library under test, so a fault in the
// library's Digest code cannot hide behind the same fault here. Every 401 carries a fresh
// nonce and opaque; an answer must name a nonce this server gave, with the algorithm offered
// with it, the realm, the account, exactly the request's URI, the opaque, and (with qop) a
// cnonce and a nonce count above every count already taken for that nonce. A correct answer
// with a nonce older than staleAfterSeconds is answered 401 with stale=true.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/http_message.h"

namespace camsim {

enum class DigestAlgorithm { Md5, Sha256 };

struct RtspAuthConfig {
    // What a 401 offers, one WWW-Authenticate header each, in this order.
    enum class Scheme {
        None,                // no authentication
        Basic,               // Basic
        DigestMd5,           // Digest MD5
        DigestSha256,        // Digest SHA-256
        DigestBoth,          // Digest MD5, Digest SHA-256
        DigestBothShaFirst,  // Digest SHA-256, Digest MD5
        BasicDigest,         // Basic, Digest MD5
        DigestBasic,         // Digest MD5, Basic
    };

    Scheme scheme = Scheme::None;
    std::string user = "admin", password = "secret";
    std::string realm = "camsim";
    bool qop = true;            // Digest offers qop="auth"; false: the RFC 2069 form
    int staleAfterSeconds = 0;  // 0: nonces do not go stale
};

// The --rtsp-auth names: "basic", "digest-md5", "digest-sha256", "digest-both",
// "digest-both-sha-first", "basic+digest", "digest+basic", and "none".
std::optional<RtspAuthConfig::Scheme> parseAuthScheme(std::string_view name);

struct AuthStatistics {
    std::size_t accepted = 0;    // requests whose answer was right
    std::size_t refused = 0;     // answers that were wrong, or of a scheme not offered
    std::size_t stale = 0;       // right answers with a stale nonce
    std::size_t challenged = 0;  // requests without an Authorization header
};

// Lower-case hex of the hash of text.
std::string digestHash(DigestAlgorithm algorithm, std::string_view text);

// The parameters of an Authorization or WWW-Authenticate value after its scheme word:
// name=token or name="quoted \"string\"", separated by commas. Names are lower-cased.
// Nothing when malformed or a name repeats.
std::optional<std::map<std::string, std::string>> parseAuthParams(std::string_view text);

// The response a Digest answer must carry: with qop "auth" H(H(A1):nonce:nc:cnonce:qop:H(A2)),
// without H(H(A1):nonce:H(A2)); A1 is user:realm:password, A2 method:uri.
std::string digestResponse(DigestAlgorithm algorithm,
                           const std::map<std::string, std::string> &answer,
                           std::string_view method, std::string_view password);

class RtspAuthenticator {
  public:
    void configure(const RtspAuthConfig &config);
    RtspAuthConfig config() const;

    // Nothing when the request may pass; else the WWW-Authenticate values of the 401 to send.
    std::optional<std::vector<std::string>> check(const RecordedRequest &request);

    AuthStatistics statistics() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Nonce {
        Clock::time_point issued;
        std::vector<DigestAlgorithm> algorithms;
        std::string opaque;
        uint64_t lastCount = 0;  // the highest nc taken
    };
    enum class Verdict { Accepted, Refused, Stale };

    Verdict verifyBasic(std::string_view credentials) const;
    Verdict verifyDigest(std::string_view params, const RecordedRequest &request);
    std::vector<std::string> challenges(bool stale);
    std::string randomHex(int bytes);

    mutable std::mutex lock_;
    RtspAuthConfig config_;                           // lock_
    std::map<std::string, Nonce> nonces_;             // lock_; the last kKeptNonces given
    std::deque<std::string> issued_;                  // lock_; nonces in the order given
    AuthStatistics statistics_;                       // lock_
    std::mt19937_64 random_{std::random_device{}()};  // lock_
};

}  // namespace camsim
