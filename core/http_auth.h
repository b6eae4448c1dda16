// HTTP and RTSP authentication: the challenges of a 401 reply, the choice among them, and the
// Authorization value that answers it (Basic; Digest with MD5 or SHA-256, with qop=auth or in
// the older form without qop).
//
// Basic puts the password on the wire as it is. Over an unencrypted connection it is answered
// only when the caller allows it and the server offers nothing else: a reply that also carries
// a Digest challenge, even one we cannot answer, is never answered with Basic, so whoever
// rewrites a challenge on the way cannot turn our answer into the password in clear.
//
// Texts only, no sockets: the RTSP client and the CGI engine feed the 401 replies in and put
// the answer into their requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcam {

enum class AuthScheme { Basic, Digest, Other };
enum class DigestAlgorithm { Md5, Md5Sess, Sha256, Sha256Sess, Unsupported };

// One challenge of a WWW-Authenticate header.
struct Challenge {
    AuthScheme scheme = AuthScheme::Other;
    std::string schemeName;  // as the server wrote it
    std::string realm, nonce, opaque;
    bool hasOpaque = false;
    std::string algorithmName;  // as written; empty when the challenge names none
    DigestAlgorithm algorithm = DigestAlgorithm::Md5;
    bool qopOffered = false;  // the challenge has a qop parameter
    bool qopAuth = false;     // and "auth" is among its values
    bool stale = false;
};

// Bounds on what a server may send: a longer head is not read at all, a challenge with a
// longer parameter is dropped, and challenges past the count are ignored.
inline constexpr std::size_t kMaxAuthHead = 65'536;
inline constexpr std::size_t kMaxAuthParameter = 1024;
inline constexpr std::size_t kMaxChallenges = 16;

// Every challenge of every WWW-Authenticate header of a reply head (name in any case, several
// headers, several challenges per header separated by commas, quoted strings with backslash
// escapes, unquoted tokens). Unknown parameters are ignored. Text after the head's empty line
// (a body) is not read.
std::vector<Challenge> parseChallenges(std::string_view replyHead);

// Whether we can answer a challenge: Basic; Digest with a nonce, MD5 or SHA-256 (or their
// -sess forms when qop=auth is offered), and "auth" among the qop values when qop is given.
bool canAnswer(const Challenge &challenge);

// The strongest challenge we can answer: Digest SHA-256, then Digest MD5, then Basic; the
// first offered among equals. nullptr when none can be answered.
const Challenge *chooseChallenge(const std::vector<Challenge> &challenges);

// Answers the challenges of one server for one client: one per RTSP session, one per CGI
// client. Not shared between threads.
class Authenticator {
  public:
    enum class Outcome {
        Answer,       // send the request again with authorization()
        Refused,      // the server refused a correct answer: report the account as wrong
        Unsupported,  // the reply offers nothing we can answer
        ClearTextRefused,  // only Basic could answer it, and the password may not go in clear
    };
    // Makes the client nonce of Digest answers; tests fix it.
    using CnonceSource = std::function<std::string()>;

    // A fresh stale nonce is answered again this many times in a row at most.
    static constexpr int kMaxStaleRepeats = 3;

    Authenticator();
    explicit Authenticator(CnonceSource cnonce);

    // The account to answer with. Forgets any challenge. False when the user name holds a
    // line end or another control character, which no header may carry: every challenge is
    // then Unsupported until an account is set that can be sent.
    bool setCredentials(std::string_view user, std::string_view password);

    // Whether Basic may be answered: the connection is encrypted, or the caller accepts that
    // the password crosses the network in clear. Off until set; setCredentials keeps it.
    void allowClearText(bool allowed) { clearTextAllowed_ = allowed; }

    // Takes the 401 reply head to the last request. Answer on the first challenge of a round
    // (a round starts at construction and at every accepted()), and on a stale=true challenge
    // with a new nonce up to kMaxStaleRepeats times in a row; Refused for any other 401 in the
    // same round, so a wrong password costs one retry, never a loop that could lock the
    // account; Unsupported (state unchanged) when no challenge can be answered;
    // ClearTextRefused (state unchanged) when Basic is all that could answer it and it may not
    // be sent (see the top of this file).
    Outcome challenged(std::string_view replyHead);

    // The server accepted a request that carried our answer: the next 401 starts a new round.
    void accepted();

    // The whole Authorization header value for a request ("Basic ..." or "Digest ..."); ""
    // before any challenge was taken. uri is put in exactly as given: the caller passes the
    // request URI without any account in it. A Digest answer with qop counts nc up by one on
    // every call with the same nonce.
    std::string authorization(std::string_view method, std::string_view uri);

    // Whether a challenge is being answered, and its scheme.
    bool answering() const { return answering_; }
    AuthScheme scheme() const { return challenge_.scheme; }

  private:
    void adopt(const Challenge &challenge);

    CnonceSource cnonce_;
    std::string user_, password_;
    Challenge challenge_;
    bool credentialsSet_ = false;
    bool clearTextAllowed_ = false;
    bool answering_ = false;
    bool roundOpen_ = true;  // the next 401 may be answered
    int staleRepeats_ = 0;
    uint32_t nonceCount_ = 0;
};

}  // namespace ipcam
