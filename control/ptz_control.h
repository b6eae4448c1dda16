// Pan/tilt/zoom commands (code 12) in the wordings of the camera families: family A cameras
// with a built-in head say "CMD=", other family A cameras "Dir=" and settings keys, family B
// cameras "RS232.cgi" (settings: "SetPTZ.cgi"), family B recorders send recorder keys.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

struct CommandCall;

// Result of a command a wording does not have, or of a request that is refused unsent.
inline constexpr int kPtzRefused = IPCAM_USER_OR_PASSWD_IS_ER;

// Family A: "SetPTZ.cgi" with "CH=%d&CMD=..." for the models with a built-in head, else with
// "CH=%d&" and the "Dir=" and settings keys.
int familyAPanTilt(CommandCall &call, const PtzRequest &request);

// Family B: the settings commands (1, 30-32) to "SetPTZ.cgi"; the others to "RS232.cgi", or
// as recorder keys when recorderChannels is 1 or more.
int familyBPanTilt(CommandCall &call, const PtzRequest &request, int32_t recorderChannels);
// Family B "SetPTZ.cgi" alone (settings command 8240): commands 1 and 30-32.
int familyBPanTiltSettings(CommandCall &call, const PtzRequest &request);
// Family B "RS232.cgi" alone (settings command 8241).
int familyBSerialPanTilt(CommandCall &call, const PtzRequest &request);

}  // namespace ipcam
