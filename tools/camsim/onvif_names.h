// The namespaces the ONVIF device and its discovery speak, and the prefixes replies are written
// with. Requests are read by namespace whatever their prefixes; replies use prefixes of their
// own so that a client that looks for "s:" or "tt:" fails here rather than in the field.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace camsim::onvif_ns {

inline constexpr std::string_view kSoap12 = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kSoap11 = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view kDevice = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr std::string_view kMedia = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr std::string_view kMedia2 = "http://www.onvif.org/ver20/media/wsdl";
inline constexpr std::string_view kPtz = "http://www.onvif.org/ver20/ptz/wsdl";
inline constexpr std::string_view kSchema = "http://www.onvif.org/ver10/schema";
inline constexpr std::string_view kError = "http://www.onvif.org/ver10/error";
inline constexpr std::string_view kNetwork = "http://www.onvif.org/ver10/network/wsdl";
inline constexpr std::string_view kWsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
inline constexpr std::string_view kWsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
inline constexpr std::string_view kAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr std::string_view kAddressing2005 = "http://www.w3.org/2005/08/addressing";
inline constexpr std::string_view kDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";

}  // namespace camsim::onvif_ns

namespace camsim {

// Prefixes of every namespace a reply uses.
struct Prefixes {
    std::string_view env, device, media, media2, ptz, schema, error, addressing, discovery,
        network;
};

enum class PrefixStyle {
    Gsoap,  // SOAP-ENV, tds, trt, tr2, tptz, tt, ter, wsa, wsdd, dn: what many cameras send
    Odd,    // e, dv, md, m2, pz, sc, er, ad, di, nv: prefixes no client can have hard-coded
};

inline const Prefixes &prefixesOf(PrefixStyle style) {
    static constexpr Prefixes kGsoap{"SOAP-ENV", "tds", "trt", "tr2",  "tptz",
                                     "tt",       "ter", "wsa", "wsdd", "dn"};
    static constexpr Prefixes kOdd{"e", "dv", "md", "m2", "pz", "sc", "er", "ad", "di", "nv"};
    return style == PrefixStyle::Gsoap ? kGsoap : kOdd;
}

inline std::optional<PrefixStyle> parsePrefixStyle(std::string_view name) {
    if (name == "gsoap") return PrefixStyle::Gsoap;
    if (name == "odd") return PrefixStyle::Odd;
    return std::nullopt;
}

// " xmlns:P=\"URI\"" for every namespace of p, to open an envelope with.
inline std::string namespaceDeclarations(const Prefixes &p) {
    namespace n = onvif_ns;
    const std::pair<std::string_view, std::string_view> all[] = {
        {p.env, n::kSoap12},         {p.device, n::kDevice},    {p.media, n::kMedia},
        {p.media2, n::kMedia2},      {p.ptz, n::kPtz},          {p.schema, n::kSchema},
        {p.error, n::kError},        {p.addressing, n::kAddressing},
        {p.discovery, n::kDiscovery}, {p.network, n::kNetwork}};
    std::string out;
    for (const auto &[prefix, uri] : all)
        out += " xmlns:" + std::string(prefix) + "=\"" + std::string(uri) + "\"";
    return out;
}

}  // namespace camsim
