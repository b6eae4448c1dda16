#include "onvif/soap_message.h"

#include <sys/random.h>

#include <cstdio>
#include <ctime>
#include <random>

#include "control/base64.h"
#include "core/hashes.h"
#include "onvif/onvif_namespaces.h"

namespace ipcam {

namespace {

std::string base64(std::string_view bytes) {
    std::string out(base64Length(bytes.size()) + 1, '\0');
    const int n = EncodeBase64(bytes.data(), bytes.size(), out.data(), out.size());
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::string_view localPart(std::string_view qname) {
    const std::size_t colon = qname.rfind(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// Digits at text[at, at + count) as a number; -1 when any is not a digit.
int digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string utcText(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::optional<int64_t> parseUtcText(std::string_view text) {
    // YYYY-MM-DDThh:mm:ss
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2),
              second = digitsAt(text, 17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    std::size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        ++at;
        const std::size_t digits = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at == digits) return std::nullopt;
    }
    int64_t zone = 0;
    if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int zh = digitsAt(text, at + 1, 2), zm = digitsAt(text, at + 4, 2);
        if (zh < 0 || zh > 14 || zm < 0 || zm > 59 || text.size() < at + 6 || text[at + 3] != ':')
            return std::nullopt;
        zone = (zh * 3600 + zm * 60) * (text[at] == '+' ? 1 : -1);
        at += 6;
    }
    if (at != text.size()) return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<int64_t>(timegm(&parts)) - zone;
}

std::string passwordDigest(std::string_view nonceBytes, std::string_view created,
                           std::string_view password) {
    Sha1 hash;
    hash.update(nonceBytes);
    hash.update(created);
    hash.update(password);
    const auto digest = hash.finish();
    return base64(std::string_view(reinterpret_cast<const char *>(digest.data()), digest.size()));
}

UsernameToken makeUsernameToken(std::string_view user, std::string_view password,
                                const std::array<uint8_t, kNonceBytes> &nonce, int64_t created) {
    const std::string_view bytes(reinterpret_cast<const char *>(nonce.data()), nonce.size());
    UsernameToken token;
    token.user = user;
    token.created = utcText(created);
    token.nonce = base64(bytes);
    token.digest = passwordDigest(bytes, token.created, password);
    return token;
}

std::array<uint8_t, kNonceBytes> freshNonce() {
    std::array<uint8_t, kNonceBytes> nonce{};
    if (getrandom(nonce.data(), nonce.size(), 0) == static_cast<ssize_t>(nonce.size())) return nonce;
    std::random_device random;
    for (uint8_t &b : nonce) b = static_cast<uint8_t>(random());
    return nonce;
}

std::string soapEnvelope(std::string_view body, const UsernameToken *token) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<s:Envelope xmlns:s=\"";
    out += ns::kSoap12;
    out += "\">";
    if (token) {
        out += "<s:Header><wsse:Security s:mustUnderstand=\"1\" xmlns:wsse=\"";
        out += ns::kWsse;
        out += "\" xmlns:wsu=\"";
        out += ns::kWsu;
        out += "\"><wsse:UsernameToken><wsse:Username>" + xmlEscape(token->user) +
               "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
               "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
               token->digest +
               "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/"
               "01/oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
               token->nonce + "</wsse:Nonce><wsu:Created>" + token->created +
               "</wsu:Created></wsse:UsernameToken></wsse:Security></s:Header>";
    }
    out += "<s:Body>";
    out += body;
    out += "</s:Body></s:Envelope>";
    return out;
}

std::optional<SoapReply> readSoapReply(std::string_view text) {
    auto document = XmlDocument::parse(text);
    if (!document) return std::nullopt;
    const XmlElement root = document->root();
    std::string_view envelopeNs;
    for (std::string_view candidate : {ns::kSoap12, ns::kSoap11})
        if (root.is(candidate, "Envelope")) envelopeNs = candidate;
    if (envelopeNs.empty()) return std::nullopt;
    const XmlElement payload = root.child(envelopeNs, "Body").firstChild();
    if (!payload) return std::nullopt;

    SoapReply reply{std::move(*document), payload, false, {}, {}, {}};
    if (!payload.is(envelopeNs, "Fault")) return reply;
    reply.fault = true;
    if (envelopeNs == ns::kSoap12) {
        const XmlElement code = payload.child(envelopeNs, "Code");
        reply.faultCode = localPart(code.child(envelopeNs, "Value").text());
        reply.faultSubcode = localPart(code.path(envelopeNs, {"Subcode", "Value"}).text());
        reply.faultReason = payload.path(envelopeNs, {"Reason", "Text"}).text();
    } else {
        reply.faultCode = localPart(payload.child(kAnyNamespace, "faultcode").text());
        reply.faultReason = payload.child(kAnyNamespace, "faultstring").text();
    }
    return reply;
}

bool isAuthenticationFault(const SoapReply &reply) {
    if (!reply.fault) return false;
    for (const std::string &code : {reply.faultSubcode, reply.faultCode})
        if (code == "NotAuthorized" || code == "FailedAuthentication" ||
            code == "InvalidSecurityToken" || code == "InvalidSecurity" ||
            code == "MessageExpired")
            return true;
    return false;
}

}  // namespace ipcam
