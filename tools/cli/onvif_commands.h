// The ipcam commands of ONVIF cameras that need no session: discover and profiles.
#pragma once

#include <string>
#include <string_view>

#include "tools/cli/args.h"

namespace ipcam_cli {

// A field of the TAB-separated output: backslash, tab, line ends and other control
// characters written as \\, \t, \n, \r and \xHH, so that no text forges a field or a line.
std::string tabField(std::string_view text);

// Prints one line per camera that answered: DEVICE_URL<TAB>NAME<TAB>HARDWARE, with a fourth
// field for one not to trust blindly, then how many answered on standard error. 0, or 1 when
// none did.
int runDiscover(const Options &options);

// Prints one line per media profile: index, name, codec, size and stream address (with -v,
// whether it has PTZ, and a note when the services were asked elsewhere than the camera named
// them). 0, or 1 with the reason when the camera could not be asked.
int runProfiles(const Options &options);

}  // namespace ipcam_cli
