// Bodies of a session's video and audio threads.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

uint32_t videoThreadMain(IPCamSession *session);
uint32_t audioThreadMain(IPCamSession *session);

}  // namespace ipcam
