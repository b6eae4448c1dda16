// The command object of ONVIF sessions: pan/tilt/zoom requests become PTZ service calls
// (ContinuousMove, Stop, GotoHomePosition, GotoPreset, SetPreset, RemovePreset); every other
// request answers -99.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "control/camera_control.h"
#include "onvif/onvif_device.h"
#include "platform/relaxed.h"
#include "platform/socket_slot.h"

namespace ipcam {

struct OnvifState;

class OnvifControl final : public CameraControl {
  public:
    static constexpr int kNoCommand = -99;
    static constexpr int kAccepted = 1;
    // A step move (up, down, zoom in, ...) lasts this long; the *_START moves last until stop.
    static constexpr int kStepMs = 500;

    explicit OnvifControl(std::shared_ptr<OnvifState> state);
    // Background commands still running are woken (their connections closed) and joined.
    ~OnvifControl() override;

    int Command(IPCamSession *session, void *request, void *flag) override;
    bool CanQueryItems() override { return false; }

  private:
    struct Worker {
        SocketSlot slot{-1};
        std::thread thread;
        Relaxed<uint8_t> done{0};
    };
    // Joins the background commands that have finished; workersLock_ held.
    void dropFinishedWorkers();

    std::shared_ptr<OnvifState> state_;
    Relaxed<uint8_t> running_{1};  // cleared by the destructor; the workers' stop flag
    std::mutex workersLock_;
    std::list<Worker> workers_;  // guarded by workersLock_
};

// Carries out one PtzRequest against target with the account given; the connection sits in
// slot. 1 when the device took it, -99 for a command with no PTZ call or none the profile can
// carry out (no PTZ, or a move of axes it lacks), or a status. state keeps the presets' tokens
// and, when the device's clock had to be read again, its new lead.
int runOnvifPtz(const PtzRequest &request, const PtzTarget &target, const std::string &user,
                const std::string &password, const SoapPolicy &policy, OnvifState &state,
                SocketSlot &slot);

}  // namespace ipcam
