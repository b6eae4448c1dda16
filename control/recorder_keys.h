// Recorder front-panel keys (code 14) in the wordings of the two families: family A recorders
// with playback states ("SetPlayCmd.cgi", "SetTimePlay.cgi") or panel keys ("SetDVRKey.cgi"),
// family B recorders "MoveCamera.cgi" texts that depend on the channel count.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

struct CommandCall;

// Family A: the wording follows the model code; call.recorderChannels decides key 209.
int familyARecorderKey(CommandCall &call, const RecorderKeyRequest &request);
// Family B: the texts of a 4-, 8- or 16-channel recorder; any other count refuses every key.
int familyBRecorderKey(CommandCall &call, int32_t key, int32_t recorderChannels);

}  // namespace ipcam
