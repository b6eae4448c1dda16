#include "onvif/onvif_device.h"

#include <cstdlib>
#include <ctime>

#include "core/text_case.h"
#include "ipcam.h"
#include "onvif/onvif_namespaces.h"

namespace ipcam {

namespace {

constexpr int kOk = 200;

int64_t utcNow() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::string hostHeader(const std::string &host, uint16_t port) {
    return port == 80 ? host : host + ":" + std::to_string(port);
}

}  // namespace

std::optional<std::string> withHost(const std::string &uri, const std::string &host,
                                    uint16_t port) {
    RtspUrl parsed;
    if (parseRtspUrl(uri, parsed) != 0) return std::nullopt;
    return "rtsp://" + host + ":" + std::to_string(port ? port : parsed.port) + parsed.path;
}

OnvifDevice::OnvifDevice(const RtspUrl &deviceUrl, std::string address, std::string user,
                         std::string password, int64_t clockOffset, SoapPolicy policy,
                         uint16_t rtspPort)
    : host_(deviceUrl.host),
      address_(std::move(address)),
      user_(std::move(user)),
      password_(std::move(password)),
      http_(user_, password_, policy),
      rtspPort_(rtspPort),
      offset_(clockOffset) {
    device_.address = address_;
    device_.port = deviceUrl.port;
    device_.path = deviceUrl.path;
    device_.hostHeader = hostHeader(host_, deviceUrl.port);
}

// A service address names the device as the device sees itself, which behind a router or
// with a misconfigured camera is not the address we reach it at: requests go to the address
// we reach the device at, and to the port we reach it at unless the service names that very
// host (a service on a port of its own).
SoapEndpoint OnvifDevice::endpointOf(const std::string &xaddr) {
    RtspUrl parsed;
    if (parseUrl(xaddr, "http://", 80, parsed) != 0) return device_;
    SoapEndpoint out = device_;
    out.path = parsed.path;
    if (equalsNoCase(parsed.host, host_) || parsed.host == address_) {
        out.port = parsed.port;
        out.hostHeader = hostHeader(host_, parsed.port);
    } else {
        servicesNamed_ = parsed.host + ":" + std::to_string(parsed.port);
    }
    return out;
}

int OnvifDevice::signedCall(SocketSlot &slot, const SoapEndpoint &to, const SoapCall &request,
                            std::optional<SoapReply> &reply, bool sign) {
    const bool withToken = sign && !user_.empty();
    auto envelope = [&] {
        if (!withToken) return soapEnvelope(request.body, nullptr);
        const UsernameToken token =
            makeUsernameToken(user_, password_, freshNonce(), utcNow() + offset_);
        return soapEnvelope(request.body, &token);
    };
    int status = 0;
    std::string body;
    if (int r = http_.post(slot, to, request.action, envelope, status, body); r != 0) return r;
    reply = readSoapReply(body);
    if (!reply) return status == 401 || status == 403 ? IPCAM_USER_OR_PASSWD_IS_ER
                                                      : IPCAM_ONVIF_NOT_DEVICE;
    if (reply->fault) return isAuthenticationFault(*reply) ? IPCAM_USER_OR_PASSWD_IS_ER
                                                           : IPCAM_ONVIF_FAULT;
    if (status != kOk) return status == 401 ? IPCAM_USER_OR_PASSWD_IS_ER : IPCAM_ONVIF_FAULT;
    return 0;
}

int OnvifDevice::call(SocketSlot &slot, const SoapEndpoint &to, const SoapCall &request,
                      std::optional<SoapReply> &reply) {
    const int r = signedCall(slot, to, request, reply, true);
    if (r != IPCAM_USER_OR_PASSWD_IS_ER || user_.empty() || clockRead_) return r;
    // Tokens made for a clock the device no longer keeps are refused like a wrong password;
    // one that stays where it was says the password is what was wrong.
    const int64_t before = offset_;
    if (readClock(slot) != 0 || std::llabs(offset_ - before) < kClockStepSeconds) return r;
    return signedCall(slot, to, request, reply, true);
}

int OnvifDevice::readClock(SocketSlot &slot) {
    std::optional<SoapReply> reply;
    const int64_t asked = utcNow();
    const int r = signedCall(slot, device_, getSystemDateAndTime(), reply, false);
    // A device that wants an account even for its clock is asked the rest with our own.
    if (r == IPCAM_USER_OR_PASSWD_IS_ER || r == IPCAM_ONVIF_FAULT) return 0;
    if (r != 0) return r;
    const auto deviceTime = readDeviceTime(*reply);
    if (!deviceTime) return reply->payload.is(ns::kDevice, "GetSystemDateAndTimeResponse")
                                ? 0
                                : IPCAM_ONVIF_NOT_DEVICE;
    // The device read its clock somewhere between asking and answering.
    offset_ = *deviceTime - (asked + utcNow()) / 2;
    clockRead_ = true;
    return 0;
}

int OnvifDevice::findServices(SocketSlot &slot) {
    std::optional<SoapReply> reply;
    std::optional<ServiceAddresses> found;
    int r = call(slot, device_, getServices(), reply);
    if (r == 0) found = readServices(*reply);
    if (r == IPCAM_ONVIF_FAULT || (r == 0 && !found)) {
        r = call(slot, device_, getCapabilities(), reply);
        if (r == 0) found = readCapabilities(*reply);
    }
    if (r != 0) return r;
    if (!found || (found->media.empty() && found->media2.empty())) return IPCAM_ONVIF_NOT_DEVICE;
    // Media2 lists the H.265 profiles Media leaves out; Media stays as the fallback.
    if (!found->media2.empty()) {
        media_ = MediaVersion::Media2;
        mediaService_ = endpointOf(found->media2);
        if (!found->media.empty()) media1Fallback_ = endpointOf(found->media);
    } else {
        media_ = MediaVersion::Media;
        mediaService_ = endpointOf(found->media);
    }
    ptz_.service = found->ptz.empty() ? SoapEndpoint{} : endpointOf(found->ptz);
    return 0;
}

int OnvifDevice::readProfiles(SocketSlot &slot, std::vector<MediaProfile> &out) {
    std::optional<SoapReply> reply;
    int r = call(slot, mediaService_, getProfiles(media_), reply);
    if (r == IPCAM_ONVIF_FAULT && media1Fallback_) {
        media_ = MediaVersion::Media;
        mediaService_ = *media1Fallback_;
        media1Fallback_.reset();
        r = call(slot, mediaService_, getProfiles(media_), reply);
    }
    if (r != 0) return r;
    auto profiles = ipcam::readProfiles(*reply, media_);
    if (!profiles) return IPCAM_ONVIF_NOT_DEVICE;
    out = std::move(*profiles);
    return 0;
}

int OnvifDevice::streamUri(SocketSlot &slot, const MediaProfile &profile, std::string &uri) {
    std::optional<SoapReply> reply;
    if (int r = call(slot, mediaService_, getStreamUri(media_, profile.token), reply); r != 0)
        return r;
    const auto given = readStreamUri(*reply, media_);
    if (!given) return IPCAM_ONVIF_NO_STREAM;
    const auto rewritten = withHost(*given, host_, rtspPort_);
    if (!rewritten) return IPCAM_ONVIF_NO_STREAM;
    uri = *rewritten;
    return 0;
}

int OnvifDevice::resolveStream(SocketSlot &slot, int profile, std::string &uri) {
    if (int r = readClock(slot); r != 0) return r;
    if (int r = findServices(slot); r != 0) return r;
    std::vector<MediaProfile> profiles;
    if (int r = readProfiles(slot, profiles); r != 0) return r;
    if (profile < 0 || static_cast<std::size_t>(profile) >= profiles.size())
        return IPCAM_ONVIF_NO_PROFILE;
    const MediaProfile &chosen = profiles[static_cast<std::size_t>(profile)];
    if (int r = streamUri(slot, chosen, uri); r != 0) return r;
    if (!chosen.ptz) ptz_.service = {};
    ptz_.profileToken = chosen.token;
    ptz_.panTilt = chosen.panTilt;
    ptz_.zoom = chosen.zoom;
    ptz_.clockOffset = offset_;
    return 0;
}

}  // namespace ipcam
