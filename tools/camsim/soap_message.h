// SOAP 1.2 as the ONVIF device reads and writes it: requests checked as a strict device checks
// them, replies and faults in envelopes with the device's own prefixes.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/camsim/onvif_names.h"
#include "tools/camsim/xml_doc.h"

namespace camsim {

struct SoapFault {
    enum class Code { VersionMismatch, MustUnderstand, Sender, Receiver };
    Code code = Code::Sender;
    std::vector<std::string> subcodes;  // local names in the ONVIF error namespace, outermost first
    std::string reason;

    // As the SOAP 1.2 HTTP binding maps faults: 400 for the sender's, 500 for the rest.
    int httpStatus() const { return code == Code::Sender ? 400 : 500; }
};

SoapFault senderFault(std::initializer_list<std::string_view> subcodes, std::string reason);
SoapFault receiverFault(std::initializer_list<std::string_view> subcodes, std::string reason);

struct SoapRequest {
    XmlDocPtr doc;
    xmlNode *header = nullptr;     // env:Header, nullptr when the envelope has none
    xmlNode *operation = nullptr;  // the first element of env:Body
};

// The request in body, or the fault a strict device answers it with: WellFormed for bytes that
// are not XML (or carry a DTD), VersionMismatch for any root but a SOAP 1.2 Envelope (SOAP 1.1
// included), TagMismatch when Header/Body are out of place, Tag when the Body is empty, and
// MustUnderstand for a header block marked so outside WS-Security and WS-Addressing.
std::variant<SoapRequest, SoapFault> readSoapRequest(std::string_view body);

// A whole envelope around body (and header), every namespace of p declared on the Envelope.
std::string soapEnvelope(const Prefixes &p, std::string_view body, std::string_view header = {});
// The envelope of a fault; a VersionMismatch carries the Upgrade header naming SOAP 1.2.
std::string soapFaultEnvelope(const Prefixes &p, const SoapFault &fault);

// "<P:name>inner</P:name>" (with attrs inside the start tag when given).
std::string element(std::string_view prefix, std::string_view name, std::string_view inner,
                    std::string_view attrs = {});
// The same with text, escaped, as its content.
std::string textElement(std::string_view prefix, std::string_view name, std::string_view text);

}  // namespace camsim
