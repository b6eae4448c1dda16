#include "tools/camsim/soap_message.h"

#include <algorithm>

namespace camsim {

namespace {

namespace ns = onvif_ns;

// Header blocks the device acts on, or may safely pass over, when marked mustUnderstand.
constexpr std::string_view kUnderstood[] = {ns::kWsse, ns::kAddressing, ns::kAddressing2005};

SoapFault makeFault(SoapFault::Code code, std::initializer_list<std::string_view> subcodes,
                    std::string reason) {
    SoapFault f;
    f.code = code;
    for (std::string_view s : subcodes) f.subcodes.emplace_back(s);
    f.reason = std::move(reason);
    return f;
}

// The first header block marked mustUnderstand that the device does not know; nullptr.
xmlNode *notUnderstood(xmlNode *header) {
    for (xmlNode *block = firstElement(header); block; block = nextElement(block)) {
        const auto mark = attribute(block, "mustUnderstand", ns::kSoap12);
        if (!mark || (*mark != "true" && *mark != "1")) continue;
        if (std::find(std::begin(kUnderstood), std::end(kUnderstood), namespaceOf(block)) ==
            std::end(kUnderstood))
            return block;
    }
    return nullptr;
}

std::string_view codeName(SoapFault::Code code) {
    switch (code) {
        case SoapFault::Code::VersionMismatch:
            return "VersionMismatch";
        case SoapFault::Code::MustUnderstand:
            return "MustUnderstand";
        case SoapFault::Code::Sender:
            return "Sender";
        case SoapFault::Code::Receiver:
            break;
    }
    return "Receiver";
}

}  // namespace

SoapFault senderFault(std::initializer_list<std::string_view> subcodes, std::string reason) {
    return makeFault(SoapFault::Code::Sender, subcodes, std::move(reason));
}

SoapFault receiverFault(std::initializer_list<std::string_view> subcodes, std::string reason) {
    return makeFault(SoapFault::Code::Receiver, subcodes, std::move(reason));
}

std::variant<SoapRequest, SoapFault> readSoapRequest(std::string_view body) {
    SoapRequest request;
    request.doc = parseXml(body);
    if (!request.doc) return senderFault({"WellFormed"}, "The request is not well-formed XML");
    xmlNode *envelope = xmlDocGetRootElement(request.doc.get());
    if (!isElement(envelope, ns::kSoap12, "Envelope"))
        return makeFault(SoapFault::Code::VersionMismatch, {},
                         "Only SOAP 1.2 envelopes are understood");
    xmlNode *part = firstElement(envelope);
    if (isElement(part, ns::kSoap12, "Header")) {
        request.header = part;
        part = nextElement(part);
    }
    if (!isElement(part, ns::kSoap12, "Body") || nextElement(part))
        return senderFault({"TagMismatch"}, "The envelope must hold an optional Header and a Body");
    if (xmlNode *block = notUnderstood(request.header))
        return makeFault(SoapFault::Code::MustUnderstand, {},
                         "Header block " + std::string(localName(block)) + " not understood");
    request.operation = firstElement(part);
    if (!request.operation) return senderFault({"Tag"}, "The Body holds no request");
    return request;
}

std::string element(std::string_view prefix, std::string_view name, std::string_view inner,
                    std::string_view attrs) {
    std::string tag = std::string(prefix) + ":" + std::string(name);
    std::string out = "<" + tag;
    if (!attrs.empty()) out += " " + std::string(attrs);
    if (inner.empty()) return out + "/>";
    return out + ">" + std::string(inner) + "</" + tag + ">";
}

std::string textElement(std::string_view prefix, std::string_view name, std::string_view text) {
    std::string tag = std::string(prefix) + ":" + std::string(name);
    return "<" + tag + ">" + xmlEscape(text) + "</" + tag + ">";
}

std::string soapEnvelope(const Prefixes &p, std::string_view body, std::string_view header) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + std::string(p.env) +
                      ":Envelope" + namespaceDeclarations(p) + ">";
    if (!header.empty()) out += element(p.env, "Header", header);
    out += element(p.env, "Body", body);
    return out + "</" + std::string(p.env) + ":Envelope>\n";
}

std::string soapFaultEnvelope(const Prefixes &p, const SoapFault &fault) {
    const std::string env(p.env);
    // Subcodes nest: the innermost is written first and wrapped outwards.
    std::string subcodes;
    for (auto it = fault.subcodes.rbegin(); it != fault.subcodes.rend(); ++it)
        subcodes = element(p.env, "Subcode",
                           element(p.env, "Value", std::string(p.error) + ":" + *it) + subcodes);
    const std::string code =
        element(p.env, "Code", element(p.env, "Value", env + ":" + std::string(codeName(fault.code))) +
                                   subcodes);
    const std::string reason = element(
        p.env, "Reason",
        "<" + env + ":Text xml:lang=\"en\">" + xmlEscape(fault.reason) + "</" + env + ":Text>");
    std::string header;
    if (fault.code == SoapFault::Code::VersionMismatch)
        header = element(p.env, "Upgrade",
                         element(p.env, "SupportedEnvelope", "", "qname=\"" + env + ":Envelope\""));
    return soapEnvelope(p, element(p.env, "Fault", code + reason), header);
}

}  // namespace camsim
