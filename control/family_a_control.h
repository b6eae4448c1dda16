// The command objects of family A: plain cameras (model codes decide the wording) and device
// cameras, which describe themselves in "GetCameraType.cgi" and differ in codes 3, 4 and 11.
#pragma once

#include <cstdint>

#include "control/command_object.h"
#include "control/video_format.h"

namespace ipcam {

class FamilyAControl : public CommandObject {
  public:
    explicit FamilyAControl(uint32_t modelNumber);
    // Two-way audio: the models of set S9.
    int32_t GetValue() override;

  protected:
    FamilyAControl(const CommandMap &map, uint32_t modelNumber);
    int admit(IPCamSession &session, int32_t code, void *request, CommandCall &call) override;

  private:
    Relaxed<uint32_t> modelNumber_;
};

class DeviceControl final : public FamilyAControl {
  public:
    explicit DeviceControl(uint32_t modelNumber);
    // The "2-Way=" and "Ptz=" flags, as the last capability read found them.
    int32_t GetValue() override { return twoWayAudio_; }
    bool CanQueryItems() override { return panTilt_ != 0; }

    // Reads "GetCameraType.cgi" and keeps the flags; the engine's result.
    int readCapabilities(CgiClient &client, DeviceCapabilities &caps);
    bool capabilitiesKnown() const { return known_ != 0; }

  private:
    Relaxed<uint8_t> known_{0};
    Relaxed<uint8_t> panTilt_{0};
    Relaxed<uint8_t> twoWayAudio_{0};
};

}  // namespace ipcam
