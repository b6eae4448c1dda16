#include "core/http_auth.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "control/base64.h"
#include "core/hashes.h"
#include "core/text_case.h"
#include "transport/rtsp_reply.h"

namespace ipcam {

namespace {

constexpr bool isTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

struct AlgorithmName {
    std::string_view name;
    DigestAlgorithm algorithm;
};
constexpr AlgorithmName kAlgorithms[] = {
    {"MD5", DigestAlgorithm::Md5},
    {"MD5-sess", DigestAlgorithm::Md5Sess},
    {"SHA-256", DigestAlgorithm::Sha256},
    {"SHA-256-sess", DigestAlgorithm::Sha256Sess},
};

DigestAlgorithm algorithmOf(std::string_view name) {
    for (const AlgorithmName &a : kAlgorithms)
        if (equalsNoCase(name, a.name)) return a.algorithm;
    return DigestAlgorithm::Unsupported;
}

// Reads one WWW-Authenticate value: challenges and their parameters.
class ChallengeReader {
  public:
    explicit ChallengeReader(std::string_view text) : text_(text) {}

    void readInto(std::vector<Challenge> &out) {
        bool open = false, broken = false;
        Challenge current;
        const auto close = [&] {
            if (open && !broken && out.size() < kMaxChallenges) out.push_back(current);
            open = broken = false;
        };
        while (skip(" \t,"), at_ < text_.size()) {
            const std::string_view name = token();
            if (name.empty()) {  // not a token: skip to the next element
                skipPast(',');
                continue;
            }
            skip(" \t");
            if (open && at_ < text_.size() && text_[at_] == '=') {
                ++at_;
                skip(" \t");
                std::string value;
                if (!this->value(value)) broken = true;
                setParameter(current, name, value);
                continue;
            }
            close();
            current = Challenge{};
            current.schemeName = name;
            current.scheme = equalsNoCase(name, "Basic")    ? AuthScheme::Basic
                             : equalsNoCase(name, "Digest") ? AuthScheme::Digest
                                                            : AuthScheme::Other;
            open = true;
        }
        close();
    }

  private:
    void skip(std::string_view set) {
        while (at_ < text_.size() && set.find(text_[at_]) != std::string_view::npos) ++at_;
    }
    void skipPast(char c) {
        while (at_ < text_.size() && text_[at_] != c) ++at_;
    }
    std::string_view token() {
        const std::size_t start = at_;
        while (at_ < text_.size() && isTokenChar(text_[at_])) ++at_;
        return text_.substr(start, at_ - start);
    }
    // A quoted string (backslash escapes) or a bare value up to a comma or blank. False when
    // it is unterminated or longer than kMaxAuthParameter.
    bool value(std::string &out) {
        if (at_ < text_.size() && text_[at_] == '"') {
            for (++at_; at_ < text_.size(); ++at_) {
                char c = text_[at_];
                if (c == '"') {
                    ++at_;
                    return out.size() <= kMaxAuthParameter;
                }
                if (c == '\\' && at_ + 1 < text_.size()) c = text_[++at_];
                if (out.size() <= kMaxAuthParameter) out.push_back(c);
            }
            return false;
        }
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != ' ' && text_[at_] != '\t')
            ++at_;
        out.assign(text_.substr(start, at_ - start));
        return out.size() <= kMaxAuthParameter;
    }

    static void setParameter(Challenge &c, std::string_view name, std::string &value) {
        if (equalsNoCase(name, "realm")) {
            c.realm = std::move(value);
        } else if (equalsNoCase(name, "nonce")) {
            c.nonce = std::move(value);
        } else if (equalsNoCase(name, "opaque")) {
            c.opaque = std::move(value);
            c.hasOpaque = true;
        } else if (equalsNoCase(name, "algorithm")) {
            c.algorithm = algorithmOf(value);
            c.algorithmName = std::move(value);
        } else if (equalsNoCase(name, "stale")) {
            c.stale = equalsNoCase(value, "true");
        } else if (equalsNoCase(name, "qop")) {
            c.qopOffered = true;
            std::string_view list = value;
            while (!list.empty()) {
                const std::size_t comma = list.find(',');
                c.qopAuth = c.qopAuth || equalsNoCase(trimBlanks(list.substr(0, comma)), "auth");
                list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

int strength(const Challenge &c) {
    if (c.scheme == AuthScheme::Basic) return 1;
    const bool sha =
        c.algorithm == DigestAlgorithm::Sha256 || c.algorithm == DigestAlgorithm::Sha256Sess;
    return sha ? 3 : 2;
}

bool isSessionAlgorithm(DigestAlgorithm a) {
    return a == DigestAlgorithm::Md5Sess || a == DigestAlgorithm::Sha256Sess;
}

std::string digestHex(DigestAlgorithm a, std::string_view text) {
    return a == DigestAlgorithm::Sha256 || a == DigestAlgorithm::Sha256Sess ? sha256Hex(text)
                                                                            : md5Hex(text);
}

// A quoted-string: backslash before '"' and '\'.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// Line ends and other control characters, which would break the request's header.
bool hasControl(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) return true;
    return false;
}

std::string randomCnonce() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    const uint64_t value = generator();
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return hexText(bytes, sizeof bytes);
}

}  // namespace

std::vector<Challenge> parseChallenges(std::string_view replyHead) {
    std::vector<Challenge> challenges;
    if (replyHead.size() > kMaxAuthHead) return challenges;
    for (const std::string &value : headerValues(replyHead, "WWW-Authenticate"))
        ChallengeReader(value).readInto(challenges);
    return challenges;
}

bool canAnswer(const Challenge &c) {
    if (c.scheme == AuthScheme::Basic) return true;
    if (c.scheme != AuthScheme::Digest || c.nonce.empty()) return false;
    // Echoed texts must not carry a line end into our request.
    if (hasControl(c.realm) || hasControl(c.nonce) || hasControl(c.opaque)) return false;
    if (c.algorithm == DigestAlgorithm::Unsupported) return false;
    if (c.qopOffered && !c.qopAuth) return false;  // auth-int alone
    return !isSessionAlgorithm(c.algorithm) || c.qopAuth;
}

const Challenge *chooseChallenge(const std::vector<Challenge> &challenges) {
    const Challenge *best = nullptr;
    for (const Challenge &c : challenges)
        if (canAnswer(c) && (!best || strength(c) > strength(*best))) best = &c;
    return best;
}

Authenticator::Authenticator() : Authenticator(randomCnonce) {}

Authenticator::Authenticator(CnonceSource cnonce) : cnonce_(std::move(cnonce)) {}

bool Authenticator::setCredentials(std::string_view user, std::string_view password) {
    credentialsSet_ = !hasControl(user);
    user_ = credentialsSet_ ? user : std::string_view();
    password_ = credentialsSet_ ? password : std::string_view();
    challenge_ = Challenge{};
    answering_ = false;
    roundOpen_ = true;
    staleRepeats_ = 0;
    nonceCount_ = 0;
    return credentialsSet_;
}

void Authenticator::adopt(const Challenge &c) {
    if (c.nonce != challenge_.nonce || c.scheme != challenge_.scheme) nonceCount_ = 0;
    challenge_ = c;
    answering_ = true;
}

Authenticator::Outcome Authenticator::challenged(std::string_view replyHead) {
    const std::vector<Challenge> challenges = parseChallenges(replyHead);
    const Challenge *chosen = chooseChallenge(challenges);
    if (!chosen || !credentialsSet_) return Outcome::Unsupported;
    if (chosen->scheme == AuthScheme::Basic) {
        const bool digestOffered = std::any_of(challenges.begin(), challenges.end(), [](const Challenge &c) {
            return c.scheme == AuthScheme::Digest;
        });
        if (!clearTextAllowed_ || digestOffered) return Outcome::ClearTextRefused;
    }
    if (roundOpen_) {
        roundOpen_ = false;
        staleRepeats_ = 0;
        adopt(*chosen);
        return Outcome::Answer;
    }
    // Only a server that says our answer was right but its nonce too old is answered again.
    if (chosen->scheme == AuthScheme::Digest && chosen->stale && answering_ &&
        chosen->nonce != challenge_.nonce && staleRepeats_ < kMaxStaleRepeats) {
        ++staleRepeats_;
        adopt(*chosen);
        return Outcome::Answer;
    }
    return Outcome::Refused;
}

void Authenticator::accepted() {
    roundOpen_ = true;
    staleRepeats_ = 0;
}

std::string Authenticator::authorization(std::string_view method, std::string_view uri) {
    if (!answering_) return {};
    if (challenge_.scheme == AuthScheme::Basic) {
        const std::string account = user_ + ":" + password_;
        std::string encoded(base64Length(account.size()) + 1, '\0');
        EncodeBase64(account.data(), account.size(), encoded.data(), encoded.size());
        encoded.pop_back();
        return "Basic " + encoded;
    }
    const Challenge &c = challenge_;
    const DigestAlgorithm a = c.algorithm;
    const bool qop = c.qopAuth;
    char nc[9] = "";
    std::string cnonce;
    if (qop) {
        std::snprintf(nc, sizeof nc, "%08x", ++nonceCount_);
        cnonce = cnonce_();
    }
    std::string ha1 = digestHex(a, user_ + ":" + c.realm + ":" + password_);
    if (isSessionAlgorithm(a)) ha1 = digestHex(a, ha1 + ":" + c.nonce + ":" + cnonce);
    const std::string ha2 = digestHex(a, std::string(method) + ":" + std::string(uri));
    const std::string response =
        qop ? digestHex(a, ha1 + ":" + c.nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2)
            : digestHex(a, ha1 + ":" + c.nonce + ":" + ha2);

    std::string out = "Digest username=" + quoted(user_) + ", realm=" + quoted(c.realm) +
                      ", nonce=" + quoted(c.nonce) + ", uri=" + quoted(uri) + ", response=\"" +
                      response + "\"";
    if (!c.algorithmName.empty()) out += ", algorithm=" + c.algorithmName;
    if (qop) out += std::string(", qop=auth, nc=") + nc + ", cnonce=" + quoted(cnonce);
    if (c.hasOpaque) out += ", opaque=" + quoted(c.opaque);
    return out;
}

}  // namespace ipcam
