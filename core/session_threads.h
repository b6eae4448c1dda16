// A session's video and audio threads: prepare, connect, receive; after a failure wait three
// seconds and try again, until told to stop.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

uint32_t videoThreadMain(IPCamSession *session);
uint32_t audioThreadMain(IPCamSession *session);

// Detects the device when the type is Auto, chooses the stream driver and makes the command
// object. 0, or the status that ends this attempt (-15 for a type without a transport).
int IPCamPrepare(IPCamSession *session);
// Asks the device the facts a connection needs: mode 0 before video (firmware version, video
// format of device cameras, authorisation of family B, pan/tilt and recorder items), mode 1
// before audio (whether the device sends sound). 0 or -16.
int IPCamQueryInfo(IPCamSession *session, int32_t protocolType, int mode);
// Opens a fresh video connection through the chosen driver, after closing every stream
// connection of the session (the audio side then reconnects as well). The driver's result.
int connectVideo(IPCamSession *session);
// Reports the end of any event and input state when a stream ends.
void notifyStreamEnd(IPCamSession *session);
// For readers whose connection failed: ends an event, closes the video connection; -10.
int streamBroken(IPCamSession *session);

}  // namespace ipcam
