// The --device value of kestrel-camsim: which device model the CGI site plays.
#pragma once

#include <optional>
#include <string>

#include "tools/camsim/device_model.h"

namespace camsim {

// --device: which device model the CGI site plays besides the streaming server.
struct DeviceChoice {
    enum class Kind { Server, FamilyA, FamilyB };
    Kind kind = Kind::Server;
    FamilyAConfig familyA;
    FamilyBConfig familyB;
};

// "server", "family-a[:SETTING,...]" or "family-b[:SETTING,...]" (see usage()); nothing and
// a reason when malformed.
std::optional<DeviceChoice> parseDeviceSpec(const std::string &text, std::string &error);

}  // namespace camsim
