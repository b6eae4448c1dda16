// The simulator as an ONVIF (Profile S) device: the device, Media, Media2 and PTZ services on
// the web port (onvif_service.h) and the WS-Discovery responder (discovery_responder.h).
//
// The media profiles are the streaming server's channels when the device is made. PTZ steers
// the camera's own head when there is one (each profile its channel's head, or the one head of a
// family B camera); otherwise the device has a head of its own, and routes GetSimState.cgi to
// report it as a family A camera would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/discovery_responder.h"
#include "tools/camsim/onvif_config.h"
#include "tools/camsim/onvif_service.h"
#include "tools/camsim/ptz_head.h"
#include "tools/camsim/rtsp_server.h"

namespace camsim {

class OnvifDevice {
  public:
    // web must outlive the device; the routes it sets keep working without the device object
    // except for discovery, which ends with it.
    OnvifDevice(CgiServer &web, const StreamingServer &streaming, OnvifConfig config,
                std::shared_ptr<PtzHead> head = nullptr, bool headPerChannel = true);
    ~OnvifDevice();
    OnvifDevice(const OnvifDevice &) = delete;
    OnvifDevice &operator=(const OnvifDevice &) = delete;

    // Starts answering Probes on the configured discovery port; false when it cannot be had.
    bool startDiscovery();
    void stopDiscovery();
    uint16_t discoveryPort() const { return discovery_.port(); }
    DiscoveryStatistics discoveryStatistics() const { return discovery_.statistics(); }

    const std::string &endpoint() const { return service_->context().endpoint; }
    const std::vector<OnvifProfile> &profiles() const { return service_->context().profiles; }
    PtzHead &head() const { return *service_->context().head; }
    // What a ProbeMatch says of the device now.
    DiscoveryTarget target() const;
    // Moves the device clock by seconds, as a time server setting it does.
    void stepClock(long long seconds) const { service_->context().clockStep += seconds; }

  private:
    CgiServer &web_;
    std::shared_ptr<OnvifService> service_;  // shared with the routes
    DiscoveryResponder discovery_;
};

}  // namespace camsim
