// The command object of family B cameras and recorders.
#pragma once

#include "control/command_object.h"

namespace ipcam {

class FamilyBControl : public CommandObject {
  public:
    FamilyBControl();

  protected:
    explicit FamilyBControl(const CommandMap &map) : CommandObject(map) {}
    int admit(IPCamSession &session, int32_t code, void *request, CommandCall &call) override;
};

}  // namespace ipcam
