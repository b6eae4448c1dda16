// Pan/tilt protocols: a camera names the protocol of its head by an index into a table of 21
// entries, a request names it by its flag. Family B cameras know fewer of them.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

struct CommandCall;

enum class PanTiltFamily { A, B };

// The flag at index, or -1 for an index the family does not use.
int32_t panTiltFlagAt(PanTiltFamily family, int32_t index);
// The first index holding flag, or -1 when the family has no such flag.
int32_t panTiltIndexOf(PanTiltFamily family, int32_t flag);

// Code 11: reads the channel's pan/tilt settings ("GetPTZ.cgi?CH=%d" on family A, "GetPTZ.cgi"
// on family B) into the record and answers the flag of the camera's protocol (0 when it names
// none the family knows), or the engine's negative result with the record left alone.
int readPanTiltSettings(CommandCall &call, IPCamPanTiltRecord &record, PanTiltFamily family);
// Empties value and fields: a camera without pan/tilt settings.
void clearPanTiltSettings(IPCamPanTiltRecord &record);

}  // namespace ipcam
