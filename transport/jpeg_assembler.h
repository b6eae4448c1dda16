// Cutting complete JPEG pictures out of the bytes collected in the session's frame buffer.
#pragma once

#include "ipcam.h"

namespace ipcam {

// Delivers every complete picture (FF D8 ... FF D9) as a kind-2 frame; before the first one
// after a connection the session's format goes out. Returns 0 (wait for more bytes) or -100
// when the session has been stopped.
int assembleJpeg(IPCamSession *session);

}  // namespace ipcam
