// The command object of streaming servers (type 9): they take no CGI commands.
#pragma once

#include "control/camera_control.h"

namespace ipcam {

class ServerControl final : public CameraControl {
  public:
    static constexpr int kNoCommands = -99;
    int Command(IPCamSession *, void *, void *) override { return kNoCommands; }
};

}  // namespace ipcam
