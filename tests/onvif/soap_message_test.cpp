#include "onvif/soap_message.h"

#include <gtest/gtest.h>

#include <string>

#include "control/base64.h"
#include "onvif/onvif_namespaces.h"

using namespace ipcam;

namespace {

// The published UsernameToken example, and one computed here with Python's hashlib.
TEST(SoapMessageTest, PasswordDigestMatchesKnownVectors) {
    const auto nonce = DecodeBase64("LKqI6G/AikKCQrN0zqZFlg==");
    ASSERT_TRUE(nonce);
    const std::string bytes(nonce->begin(), nonce->end());
    EXPECT_EQ(passwordDigest(bytes, "2010-09-16T07:50:45Z", "userpassword"),
              "tuOSpGlFlIXsozq4HFNeeGeFLEI=");

    std::array<uint8_t, kNonceBytes> counting{};
    for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
    const UsernameToken token = makeUsernameToken("admin", "secret", counting, 1796720400);
    EXPECT_EQ(token.created, "2026-12-08T09:00:00Z");
    EXPECT_EQ(token.nonce, "AAECAwQFBgcICQoLDA0ODw==");
    EXPECT_EQ(token.digest, "ATIiUQEHVz5kFfawrojHYz24fyI=");
}

// The envelope is well-formed XML with the token where a device looks for it, and texts that
// could break the markup arrive as they were.
TEST(SoapMessageTest, EnvelopeCarriesTheTokenAndEscapedTexts) {
    UsernameToken token{"a<d&m\"n", "digest=", "nonce==", "2026-12-08T09:00:00Z"};
    const std::string text = soapEnvelope("<GetProfiles xmlns=\"urn:x\"/>", &token);
    auto doc = XmlDocument::parse(text);
    ASSERT_TRUE(doc);
    const XmlElement root = doc->root();
    ASSERT_TRUE(root.is(ns::kSoap12, "Envelope"));
    const XmlElement user = root.path(ns::kSoap12, {"Header"})
                                .child(ns::kWsse, "Security")
                                .path(ns::kWsse, {"UsernameToken", "Username"});
    EXPECT_EQ(user.text(), "a<d&m\"n");
    const XmlElement created = root.child(ns::kSoap12, "Header")
                                   .child(ns::kWsse, "Security")
                                   .child(ns::kWsse, "UsernameToken")
                                   .child(ns::kWsu, "Created");
    EXPECT_EQ(created.text(), "2026-12-08T09:00:00Z");
    EXPECT_TRUE(root.child(ns::kSoap12, "Body").child("urn:x", "GetProfiles"));

    auto bare = XmlDocument::parse(soapEnvelope("<X xmlns=\"urn:x\"/>", nullptr));
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->root().child(ns::kSoap12, "Header"));
}

TEST(SoapMessageTest, UtcTexts) {
    const struct {
        const char *text;
        int64_t seconds;  // -1: refused
    } cases[] = {
        {"2026-12-08T09:00:00Z", 1796720400},
        {"2026-12-08T09:00:00.123Z", 1796720400},
        {"2026-12-08T10:30:00+01:30", 1796720400},
        {"2026-12-08T07:00:00-02:00", 1796720400},
        {"2026-12-08T09:00:00", 1796720400},  // no zone: taken as UTC
        {"1970-01-01T00:00:00Z", 0},
        {"2026-13-08T09:00:00Z", -1},
        {"2026-12-08 09:00:00Z", -1},
        {"2026-12-08T09:00:00.Z", -1},
        {"2026-12-08T09:00:00Zjunk", -1},
        {"2026-12-08T24:00:00Z", -1},
        {"2026-12-08T09:00:00+1:00", -1},
        {"", -1},
    };
    for (const auto &c : cases) {
        const auto parsed = parseUtcText(c.text);
        if (c.seconds < 0) {
            EXPECT_FALSE(parsed) << c.text;
        } else {
            EXPECT_EQ(parsed.value_or(-1), c.seconds) << c.text;
        }
    }
    EXPECT_EQ(utcText(1796720400), "2026-12-08T09:00:00Z");
    EXPECT_EQ(parseUtcText(utcText(951782400)).value_or(0), 951782400);  // 29 February 2000
}

// Faults as devices write them, under any prefixes; only account faults count as refusals.
TEST(SoapMessageTest, RepliesAndFaults) {
    const struct {
        const char *name;
        std::string text;
        bool read, fault, authentication;
        const char *payload;
    } cases[] = {
        {"response", R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"><env:Body><r:GetProfilesResponse xmlns:r="urn:r"/></env:Body></env:Envelope>)",
         true, false, false, "GetProfilesResponse"},
        {"header and blanks", "<?xml version=\"1.0\"?>\n<S:Envelope xmlns:S=\"http://www.w3.org/2003/05/soap-envelope\">\n <S:Header/>\n <S:Body>\n  <x:R xmlns:x=\"urn:r\"/>\n </S:Body>\n</S:Envelope>",
         true, false, false, "R"},
        {"not authorised", R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://www.w3.org/2003/05/soap-envelope" xmlns:ter="http://www.onvif.org/ver10/error"><SOAP-ENV:Body><SOAP-ENV:Fault><SOAP-ENV:Code><SOAP-ENV:Value>SOAP-ENV:Sender</SOAP-ENV:Value><SOAP-ENV:Subcode><SOAP-ENV:Value>ter:NotAuthorized</SOAP-ENV:Value></SOAP-ENV:Subcode></SOAP-ENV:Code><SOAP-ENV:Reason><SOAP-ENV:Text xml:lang="en">Sender not Authorized</SOAP-ENV:Text></SOAP-ENV:Reason></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>)",
         true, true, true, "Fault"},
        {"other fault", R"(<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope"><e:Body><e:Fault><e:Code><e:Value>e:Receiver</e:Value><e:Subcode><e:Value>ter:ActionNotSupported</e:Value></e:Subcode></e:Code><e:Reason><e:Text>no</e:Text></e:Reason></e:Fault></e:Body></e:Envelope>)",
         true, true, false, "Fault"},
        {"soap 1.1 security fault", R"(<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><s:Fault><faultcode>wsse:FailedAuthentication</faultcode><faultstring>bad</faultstring></s:Fault></s:Body></s:Envelope>)",
         true, true, true, "Fault"},
        {"wrong envelope namespace", R"(<e:Envelope xmlns:e="urn:other"><e:Body><R/></e:Body></e:Envelope>)",
         false, false, false, ""},
        {"empty body", R"(<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope"><e:Body> </e:Body></e:Envelope>)",
         false, false, false, ""},
        {"html", "<html><body>404</body></html>", false, false, false, ""},
        {"cut short", R"(<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope"><e:Body><R>)",
         false, false, false, ""},
        {"document type", R"(<!DOCTYPE e [<!ENTITY a "aaaa">]><e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope"><e:Body><R>&a;</R></e:Body></e:Envelope>)",
         false, false, false, ""},
    };
    for (const auto &c : cases) {
        const auto reply = readSoapReply(c.text);
        ASSERT_EQ(reply.has_value(), c.read) << c.name;
        if (!reply) continue;
        EXPECT_EQ(reply->fault, c.fault) << c.name;
        EXPECT_EQ(isAuthenticationFault(*reply), c.authentication) << c.name;
        EXPECT_EQ(reply->payload.localName(), c.payload) << c.name;
    }
    const auto fault = readSoapReply(cases[2].text);
    EXPECT_EQ(fault->faultCode, "Sender");
    EXPECT_EQ(fault->faultSubcode, "NotAuthorized");
    EXPECT_EQ(fault->faultReason, "Sender not Authorized");
}

}  // namespace
