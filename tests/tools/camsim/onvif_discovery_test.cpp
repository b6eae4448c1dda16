// WS-Discovery of the simulated ONVIF device: which Probes are answered, and over multicast on
// loopback, two simulators sharing the port each answering with its own endpoint.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "support/tcp_states.h"
#include "tools/camsim/onvif_test_client.h"
#include "tools/camsim/ws_discovery.h"

using namespace kestrel_test;

namespace {

const std::vector<std::string> kProbeScopes = camsim::onvifScopes("Kestrel Camsim", "camsim");

// A Probe with the Types element given (none when empty), in the namespaces declared on it.
std::string probe(const std::string &messageId, const std::string &types,
                  const std::string &declarations =
                      " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"",
                  const std::string &scopes = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:w=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><e:Header>"
           "<w:MessageID>" +
           messageId +
           "</w:MessageID><w:To>urn:schemas-xmlsoap-org:ws:2005:04:discovery</w:To>"
           "<w:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</w:Action>"
           "</e:Header><e:Body><d:Probe" +
           declarations + ">" + types + scopes + "</d:Probe></e:Body></e:Envelope>";
}

std::string typesOf(const std::string &list) {
    return "<d:Types>" + list + "</d:Types>";
}

// A UDP socket on 127.0.0.1 that sends multicast out of loopback.
class ProbeSocket {
  public:
    ProbeSocket() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local);
        in_addr loopback{htonl(INADDR_LOOPBACK)};
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
    }
    ~ProbeSocket() { close(fd_); }
    ProbeSocket(const ProbeSocket &) = delete;
    ProbeSocket &operator=(const ProbeSocket &) = delete;

    void send(const std::string &text, uint16_t port, const char *address = "239.255.255.250") {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        inet_pton(AF_INET, address, &to.sin_addr);
        to.sin_port = htons(port);
        sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }
    // Datagrams until count have come or timeoutMs pass.
    std::vector<std::string> receive(std::size_t count, int timeoutMs) {
        std::vector<std::string> out;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[65536];
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) out.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

  private:
    int fd_ = -1;
};

// A UDP port nothing uses at the moment.
uint16_t freeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

struct Match {
    std::string relatesTo, action, endpoint, types, xaddrs, scopes;
};

Match readMatch(const std::string &text) {
    const std::string wsa = uri::kAddressing, d = uri::kDiscovery;
    camsim::XmlDocPtr doc = camsim::parseXml(text);
    Match m;
    if (!doc) return m;
    xmlNode *envelope = xmlDocGetRootElement(doc.get());
    xmlNode *header = child(envelope, uri::kSoap12, "Header");
    m.relatesTo = camsim::elementText(child(header, wsa, "RelatesTo"));
    m.action = camsim::elementText(child(header, wsa, "Action"));
    xmlNode *match = child(child(child(envelope, uri::kSoap12, "Body"), d, "ProbeMatches"), d,
                           "ProbeMatch");
    m.endpoint =
        camsim::elementText(child(child(match, wsa, "EndpointReference"), wsa, "Address"));
    // Types as namespace|name pairs, their prefixes resolved in the reply.
    xmlNode *types = child(match, d, "Types");
    std::string list = camsim::elementText(types);
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = std::min(list.size(), list.find(' ', at));
        const std::string qname = list.substr(at, end - at);
        const std::size_t colon = qname.find(':');
        m.types += camsim::resolvePrefix(types, qname.substr(0, colon)).value_or("?") + "|" +
                   qname.substr(colon + 1) + " ";
        at = end + 1;
    }
    m.xaddrs = camsim::elementText(child(match, d, "XAddrs"));
    m.scopes = camsim::elementText(child(match, d, "Scopes"));
    return m;
}

}  // namespace

TEST(OnvifDiscoveryTest, ProbesAreAnsweredOnlyForTheDevicesTypes) {
    const std::string dn = " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"";
    const std::string tds = " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"";
    const std::string scopes = "onvif://www.onvif.org/name/Kestrel%20Camsim";
    struct Case {
        const char *name;
        std::string datagram;
        bool answered;
    } cases[] = {
        {"transmitter", probe("urn:uuid:1", typesOf("dn:NetworkVideoTransmitter")), true},
        {"other prefix", probe("urn:uuid:1", typesOf("nvt:NetworkVideoTransmitter"),
                               " xmlns:nvt=\"http://www.onvif.org/ver10/network/wsdl\""),
         true},
        {"default namespace",
         probe("urn:uuid:1", "<d:Types xmlns=\"http://www.onvif.org/ver10/network/wsdl\">"
                             "NetworkVideoTransmitter</d:Types>", ""),
         true},
        {"device and transmitter",
         probe("urn:uuid:1", typesOf(" tds:Device\n dn:NetworkVideoTransmitter "), dn + tds),
         true},
        {"no Types", probe("urn:uuid:1", ""), true},
        {"empty Types", probe("urn:uuid:1", "<d:Types/>"), true},
        {"a scope of ours",
         probe("urn:uuid:1", "", dn, "<d:Scopes>" + scopes + "</d:Scopes>"), true},
        {"a scope prefix",
         probe("urn:uuid:1", "", dn, "<d:Scopes>onvif://www.onvif.org/name</d:Scopes>"), true},
        {"prefix matched exactly",
         probe("urn:uuid:1", "", dn,
               "<d:Scopes MatchBy=\"http://schemas.xmlsoap.org/ws/2005/04/discovery/strcmp0\">"
               "onvif://www.onvif.org/name</d:Scopes>"),
         false},
        {"a half segment",
         probe("urn:uuid:1", "", dn, "<d:Scopes>onvif://www.onvif.org/na</d:Scopes>"), false},
        {"transmitter in the wrong namespace",
         probe("urn:uuid:1", typesOf("dn:NetworkVideoTransmitter"),
               " xmlns:dn=\"http://www.onvif.org/ver20/network/wsdl\""),
         false},
        {"undeclared prefix", probe("urn:uuid:1", typesOf("x:NetworkVideoTransmitter")), false},
        {"no prefix, no default", probe("urn:uuid:1", typesOf("NetworkVideoTransmitter"), ""),
         false},
        {"another type", probe("urn:uuid:1", typesOf("dn:Printer")), false},
        {"ours and another",
         probe("urn:uuid:1", typesOf("dn:NetworkVideoTransmitter dn:Printer")), false},
        {"no MessageID", probe("", typesOf("dn:NetworkVideoTransmitter")), false},
        {"SOAP 1.1",
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><d:Probe "
         "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"/></s:Body></s:Envelope>",
         false},
        {"garbage", "\x01\x02probe", false},
    };
    for (const Case &c : cases) {
        const auto id = camsim::probeToAnswer(c.datagram, kProbeScopes);
        EXPECT_EQ(id.has_value(), c.answered) << c.name;
        if (id) {
            EXPECT_EQ(*id, "urn:uuid:1") << c.name;
        }
    }
}

TEST(OnvifDiscoveryTest, TwoSimulatorsOnOnePortBothAnswerAMulticastProbe) {
    const int descriptors = openDescriptors();
    const uint16_t port = freeUdpPort();
    camsim::OnvifConfig first, second;
    first.discoveryPort = second.discoveryPort = port;
    second.xaddrAny = true;
    second.prefixes = camsim::PrefixStyle::Gsoap;
    {
        OnvifRig a(first), b(second);
        ASSERT_TRUE(a.ok && b.ok);
        ASSERT_TRUE(a.device->startDiscovery());
        ASSERT_TRUE(b.device->startDiscovery());
        EXPECT_NE(a.device->endpoint(), b.device->endpoint());

        ProbeSocket client;
        const std::string id = "urn:uuid:6c1e2a3f-0000-4000-8000-00000000abcd";
        client.send(probe(id, typesOf("dn:NetworkVideoTransmitter")), port);
        std::map<std::string, Match> byEndpoint;
        for (const std::string &text : client.receive(2, 3000)) {
            Match m = readMatch(text);
            byEndpoint[m.endpoint] = m;
        }
        ASSERT_EQ(byEndpoint.size(), 2u);
        const std::string transmitter = std::string(uri::kNetwork) + "|NetworkVideoTransmitter " +
                                        uri::kDevice + "|Device ";
        for (const auto &[endpoint, m] : byEndpoint) {
            EXPECT_EQ(m.relatesTo, id);
            EXPECT_EQ(m.action, "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches");
            EXPECT_EQ(m.types, transmitter);
            EXPECT_EQ(endpoint.rfind("urn:uuid:", 0), 0u);
            EXPECT_NE(m.scopes.find("onvif://www.onvif.org/name/Kestrel%20Camsim"),
                      std::string::npos);
        }
        EXPECT_EQ(byEndpoint[a.device->endpoint()].xaddrs,
                  "http://127.0.0.1:" + std::to_string(a.web.port()) + "/onvif/device_service");
        EXPECT_EQ(byEndpoint[b.device->endpoint()].xaddrs,
                  "http://0.0.0.0:" + std::to_string(b.web.port()) + "/onvif/device_service");

        // A Probe for another type is read and not answered; the next good one still is.
        client.send(probe("urn:uuid:other", typesOf("dn:Printer")), port);
        EXPECT_TRUE(eventually([&] {
            return a.device->discoveryStatistics().ignored == 1 &&
                   b.device->discoveryStatistics().ignored == 1;
        }));
        client.send(probe("urn:uuid:again", ""), port, "127.0.0.1");  // unicast: one answers
        const std::vector<std::string> late = client.receive(2, 1000);
        ASSERT_EQ(late.size(), 1u);
        EXPECT_EQ(readMatch(late[0]).relatesTo, "urn:uuid:again");
        EXPECT_EQ(a.device->discoveryStatistics().answered +
                      b.device->discoveryStatistics().answered,
                  3u);
    }
    // Each responder closed its socket and ended its thread.
    EXPECT_EQ(openDescriptors(), descriptors);
}
