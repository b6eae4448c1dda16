#include "tools/camsim/rtsp_auth.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <utility>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include "tools/camsim/base64.h"

namespace camsim {

namespace {

using Scheme = RtspAuthConfig::Scheme;

constexpr std::size_t kKeptNonces = 1024;

constexpr std::pair<std::string_view, Scheme> kSchemeNames[] = {
    {"none", Scheme::None},
    {"basic", Scheme::Basic},
    {"digest-md5", Scheme::DigestMd5},
    {"digest-sha256", Scheme::DigestSha256},
    {"digest-both", Scheme::DigestBoth},
    {"digest-both-sha-first", Scheme::DigestBothShaFirst},
    {"basic+digest", Scheme::BasicDigest},
    {"digest+basic", Scheme::DigestBasic},
};

// One challenge of a 401: Basic, or Digest with an algorithm.
struct Offer {
    bool basic;
    DigestAlgorithm algorithm;
};

std::vector<Offer> offers(Scheme scheme) {
    constexpr Offer kBasic{true, DigestAlgorithm::Md5}, kMd5{false, DigestAlgorithm::Md5},
        kSha{false, DigestAlgorithm::Sha256};
    switch (scheme) {
        case Scheme::None:
            return {};
        case Scheme::Basic:
            return {kBasic};
        case Scheme::DigestMd5:
            return {kMd5};
        case Scheme::DigestSha256:
            return {kSha};
        case Scheme::DigestBoth:
            return {kMd5, kSha};
        case Scheme::DigestBothShaFirst:
            return {kSha, kMd5};
        case Scheme::BasicDigest:
            return {kBasic, kMd5};
        case Scheme::DigestBasic:
            return {kMd5, kBasic};
    }
    return {};
}

std::string_view algorithmName(DigestAlgorithm a) {
    return a == DigestAlgorithm::Md5 ? "MD5" : "SHA-256";
}

std::string hex(const uint8_t *bytes, std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "Digest ..." into "Digest" and what follows the blanks after it.
std::pair<std::string_view, std::string_view> splitScheme(std::string_view value) {
    const std::size_t blank = value.find_first_of(" \t");
    if (blank == std::string_view::npos) return {value, {}};
    std::string_view rest = value.substr(blank);
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t")));
    return {value.substr(0, blank), rest};
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Eight hex digits, as nc is written.
std::optional<uint64_t> nonceCount(std::string_view text) {
    uint64_t n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n, 16);
    if (text.size() != 8 || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return n;
}

}  // namespace

std::optional<Scheme> parseAuthScheme(std::string_view name) {
    for (const auto &[text, scheme] : kSchemeNames)
        if (text == name) return scheme;
    return std::nullopt;
}

std::string digestHash(DigestAlgorithm algorithm, std::string_view text) {
    const auto *data = reinterpret_cast<const uint8_t *>(text.data());
    uint8_t digest[32];
    if (algorithm == DigestAlgorithm::Md5) {
        av_md5_sum(digest, data, text.size());
        return hex(digest, 16);
    }
    std::unique_ptr<AVSHA, void (*)(void *)> sha(av_sha_alloc(), av_free);
    if (!sha || av_sha_init(sha.get(), 256) < 0) return {};
    av_sha_update(sha.get(), data, text.size());
    av_sha_final(sha.get(), digest);
    return hex(digest, 32);
}

std::optional<std::map<std::string, std::string>> parseAuthParams(std::string_view text) {
    std::map<std::string, std::string> params;
    for (;;) {
        text = trimBlanks(text);
        if (text.empty()) return params;
        const std::size_t eq = text.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        std::string name(trimBlanks(text.substr(0, eq)));
        if (name.empty() || name.find_first_of(" \t,\"") != std::string::npos) return std::nullopt;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        text = trimBlanks(text.substr(eq + 1));
        std::string value;
        if (text.starts_with('"')) {
            std::size_t i = 1;
            for (; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && ++i == text.size()) return std::nullopt;
                value += text[i];
            }
            if (i == text.size()) return std::nullopt;  // unterminated
            text.remove_prefix(i + 1);
        } else {
            const std::size_t comma = std::min(text.size(), text.find(','));
            value = trimBlanks(text.substr(0, comma));
            if (value.empty() || value.find_first_of(" \t\"") != std::string::npos)
                return std::nullopt;
            text.remove_prefix(comma);
        }
        if (!params.emplace(std::move(name), std::move(value)).second) return std::nullopt;
        text = trimBlanks(text);
        if (text.empty()) return params;
        if (text.front() != ',') return std::nullopt;
        text.remove_prefix(1);
    }
}

std::string digestResponse(DigestAlgorithm algorithm,
                           const std::map<std::string, std::string> &answer,
                           std::string_view method, std::string_view password) {
    auto field = [&](const char *name) {
        auto it = answer.find(name);
        return it == answer.end() ? std::string() : it->second;
    };
    auto h = [&](const std::string &text) { return digestHash(algorithm, text); };
    const std::string ha1 =
        h(field("username") + ":" + field("realm") + ":" + std::string(password));
    const std::string ha2 = h(std::string(method) + ":" + field("uri"));
    if (answer.contains("qop"))
        return h(ha1 + ":" + field("nonce") + ":" + field("nc") + ":" + field("cnonce") + ":" +
                 field("qop") + ":" + ha2);
    return h(ha1 + ":" + field("nonce") + ":" + ha2);
}

void RtspAuthenticator::configure(const RtspAuthConfig &config) {
    std::lock_guard guard(lock_);
    config_ = config;
    nonces_.clear();
    issued_.clear();
}

RtspAuthConfig RtspAuthenticator::config() const {
    std::lock_guard guard(lock_);
    return config_;
}

AuthStatistics RtspAuthenticator::statistics() const {
    std::lock_guard guard(lock_);
    return statistics_;
}

std::optional<std::vector<std::string>> RtspAuthenticator::check(const RecordedRequest &request) {
    std::lock_guard guard(lock_);
    const std::vector<Offer> offered = offers(config_.scheme);
    if (offered.empty()) return std::nullopt;
    const std::string answer = request.header("Authorization");
    if (answer.empty()) {
        ++statistics_.challenged;
        return challenges(false);
    }
    auto [scheme, rest] = splitScheme(answer);
    const bool basicOffered =
        std::any_of(offered.begin(), offered.end(), [](const Offer &o) { return o.basic; });
    const bool digestOffered =
        std::any_of(offered.begin(), offered.end(), [](const Offer &o) { return !o.basic; });
    Verdict verdict = Verdict::Refused;
    if (sameNoCase(scheme, "Basic") && basicOffered)
        verdict = verifyBasic(rest);
    else if (sameNoCase(scheme, "Digest") && digestOffered)
        verdict = verifyDigest(rest, request);
    switch (verdict) {
        case Verdict::Accepted:
            ++statistics_.accepted;
            return std::nullopt;
        case Verdict::Stale:
            ++statistics_.stale;
            return challenges(true);
        case Verdict::Refused:
            break;
    }
    ++statistics_.refused;
    return challenges(false);
}

RtspAuthenticator::Verdict RtspAuthenticator::verifyBasic(std::string_view credentials) const {
    auto decoded = decodeBase64(trimBlanks(credentials));
    return decoded && *decoded == config_.user + ":" + config_.password ? Verdict::Accepted
                                                                        : Verdict::Refused;
}

RtspAuthenticator::Verdict RtspAuthenticator::verifyDigest(std::string_view text,
                                                           const RecordedRequest &request) {
    auto params = parseAuthParams(text);
    if (!params) return Verdict::Refused;
    auto &p = *params;
    auto nonce = nonces_.find(p["nonce"]);
    if (nonce == nonces_.end() || p["username"] != config_.user || p["realm"] != config_.realm ||
        p["uri"] != request.target || !p.contains("response"))
        return Verdict::Refused;
    Nonce &n = nonce->second;

    // No algorithm means MD5; either way it must be one offered with this nonce.
    const std::string name = p.contains("algorithm") ? p["algorithm"] : "MD5";
    auto algorithm = std::find_if(n.algorithms.begin(), n.algorithms.end(), [&](DigestAlgorithm a) {
        return sameNoCase(name, algorithmName(a));
    });
    if (algorithm == n.algorithms.end()) return Verdict::Refused;
    if (!n.opaque.empty() && (!p.contains("opaque") || p["opaque"] != n.opaque))
        return Verdict::Refused;

    std::optional<uint64_t> count;
    if (config_.qop) {
        count = nonceCount(p["nc"]);
        if (p["qop"] != "auth" || !count || *count <= n.lastCount || p["cnonce"].empty())
            return Verdict::Refused;
    } else if (p.contains("qop") || p.contains("nc") || p.contains("cnonce")) {
        return Verdict::Refused;
    }
    if (p["response"] != digestResponse(*algorithm, p, request.method, config_.password))
        return Verdict::Refused;
    if (count) n.lastCount = *count;
    if (config_.staleAfterSeconds > 0 &&
        Clock::now() - n.issued >= std::chrono::seconds(config_.staleAfterSeconds))
        return Verdict::Stale;
    return Verdict::Accepted;
}

std::vector<std::string> RtspAuthenticator::challenges(bool stale) {
    Nonce nonce{Clock::now(), {}, randomHex(8), 0};
    const std::string id = randomHex(16);
    std::vector<std::string> values;
    for (const Offer &offer : offers(config_.scheme)) {
        if (offer.basic) {
            values.push_back("Basic realm=\"" + config_.realm + "\"");
            continue;
        }
        nonce.algorithms.push_back(offer.algorithm);
        std::string value = "Digest realm=\"" + config_.realm + "\", nonce=\"" + id +
                            "\", algorithm=" + std::string(algorithmName(offer.algorithm));
        if (config_.qop) value += ", qop=\"auth\"";
        value += ", opaque=\"" + nonce.opaque + "\"";
        if (stale) value += ", stale=true";
        values.push_back(std::move(value));
    }
    if (!nonce.algorithms.empty()) {
        nonces_.emplace(id, std::move(nonce));
        issued_.push_back(id);
        if (issued_.size() > kKeptNonces) {
            nonces_.erase(issued_.front());
            issued_.pop_front();
        }
    }
    return values;
}

std::string RtspAuthenticator::randomHex(int bytes) {
    std::string out;
    for (int i = 0; i < bytes; i += 8) {
        const uint64_t word = random_();
        uint8_t raw[8];
        for (int b = 0; b < 8; ++b) raw[b] = static_cast<uint8_t>(word >> (8 * b));
        out += hex(raw, static_cast<std::size_t>(std::min(8, bytes - i)));
    }
    return out;
}

}  // namespace camsim
