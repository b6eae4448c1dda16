#include "onvif/discovery_messages.h"

#include <gtest/gtest.h>

#include <string>

#include "onvif/onvif_namespaces.h"
#include "onvif/xml_document.h"

namespace ipcam {
namespace {

constexpr const char *kProbeId = "uuid:0b5a1c2e-1111-4222-8333-444455556666";

// A ProbeMatches answer under the given prefixes, relating to relatesTo, with the match's
// Types text and XAddrs.
std::string matchesOf(const std::string &relatesTo, const std::string &types,
                      const std::string &xaddrs, const char *env = "SOAP-ENV",
                      const char *d = "d", const char *dn = "dn") {
    std::string out = std::string("<") + env + ":Envelope xmlns:" + env +
                      "=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" xmlns:" +
                      d + "=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" xmlns:" + dn +
                      "=\"http://www.onvif.org/ver10/network/wsdl\" xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"><" + env +
                      ":Header><wsa:MessageID>uuid:reply</wsa:MessageID>";
    if (!relatesTo.empty()) out += "<wsa:RelatesTo>" + relatesTo + "</wsa:RelatesTo>";
    out += "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action></" +
           std::string(env) + ":Header><" + env + ":Body><" + d + ":ProbeMatches><" + d +
           ":ProbeMatch><wsa:EndpointReference><wsa:Address>urn:uuid:cam-1</wsa:Address></wsa:EndpointReference><" +
           d + ":Types>" + types + "</" + d + ":Types><" + d +
           ":Scopes>onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/name/Front%20Door "
           "onvif://www.onvif.org/hardware/IPC-42</" +
           d + ":Scopes><" + d + ":XAddrs>" + xaddrs + "</" + d + ":XAddrs><" + d +
           ":MetadataVersion>1</" + d + ":MetadataVersion></" + d + ":ProbeMatch></" + d +
           ":ProbeMatches></" + env + ":Body></" + env + ":Envelope>";
    return out;
}

TEST(DiscoveryMessagesTest, ProbeAsksForVideoTransmitters) {
    auto doc = XmlDocument::parse(probeMessage(kProbeId));
    ASSERT_TRUE(doc);
    const XmlElement root = doc->root();
    EXPECT_EQ(root.path(ns::kSoap12, {"Header"}).child(ns::kAddressing, "MessageID").text(), kProbeId);
    const XmlElement types = root.child(ns::kSoap12, "Body")
                                 .child(ns::kDiscovery, "Probe")
                                 .child(ns::kDiscovery, "Types");
    ASSERT_TRUE(types);
    EXPECT_EQ(types.text(), "dn:NetworkVideoTransmitter");
    EXPECT_EQ(types.namespaceOf("dn").value_or(""), ns::kNetwork);

    const std::string a = newMessageId(), b = newMessageId();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.size(), 41u);
    EXPECT_EQ(a.substr(0, 5), "uuid:");
}

TEST(DiscoveryMessagesTest, WhichAnswersCount) {
    const std::string xaddr = "http://192.168.1.20/onvif/device_service";
    const struct {
        const char *name;
        std::string datagram;
        bool counts;
    } cases[] = {
        {"plain", matchesOf(kProbeId, "dn:NetworkVideoTransmitter tds:Device", xaddr), true},
        {"other prefixes", matchesOf(kProbeId, "n1:NetworkVideoTransmitter", xaddr, "e", "wsdd", "n1"), true},
        {"no RelatesTo", matchesOf("", "dn:NetworkVideoTransmitter", xaddr), true},
        {"no Types", matchesOf(kProbeId, "", xaddr), true},
        {"undeclared prefix", matchesOf(kProbeId, "x:NetworkVideoTransmitter", xaddr), true},
        {"another probe's answer", matchesOf("uuid:other", "dn:NetworkVideoTransmitter", xaddr), false},
        {"another kind of device", matchesOf(kProbeId, "tds:Device", xaddr), false},
        {"right name, wrong namespace", matchesOf(kProbeId, "tds:NetworkVideoTransmitter", xaddr), false},
        {"no XAddrs", matchesOf(kProbeId, "dn:NetworkVideoTransmitter", ""), false},
        {"a probe, not an answer", probeMessage(kProbeId), false},
        {"garbage", "\x01\x02<<<", false},
    };
    for (const auto &c : cases) {
        const auto matches = readProbeMatches(c.datagram, kProbeId);
        EXPECT_EQ(matches.size(), c.counts ? 1u : 0u) << c.name;
        if (matches.empty()) continue;
        EXPECT_EQ(matches[0].endpoint, "urn:uuid:cam-1") << c.name;
        EXPECT_EQ(matches[0].name, "Front Door") << c.name;
        EXPECT_EQ(matches[0].hardware, "IPC-42") << c.name;
        EXPECT_EQ(matches[0].xaddrs.at(0), xaddr) << c.name;
    }
}

// The first name and hardware scopes count, decoded and on one line; no Types admits video.
TEST(DiscoveryMessagesTest, FirstScopesCountAndTypesMayBeAbsent) {
    std::string datagram = matchesOf(kProbeId, "", "http://192.168.1.20/onvif/d");
    const auto put = [&](const std::string &from, const std::string &to) {
        datagram.replace(datagram.find(from), from.size(), to);
    };
    put("<d:Types></d:Types>", "");
    put("Front%20Door", "Front%0ADoor%09");
    put("hardware/IPC-42", "hardware/A onvif://www.onvif.org/hardware/B onvif://www.onvif.org/name/C");
    const auto matches = readProbeMatches(datagram, kProbeId);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].name, "Front?Door?");
    EXPECT_EQ(matches[0].hardware, "A");
}

TEST(DiscoveryMessagesTest, DeviceUrlFromXAddrs) {
    const struct {
        std::vector<std::string> xaddrs;
        const char *source;
        const char *url;  // "" none
        bool elsewhere;
    } cases[] = {
        {{"http://192.168.1.20/onvif/device_service"}, "192.168.1.20", "http://192.168.1.20/onvif/device_service", false},
        {{"http://0.0.0.0:8000/onvif/device_service"}, "192.168.1.20", "http://192.168.1.20:8000/onvif/device_service", false},
        {{"http://169.254.3.4/onvif/device_service"}, "10.0.0.5", "http://10.0.0.5:80/onvif/device_service", false},
        {{"http://127.0.0.1:9000/onvif/d"}, "127.0.0.1", "http://127.0.0.1:9000/onvif/d", false},
        {{"http://127.0.0.1:9000/onvif/d"}, "10.0.0.5", "http://10.0.0.5:9000/onvif/d", false},
        // A routed address of another network is where the device says it is: marked.
        {{"http://10.9.9.9/onvif/d"}, "192.168.1.20", "http://10.9.9.9/onvif/d", true},
        // The one at the source wins over the first.
        {{"http://10.9.9.9/onvif/d", "http://192.168.1.20/onvif/d"}, "192.168.1.20", "http://192.168.1.20/onvif/d", false},
        {{"https://192.168.1.20/onvif/d", "http://[fe80::1]/onvif/d", "http://cam.local/onvif/d"}, "192.168.1.20", "http://cam.local/onvif/d", true},
        {{"HTTP://192.168.1.20/onvif/d"}, "192.168.1.20", "http://192.168.1.20/onvif/d", false},
        {{"https://192.168.1.20/onvif/d"}, "192.168.1.20", "", false},
        {{}, "192.168.1.20", "", false},
        // An account part hides the host that would be asked: never used.
        {{"http://192.168.1.20:80@192.0.2.2/onvif/d"}, "192.168.1.20", "", false},
        {{"http://@192.168.1.20/onvif/d", "http://0.0.0.0/x"}, "192.168.1.20", "http://192.168.1.20:80/x", false},
    };
    for (const auto &c : cases) {
        const auto url = chooseDeviceUrl(c.xaddrs, c.source);
        EXPECT_EQ(url ? url->url : "", c.url) << (c.xaddrs.empty() ? "none" : c.xaddrs[0]);
        EXPECT_EQ(url && url->elsewhere, c.elsewhere) << c.url;
    }
}

}  // namespace
}  // namespace ipcam
