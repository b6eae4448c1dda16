#include "tools/camsim/ws_discovery.h"

#include <cctype>
#include <cstdio>
#include <random>

#include "tools/camsim/soap_message.h"
#include "tools/camsim/xml_doc.h"

namespace camsim {

namespace {

namespace ns = onvif_ns;

constexpr std::string_view kMatchRfc3986 =
    "http://schemas.xmlsoap.org/ws/2005/04/discovery/rfc3986";
constexpr std::string_view kMatchStrcmp0 =
    "http://schemas.xmlsoap.org/ws/2005/04/discovery/strcmp0";
constexpr std::string_view kProbeMatchesAction =
    "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches";
constexpr std::string_view kAnonymous =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";

// The white-space separated words of a list value.
std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    while (true) {
        const std::size_t start = text.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos) return out;
        text.remove_prefix(start);
        const std::size_t end = std::min(text.size(), text.find_first_of(" \t\r\n"));
        out.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
}

// True when every QName in Types names a type the device is.
bool typesMatch(xmlNode *types) {
    const std::string list = elementText(types);  // the words below point into it
    for (std::string_view qname : words(list)) {
        const std::size_t colon = qname.find(':');
        const std::string_view prefix =
            colon == std::string_view::npos ? "" : qname.substr(0, colon);
        const std::string_view local =
            qname.substr(colon == std::string_view::npos ? 0 : colon + 1);
        const auto uri = resolvePrefix(types, prefix);
        if (!uri) return false;
        const bool ours = (*uri == ns::kNetwork && local == "NetworkVideoTransmitter") ||
                          (*uri == ns::kDevice && local == "Device");
        if (!ours) return false;
    }
    return true;
}

// The default matching: the probe's scope equals ours or is a prefix of ours ending at a
// segment boundary.
bool segmentPrefix(std::string_view probe, std::string_view ours) {
    while (probe.size() > 1 && probe.back() == '/') probe.remove_suffix(1);
    if (!ours.starts_with(probe)) return false;
    return ours.size() == probe.size() || ours[probe.size()] == '/';
}

bool scopesMatch(xmlNode *scopesNode, const std::vector<std::string> &scopes) {
    const auto matchBy = attribute(scopesNode, "MatchBy");
    const bool exact = matchBy && *matchBy == kMatchStrcmp0;
    if (matchBy && !exact && *matchBy != kMatchRfc3986) return false;
    const std::string list = elementText(scopesNode);
    for (std::string_view wanted : words(list)) {
        bool found = false;
        for (const std::string &scope : scopes)
            found = found || (exact ? wanted == scope : segmentPrefix(wanted, scope));
        if (!found) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> probeToAnswer(std::string_view datagram,
                                         const std::vector<std::string> &scopes) {
    XmlDocPtr doc = parseXml(datagram);
    if (!doc) return std::nullopt;
    xmlNode *envelope = xmlDocGetRootElement(doc.get());
    if (!isElement(envelope, ns::kSoap12, "Envelope")) return std::nullopt;
    xmlNode *header = childElement(envelope, ns::kSoap12, "Header");
    xmlNode *probe = firstElement(childElement(envelope, ns::kSoap12, "Body"));
    if (!isElement(probe, ns::kDiscovery, "Probe")) return std::nullopt;
    std::string messageId = elementText(childElement(header, ns::kAddressing, "MessageID"));
    if (messageId.empty()) return std::nullopt;
    xmlNode *types = childElement(probe, ns::kDiscovery, "Types");
    if (types && !typesMatch(types)) return std::nullopt;
    xmlNode *scopesNode = childElement(probe, ns::kDiscovery, "Scopes");
    if (scopesNode && !scopesMatch(scopesNode, scopes)) return std::nullopt;
    return messageId;
}

std::vector<DiscoveryTarget> floodTargets(const DiscoveryTarget &target) {
    std::vector<DiscoveryTarget> out;
    const std::string base = target.xaddrs.substr(0, target.xaddrs.find(' '));
    for (int i = 0; i < target.floodDevices; ++i) {
        char endpoint[64];
        std::snprintf(endpoint, sizeof endpoint, "urn:uuid:00000000-0000-4000-8000-%012d", i);
        out.push_back({endpoint, {}, base + "/flood" + std::to_string(i), 1, 0});
    }
    return out;
}

std::string probeMatches(const Prefixes &p, const std::vector<DiscoveryTarget> &targets,
                         std::string_view relatesTo, std::string_view messageId,
                         const MessageNumbering &numbering) {
    const std::string_view a = p.addressing, d = p.discovery;
    const std::string header =
        textElement(a, "MessageID", messageId) + textElement(a, "RelatesTo", relatesTo) +
        textElement(a, "To", kAnonymous) + textElement(a, "Action", kProbeMatchesAction) +
        element(d, "AppSequence", "",
                "InstanceId=\"" + std::to_string(numbering.instanceId) + "\" MessageNumber=\"" +
                    std::to_string(numbering.messageNumber) + "\"");
    // The Types' prefixes are the ones this envelope declares.
    const std::string types =
        std::string(p.network) + ":NetworkVideoTransmitter " + std::string(p.device) + ":Device";
    std::string matches;
    for (const DiscoveryTarget &target : targets) {
        std::string scopes;
        for (const std::string &scope : target.scopes) scopes += (scopes.empty() ? "" : " ") + scope;
        const std::string match =
            element(a, "EndpointReference", textElement(a, "Address", target.endpoint)) +
            textElement(d, "Types", types) + textElement(d, "Scopes", scopes) +
            textElement(d, "XAddrs", target.xaddrs) +
            textElement(d, "MetadataVersion", std::to_string(target.metadataVersion));
        matches += element(d, "ProbeMatch", match);
    }
    return soapEnvelope(p, element(d, "ProbeMatches", matches), header);
}

std::string percentEncoded(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::vector<std::string> onvifScopes(std::string_view name, std::string_view hardware) {
    const std::string base = "onvif://www.onvif.org/";
    return {base + "type/video_encoder",
            base + "type/ptz",
            base + "Profile/Streaming",
            base + "name/" + percentEncoded(name),
            base + "hardware/" + percentEncoded(hardware),
            base + "location/city/Loopback"};
}

std::string randomUuidUrn() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    uint8_t b[16];
    for (int i = 0; i < 16; i += 8) {
        const uint64_t word = random();
        for (int k = 0; k < 8; ++k) b[i + k] = static_cast<uint8_t>(word >> (8 * k));
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // variant bits 10
    char text[64];
    std::snprintf(text, sizeof text,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                  b[13], b[14], b[15]);
    return text;
}

}  // namespace camsim
