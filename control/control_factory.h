// The command object a session gets for its protocol type.
#pragma once

#include <cstdint>

#include "control/camera_control.h"

namespace ipcam {

// Types 1, 4 and 5: family A (device cameras by the top byte of the model number); 2: family
// B; 9: streaming servers, which take no commands. Any other type has none: nullptr.
CameraControl *makeCameraControl(int32_t protocolType, uint32_t modelNumber);

}  // namespace ipcam
