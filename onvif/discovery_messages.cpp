#include "onvif/discovery_messages.h"

#include <arpa/inet.h>

#include <cstdio>

#include "onvif/device_text.h"
#include "onvif/onvif_namespaces.h"
#include "onvif/soap_message.h"
#include "onvif/xml_document.h"
#include "transport/rtsp_url.h"

namespace ipcam {

namespace {

constexpr std::string_view kProbeMatchesAction =
    "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches";
constexpr std::string_view kNameScope = "onvif://www.onvif.org/name/";
constexpr std::string_view kHardwareScope = "onvif://www.onvif.org/hardware/";

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t\r\n", at);
        if (start == std::string_view::npos) break;
        const std::size_t end = text.find_first_of(" \t\r\n", start);
        out.push_back(text.substr(start, end - start));
        at = end == std::string_view::npos ? text.size() : end;
    }
    return out;
}

// Whether a Types list admits a video transmitter: absent or empty lists do, and so does a
// NetworkVideoTransmitter whose prefix is bound to the ONVIF network namespace or to nothing
// at all (devices that forget the declaration are common).
bool offersVideo(const XmlElement &types) {
    if (!types) return true;
    const std::string text = types.text();
    const auto list = words(text);
    if (list.empty()) return true;
    for (std::string_view qname : list) {
        const std::size_t colon = qname.find(':');
        const std::string_view prefix = colon == std::string_view::npos ? "" : qname.substr(0, colon);
        const std::string_view local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
        if (local != "NetworkVideoTransmitter") continue;
        const auto bound = types.namespaceOf(prefix);
        if (!bound || *bound == ns::kNetwork) return true;
    }
    return false;
}

bool isIpv4(std::string_view host, in_addr &out) {
    const std::string text(host);
    return inet_pton(AF_INET, text.c_str(), &out) == 1;
}

// The authority of an http:// URL names an account (anything before an '@').
bool hasAccount(std::string_view url) {
    const std::string_view rest = url.substr(std::string_view("http://").size());
    return rest.substr(0, rest.find_first_of("/?")).find('@') != std::string_view::npos;
}

std::string scopeText(std::string_view encoded) {
    return deviceText(percentDecoded(encoded), kMaxScopeText);
}

// 0.0.0.0, 127/8 and 169.254/16: addresses that say nothing about where the device is.
bool saysNothing(const in_addr &address) {
    const uint32_t a = ntohl(address.s_addr);
    return a == 0 || (a >> 24) == 127 || (a >> 16) == 0xA9FE;
}

}  // namespace

std::string newMessageId() {
    const auto bytes = freshNonce();
    char text[48];
    std::snprintf(text, sizeof text,
                  "uuid:%02x%02x%02x%02x-%02x%02x-4%x%02x-%x%x%02x-%02x%02x%02x%02x%02x%02x",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6] & 0x0F,
                  bytes[7], 8 | (bytes[8] & 0x3), bytes[8] >> 4, bytes[9], bytes[10], bytes[11], bytes[12],
                  bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string probeMessage(std::string_view messageId) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e:Envelope xmlns:e=\"";
    out += ns::kSoap12;
    out += "\" xmlns:w=\"";
    out += ns::kAddressing;
    out += "\" xmlns:d=\"";
    out += ns::kDiscovery;
    out += "\" xmlns:dn=\"";
    out += ns::kNetwork;
    out += "\"><e:Header><w:MessageID>" + xmlEscape(messageId) +
           "</w:MessageID><w:To e:mustUnderstand=\"true\">urn:schemas-xmlsoap-org:ws:2005:04:"
           "discovery</w:To><w:Action e:mustUnderstand=\"true\">http://schemas.xmlsoap.org/ws/"
           "2005/04/discovery/Probe</w:Action></e:Header><e:Body><d:Probe><d:Types>"
           "dn:NetworkVideoTransmitter</d:Types></d:Probe></e:Body></e:Envelope>";
    return out;
}

std::vector<ProbeMatch> readProbeMatches(std::string_view datagram, std::string_view messageId) {
    std::vector<ProbeMatch> out;
    const auto reply = readSoapReply(datagram);
    if (!reply || reply->fault || !reply->payload.is(ns::kDiscovery, "ProbeMatches")) return out;
    const XmlElement header = reply->document.root().child(reply->document.root().namespaceUri(), "Header");
    const XmlElement action = header.child(ns::kAddressing, "Action");
    if (action && action.text() != kProbeMatchesAction) return out;
    const XmlElement relates = header.child(ns::kAddressing, "RelatesTo");
    if (relates && relates.text() != messageId) return out;

    for (const XmlElement &m : reply->payload.children(ns::kDiscovery, "ProbeMatch")) {
        if (!offersVideo(m.child(ns::kDiscovery, "Types"))) continue;
        ProbeMatch match;
        const std::string endpoint = m.path(ns::kAddressing, {"EndpointReference", "Address"}).text();
        if (endpoint.size() > kMaxEndpoint) continue;
        match.endpoint = deviceText(endpoint);
        const std::string xaddrs = m.child(ns::kDiscovery, "XAddrs").text();
        for (std::string_view x : words(xaddrs))
            if (match.xaddrs.size() < kMaxXAddrs) match.xaddrs.emplace_back(x);
        const std::string scopes = m.child(ns::kDiscovery, "Scopes").text();
        for (std::string_view scope : words(scopes)) {
            if (scope.substr(0, kNameScope.size()) == kNameScope && match.name.empty())
                match.name = scopeText(scope.substr(kNameScope.size()));
            if (scope.substr(0, kHardwareScope.size()) == kHardwareScope && match.hardware.empty())
                match.hardware = scopeText(scope.substr(kHardwareScope.size()));
        }
        if (!match.xaddrs.empty()) out.push_back(std::move(match));
    }
    return out;
}

std::optional<DeviceUrl> chooseDeviceUrl(const std::vector<std::string> &xaddrs,
                                         std::string_view sourceAddress) {
    std::optional<DeviceUrl> first;
    for (const std::string &x : xaddrs) {
        RtspUrl url;
        if (parseUrl(x, "http://", 80, url) != 0 || hasAccount(x)) continue;
        in_addr address{};
        DeviceUrl chosen{"http://" + x.substr(7), true};  // the scheme in one spelling
        if (isIpv4(url.host, address)) {
            if (url.host == sourceAddress) return DeviceUrl{chosen.url, false};
            if (saysNothing(address))
                chosen = {"http://" + std::string(sourceAddress) + ":" + std::to_string(url.port) +
                              url.path,
                          false};
        }
        if (!first) first = chosen;
    }
    return first;
}

}  // namespace ipcam
