// The --onvif options of kestrel-camsim.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/device_model.h"
#include "tools/camsim/onvif_config.h"
#include "tools/camsim/onvif_device.h"
#include "tools/camsim/options.h"
#include "tools/camsim/rtsp_server.h"

namespace camsim {

// --onvif, --onvif-xaddr-any, --onvif-internal-uri, --onvif-digest: switches without a value.
bool isOnvifSwitch(std::string_view option);
void applyOnvifSwitch(std::string_view option, OnvifConfig &config);

// --discovery-port, --clock-skew, --onvif-name, --onvif-hardware, --onvif-prefixes.
bool isOnvifOption(std::string_view option);
// Why value is refused; nothing when it was taken into config.
std::optional<std::string> parseOnvifOption(std::string_view option, const std::string &value,
                                            OnvifConfig &config);

// The ONVIF device the options ask for (nullptr without --onvif), on web for streaming's
// channels, with the streaming server's account, steering camera's head when there is a camera.
// Discovery is not started.
std::unique_ptr<OnvifDevice> makeOnvifDevice(const Options &options, StreamingServer &streaming,
                                             CgiServer &web,
                                             const std::shared_ptr<StoredDevice> &camera);

}  // namespace camsim
