// An ONVIF client for the simulator's tests: SOAP 1.2 requests as clients write them, with any
// prefixes, signed with a UsernameToken whose digest the tests compute themselves, posted over a
// raw socket; replies read by namespace. Namespace URIs are written out here rather than taken
// from the simulator, so a wrong one there cannot pass.
#pragma once

#include <strings.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/camsim/camsim_client.h"
#include "tools/camsim/cgi_server.h"
#include "tools/camsim/onvif_device.h"
#include "tools/camsim/rtsp_server.h"
#include "tools/camsim/sha1_reference.h"
#include "tools/camsim/xml_doc.h"

namespace kestrel_test {

namespace uri {
inline constexpr const char *kSoap12 = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char *kSoap11 = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char *kDevice = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr const char *kMedia = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr const char *kMedia2 = "http://www.onvif.org/ver20/media/wsdl";
inline constexpr const char *kPtz = "http://www.onvif.org/ver20/ptz/wsdl";
inline constexpr const char *kSchema = "http://www.onvif.org/ver10/schema";
inline constexpr const char *kError = "http://www.onvif.org/ver10/error";
inline constexpr const char *kNetwork = "http://www.onvif.org/ver10/network/wsdl";
inline constexpr const char *kWsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
inline constexpr const char *kWsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
inline constexpr const char *kAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr const char *kDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
}  // namespace uri

inline constexpr const char *kDeviceService = "/onvif/device_service";
inline constexpr const char *kMediaService = "/onvif/media_service";
inline constexpr const char *kMedia2Service = "/onvif/media2_service";
inline constexpr const char *kPtzService = "/onvif/ptz_service";

struct HttpResult {
    int status = 0;
    std::string head, body;

    std::vector<std::string> headers(std::string_view name) const {
        std::vector<std::string> values;
        for (std::size_t at = head.find("\r\n"); at != std::string::npos;) {
            at += 2;
            const std::size_t end = head.find("\r\n", at);
            if (end == std::string::npos) break;
            const std::string_view line = std::string_view(head).substr(at, end - at);
            if (line.size() > name.size() && line[name.size()] == ':' &&
                strncasecmp(line.data(), name.data(), name.size()) == 0)
                values.emplace_back(line.substr(line.find_first_not_of(' ', name.size() + 1)));
            at = end;
        }
        return values;
    }
    std::string header(std::string_view name) const {
        auto all = headers(name);
        return all.empty() ? std::string() : all.front();
    }
};

inline HttpResult postSoap(uint16_t port, const std::string &path, const std::string &body,
                           const std::string &contentType = "application/soap+xml; charset=utf-8",
                           const std::string &extraHeaders = "",
                           const std::string &method = "POST") {
    const std::string reply =
        kestrel_test::exchange(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " +
                           contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n" + extraHeaders + "\r\n" + body);
    HttpResult r;
    const std::size_t end = reply.find("\r\n\r\n");
    if (end == std::string::npos || reply.compare(0, 9, "HTTP/1.1 ") != 0) return r;
    r.status = std::atoi(reply.c_str() + 9);
    r.head = reply.substr(0, end + 2);
    r.body = reply.substr(end + 4);
    return r;
}

// "2026-12-08T09:00:00Z".
inline std::string utcText(std::chrono::system_clock::time_point t) {
    const time_t seconds = std::chrono::system_clock::to_time_t(t);
    tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

inline std::string randomBytes(std::size_t n) {
    static std::mt19937 random{std::random_device{}()};
    std::string out(n, '\0');
    for (char &c : out) c = static_cast<char>(random());
    return out;
}

// A UsernameToken; every part can be spoilt.
struct Token {
    std::string user = "admin", password = "secret";
    std::string nonce = randomBytes(16);
    std::string created;  // set by the caller, normally from the device clock
    bool digest = true;   // PasswordDigest; false: PasswordText
    std::string wsse = "wsse", wsu = "wsu";
    std::string createdNamespace = uri::kWsu;
    std::string mustUnderstand;  // the Security block's mark, e.g. "1"; none when empty

    std::string header(const std::string &env = "s") const {
        const std::string password =
            digest ? tokenDigestReference(nonce, created, this->password) : this->password;
        const std::string type =
            std::string("http://docs.oasis-open.org/wss/2004/01/"
                        "oasis-200401-wss-username-token-profile-1.0#") +
            (digest ? "PasswordDigest" : "PasswordText");
        const std::string p = wsse + ":";
        std::string out = "<" + p + "Security xmlns:" + wsse + "=\"" + uri::kWsse + "\" xmlns:" +
                          wsu + "=\"" + createdNamespace + "\"";
        if (!mustUnderstand.empty()) out += " " + env + ":mustUnderstand=\"" + mustUnderstand + "\"";
        out += "><" + p + "UsernameToken><" + p + "Username>" + user + "</" + p + "Username><" +
               p + "Password Type=\"" + type + "\">" + password + "</" + p + "Password><" + p +
               "Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
               "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
               base64Reference(nonce) + "</" + p + "Nonce><" + wsu + ":Created>" + created +
               "</" + wsu + ":Created></" + p + "UsernameToken></" + p + "Security>";
        return out;
    }
};

inline std::string envelope(const std::string &body, const std::string &header = "",
                            const std::string &env = "s", const std::string &envNs = uri::kSoap12) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + env + ":Envelope xmlns:" +
                      env + "=\"" + envNs + "\">";
    if (!header.empty()) out += "<" + env + ":Header>" + header + "</" + env + ":Header>";
    return out + "<" + env + ":Body>" + body + "</" + env + ":Body></" + env + ":Envelope>";
}

// <P:name xmlns:P="ns">inner</P:name>; an empty prefix puts ns as the default namespace.
inline std::string op(const std::string &ns, const std::string &name, const std::string &inner = "",
                      const std::string &prefix = "o") {
    const std::string tag = prefix.empty() ? name : prefix + ":" + name;
    const std::string decl = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
    return "<" + tag + " " + decl + "=\"" + ns + "\">" + inner + "</" + tag + ">";
}

// The first element child of node with that namespace and name.
inline xmlNode *child(xmlNode *node, std::string_view ns, std::string_view name) {
    return camsim::childElement(node, ns, name);
}

inline std::vector<xmlNode *> children(xmlNode *node, std::string_view ns, std::string_view name) {
    std::vector<xmlNode *> out;
    for (xmlNode *e = camsim::firstElement(node); e; e = camsim::nextElement(e))
        if (camsim::isElement(e, ns, name)) out.push_back(e);
    return out;
}

// A parsed reply and the first element of its Body.
struct SoapReply {
    camsim::XmlDocPtr doc;
    xmlNode *body = nullptr;

    explicit SoapReply(const std::string &text) : doc(camsim::parseXml(text)) {
        if (!doc) return;
        xmlNode *envelope = xmlDocGetRootElement(doc.get());
        if (camsim::isElement(envelope, uri::kSoap12, "Envelope"))
            body = camsim::firstElement(child(envelope, uri::kSoap12, "Body"));
    }
};

// "ns|local" of a QName in an element's text, its prefix resolved there.
inline std::string resolvedQName(xmlNode *node) {
    const std::string text = camsim::elementText(node);
    const std::size_t colon = text.find(':');
    const auto ns = camsim::resolvePrefix(node, colon == std::string::npos ? "" : text.substr(0, colon));
    return (ns ? *ns : "?") + "|" + text.substr(colon == std::string::npos ? 0 : colon + 1);
}

// A fault's code and subcodes, "ns|local" each; empty when the reply is no fault.
inline std::vector<std::string> faultCodes(const std::string &text) {
    SoapReply reply(text);
    std::vector<std::string> codes;
    if (!camsim::isElement(reply.body, uri::kSoap12, "Fault")) return codes;
    for (xmlNode *code = child(reply.body, uri::kSoap12, "Code"); code;
         code = child(code, uri::kSoap12, "Subcode"))
        codes.push_back(resolvedQName(child(code, uri::kSoap12, "Value")));
    return codes;
}

inline std::string soapCode(const char *local) {
    return std::string(uri::kSoap12) + "|" + local;
}
inline std::string onvifCode(const char *local) {
    return std::string(uri::kError) + "|" + local;
}

// A 200 whose Body holds the response element of that namespace and name.
inline bool answered(const HttpResult &r, const char *ns, const char *response) {
    SoapReply reply(r.body);
    return r.status == 200 && camsim::isElement(reply.body, ns, response);
}

// A 400 with the fault env:Sender / ter:NotAuthorized.
inline bool refusedNotAuthorized(const HttpResult &r) {
    const std::vector<std::string> expected = {soapCode("Sender"), onvifCode("NotAuthorized")};
    return r.status == 400 && faultCodes(r.body) == expected;
}

inline std::vector<camsim::ChannelConfig> onvifTestChannels() {
    using Codec = camsim::ChannelConfig::Codec;
    return {{.codec = Codec::Mpeg4, .width = 320, .height = 240, .fps = 10},
            {.codec = Codec::Jpeg, .width = 320, .height = 240, .fps = 5},
            {.codec = Codec::H265, .width = 640, .height = 360, .fps = 15}};
}

// A simulator in-process: streaming server, web site and the ONVIF device on it.
struct OnvifRig {
    explicit OnvifRig(camsim::OnvifConfig config = {},
                      const std::vector<camsim::ChannelConfig> &channels = onvifTestChannels(),
                      const camsim::RtspAuthConfig &rtspAuth = {})
        : skew(config.clockSkewSeconds) {
        for (const auto &channel : channels) rtsp.addChannel(channel);
        rtsp.setAuth(rtspAuth);
        ok = rtsp.start() && web.start();
        device = std::make_unique<camsim::OnvifDevice>(web, rtsp, std::move(config));
    }

    std::chrono::system_clock::time_point deviceNow() const {
        return std::chrono::system_clock::now() + std::chrono::seconds(skew);
    }
    HttpResult call(const std::string &path, const std::string &operation) const {
        return postSoap(web.port(), path, envelope(operation));
    }
    HttpResult signedCall(const std::string &path, const std::string &operation,
                          Token token = {}) const {
        if (token.created.empty()) token.created = utcText(deviceNow());
        return postSoap(web.port(), path, envelope(operation, token.header()));
    }

    long long skew;
    bool ok = false;
    camsim::CgiServer web;
    camsim::StreamingServer rtsp;
    std::unique_ptr<camsim::OnvifDevice> device;  // last: made from the two above
};

}  // namespace kestrel_test
