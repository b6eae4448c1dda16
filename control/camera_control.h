// The per-session command object: turns IPCamCommand requests into device requests.
//
// One implementation per device dialect. A request is a record whose first field is a 32-bit
// command code; the fields after it belong to the command.
#pragma once

#include <cstdint>

#include "ipcam.h"

namespace ipcam {

class CameraControl {
  public:
    virtual ~CameraControl() = default;

    // Carries out one request; flag NULL means synchronously. Returns a status.
    virtual int Command(IPCamSession *session, void *request, void *flag) = 0;
    // Whether the device supports two-way audio.
    virtual int32_t GetValue() { return 0; }
    // Whether the device has pan/tilt, which decides whether its position is queried.
    virtual bool CanQueryItems() { return true; }
};

}  // namespace ipcam
