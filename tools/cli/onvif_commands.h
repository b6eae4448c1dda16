// The ipcam commands of ONVIF cameras that need no session: discover and profiles.
#pragma once

#include "tools/cli/args.h"

namespace ipcam_cli {

// Prints one line per camera that answered: DEVICE_URL<TAB>NAME<TAB>HARDWARE, then how many
// answered on standard error. 0, or 1 when none did.
int runDiscover(const Options &options);

// Prints one line per media profile: index, name, codec, size and stream address. 0, or 1
// with the reason when the camera could not be asked.
int runProfiles(const Options &options);

}  // namespace ipcam_cli
