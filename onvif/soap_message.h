// SOAP 1.2 messages to ONVIF services: the envelope with its WS-Security UsernameToken, and
// the reading of a reply into its payload or its fault.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "onvif/xml_document.h"

namespace ipcam {

// Text escaped for XML character data and attribute values.
std::string xmlEscape(std::string_view text);

// "2026-12-08T09:00:00Z" for seconds since 1970 (UTC); the seconds for such a text (fractions
// and a "Z" or "+hh:mm" zone allowed), nullopt for anything else.
std::string utcText(int64_t seconds);
std::optional<int64_t> parseUtcText(std::string_view text);

// A UsernameToken with PasswordDigest = Base64(SHA-1(nonce + created + password)).
struct UsernameToken {
    std::string user;
    std::string digest;  // Base64
    std::string nonce;   // Base64 of the nonce bytes
    std::string created;
};
inline constexpr std::size_t kNonceBytes = 16;
std::string passwordDigest(std::string_view nonceBytes, std::string_view created,
                           std::string_view password);
UsernameToken makeUsernameToken(std::string_view user, std::string_view password,
                                const std::array<uint8_t, kNonceBytes> &nonce, int64_t created);
// Sixteen bytes from the system's random source.
std::array<uint8_t, kNonceBytes> freshNonce();

// The whole envelope around body (one element that declares its own namespaces); with a
// Security header when token is given.
std::string soapEnvelope(std::string_view body, const UsernameToken *token);

// A reply read: the first element of its Body, or its Fault.
struct SoapReply {
    XmlDocument document;
    XmlElement payload;         // the Body's first element (the Fault itself for a fault)
    bool fault = false;
    std::string faultCode;      // local names of the Code's and the first Subcode's values
    std::string faultSubcode;
    std::string faultReason;    // the first Reason text
};
// nullopt for text that is no SOAP envelope (1.2, or 1.1 as some devices still answer) with a
// Body holding an element.
std::optional<SoapReply> readSoapReply(std::string_view text);

// Whether a fault says the account was refused (ter:NotAuthorized, or a WS-Security failure,
// among them a token too old for the device's clock).
bool isAuthenticationFault(const SoapReply &reply);

}  // namespace ipcam
