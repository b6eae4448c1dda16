// The bodies of the ONVIF requests the library sends, each one element that declares its own
// namespaces, and the action each is sent with.
#pragma once

#include <string>
#include <string_view>

namespace ipcam {

struct SoapCall {
    std::string action;  // the service namespace, "/", the operation
    std::string body;
};

enum class MediaVersion { Media, Media2 };

SoapCall getSystemDateAndTime();
SoapCall getServices();
SoapCall getCapabilities();
SoapCall getProfiles(MediaVersion version);
// RTP unicast over RTSP.
SoapCall getStreamUri(MediaVersion version, std::string_view profileToken);

// Velocities from -1 to 1; timeout in milliseconds, 0 for none (the move lasts until Stop).
// Only the axes that move are named: a pan step says nothing of the zoom, which a head without
// one would refuse.
SoapCall continuousMove(std::string_view profileToken, double pan, double tilt, double zoom,
                        int timeoutMs);
// Stops the axes named.
SoapCall stopMove(std::string_view profileToken, bool panTilt = true, bool zoom = true);
SoapCall gotoHomePosition(std::string_view profileToken);
SoapCall getPresets(std::string_view profileToken);
SoapCall gotoPreset(std::string_view profileToken, std::string_view presetToken);
// An empty presetToken makes a new preset; name may be empty.
SoapCall setPreset(std::string_view profileToken, std::string_view presetToken,
                   std::string_view name);
SoapCall removePreset(std::string_view profileToken, std::string_view presetToken);

}  // namespace ipcam
