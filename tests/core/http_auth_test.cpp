#include "core/http_auth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ipcam;

namespace {

std::string head(const std::string &headers) {
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\n" + headers + "\r\n";
}

const char *const kRfc7616Sha256 =
    "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
    "algorithm=SHA-256, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
    "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n";
const char *const kRfc7616Md5 =
    "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
    "algorithm=MD5, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
    "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n";

// The published examples, and the same challenges without qop (the older form), computed
// with Python's hashlib.
TEST(HttpAuthTest, AnswersMatchPublishedVectors) {
    struct Case {
        const char *name;
        std::string challenge;
        const char *user, *password, *cnonce;
        std::string expected;
    } cases[] = {
        {"RFC 2617",
         head("WWW-Authenticate: Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
              "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
              "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n"),
         "Mufasa", "Circle Of Life", "0a4f113b",
         "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
         "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
         "response=\"6629fae49393a05397450978507c4ef1\", qop=auth, nc=00000001, "
         "cnonce=\"0a4f113b\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""},
        {"RFC 2617 without qop",
         head("WWW-Authenticate: Digest realm=\"testrealm@host.com\", "
              "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\"\r\n"),
         "Mufasa", "Circle Of Life", "unused",
         "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
         "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
         "response=\"670fd8c2df070c60b045671b8b24ff02\""},
        {"RFC 7616 MD5", head(kRfc7616Md5), "Mufasa", "Circle of Life",
         "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ",
         "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
         "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", "
         "response=\"8ca523f5e9506fed4657c9700eebdbec\", algorithm=MD5, qop=auth, nc=00000001, "
         "cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", "
         "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""},
        {"RFC 7616 SHA-256", head(kRfc7616Sha256), "Mufasa", "Circle of Life",
         "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ",
         "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
         "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", "
         "response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\", "
         "algorithm=SHA-256, qop=auth, nc=00000001, "
         "cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", "
         "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""},
        {"RFC 7616 SHA-256 without qop",
         head("WWW-Authenticate: Digest realm=\"http-auth@example.org\", algorithm=SHA-256, "
              "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\"\r\n"),
         "Mufasa", "Circle of Life", "unused",
         "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
         "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", "
         "response=\"a1306b0595a6c7fe96c448631fb5cfbd5107bd1fe1da729d978dd7446b812363\", "
         "algorithm=SHA-256"},
        {"MD5-sess",
         head("WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=auth, "
              "algorithm=MD5-sess, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\"\r\n"),
         "Mufasa", "Circle of Life", "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ",
         "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
         "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", "
         "response=\"e783283f46242139c486a698fec7211d\", algorithm=MD5-sess, qop=auth, "
         "nc=00000001, cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\""},
        {"Basic", head("WWW-Authenticate: Basic realm=\"WallyWorld\"\r\n"), "Aladdin",
         "open sesame", "unused", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        {"quotes in the account", head("WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"),
         "a\"b\\c", "p", "x",
         "Digest username=\"a\\\"b\\\\c\", realm=\"r\", nonce=\"n\", uri=\"/dir/index.html\", "
         "response=\"b57be24dacfc3ae234db21c1faea6607\""},
    };
    for (const Case &c : cases) {
        Authenticator auth([&] { return std::string(c.cnonce); });
        ASSERT_TRUE(auth.setCredentials(c.user, c.password));
        auth.allowClearText(true);
        EXPECT_EQ(auth.authorization("GET", "/dir/index.html"), "") << c.name;
        ASSERT_EQ(auth.challenged(c.challenge), Authenticator::Outcome::Answer) << c.name;
        EXPECT_EQ(auth.authorization("GET", "/dir/index.html"), c.expected) << c.name;
    }
}

// nc counts every request on one nonce and starts again at 1 on a new one.
TEST(HttpAuthTest, NonceCountFollowsTheNonce) {
    Authenticator auth([] { return std::string("f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ"); });
    auth.setCredentials("Mufasa", "Circle of Life");
    ASSERT_EQ(auth.challenged(head(kRfc7616Md5)), Authenticator::Outcome::Answer);
    EXPECT_NE(auth.authorization("GET", "/dir/index.html").find("nc=00000001"), std::string::npos);
    const std::string second = auth.authorization("GET", "/dir/index.html");
    EXPECT_NE(second.find("nc=00000002"), std::string::npos);
    EXPECT_NE(second.find("response=\"4b5d595ecf2db9df612ea5b45cd97101\""), std::string::npos);
    auth.accepted();

    ASSERT_EQ(auth.challenged(head("WWW-Authenticate: Digest realm=\"r\", qop=auth, "
                                   "nonce=\"fresh\", stale=true\r\n")),
              Authenticator::Outcome::Answer);
    EXPECT_NE(auth.authorization("PLAY", "rtsp://h/x").find("nc=00000001"), std::string::npos);
    for (int i = 2; i <= 255; ++i) auth.authorization("PLAY", "rtsp://h/x");
    EXPECT_NE(auth.authorization("PLAY", "rtsp://h/x").find("nc=00000100"), std::string::npos);
}

// What the reader takes from the headers servers send.
TEST(HttpAuthTest, ReadsChallenges) {
    using S = AuthScheme;
    using A = DigestAlgorithm;
    struct Expect {
        S scheme;
        const char *realm, *nonce;
        A algorithm;
        bool qopAuth, stale;
    };
    struct Case {
        const char *name;
        std::string head;
        std::vector<Expect> expected;
    } cases[] = {
        {"lower-case name, no blank after the colon",
         head("www-authenticate:Digest realm=\"r\",nonce=\"n\"\r\n"),
         {{S::Digest, "r", "n", A::Md5, false, false}}},
        {"two headers",
         head("WWW-Authenticate: Basic realm=\"b\"\r\nWWW-Authenticate:   Digest realm=\"d\", "
              "nonce=\"n\", algorithm=SHA-256\r\n"),
         {{S::Basic, "b", "", A::Md5, false, false},
          {S::Digest, "d", "n", A::Sha256, false, false}}},
        {"two challenges in one header",
         head("WWW-Authenticate: Digest realm=\"d\", nonce=\"n\", qop=\"auth\", Basic "
              "realm=\"b\"\r\n"),
         {{S::Digest, "d", "n", A::Md5, true, false}, {S::Basic, "b", "", A::Md5, false, false}}},
        {"escapes and commas in quotes",
         head("WWW-Authenticate: Digest realm=\"a \\\"b\\\", c\", nonce=\"x,y\"\r\n"),
         {{S::Digest, "a \"b\", c", "x,y", A::Md5, false, false}}},
        {"unquoted tokens, names in any case, unknown parameters",
         head("WWW-Authenticate: digest Realm=cam, NONCE=abc, domain=\"/ /x\", "
              "Algorithm=sha-256, charset=UTF-8, qop=auth-int, STALE=TRUE\r\n"),
         {{S::Digest, "cam", "abc", A::Sha256, false, true}}},
        {"other schemes kept as such",
         head("WWW-Authenticate: Negotiate YIIabc==, NTLM\r\nWWW-Authenticate: Bearer "
              "realm=\"x\"\r\n"),
         {{S::Other, "", "", A::Md5, false, false},
          {S::Other, "", "", A::Md5, false, false},
          {S::Other, "x", "", A::Md5, false, false}}},
        {"unknown algorithm",
         head("WWW-Authenticate: Digest nonce=n, algorithm=SHA-512-256\r\n"),
         {{S::Digest, "", "n", A::Unsupported, false, false}}},
        {"folded header",
         head("WWW-Authenticate: Digest realm=\"r\",\r\n  nonce=\"n\"\r\n"),
         {{S::Digest, "r", "n", A::Md5, false, false}}},
        {"unterminated quote dropped",
         head("WWW-Authenticate: Basic realm=\"b\", Digest realm=\"r\", nonce=\"n\r\n"),
         {{S::Basic, "b", "", A::Md5, false, false}}},
        {"absurd nonce dropped",
         head("WWW-Authenticate: Digest realm=\"r\", nonce=\"" + std::string(5000, 'n') +
              "\"\r\nWWW-Authenticate: Basic realm=\"b\"\r\n"),
         {{S::Basic, "b", "", A::Md5, false, false}}},
        {"only the head is read",
         "RTSP/1.0 401 Unauthorized\r\n\r\nWWW-Authenticate: Basic realm=\"b\"\r\n",
         {}},
        {"garbage", head("WWW-Authenticate: ,,, =\"\" = ,\"\r\nWWW-Authenticate:\r\n"), {}},
        {"no challenge", head(""), {}},
        {"absurd head",
         head("WWW-Authenticate: Basic realm=\"b\"\r\nX: " + std::string(70000, 'x') + "\r\n"),
         {}},
    };
    for (const Case &c : cases) {
        const std::vector<Challenge> got = parseChallenges(c.head);
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < got.size(); ++i) {
            const Expect &e = c.expected[i];
            EXPECT_EQ(got[i].scheme, e.scheme) << c.name << " #" << i;
            EXPECT_EQ(got[i].realm, e.realm) << c.name << " #" << i;
            EXPECT_EQ(got[i].nonce, e.nonce) << c.name << " #" << i;
            EXPECT_EQ(got[i].algorithm, e.algorithm) << c.name << " #" << i;
            EXPECT_EQ(got[i].qopAuth, e.qopAuth) << c.name << " #" << i;
            EXPECT_EQ(got[i].stale, e.stale) << c.name << " #" << i;
        }
    }
    std::string many = "WWW-Authenticate: Basic";
    for (int i = 0; i < 100; ++i) many += ", Basic";
    EXPECT_EQ(parseChallenges(head(many + "\r\n")).size(), kMaxChallenges);
}

// Recorded challenge sets and the one answered; "" where none can be.
TEST(HttpAuthTest, ChoosesTheStrongest) {
    const std::string basic = "WWW-Authenticate: Basic realm=\"cam\"\r\n";
    const std::string md5 = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"m\", qop=\"auth\"\r\n";
    const std::string sha =
        "WWW-Authenticate: Digest realm=\"cam\", nonce=\"s\", algorithm=\"SHA-256\", qop=auth\r\n";
    struct Case {
        const char *name;
        std::string headers;
        const char *chosen;  // scheme name and nonce, "" for none
    } cases[] = {
        {"Basic then Digest", basic + md5, "Digest m"},
        {"Digest then Basic", md5 + basic, "Digest m"},
        {"SHA-256 then MD5", sha + md5, "Digest s"},
        {"MD5 then SHA-256", md5 + sha, "Digest s"},
        {"SHA-256 only", sha, "Digest s"},
        {"Basic only", basic, "Basic "},
        {"no qop", "WWW-Authenticate: Digest realm=\"cam\", nonce=\"o\"\r\n", "Digest o"},
        {"stale", "WWW-Authenticate: Digest realm=\"cam\", nonce=\"t\", stale=true\r\n",
         "Digest t"},
        {"auth-int only",
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"i\", qop=\"auth-int\"\r\n" + basic,
         "Basic "},
        {"unsupported algorithm",
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"u\", algorithm=SHA-512-256\r\n" + md5,
         "Digest m"},
        {"-sess without qop", "WWW-Authenticate: Digest nonce=\"x\", algorithm=MD5-sess\r\n", ""},
        {"Digest without nonce", "WWW-Authenticate: Digest realm=\"cam\"\r\n", ""},
        {"other schemes only", "WWW-Authenticate: Negotiate, NTLM\r\n", ""},
        {"garbage", "WWW-Authenticate: \"\"\"=,=\r\n", ""},
    };
    for (const Case &c : cases) {
        const auto challenges = parseChallenges(head(c.headers));
        const Challenge *chosen = chooseChallenge(challenges);
        EXPECT_EQ(chosen ? chosen->schemeName + " " + chosen->nonce : "", c.chosen) << c.name;
    }
}

// One retry for a refused answer, never more; a stale nonce is answered again, a bounded
// number of times; an accepted request starts a new round.
TEST(HttpAuthTest, RefusesAfterOneRetry) {
    using O = Authenticator::Outcome;
    const auto digest = [](const char *nonce, bool stale) {
        return head(std::string("WWW-Authenticate: Digest realm=\"cam\", qop=auth, nonce=\"") +
                    nonce + "\"" + (stale ? ", stale=TRUE" : "") + "\r\n");
    };
    struct Step {
        std::string reply;  // "" stands for a reply that accepted the request
        O outcome;
    };
    struct Case {
        const char *name;
        std::vector<Step> steps;
        bool clearText = true;  // the password may go in clear
    } cases[] = {
        {"wrong password, same nonce",
         {{digest("a", false), O::Answer}, {digest("a", false), O::Refused}}},
        {"wrong password, fresh nonce",
         {{digest("a", false), O::Answer}, {digest("b", false), O::Refused}}},
        {"refused stays refused",
         {{digest("a", false), O::Answer},
          {digest("b", false), O::Refused},
          {digest("c", false), O::Refused}}},
        {"Basic refused",
         {{head("WWW-Authenticate: Basic\r\n"), O::Answer},
          {head("WWW-Authenticate: Basic\r\n"), O::Refused}}},
        {"stale answered again",
         {{digest("a", false), O::Answer},
          {digest("b", true), O::Answer},
          {digest("c", true), O::Answer}}},
        {"stale with the same nonce is a refusal",
         {{digest("a", false), O::Answer}, {digest("a", true), O::Refused}}},
        {"stale repeats bounded",
         {{digest("a", false), O::Answer},
          {digest("b", true), O::Answer},
          {digest("c", true), O::Answer},
          {digest("d", true), O::Answer},
          {digest("e", true), O::Refused}}},
        {"a new round after an accepted request",
         {{digest("a", false), O::Answer},
          {"", O::Answer},
          {digest("b", false), O::Answer},
          {digest("c", false), O::Refused}}},
        {"nothing to answer",
         {{head("WWW-Authenticate: NTLM\r\n"), O::Unsupported}, {digest("a", false), O::Answer}}},
        // The password in clear: only when allowed, and never beside a Digest challenge.
        {"Basic alone, not allowed", {{head("WWW-Authenticate: Basic\r\n"), O::ClearTextRefused}}, false},
        {"Basic beside Digest",
         {{head("WWW-Authenticate: Basic\r\nWWW-Authenticate: Digest nonce=\"n\"\r\n"), O::Answer}},
         false},
        {"Basic beside a Digest we cannot answer",
         {{head("WWW-Authenticate: Basic\r\nWWW-Authenticate: Digest nonce=\"n\", algorithm=SHA-512\r\n"),
           O::ClearTextRefused}}},
        {"no turn to Basic after Digest was taken",
         {{digest("a", false), O::Answer}, {"", O::Answer}, {head("WWW-Authenticate: Basic\r\n"), O::ClearTextRefused}},
         false},
    };
    for (const Case &c : cases) {
        Authenticator auth([] { return std::string("c"); });
        auth.setCredentials("admin", "secret");
        auth.allowClearText(c.clearText);
        int i = 0;
        for (const Step &s : c.steps) {
            if (s.reply.empty())
                auth.accepted();
            else
                EXPECT_EQ(auth.challenged(s.reply), s.outcome) << c.name << " step " << i;
            ++i;
        }
    }
    Authenticator bad;
    EXPECT_FALSE(bad.setCredentials("ad\r\nmin", "x"));
    EXPECT_EQ(bad.challenged(digest("a", false)), O::Unsupported);
    EXPECT_EQ(bad.authorization("GET", "/"), "");
}

}  // namespace
