// Alarm outputs: reading and switching the up to four relay outputs of a camera or recorder.
#pragma once

#include "control/command_object.h"
#include "ipcam.h"

namespace ipcam {

// Family A: "GetGPIO.cgi" / "SetGPIO.cgi", worded by model code (below 57 the "COM" keys).
int readFamilyAAlarms(CommandCall &call, AlarmIoRequest &request);
int writeFamilyAAlarms(CommandCall &call, const AlarmIoRequest &request);
// Family B: "GetIO.cgi" / "SetIO.cgi", outputs only.
int readFamilyBAlarms(CommandCall &call, AlarmIoRequest &request);
int writeFamilyBAlarms(CommandCall &call, const AlarmIoRequest &request);

}  // namespace ipcam
