// Sessions of ONVIF devices: what such a session keeps between its threads, and the connect
// step of its video thread, which asks the device for the stream before playing it over RTSP.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "onvif/onvif_device.h"

struct IPCamSession;

namespace ipcam {

struct OnvifState {
    RtspUrl deviceUrl;  // as given; its account is the session's
    int profile = 0;

    // Written by the video thread after each resolved connection, read by PTZ commands.
    std::mutex lock;
    std::optional<PtzTarget> ptz;  // guarded by lock
};

// The video thread's connect step for ONVIF sessions: resolves the profile's stream (clock,
// services, profiles, stream address), then connects to it like a URL session. which 1
// (audio) has nothing to do. 0 or the status of the step that failed.
int onvifConnect(IPCamSession *session, int which);

}  // namespace ipcam
