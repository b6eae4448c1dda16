// How strictly the simulated ONVIF device reads SOAP: any prefixes, but only SOAP 1.2, only
// well-formed XML without a DTD, only operations of the service asked, only POST of
// application/soap+xml of bounded size; and replies with prefixes no client can hard-code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tcp_states.h"
#include "tools/camsim/onvif_test_client.h"

using namespace kestrel_test;

TEST(OnvifSoapTest, RequestPrefixesDoNotMatter) {
    struct Case {
        const char *env, *op, *wsse, *wsu;
    } cases[] = {
        {"s", "tds", "wsse", "wsu"},
        {"soap", "d", "sec", "util"},
        {"SOAP-ENV", "ns1", "ns2", "ns3"},
        {"env", "", "w", "u"},  // the operation in the default namespace
        {"x", "s", "soap", "env"},  // prefixes that usually mean something else
    };
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    for (const Case &c : cases) {
        Token token;
        token.created = utcText(rig.deviceNow());
        token.wsse = c.wsse;
        token.wsu = c.wsu;
        token.mustUnderstand = "true";  // clients mark Security so; the device must take it
        const std::string body =
            envelope(op(uri::kDevice, "GetDeviceInformation", "", c.op), token.header(c.env),
                     c.env);
        const HttpResult r = postSoap(rig.web.port(), kDeviceService, body);
        EXPECT_TRUE(answered(r, uri::kDevice, "GetDeviceInformationResponse"))
            << c.env << "/" << c.op << "\n" << r.body;
    }
}

TEST(OnvifSoapTest, MalformedEnvelopesGetTheirFaults) {
    const std::string dtd =
        "<?xml version=\"1.0\"?><!DOCTYPE lol [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
        "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>";
    const std::string getTime = op(uri::kDevice, "GetSystemDateAndTime");
    struct Case {
        const char *name;
        std::string path, body;
        int status;
        std::vector<std::string> codes;
    } cases[] = {
        {"SOAP 1.1", kDeviceService, envelope(getTime, "", "soap", uri::kSoap11), 500,
         {soapCode("VersionMismatch")}},
        {"no envelope", kDeviceService, getTime, 500, {soapCode("VersionMismatch")}},
        {"not XML", kDeviceService, "<s:Envelope xmlns:s=\"" + std::string(uri::kSoap12) + "\">",
         400, {soapCode("Sender"), onvifCode("WellFormed")}},
        {"undeclared prefix", kDeviceService, envelope("<tds:GetSystemDateAndTime/>"), 400,
         {soapCode("Sender"), onvifCode("WellFormed")}},
        {"DTD", kDeviceService,
         dtd + envelope(op(uri::kDevice, "GetSystemDateAndTime", "&c;")).substr(38), 400,
         {soapCode("Sender"), onvifCode("WellFormed")}},
        {"no Body", kDeviceService,
         "<s:Envelope xmlns:s=\"" + std::string(uri::kSoap12) + "\"><s:Header/></s:Envelope>", 400,
         {soapCode("Sender"), onvifCode("TagMismatch")}},
        {"empty Body", kDeviceService, envelope(""), 400, {soapCode("Sender"), onvifCode("Tag")}},
        {"unknown operation", kDeviceService, envelope(op(uri::kDevice, "GetTeaTemperature")), 500,
         {soapCode("Receiver"), onvifCode("ActionNotSupported")}},
        {"right name, wrong namespace", kDeviceService,
         envelope(op(uri::kMedia, "GetSystemDateAndTime")), 500,
         {soapCode("Receiver"), onvifCode("ActionNotSupported")}},
        {"operation of another service", kMediaService, envelope(getTime), 500,
         {soapCode("Receiver"), onvifCode("ActionNotSupported")}},
        {"header not understood", kDeviceService,
         envelope(getTime, "<x:Trace xmlns:x=\"urn:example:trace\" s:mustUnderstand=\"1\"/>"), 500,
         {soapCode("MustUnderstand")}},
    };
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    for (const Case &c : cases) {
        const HttpResult r = postSoap(rig.web.port(), c.path, c.body);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.body;
        EXPECT_EQ(faultCodes(r.body), c.codes) << c.name << "\n" << r.body;
        EXPECT_EQ(r.header("Content-Type"), "application/soap+xml; charset=utf-8") << c.name;
    }
    // A header block nobody must understand is passed over.
    EXPECT_EQ(postSoap(rig.web.port(), kDeviceService,
                       envelope(getTime, "<x:Trace xmlns:x=\"urn:example:trace\"/>"))
                  .status,
              200);
}

TEST(OnvifSoapTest, VersionMismatchNamesTheEnvelopeUnderstood) {
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    const HttpResult r = postSoap(
        rig.web.port(), kDeviceService,
        envelope(op(uri::kDevice, "GetSystemDateAndTime"), "", "soap", uri::kSoap11));
    SoapReply reply(r.body);
    ASSERT_TRUE(reply.doc);
    xmlNode *header = child(xmlDocGetRootElement(reply.doc.get()), uri::kSoap12, "Header");
    xmlNode *supported =
        child(child(header, uri::kSoap12, "Upgrade"), uri::kSoap12, "SupportedEnvelope");
    ASSERT_NE(supported, nullptr) << r.body;
    const std::string qname = camsim::attribute(supported, "qname").value_or("");
    const std::size_t colon = qname.find(':');
    EXPECT_EQ(camsim::resolvePrefix(supported, qname.substr(0, colon)).value_or(""),
              uri::kSoap12);
    EXPECT_EQ(qname.substr(colon + 1), "Envelope");
}

TEST(OnvifSoapTest, HttpOutsideSoapIsRefused) {
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    const std::string body = envelope(op(uri::kDevice, "GetSystemDateAndTime"));
    const uint16_t port = rig.web.port();
    const HttpResult get = postSoap(port, kDeviceService, body, "application/soap+xml", "", "GET");
    EXPECT_EQ(get.status, 405);
    EXPECT_EQ(get.header("Allow"), "POST");
    EXPECT_EQ(postSoap(port, kDeviceService, body, "text/xml; charset=utf-8").status, 415);
    EXPECT_EQ(postSoap(port, kDeviceService, body, "application/soap+xmlx").status, 415);
    EXPECT_EQ(postSoap(port, kDeviceService, body, "Application/SOAP+XML;action=\"x\"").status,
              200);
    // Just over the limit is refused, just under is read.
    const std::size_t limit = camsim::kMaxSoapBody;
    const std::string comment = "<!--" + std::string(limit - body.size() - 7, 'x') + "-->";
    EXPECT_EQ(postSoap(port, kDeviceService, body + comment).status, 200);
    EXPECT_EQ(postSoap(port, kDeviceService, body + comment + "  ").status, 413);
    // The server's connections all end.
    EXPECT_TRUE(rig.web.waitUntilIdle(3000));
    EXPECT_EQ(establishedAt(port), 0);
}

TEST(OnvifSoapTest, RepliesUseTheDevicesOwnPrefixes) {
    struct Case {
        camsim::PrefixStyle style;
        const char *envelopeTag;
    } cases[] = {{camsim::PrefixStyle::Odd, "<e:Envelope"},
                 {camsim::PrefixStyle::Gsoap, "<SOAP-ENV:Envelope"}};
    for (const Case &c : cases) {
        camsim::OnvifConfig config;
        config.prefixes = c.style;
        OnvifRig rig(config);
        ASSERT_TRUE(rig.ok);
        const HttpResult r = rig.signedCall(kMediaService, op(uri::kMedia, "GetProfiles"));
        EXPECT_NE(r.body.find(c.envelopeTag), std::string::npos) << r.body.substr(0, 200);
        // Read by namespace, the reply is the same whatever its prefixes.
        SoapReply reply(r.body);
        auto profiles = children(reply.body, uri::kMedia, "Profiles");
        ASSERT_EQ(profiles.size(), 2u);
        EXPECT_EQ(camsim::elementText(child(profiles[0], uri::kSchema, "Name")), "CH01 MPEG-4");
    }
}
