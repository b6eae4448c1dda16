// Who the simulated ONVIF device answers: UsernameToken digests checked against the device
// clock and used once, the pre-authentication operations, and HTTP Digest with --onvif-digest.
#include <gtest/gtest.h>

#include <time.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/camsim/onvif_test_client.h"
#include "tools/camsim/rtsp_test_client.h"
#include "tools/camsim/username_token.h"

using namespace kestrel_test;

namespace {

const std::string kGetProfilesAuth = op(uri::kMedia, "GetProfiles");

}  // namespace

TEST(OnvifAuthTest, DigestsMatchKnownVectors) {
    auto hex = [](const std::array<uint8_t, 20> &d) {
        std::string out;
        char two[3];
        for (uint8_t b : d) {
            std::snprintf(two, sizeof two, "%02x", b);
            out += two;
        }
        return out;
    };
    EXPECT_EQ(hex(sha1Reference("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(sha1Reference("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    // Two blocks of padding: 56 bytes leave no room for the length in the first.
    EXPECT_EQ(hex(sha1Reference("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(hex(sha1Reference(std::string(1000000, 'a'))),
              "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    // A published UsernameToken, computed by the tests' coder and by the simulator's.
    const std::string nonce = "\x2c\xaa\x88\xe8\x6f\xc0\x8a\x42\x82\x42\xb3\x74\xce\xa6\x45\x96";
    EXPECT_EQ(base64Reference(nonce), "LKqI6G/AikKCQrN0zqZFlg==");
    EXPECT_EQ(tokenDigestReference(nonce, "2010-09-16T07:50:45Z", "userpassword"),
              "tuOSpGlFlIXsozq4HFNeeGeFLEI=");
    EXPECT_EQ(camsim::passwordDigest(nonce, "2010-09-16T07:50:45Z", "userpassword"),
              "tuOSpGlFlIXsozq4HFNeeGeFLEI=");
}

TEST(OnvifAuthTest, SignedRequestIsAnsweredAsSoap12) {
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    const HttpResult r = rig.signedCall(kMediaService, kGetProfilesAuth);
    EXPECT_TRUE(answered(r, uri::kMedia, "GetProfilesResponse")) << r.head << r.body;
    EXPECT_EQ(r.header("Content-Type"), "application/soap+xml; charset=utf-8");
}

TEST(OnvifAuthTest, TokensThatDoNotPassAreRefused) {
    struct Case {
        const char *name;
        void (*spoil)(Token &);
    } cases[] = {
        {"wrong password", [](Token &t) { t.password = "secreT"; }},
        {"wrong user", [](Token &t) { t.user = "root"; }},
        {"Created in the wsse namespace",
         [](Token &t) { t.createdNamespace = uri::kWsse; }},
        {"Created without a zone", [](Token &t) { t.created.pop_back(); }},
        {"empty nonce", [](Token &t) { t.nonce.clear(); }},
        {"plain text, wrong",
         [](Token &t) {
             t.digest = false;
             t.password = "secre";
         }},
    };
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    for (const Case &c : cases) {
        Token token;
        token.created = utcText(rig.deviceNow());
        c.spoil(token);
        const HttpResult r = rig.signedCall(kMediaService, kGetProfilesAuth, token);
        EXPECT_TRUE(refusedNotAuthorized(r)) << c.name << "\n" << r.head << r.body;
    }
    // No Security header at all, and the password sent as text, which devices take too.
    EXPECT_TRUE(refusedNotAuthorized(rig.call(kMediaService, kGetProfilesAuth)));
    Token text;
    text.digest = false;
    EXPECT_TRUE(answered(rig.signedCall(kMediaService, kGetProfilesAuth, text), uri::kMedia,
                             "GetProfilesResponse"));
}

TEST(OnvifAuthTest, CreatedMustLieWithinFiveSecondsOfTheDeviceClock) {
    // The device clock runs an hour ahead, so a client signing with its own clock fails.
    camsim::OnvifConfig config;
    config.clockSkewSeconds = 3600;
    OnvifRig rig(config);
    ASSERT_TRUE(rig.ok);
    struct Case {
        int offsetSeconds;
        bool passes;
    } cases[] = {{0, true}, {3, true}, {-3, true}, {8, false}, {-8, false}, {60, false},
                 {-60, false}, {-3600, false}};
    for (const Case &c : cases) {
        Token token;
        token.created = utcText(rig.deviceNow() + std::chrono::seconds(c.offsetSeconds));
        const HttpResult r = rig.signedCall(kMediaService, kGetProfilesAuth, token);
        if (c.passes) {
            EXPECT_TRUE(answered(r, uri::kMedia, "GetProfilesResponse")) << c.offsetSeconds;
        } else {
            EXPECT_TRUE(refusedNotAuthorized(r)) << c.offsetSeconds << "\n" << r.body;
        }
    }
    // Fractions of a second are part of an xs:dateTime.
    Token fraction;
    fraction.created = utcText(rig.deviceNow());
    fraction.created.insert(fraction.created.size() - 1, ".250");
    EXPECT_TRUE(answered(rig.signedCall(kMediaService, kGetProfilesAuth, fraction),
                             uri::kMedia, "GetProfilesResponse"));
}

TEST(OnvifAuthTest, GetSystemDateAndTimeReportsTheDeviceClock) {
    camsim::OnvifConfig config;
    config.clockSkewSeconds = -7200;
    OnvifRig rig(config);
    ASSERT_TRUE(rig.ok);
    const auto asked = rig.deviceNow();
    const HttpResult r = rig.call(kDeviceService, op(uri::kDevice, "GetSystemDateAndTime"));
    SoapReply reply(r.body);
    xmlNode *time = child(reply.body, uri::kDevice, "SystemDateAndTime");
    auto field = [&](const char *which, const char *part, const char *name) {
        return std::stoi(camsim::elementText(
            child(child(child(time, uri::kSchema, which), uri::kSchema, part), uri::kSchema, name)));
    };
    ASSERT_NE(time, nullptr) << r.body;
    tm utc{};
    utc.tm_year = field("UTCDateTime", "Date", "Year") - 1900;
    utc.tm_mon = field("UTCDateTime", "Date", "Month") - 1;
    utc.tm_mday = field("UTCDateTime", "Date", "Day");
    utc.tm_hour = field("UTCDateTime", "Time", "Hour");
    utc.tm_min = field("UTCDateTime", "Time", "Minute");
    utc.tm_sec = field("UTCDateTime", "Time", "Second");
    const long long reported = timegm(&utc);
    const long long expected = std::chrono::system_clock::to_time_t(asked);
    EXPECT_LE(std::llabs(reported - expected), 2);
    // Local time is eight hours east: signing with it is a client's mistake.
    EXPECT_EQ((field("LocalDateTime", "Time", "Hour") - utc.tm_hour + 24) % 24, 8);
}

TEST(OnvifAuthTest, EachNonceIsTakenOnce) {
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    Token token;
    token.created = utcText(rig.deviceNow());
    EXPECT_TRUE(answered(rig.signedCall(kMediaService, kGetProfilesAuth, token), uri::kMedia,
                             "GetProfilesResponse"));
    // The same bytes again, even at another service, are a replay.
    EXPECT_TRUE(refusedNotAuthorized(rig.signedCall(kMediaService, kGetProfilesAuth, token)));
    EXPECT_TRUE(refusedNotAuthorized(
        rig.signedCall(kDeviceService, op(uri::kDevice, "GetDeviceInformation"), token)));
    // A refused token does not use its nonce up; a fresh nonce passes.
    Token wrong;
    wrong.password = "nope";
    wrong.created = utcText(rig.deviceNow());
    EXPECT_TRUE(refusedNotAuthorized(rig.signedCall(kMediaService, kGetProfilesAuth, wrong)));
    Token again = wrong;
    again.password = "secret";
    EXPECT_TRUE(answered(rig.signedCall(kMediaService, kGetProfilesAuth, again), uri::kMedia,
                             "GetProfilesResponse"));
}

TEST(OnvifAuthTest, OnlyThePreAuthenticationOperationsGoUnsigned) {
    struct Case {
        const char *path, *ns, *operation;
        bool unsignedPasses;
    } cases[] = {
        {kDeviceService, uri::kDevice, "GetSystemDateAndTime", true},
        {kDeviceService, uri::kDevice, "GetServices", true},
        {kDeviceService, uri::kDevice, "GetCapabilities", true},
        {kDeviceService, uri::kDevice, "GetDeviceInformation", false},
        {kMediaService, uri::kMedia, "GetProfiles", false},
        {kMedia2Service, uri::kMedia2, "GetProfiles", false},
        {kPtzService, uri::kPtz, "GetPresets", false},
    };
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    for (const Case &c : cases) {
        const std::string request =
            op(c.ns, c.operation,
               std::string(c.ns) == uri::kPtz
                   ? "<o:ProfileToken>profile_ch1</o:ProfileToken>"
                   : (std::string(c.operation) == "GetServices"
                          ? "<o:IncludeCapability>false</o:IncludeCapability>"
                          : ""));
        const HttpResult r = rig.call(c.path, request);
        if (c.unsignedPasses) {
            EXPECT_EQ(r.status, 200) << c.operation << r.body;
        } else {
            EXPECT_TRUE(refusedNotAuthorized(r)) << c.operation << r.body;
        }
        EXPECT_EQ(rig.signedCall(c.path, request).status, 200) << c.operation;
    }
}

TEST(OnvifAuthTest, DigestDeviceAsksForHttpDigestEvenWithAToken) {
    camsim::OnvifConfig config;
    config.digest = true;
    OnvifRig rig(config);
    ASSERT_TRUE(rig.ok);
    const HttpResult challenge = rig.signedCall(kMediaService, kGetProfilesAuth);
    ASSERT_EQ(challenge.status, 401) << challenge.body;
    const std::string offer = challenge.header("WWW-Authenticate");
    EXPECT_EQ(offer.rfind("Digest ", 0), 0u) << offer;
    EXPECT_EQ(challengeParam(offer, "qop"), "auth");
    EXPECT_EQ(faultCodes(challenge.body),
              (std::vector<std::string>{soapCode("Sender"), onvifCode("NotAuthorized")}));

    DigestAnswer answer;
    answer.method = "POST";
    answer.uri = kMediaService;
    const std::string body = envelope(kGetProfilesAuth);
    auto post = [&](const DigestAnswer &a) {
        return postSoap(rig.web.port(), kMediaService, body,
                        "application/soap+xml; charset=utf-8", a.header(offer));
    };
    EXPECT_TRUE(answered(post(answer), uri::kMedia, "GetProfilesResponse"));
    DigestAnswer wrong = answer;
    wrong.password = "secreT";
    wrong.nc = "00000002";
    EXPECT_EQ(post(wrong).status, 401);
    DigestAnswer otherUri = answer;
    otherUri.uri = kDeviceService;
    otherUri.nc = "00000003";
    EXPECT_EQ(post(otherUri).status, 401);
    // The clock is still asked before credentials.
    EXPECT_EQ(rig.call(kDeviceService, op(uri::kDevice, "GetSystemDateAndTime")).status, 200);
}
