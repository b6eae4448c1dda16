// The namespace URIs of the SOAP, WS-* and ONVIF messages the library reads and writes.
#pragma once

#include <string_view>

namespace ipcam::ns {

inline constexpr std::string_view kSoap12 = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kSoap11 = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view kWsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
inline constexpr std::string_view kWsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
inline constexpr std::string_view kAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr std::string_view kDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";

inline constexpr std::string_view kSchema = "http://www.onvif.org/ver10/schema";
inline constexpr std::string_view kError = "http://www.onvif.org/ver10/error";
inline constexpr std::string_view kNetwork = "http://www.onvif.org/ver10/network/wsdl";
inline constexpr std::string_view kDevice = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr std::string_view kMedia = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr std::string_view kMedia2 = "http://www.onvif.org/ver20/media/wsdl";
inline constexpr std::string_view kPtz = "http://www.onvif.org/ver20/ptz/wsdl";

}  // namespace ipcam::ns
