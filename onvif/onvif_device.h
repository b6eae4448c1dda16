// One ONVIF device as a client sees it: its clock, its services, its media profiles and their
// stream addresses, and signed requests to any of its services.
//
// Made for one connection attempt (or one PTZ command) and thrown away; not shared between
// threads. The connection of each request goes into the slot the caller gives, so a thread
// that owns the slot can cut a wait short by closing it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "onvif/onvif_replies.h"
#include "onvif/soap_http.h"
#include "transport/rtsp_url.h"

namespace ipcam {

// What a client needs to steer the head: the PTZ service and the profile it moves (no service
// when the device or the profile has no PTZ), the axes it has, and the device clock's lead on
// ours for the tokens.
struct PtzTarget {
    SoapEndpoint service;
    std::string profileToken;
    bool panTilt = false, zoom = false;
    int64_t clockOffset = 0;
};

// A clock that moved less than this between two readings did not cause a refusal.
inline constexpr int64_t kClockStepSeconds = 2;

class OnvifDevice {
  public:
    // deviceUrl as parsed by parseUrl(..., "http://", 80); address the dotted address its host
    // resolves to. rtspPort, when not 0, takes the place of the stream addresses' ports.
    OnvifDevice(const RtspUrl &deviceUrl, std::string address, std::string user,
                std::string password, int64_t clockOffset = 0, SoapPolicy policy = {},
                uint16_t rtspPort = 0);

    // GetSystemDateAndTime, unsigned: keeps the device clock's lead on ours. A device that
    // does not tell its clock leaves the lead at 0. 0 or a status.
    int readClock(SocketSlot &slot);
    // GetServices, or GetCapabilities for devices without it: where Media (or Media2) and PTZ
    // are. A service the device names at another host than the device URL's (it knows itself
    // by an address we do not reach it at: a port forward, a router) is asked at the device
    // URL's host and port, at the path it names; one at the device URL's host keeps its port.
    // 0 or a status.
    int findServices(SocketSlot &slot);
    // The profiles of the media service found; 0 or a status.
    int readProfiles(SocketSlot &slot, std::vector<MediaProfile> &out);
    // The RTSP address of a profile, its host replaced by the device URL's when they differ
    // (its port kept, or rtspPort).
    int streamUri(SocketSlot &slot, const MediaProfile &profile, std::string &uri);

    // The steps of a connection: clock, services, profiles, the profile-th one's address.
    int resolveStream(SocketSlot &slot, int profile, std::string &uri);

    // A signed request to a service; 0 with the reply's payload, or a status
    // (IPCAM_USER_OR_PASSWD_IS_ER for a refused account, IPCAM_ONVIF_FAULT for another fault,
    // IPCAM_ONVIF_NOT_DEVICE for an answer that is no SOAP, or those of SoapHttp::post). A
    // refusal from a device whose clock this object has not read yet is followed by a reading
    // of the clock, and when it moved (a time server stepped it) the request goes once more.
    int call(SocketSlot &slot, const SoapEndpoint &to, const SoapCall &request,
             std::optional<SoapReply> &reply);

    int64_t clockOffset() const { return offset_; }
    const SoapEndpoint &deviceService() const { return device_; }
    // The host and port the device named its services at when they were replaced by the device
    // URL's ("192.168.1.20:80"); empty when none was.
    const std::string &servicesNamed() const { return servicesNamed_; }
    // Known after resolveStream; no service when the device has no PTZ.
    PtzTarget ptzTarget() const { return ptz_; }

  private:
    SoapEndpoint endpointOf(const std::string &xaddr);
    int signedCall(SocketSlot &slot, const SoapEndpoint &to, const SoapCall &request,
                   std::optional<SoapReply> &reply, bool sign);

    std::string host_;  // the device's host as the caller wrote it
    std::string address_;
    SoapEndpoint device_;
    std::string user_, password_;
    SoapHttp http_;
    uint16_t rtspPort_;
    int64_t offset_ = 0;
    bool clockRead_ = false;
    std::string servicesNamed_;
    MediaVersion media_ = MediaVersion::Media;
    SoapEndpoint mediaService_;
    std::optional<SoapEndpoint> media1Fallback_;
    PtzTarget ptz_;
};

// rtsp://host:port/path of uri with host in place of its host (and without any account), and
// port in place of its port when not 0; nullopt when uri is no RTSP URL.
std::optional<std::string> withHost(const std::string &uri, const std::string &host,
                                    uint16_t port = 0);

}  // namespace ipcam
